#pragma once

#include "download/OnlineVideoInfo.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// Lets another thread end a running analysis at once: whatever the analysis
// is waiting for (its child process, a size request) is stopped.
class OnlineVideoCancel {
public:
    void cancel();
    bool isCancelled() const;

    // What cancel() stops; the analysis sets it around each wait. When the
    // cancel came first, `stop` runs at once.
    void attach(std::function<void()> stop);
    void detach();

private:
    mutable std::mutex m_mutex;
    bool m_cancelled = false;
    std::function<void()> m_stop;
};

// The page analyser: one yt-dlp program, with one member for each thing the
// parser asks of it. Nothing is loaded into our process; every analysis is a
// child process that ends with the call.
class OnlineVideoLibrary {
public:
    // The record layout our parser reads: ours, so never newer than itself.
    static constexpr int kStructVersion = 102;
    static constexpr std::chrono::milliseconds kTimeLimit { 60000 };
    // An analysis printing more than this is not a page we can use.
    static constexpr qint64 kMaxOutputBytes = 64LL * 1024 * 1024;
    // One size request at the most; all of them end with the analysis's time limit.
    static constexpr std::chrono::milliseconds kSizeRequestTimeLimit { 15000 };

    explicit OnlineVideoLibrary(QString program, std::shared_ptr<OnlineVideoCancel> cancel = {},
        std::chrono::milliseconds timeLimit = kTimeLimit);

    // "yt-dlp <version>", or "" when the program does not run. A run costs a
    // fraction of a second, so the answer is kept for as long as the program
    // file stays the same (path, size, modification time).
    QString getVersion() const;
    // True when the program runs.
    bool initialize();
    // "host:port" of an HTTP proxy for the analysis and the size requests; "" for none.
    void setProxy(const QString& hostAndPort);
    // The page's record, or nothing: the program failed, was stopped, ran out
    // of time, printed too much or printed no usable record (the reason is logged).
    std::optional<OnlineVideoInfo> getOnlineVideoInfo(const QString& url);
    int getStructVersion() const { return kStructVersion; }
    // Why the last analysis gave nothing, as yt-dlp reported it; "" after a success.
    QString lastFailure() const { return m_failure; }
    // Forgets the proxy; no child outlives the analysis, so nothing else is left.
    void uninstall();

private:
    std::optional<QByteArray> runAnalysis(const QString& url);
    // Logs why the analysis gives nothing and keeps it for lastFailure().
    void fail(const QString& what);
    void fillUnknownSizes(OnlineVideoInfo& info, std::chrono::steady_clock::time_point deadline);
    double headContentLength(const OnlineVideoStream& stream, std::chrono::milliseconds timeLimit);

    const QString m_program;
    const std::shared_ptr<OnlineVideoCancel> m_cancel;
    const std::chrono::milliseconds m_timeLimit;
    QString m_proxy;
    QString m_failure;
};

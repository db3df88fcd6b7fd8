#pragma once

#include "download/OnlineVideoFailure.h"
#include "download/OnlineVideoInfo.h"
#include "platform/ProcessRunner.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

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
    // Requested by cancel(), for the waits that take a stop token: the
    // newer yt-dlp an analysis fetches to try again.
    std::stop_token stopToken() const { return m_stopSource.get_token(); }

private:
    mutable std::mutex m_mutex;
    bool m_cancelled = false;
    std::function<void()> m_stop;
    std::stop_source m_stopSource;
};

// What a program's "--version" run gave.
struct VersionAnswer {
    ProcessRunner::Result result;
    bool timedOut = false;
    QString line; // the first line of its standard output, cut (DNQuotedWords)
    QString lastError; // the last line of its standard error, cut
    // "" when it printed a version and exited 0; else what happened.
    QString failure() const;
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
    // python3 start, so the answer is kept for as long as the program file
    // stays the same (fileIdentity) and asked again only once it changes.
    QString getVersion() const;
    // What getVersion() would answer without a run: "" when this program file
    // has not been asked since it last changed.
    QString knownVersion() const;
    // True when the program is an executable file. Whether it runs, the
    // analysis itself tells: asking first would cost one more python3 start.
    bool initialize();
    // "host:port" of an HTTP proxy for the analysis and the size requests; "" for none.
    void setProxy(const QString& hostAndPort);
    // The page's record, or nothing: the program failed, was stopped, ran out
    // of time, printed too much or printed no usable record (the reason is logged).
    std::optional<OnlineVideoInfo> getOnlineVideoInfo(const QString& url);
    int getStructVersion() const { return kStructVersion; }
    // Why the last analysis gave nothing; empty after a success.
    const OnlineVideoFailure& lastFailure() const { return m_failure; }
    // Forgets the proxy; no child outlives the analysis, so nothing else is left.
    void uninstall();

    // The file at `path` as it is now: device, inode, size and modification
    // time; another file put in its place, even one of the same size written
    // in the same instant, gives another identity. "" when there is none.
    static QString fileIdentity(const QString& path);
    // How long a "--version" run may take: the same for a release about to
    // be installed and for the choice of the copy to use, so that a copy is
    // never installed that the choice then gives up on. A test may set another.
    static std::chrono::milliseconds versionTimeLimit();
    static void setVersionTimeLimit(std::chrono::milliseconds limit);
    // Runs `program` with `arguments` (which end in "--version") in an empty
    // working folder of its own, as the leader of a process group that is
    // ended whole with the run, within versionTimeLimit(); `stop` ends it at once.
    static VersionAnswer askVersion(
        const QString& program, const QStringList& arguments, const std::stop_token& stop = {});

private:
    std::optional<QByteArray> runAnalysis(const QString& url);
    // Logs why the analysis of `url` gives nothing, and yt-dlp's own lines,
    // and keeps both for lastFailure().
    void fail(const QString& url, const QString& reason, const QStringList& toolLines);
    void fillUnknownSizes(OnlineVideoInfo& info, std::chrono::steady_clock::time_point deadline);
    void askSize(OnlineVideoStream& stream, std::chrono::milliseconds timeLimit);

    const QString m_program;
    const std::shared_ptr<OnlineVideoCancel> m_cancel;
    const std::chrono::milliseconds m_timeLimit;
    QString m_proxy;
    OnlineVideoFailure m_failure;
};

#pragma once

#include "engine/ProgressInfo.h"
#include "platform/ProcessRunner.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <csignal>
#include <functional>
#include <mutex>
#include <vector>

// What the engine bridges (ffmpeg, mencoder, stream dump, ISO tool,
// DVD-to-MKV) share: one run at a time, the state callback, progress, a stop
// that reaches every child of the run or the bridge's own copy loop, the
// last command and why the last call failed. Each bridge keeps one instance
// as its module state; its run happens on the conversion worker thread, the
// rest may be called from any thread.

// Reported through the state callback when a run starts.
constexpr int kToolBridgeStateRunning = 3298;

// Results other than the tool's own exit status.
constexpr int kToolBridgeFailed = -1; // bad list, a program missing, a signal, a copy that failed
constexpr int kToolBridgeStopped = -2; // a stop ended the run: its output is deleted

using ToolBridgeStateCallback = void (*)(int state, void* context);

class ToolBridgeOutput;

class ToolBridge {
public:
    // Called under the bridge's lock with a line of the tool's standard
    // output or error; true when the line was a progress line.
    using LineReader = std::function<bool(const QString& line, ProgressInfo& progress)>;
    // Called under the bridge's lock whenever progress is asked for, for
    // tools that print none (the dump's size is read instead).
    using ProgressSource = std::function<void(ProgressInfo& progress)>;

    struct Child {
        QString program;
        QStringList arguments;
        int stopSignal = SIGINT; // each tool ends cleanly on it
        std::chrono::milliseconds grace { 1000 };
        // The file it writes, when known (under its hidden partial name while
        // the driver holds the output): its growth or rewriting is progress.
        QString output;
    };
    // For a child that runs beside another of the run: true while it waits on
    // that other one (for the pipe between them to fill or to drain). It is
    // not stalled then; the other one is, and its own limit names it.
    using PartnerWait = std::function<bool()>;

    // Where one child's lines go: a line its stream's reader takes is
    // progress; any other goes to the log, and the last of those is the
    // reason given when the child fails.
    struct Lines {
        LineReader output;
        LineReader error;
        QString lastMessage;
    };

    explicit ToolBridge(const char* name);
    ToolBridge(const ToolBridge&) = delete;
    ToolBridge& operator=(const ToolBridge&) = delete;

    // One call of the bridge, from taking the run lock to its end: a stop that
    // comes at any point of it, even before the child is started, ends this
    // call and no later one.
    class Call {
    public:
        explicit Call(ToolBridge& bridge);
        ~Call();
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

    private:
        ToolBridge& m_bridge;
        std::lock_guard<std::mutex> m_run;
    };

    // The list a call was given, argument 0 included; empty, with the
    // reason in the log, for a list no argument block could hold.
    QStringList listOf(int argc, const char* const* argv) const;

    // Resets progress and reports kToolBridgeStateRunning.
    void start(ProgressSource source = {});
    // Runs the child to its end: its lines go to `reader` or to the log.
    // The status is the child's exit status, or kToolBridgeFailed or
    // kToolBridgeStopped.
    int run(const Child& child, const LineReader& reader);
    // The same run, its result left for the bridge to word and judge.
    ProcessRunner::Result runChild(const Child& child, Lines& lines);
    // For a bridge that runs children side by side: `runner` set up for
    // `child`, its lines to `lines`, which must outlive the run.
    void prepare(
        ProcessRunner& runner, const Child& child, Lines& lines, PartnerWait waitsOnPartner = {});
    // Makes a runner reachable by stop() until it is detached; a stop asked
    // for already reaches it at once, and it then does not start its child.
    void attach(ProcessRunner& runner);
    void detach(ProcessRunner& runner);
    // A run's end: a successful one is at 100 %.
    void finish(int status);
    void setProgress(const ProgressInfo& progress);
    bool stopRequested() const;
    // Logs the failure of a call, keeps its reason and answers kToolBridgeFailed.
    int fail(const QString& reason);
    // Why a child that ended as `result` failed ("ffmpeg failed with exit
    // status 1: <its last message>", "mencoder made no progress for 120 s.");
    // empty when it succeeded.
    static QString failureOf(
        const QString& program, const ProcessRunner::Result& result, const QString& lastMessage);
    // Keeps `reason` as why this call failed.
    void keepFailure(const QString& reason);
    // Keeps `reason` as why this call failed, whatever its children said
    // later: a reason told while the files it names still stood.
    void settleFailure(const QString& reason);
    // Settles the run's own output. A failed run's reason is told by the
    // room its output's folder has left (reasonWithRoom), read before an
    // output the run made goes and frees the room.
    void settle(const ToolBridgeOutput& output, int status);

    void setStateCallback(ToolBridgeStateCallback callback, void* context);
    ProgressInfo progress() const;
    void stop();
    QStringList lastCommand() const;
    void setLastCommand(const QStringList& command);
    // Why the last call failed; empty when it did not, or gave no reason.
    // A call whose engine said "No space left on device" failed because the
    // disk is full, whatever its status, in the words every engine's full
    // disk is told in.
    QString lastFailure() const;

private:
    struct ProgramLine {
        QString program;
        QString said;
    };
    struct Writer {
        QString program;
        QString output;
    };

    void readLine(const QString& program, const QString& line, const LineReader& reader,
        QString& lastMessage);
    // The call's reason told with the room left beside `output`; under the state lock.
    QString failureWithRoom(const QString& output) const;
    // What moves while a child works: its progress, its output's size and
    // the time its output was last written.
    QByteArray progressMark(const QString& output) const;
    // The mark of a stall limit: progressMark of `output`, or a new one at
    // every look while the child waits on its partner.
    ProcessRunner::ProgressMark stallMark(const QString& output, PartnerWait waitsOnPartner);

    const char* m_name;
    std::mutex m_runLock;
    mutable std::mutex m_stateLock;
    bool m_active = false;
    bool m_stopRequested = false;
    std::vector<ProcessRunner*> m_runners;
    ProgressInfo m_progress;
    ProgressSource m_progressSource;
    ToolBridgeStateCallback m_callback = nullptr;
    void* m_context = nullptr;
    QStringList m_lastCommand;
    QString m_lastFailure;
    ProgramLine m_diskFull; // the first line of this call that said the disk is full
    Writer m_writer; // the child that writes the call's output
    QString m_settledFailure; // the reason told when the call's own output went
};

// The output file of one run: deleted when the run does not succeed, but
// only when this run made it (never a file that was there before, such as
// the source image itself, nor a device). A partial output this process
// claimed for the run is neither: the claim's holder removes it.
class ToolBridgeOutput {
public:
    explicit ToolBridgeOutput(QString path);
    QString path() const { return m_path; }
    // Whether something not of this process's stood there before the run.
    bool existedBefore() const { return m_existed && !m_claimed; }
    // Whether the run makes the file, and so removes it when it fails.
    bool madeByRun() const { return !m_existed; }
    // Deletes the output when `status` is not 0 and the run made it.
    void settle(int status) const;

private:
    const QString m_path;
    const bool m_existed;
    const bool m_claimed;
};

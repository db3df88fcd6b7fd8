#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <sys/types.h>

// Runs one child process to its end on the calling thread, with argv and no
// shell, handing each line of its standard output and standard error to a
// callback as it arrives. stop() may be called from any other thread: it asks
// the child to finish (a signal, or bytes on its standard input), then kills it
// after a grace period: our own child alone, by its pid. It leads a process
// group of its own, and once it has ended, however it ended, what is left of
// that group (the programs it started) is killed too. A runner that is
// destroyed, or a program of ours that dies, takes its child with it: no
// orphan is left behind.
class ProcessRunner {
public:
    struct Result {
        bool started = false; // false: the program could not be started (see error)
        int exitCode = -1; // the child's exit status when it exited normally
        int signal = 0; // the signal that ended it, or 0
        bool stopped = false; // stop() was called while it ran
        bool stalled = false; // the stall limit ended it (see setStallLimit)
        QString error; // why it could not start or was lost, else empty
        bool succeeded() const { return started && !stalled && signal == 0 && exitCode == 0; }
    };

    using LineHandler = std::function<void(const QString& line)>;
    // Where the child is: any change of the bytes it answers means the child
    // has moved on. Called on the thread that called run().
    using ProgressMark = std::function<QByteArray()>;

    // How stop() asks the child to finish before the grace period ends.
    struct GentleStop {
        int signal = 15; // SIGTERM; 0 for no signal
        QByteArray stdinBytes; // written to the child's standard input, e.g. "q"
    };

    ProcessRunner();
    ~ProcessRunner();
    ProcessRunner(const ProcessRunner&) = delete;
    ProcessRunner& operator=(const ProcessRunner&) = delete;

    void setWorkingDirectory(const QString& folder);
    // Lines are split at '\n' and '\r' (engines redraw progress with '\r');
    // empty lines are not reported. Handlers run on the thread that called run().
    void setStdoutHandler(LineHandler handler);
    void setStderrHandler(LineHandler handler);
    void setGentleStop(GentleStop gentle, std::chrono::milliseconds grace);
    // Set before run(). True, the default: the child's group ends with it.
    // False for a child whose work is to start a program that stays (a
    // desktop's opener): what it started is left alone.
    void setGroupEndsWithChild(bool ends);
    // A child whose mark has not changed for `limit`, and which with the
    // programs it started has read nothing over that time (see StallClock),
    // is stopped as stop() would (gently, then firmly), and its result says
    // it stalled. A zero limit, the default, lets a child take as long as it
    // likes.
    void setStallLimit(std::chrono::milliseconds limit, ProgressMark mark);

    // Blocks until the child has ended and been reaped.
    Result run(const QString& program, const QStringList& arguments);

    // Thread-safe; returns at once. A stop that comes before the child has
    // started makes run() return without starting it.
    void stop();
    bool isRunning() const;
    pid_t pid() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// How long an engine may go without moving before it is ended: two minutes,
// unless a test has set another; process-wide and thread-safe.
std::chrono::milliseconds engineStallLimit();
void setEngineStallLimit(std::chrono::milliseconds limit);
// Why a child was ended by a stall limit: "made no progress for 120 s".
QString stallReason(std::chrono::milliseconds limit);
// A signal that ended a program, as a reason says it: "signal 9 (Killed)".
QString signalText(int signal);

// A command as a shell would need it, every word quoted where it must be, so
// that a logged or printed command line can be pasted into a terminal.
QString shellCommandLine(const QStringList& words);

// For a child forked by hand, between fork and exec (async-signal-safe calls
// only): the child is killed when the thread that forked it ends, gives up at
// once (status 127) when `parent` has already gone, and starts with every
// signal at its default and none blocked, whatever the program had set.
void prepareForkedChild(pid_t parent);

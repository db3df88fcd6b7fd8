#include "platform/ProcessRunner.h"

#include "platform/Fd.h"
#include "platform/ProcessTree.h"
#include "platform/StallClock.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
    Fd read;
    Fd write;
};

// Our descriptors never take the numbers 0 to 2. A program started with its
// standard streams closed would otherwise get a pipe there, and what it then
// writes to its standard output (or reads from its input) would go to a child.
Fd aboveStandardStreams(int fd)
{
    if (fd < 0 || fd > STDERR_FILENO)
        return Fd(fd);
    const Fd low(fd);
    return Fd(::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
}

bool makePipe(Pipe& pipe)
{
    std::array<int, 2> fds {};
    if (::pipe2(fds.data(), O_CLOEXEC) != 0)
        return false;
    pipe.read = aboveStandardStreams(fds[0]);
    pipe.write = aboveStandardStreams(fds[1]);
    return pipe.read.valid() && pipe.write.valid();
}

void setNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool isExecutableFile(const QByteArray& path)
{
    struct stat info { };
    return ::stat(path.constData(), &info) == 0 && S_ISREG(info.st_mode)
        && ::access(path.constData(), X_OK) == 0;
}

// The program's path as exec will use it: names without a slash are looked up
// in PATH here, before fork, so that the child only calls async-signal-safe
// functions and a missing program is reported without starting anything.
QByteArray resolveProgram(const QString& program)
{
    const QByteArray name = QFile::encodeName(program);
    if (name.isEmpty() || name.contains('/'))
        return name;
    QByteArray path = qgetenv("PATH");
    if (path.isEmpty())
        path = "/usr/local/bin:/usr/bin:/bin";
    for (const QByteArray& folder : path.split(':')) {
        const QByteArray candidate = (folder.isEmpty() ? QByteArray(".") : folder) + '/' + name;
        if (isExecutableFile(candidate))
            return candidate;
    }
    return {};
}

// Splits a stream into lines at '\n' and '\r' and hands on the non-empty ones.
// Each byte is looked at once, so a long line arriving in many reads costs no
// more than a short one; a child that writes without end and never a line end
// is handed on in pieces of kLongestLine bytes instead of growing our memory.
class LineSplitter {
public:
    static constexpr qsizetype kLongestLine = qsizetype(4) << 20;

    explicit LineSplitter(const ProcessRunner::LineHandler& handler)
        : m_handler(handler)
    { }

    void feed(const char* bytes, qsizetype count)
    {
        const qsizetype scanned = m_pending.size();
        m_pending.append(bytes, count);
        qsizetype start = 0;
        for (qsizetype i = scanned; i < m_pending.size(); ++i) {
            if (m_pending[i] != '\n' && m_pending[i] != '\r') {
                if (i + 1 - start < kLongestLine)
                    continue;
                emitLine(m_pending.mid(start, i + 1 - start));
            } else {
                emitLine(m_pending.mid(start, i - start));
            }
            start = i + 1;
        }
        m_pending.remove(0, start);
    }

    void finish()
    {
        emitLine(m_pending);
        m_pending.clear();
    }

private:
    void emitLine(const QByteArray& line) const
    {
        if (!line.isEmpty() && m_handler)
            m_handler(QString::fromUtf8(line));
    }

    const ProcessRunner::LineHandler& m_handler;
    QByteArray m_pending;
};

// What one look at an output pipe reads at most. While the child runs, each
// round of the watch loop reads one buffer from each pipe: a child that
// writes without pause must not keep the loop from its grace kill. Once the
// child has ended, its pipes are read up to the most a pipe holds (the
// system's default ceiling for a pipe's size), so that a grandchild that
// keeps writing cannot keep us either.
constexpr std::size_t kReadBuffer = 65536;
constexpr std::size_t kRoundBytes = kReadBuffer;
constexpr std::size_t kLastBytes = std::size_t(1) << 20;

// One output pipe of the child and what has been read from it.
struct OutputStream {
    Fd fd;
    LineSplitter lines;
    bool open() const { return fd.valid(); }

    // Reads what is there, up to `most` bytes, without blocking; closes the
    // pipe at its end.
    void drain(std::size_t most)
    {
        std::array<char, kReadBuffer> buffer {};
        while (fd.valid() && most > 0) {
            const ssize_t count = ::read(fd.get(), buffer.data(), std::min(buffer.size(), most));
            if (count > 0) {
                lines.feed(buffer.data(), count);
                most -= static_cast<std::size_t>(count);
                continue;
            }
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            fd.reset();
            lines.finish();
        }
    }

    void close()
    {
        if (fd.valid())
            lines.finish();
        fd.reset();
    }
};

// Writes to the child's standard input from any thread. A child that has
// closed its end must not raise SIGPIPE in our process, so the signal is
// blocked around the write and a pending one is swallowed.
void writeWithoutSigpipe(int fd, const QByteArray& bytes)
{
    sigset_t pipeSet;
    sigset_t previous;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &previous);
    ssize_t written = 0;
    do
        written = ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
    while (written < 0 && errno == EINTR);
    if (written < 0 && errno == EPIPE) {
        const timespec zero {};
        while (sigtimedwait(&pipeSet, nullptr, &zero) == SIGPIPE) { }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// Takes the stall clock's readings of one child: its mark, and what it and
// the programs it started have read.
class StallWatch {
public:
    StallWatch(
        std::chrono::milliseconds limit, const ProcessRunner::ProgressMark& mark, pid_t child)
        : m_mark(mark)
        , m_reads(child)
    {
        if (mark && limit.count() > 0)
            m_clock.emplace(limit, reading(), Clock::now());
    }

    // When the child is next to be looked at, if it is watched at all.
    std::optional<Clock::time_point> nextLook() const
    {
        return m_clock ? std::optional(m_clock->nextLook()) : std::nullopt;
    }

    bool stalled()
    {
        const Clock::time_point now = Clock::now();
        if (!m_clock || now < m_clock->nextLook())
            return false;
        return m_clock->stalled(reading(), now);
    }

private:
    StallClock::Reading reading()
    {
        const ProcessTreeReads::Reads reads = m_reads.look();
        return { m_mark(), reads.bytes, reads.byCalls, reads.inputBytes };
    }

    const ProcessRunner::ProgressMark& m_mark;
    ProcessTreeReads m_reads;
    std::optional<StallClock> m_clock;
};

Fd openPidFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return aboveStandardStreams(static_cast<int>(fd));
    }
#endif
    (void)pid;
    return {};
}

// True once the child has ended; it stays a zombie (and its pid stays ours)
// until it is reaped.
bool hasExited(pid_t pid)
{
    siginfo_t info {};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return errno != EINTR;
    return info.si_pid == pid;
}

// Everything the child needs, prepared before fork: after fork only
// async-signal-safe calls are allowed.
struct ChildPlan {
    QByteArray program;
    std::vector<QByteArray> arguments;
    std::vector<char*> argv;
    QByteArray workingDirectory;
    pid_t parent = 0;
    int stdinFd = -1;
    int stdoutFd = -1;
    int stderrFd = -1;
    int errorFd = -1;
};

[[noreturn]] void failChild(int errorFd)
{
    const int error = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(errorFd, &error, sizeof error);
    ::_exit(127);
}

// The pipes' ends are all above the standard streams (aboveStandardStreams),
// so no move overwrites a descriptor that a later move still reads.
void moveTo(int fd, int target, int errorFd)
{
    if (::dup2(fd, target) < 0)
        failChild(errorFd);
}

// Runs in the child between fork and exec.
[[noreturn]] void execChild(const ChildPlan& plan)
{
    // The child dies with the thread that started it; run() blocks that thread
    // until the child is reaped, so this is the same as dying with us.
    prepareForkedChild(plan.parent);
    // A group of its own: what is sent to our group (a terminal's hangup or
    // interrupt, a supervisor's stop, the kernel's hangup and continue to a
    // group left with a stopped member) is ours to answer. It would otherwise
    // wake a child stopped by a signal only to end it, with a reason that says
    // it was stopped on request.
    ::setpgid(0, 0);
    moveTo(plan.stdinFd, STDIN_FILENO, plan.errorFd);
    moveTo(plan.stdoutFd, STDOUT_FILENO, plan.errorFd);
    moveTo(plan.stderrFd, STDERR_FILENO, plan.errorFd);
    // Descriptors opened elsewhere in the program without O_CLOEXEC must not
    // reach the engine.
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    if (!plan.workingDirectory.isEmpty() && ::chdir(plan.workingDirectory.constData()) != 0)
        failChild(plan.errorFd);
    ::execv(plan.program.constData(), plan.argv.data());
    failChild(plan.errorFd);
}

struct RunPipes {
    Pipe in;
    Pipe out;
    Pipe err;
    Pipe status;
    Fd wake;
};

bool makeRunPipes(RunPipes& pipes)
{
    if (!makePipe(pipes.in) || !makePipe(pipes.out) || !makePipe(pipes.err)
        || !makePipe(pipes.status))
        return false;
    pipes.wake = aboveStandardStreams(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    return pipes.wake.valid();
}

ChildPlan makePlan(const QString& program, const QStringList& arguments, const QString& folder)
{
    ChildPlan plan;
    plan.program = resolveProgram(program);
    plan.arguments.push_back(QFile::encodeName(program));
    for (const QString& argument : arguments)
        plan.arguments.push_back(argument.toUtf8());
    for (QByteArray& argument : plan.arguments)
        plan.argv.push_back(argument.data());
    plan.argv.push_back(nullptr);
    plan.workingDirectory = QFile::encodeName(folder);
    plan.parent = ::getpid();
    return plan;
}

} // namespace

struct ProcessRunner::Impl {
    mutable std::mutex mutex;
    std::condition_variable runEnded;
    LineHandler stdoutHandler;
    LineHandler stderrHandler;
    QString workingDirectory;
    GentleStop gentle;
    std::chrono::milliseconds grace { 3000 };
    bool groupEndsWithChild = true;
    std::chrono::milliseconds stallLimit { 0 };
    ProgressMark progressMark;
    bool stalled = false; // the run's child was ended by the stall limit

    // Guarded by mutex.
    bool inRun = false;
    bool stopRequested = false;
    pid_t runningPid = -1;
    int stdinFd = -1;
    int wakeEvent = -1;
    std::optional<Clock::time_point> killAt;

    Result runChild(const QString& program, const QStringList& arguments);
    pid_t startChild(ChildPlan& plan, RunPipes& pipes, Result& result);
    pid_t spawn(const ChildPlan& plan, Result& result);
    void followChild(pid_t child, RunPipes& pipes, Result& result);
    void forgetAndReap(pid_t child, Result& result);
    void finishStart(const RunPipes& pipes);
    bool watch(pid_t child, OutputStream& out, OutputStream& err, const Fd& wakeFd);
    void stopStalled();
    void askToStop();
    void endWhatIsLeft(pid_t child) const;
    void killIfGraceOver();
    std::optional<Clock::time_point> deadline() const;
    void wake() const;
};

void ProcessRunner::Impl::askToStop()
{
    if (runningPid <= 0)
        return;
    if (gentle.signal > 0)
        ::kill(runningPid, gentle.signal);
    if (!gentle.stdinBytes.isEmpty() && stdinFd >= 0)
        writeWithoutSigpipe(stdinFd, gentle.stdinBytes);
    if (gentle.signal <= 0 && gentle.stdinBytes.isEmpty())
        killAt = Clock::now();
    else
        killAt = Clock::now() + grace;
}

// A stop already under way is not a stall: the child was asked to end.
void ProcessRunner::Impl::stopStalled()
{
    const std::lock_guard lock(mutex);
    if (runningPid <= 0 || killAt)
        return;
    stalled = true;
    askToStop();
}

void ProcessRunner::Impl::killIfGraceOver()
{
    const std::lock_guard lock(mutex);
    if (runningPid > 0 && killAt && Clock::now() >= *killAt) {
        ::kill(runningPid, SIGKILL);
        killAt.reset();
    }
}

// What the child started is in its group unless it left it, and would run on
// under init. Only the child is asked to stop or killed: a stop that reached
// them all would reach a program the child stops in its own way twice. This
// is called once the child has ended, before it is reaped: while its pid is
// not free, no one else can have taken its group's number.
void ProcessRunner::Impl::endWhatIsLeft(pid_t child) const
{
    if (groupEndsWithChild)
        ::kill(-child, SIGKILL);
}

std::optional<Clock::time_point> ProcessRunner::Impl::deadline() const
{
    const std::lock_guard lock(mutex);
    return killAt;
}

void ProcessRunner::Impl::wake() const
{
    if (wakeEvent < 0)
        return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeEvent, &one, sizeof one);
}

ProcessRunner::ProcessRunner()
    : d(std::make_unique<Impl>())
{ }

ProcessRunner::~ProcessRunner()
{
    stop();
    std::unique_lock lock(d->mutex);
    d->runEnded.wait(lock, [this] { return !d->inRun; });
}

void ProcessRunner::setWorkingDirectory(const QString& folder)
{
    d->workingDirectory = folder;
}

void ProcessRunner::setStdoutHandler(LineHandler handler)
{
    d->stdoutHandler = std::move(handler);
}

void ProcessRunner::setStderrHandler(LineHandler handler)
{
    d->stderrHandler = std::move(handler);
}

void ProcessRunner::setGentleStop(GentleStop gentle, std::chrono::milliseconds grace)
{
    const std::lock_guard lock(d->mutex);
    d->gentle = std::move(gentle);
    d->grace = grace;
}

void ProcessRunner::setGroupEndsWithChild(bool ends)
{
    const std::lock_guard lock(d->mutex);
    d->groupEndsWithChild = ends;
}

void ProcessRunner::setStallLimit(std::chrono::milliseconds limit, ProgressMark mark)
{
    d->stallLimit = limit;
    d->progressMark = std::move(mark);
}

void ProcessRunner::stop()
{
    const std::lock_guard lock(d->mutex);
    d->stopRequested = true;
    if (d->runningPid <= 0 || d->killAt)
        return;
    d->askToStop();
    d->wake();
}

bool ProcessRunner::isRunning() const
{
    const std::lock_guard lock(d->mutex);
    return d->runningPid > 0;
}

pid_t ProcessRunner::pid() const
{
    const std::lock_guard lock(d->mutex);
    return d->runningPid;
}

namespace {

// The errno the child reported before exec, or 0 once exec succeeded (the
// close-on-exec status pipe then reaches its end without a byte).
int readExecError(int statusFd)
{
    int error = 0;
    ssize_t count = 0;
    do
        count = ::read(statusFd, &error, sizeof error);
    while (count < 0 && errno == EINTR);
    return count == sizeof error ? error : 0;
}

void reap(pid_t pid, ProcessRunner::Result& result)
{
    int status = 0;
    pid_t done = 0;
    do
        done = ::waitpid(pid, &status, 0);
    while (done < 0 && errno == EINTR);
    if (done != pid) {
        result.error = QStringLiteral("lost the child process: ") + errnoText(errno);
        return;
    }
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
}

std::optional<Clock::time_point> earlier(
    std::optional<Clock::time_point> a, std::optional<Clock::time_point> b)
{
    if (!a || !b)
        return a ? a : b;
    return std::min(*a, *b);
}

int pollTimeout(std::optional<Clock::time_point> deadline, bool havePidFd)
{
    // Without a pid descriptor the child's end is noticed by looking now and then.
    int timeout = havePidFd ? -1 : 50;
    if (!deadline)
        return timeout;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    const int leftMs = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
    return timeout < 0 ? leftMs : std::min(timeout, leftMs);
}

} // namespace

ProcessRunner::Result ProcessRunner::run(const QString& program, const QStringList& arguments)
{
    Result result;
    {
        const std::lock_guard lock(d->mutex);
        if (d->inRun) {
            result.error = QStringLiteral("a process is already running");
            return result;
        }
        d->inRun = true;
    }
    result = d->runChild(program, arguments);
    const std::lock_guard lock(d->mutex);
    d->stopRequested = false;
    d->stalled = false;
    d->killAt.reset();
    d->inRun = false;
    d->runEnded.notify_all();
    return result;
}

ProcessRunner::Result ProcessRunner::Impl::runChild(
    const QString& program, const QStringList& arguments)
{
    Result result;
    ChildPlan plan = makePlan(program, arguments, workingDirectory);
    if (plan.program.isEmpty()) {
        result.error = QStringLiteral("cannot find the program \"%1\"").arg(program);
        return result;
    }
    RunPipes pipes;
    if (!makeRunPipes(pipes)) {
        result.error = QStringLiteral("cannot make pipes: ") + errnoText(errno);
        return result;
    }
    const pid_t child = startChild(plan, pipes, result);
    if (child <= 0)
        return result;
    const int execError = readExecError(pipes.status.read.get());
    if (execError == 0)
        followChild(child, pipes, result);
    forgetAndReap(child, result);
    if (execError != 0) {
        result.exitCode = -1;
        result.error = QStringLiteral("cannot run \"%1\": ").arg(program) + errnoText(execError);
    }
    return result;
}

// Forks the child on the pipes' far ends, which are ours no more once it runs.
pid_t ProcessRunner::Impl::startChild(ChildPlan& plan, RunPipes& pipes, Result& result)
{
    plan.stdinFd = pipes.in.read.get();
    plan.stdoutFd = pipes.out.write.get();
    plan.stderrFd = pipes.err.write.get();
    plan.errorFd = pipes.status.write.get();
    const pid_t child = spawn(plan, result);
    pipes.in.read.reset();
    pipes.out.write.reset();
    pipes.err.write.reset();
    pipes.status.write.reset();
    return child;
}

// The child has exec'd: its output is handed on until it ends.
void ProcessRunner::Impl::followChild(pid_t child, RunPipes& pipes, Result& result)
{
    result.started = true;
    finishStart(pipes);
    OutputStream out { std::move(pipes.out.read), LineSplitter(stdoutHandler) };
    OutputStream err { std::move(pipes.err.read), LineSplitter(stderrHandler) };
    if (!watch(child, out, err, pipes.wake))
        result.error = QStringLiteral("lost track of the child process: ") + errnoText(errno);
}

void ProcessRunner::Impl::forgetAndReap(pid_t child, Result& result)
{
    {
        const std::lock_guard lock(mutex);
        // From here stop() no longer signals the pid, which the reap frees for reuse.
        runningPid = -1;
        stdinFd = -1;
        wakeEvent = -1;
        result.stopped = stopRequested;
        result.stalled = stalled;
    }
    endWhatIsLeft(child);
    reap(child, result);
}

// Forks the child, unless a stop came first; the pid, or 0 with the reason in result.
pid_t ProcessRunner::Impl::spawn(const ChildPlan& plan, Result& result)
{
    const std::lock_guard lock(mutex);
    if (stopRequested) {
        result.stopped = true;
        result.error = QStringLiteral("stopped before it started");
        return 0;
    }
    const pid_t child = ::fork();
    if (child == 0)
        execChild(plan);
    if (child < 0) {
        result.error = QStringLiteral("cannot start \"%1\": ").arg(QString::fromUtf8(plan.program))
            + errnoText(errno);
        return 0;
    }
    runningPid = child;
    return child;
}

void ProcessRunner::Impl::finishStart(const RunPipes& pipes)
{
    setNonBlocking(pipes.in.write.get());
    setNonBlocking(pipes.out.read.get());
    setNonBlocking(pipes.err.read.get());
    const std::lock_guard lock(mutex);
    stdinFd = pipes.in.write.get();
    wakeEvent = pipes.wake.get();
    // A stop() between fork and here found no one to ask.
    if (stopRequested && !killAt)
        askToStop();
}

// Hands on the child's output until it has ended; its pid stays valid (a zombie)
// so that a late stop() or the grace kill can never hit another process.
bool ProcessRunner::Impl::watch(pid_t child, OutputStream& out, OutputStream& err, const Fd& wakeFd)
{
    const Fd pidFd = openPidFd(child);
    StallWatch stall(stallLimit, progressMark, child);
    bool healthy = true;
    while (true) {
        killIfGraceOver();
        if (hasExited(child))
            break;
        if (stall.stalled())
            stopStalled();
        std::vector<pollfd> fds { { wakeFd.get(), POLLIN, 0 } };
        if (pidFd.valid())
            fds.push_back({ pidFd.get(), POLLIN, 0 });
        const std::size_t outAt = fds.size();
        fds.push_back({ out.fd.get(), POLLIN, 0 });
        fds.push_back({ err.fd.get(), POLLIN, 0 });
        const int ready = ::poll(fds.data(), fds.size(),
            pollTimeout(earlier(deadline(), stall.nextLook()), pidFd.valid()));
        if (ready < 0 && errno != EINTR) {
            // Nothing more can be watched: do not leave the child running unseen.
            healthy = false;
            ::kill(child, SIGKILL);
            break;
        }
        if (fds[0].revents != 0) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t ignored = ::read(wakeFd.get(), &count, sizeof count);
        }
        if (fds[outAt].revents != 0)
            out.drain(kRoundBytes);
        if (fds[outAt + 1].revents != 0)
            err.drain(kRoundBytes);
    }
    // What the child wrote before it ended is still in the pipes; a grandchild
    // that holds them open must not keep us here.
    out.drain(kLastBytes);
    err.drain(kLastBytes);
    out.close();
    err.close();
    return healthy;
}

namespace {
std::atomic<std::chrono::milliseconds::rep> g_engineStallLimit { 120000 };
} // namespace

std::chrono::milliseconds engineStallLimit()
{
    return std::chrono::milliseconds(g_engineStallLimit.load());
}

void setEngineStallLimit(std::chrono::milliseconds limit)
{
    g_engineStallLimit = limit.count();
}

QString stallReason(std::chrono::milliseconds limit)
{
    return QStringLiteral("made no progress for %1 s").arg(QString::number(limit.count() / 1000.0));
}

QString signalText(int signal)
{
    const char* description = ::sigdescr_np(signal);
    const QString number = QStringLiteral("signal %1").arg(signal);
    return description ? number + QStringLiteral(" (%1)").arg(QString::fromUtf8(description))
                       : number;
}

QString shellCommandLine(const QStringList& words)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=+,@%^-]+$"));
    QStringList quoted;
    for (const QString& word : words) {
        if (plain.match(word).hasMatch()) {
            quoted << word;
            continue;
        }
        QString text = word;
        text.replace('\'', QLatin1String("'\\''"));
        quoted << '\'' + text + '\'';
    }
    return quoted.join(' ');
}

void prepareForkedChild(pid_t parent)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127);
    struct sigaction defaults { };
    defaults.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        ::sigaction(sig, &defaults, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

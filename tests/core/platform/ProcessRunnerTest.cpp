#include "platform/ProcessRunner.h"
#include "platform/ProcessTree.h"

#include "support/AdoptedOrphans.h"
#include "support/BusyLoops.h"
#include "support/RunFfmpeg.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

struct Captured {
    QStringList out;
    QStringList err;
    ProcessRunner::Result result;
};

Captured capture(ProcessRunner& runner, const QString& program, const QStringList& arguments)
{
    Captured captured;
    runner.setStdoutHandler([&](const QString& line) { captured.out << line; });
    runner.setStderrHandler([&](const QString& line) { captured.err << line; });
    captured.result = runner.run(program, arguments);
    return captured;
}

Captured capture(const QString& program, const QStringList& arguments)
{
    ProcessRunner runner;
    return capture(runner, program, arguments);
}

bool processIsGone(pid_t pid)
{
    return ::kill(pid, 0) == -1 && errno == ESRCH;
}

} // namespace

TEST(ProcessRunner, ReportsLinesAndExitStatus)
{
    struct Case {
        const char* name;
        QString program;
        QStringList arguments;
        QStringList out;
        QStringList err;
        int exitCode;
        int signal;
    };
    const QList<Case> cases {
        { "newline and carriage return split lines", "sh",
            { "-c", "printf 'a\\nb\\rc'; printf 'e1\\r\\ne2' >&2; exit 4" }, { "a", "b", "c" },
            { "e1", "e2" }, 4, 0 },
        { "empty lines are not reported", "sh", { "-c", "printf '\\n\\r\\nx\\n\\n'" }, { "x" }, {},
            0, 0 },
        { "arguments reach the program untouched, no shell", "printf",
            { "%s\\n", "a b", "it's \"q\" $HOME", "été" }, { "a b", "it's \"q\" $HOME", "été" }, {},
            0, 0 },
        { "a signal ends the child", "sh", { "-c", "kill -TERM $$" }, {}, {}, -1, SIGTERM },
        { "a long line in many reads", "sh", { "-c", "head -c 200000 /dev/zero | tr '\\0' x" },
            { QString(200000, 'x') }, {}, 0, 0 },
        { "a line without end is handed on in bounded pieces", "sh",
            { "-c", "head -c 9437184 /dev/zero | tr '\\0' x; echo; echo end" },
            { QString(4 << 20, 'x'), QString(4 << 20, 'x'), QString(1 << 20, 'x'), "end" }, {}, 0,
            0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Captured captured = capture(c.program, c.arguments);
        EXPECT_TRUE(captured.result.started);
        EXPECT_EQ(captured.out, c.out);
        EXPECT_EQ(captured.err, c.err);
        EXPECT_EQ(captured.result.exitCode, c.exitCode);
        EXPECT_EQ(captured.result.signal, c.signal);
        EXPECT_FALSE(captured.result.stopped);
        EXPECT_EQ(captured.result.succeeded(), c.exitCode == 0 && c.signal == 0);
    }
}

TEST(ProcessRunner, ChildEnvironment)
{
    ProcessRunner runner;
    const QString folder = QDir::tempPath();
    runner.setWorkingDirectory(folder);
    EXPECT_EQ(capture(runner, "pwd", {}).out, QStringList { QDir(folder).canonicalPath() });

    // A descriptor opened without close-on-exec elsewhere in the program stays ours.
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 0);
    const Captured probe
        = capture("sh", { "-c", QStringLiteral("test -e /proc/self/fd/%1").arg(leaked) });
    ::close(leaked);
    EXPECT_EQ(probe.result.exitCode, 1);
}

TEST(ProcessRunner, ProgramsThatCannotStart)
{
    const QString notExecutable = QDir::tempPath() + "/not-executable.sh";
    QFile file(notExecutable);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\necho no\n");
    file.close();

    struct Case {
        QString program;
        QString folder;
    };
    const QList<Case> cases {
        { "quillon-no-such-program", {} },
        { "/nonexistent/folder/tool", {} },
        { notExecutable, {} },
        { "true", "/nonexistent/folder" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program.toStdString() + " in " + c.folder.toStdString());
        ProcessRunner runner;
        runner.setWorkingDirectory(c.folder);
        const Captured captured = capture(runner, c.program, {});
        EXPECT_FALSE(captured.result.started);
        EXPECT_FALSE(captured.result.succeeded());
        EXPECT_FALSE(captured.result.error.isEmpty());
        EXPECT_TRUE(captured.out.isEmpty());
        EXPECT_FALSE(runner.isRunning());
    }
}

TEST(ProcessRunner, StopFromAnotherThread)
{
    struct Case {
        const char* name;
        QString script;
        ProcessRunner::GentleStop gentle;
        std::chrono::milliseconds grace;
        int exitCode;
        int signal;
    };
    const QList<Case> cases {
        { "gentle signal", "echo ready; exec sleep 30", { SIGTERM, {} }, 20s, -1, SIGTERM },
        { "ignored signal, killed after the grace", "trap '' TERM; echo ready; exec sleep 30",
            { SIGTERM, {} }, 200ms, -1, SIGKILL },
        { "ignored signal, output without pause", "trap '' TERM; echo ready; exec yes",
            { SIGTERM, {} }, 200ms, -1, SIGKILL },
        { "bytes on standard input", "echo ready; read x; exit 3", { 0, "q\n" }, 20s, 3, 0 },
        { "no gentle way: killed at once", "echo ready; exec sleep 30", { 0, {} }, 20s, -1,
            SIGKILL },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProcessRunner runner;
        runner.setGentleStop(c.gentle, c.grace);
        std::promise<void> ready;
        runner.setStdoutHandler([&](const QString& line) {
            if (line == "ready")
                ready.set_value();
        });
        pid_t child = 0;
        std::promise<void> ended;
        std::thread stopper([&] {
            ready.get_future().wait();
            child = runner.pid();
            runner.stop();
            // A runner that never kills fails the case rather than hanging it.
            if (ended.get_future().wait_for(10s) == std::future_status::timeout)
                ::kill(child, SIGKILL);
        });
        const auto started = std::chrono::steady_clock::now();
        const ProcessRunner::Result result = runner.run("sh", { "-c", c.script });
        const auto elapsed = std::chrono::steady_clock::now() - started;
        ended.set_value();
        stopper.join();
        EXPECT_TRUE(result.stopped);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(result.signal, c.signal);
        EXPECT_LT(elapsed, 10s);
        if (c.signal == SIGKILL && c.gentle.signal != 0) {
            EXPECT_GE(elapsed, c.grace);
            EXPECT_LT(elapsed, c.grace + 1s);
        }
        ASSERT_GT(child, 0);
        EXPECT_TRUE(processIsGone(child));
        EXPECT_FALSE(runner.isRunning());
    }
}

TEST(ProcessRunner, StallLimitEndsAChildThatStopsMoving)
{
    struct Case {
        const char* name;
        QString script;
        std::chrono::milliseconds grace;
        bool stalled;
        int signal;
    };
    // The mark is the number of lines seen: a child moves by printing.
    const QList<Case> cases {
        { "stops printing: ended gently", "echo 1; echo 2; exec sleep 30", 20s, true, SIGTERM },
        { "stops printing and ignores the gentle stop: killed",
            "trap '' TERM; echo 1; exec sleep 30", 200ms, true, SIGKILL },
        { "keeps printing past the limit: left to finish",
            "for i in 1 2 3 4 5 6 7 8 9 10 11 12; do echo $i; sleep 0.1; done", 20s, false, 0 },
        // Processor time is no sign of work: programs the child started that
        // spin without reading end it (they end themselves soon after).
        { "busy without printing or reading: ended",
            "for i in 1 2 3 4; do timeout 3 sh -c 'while :; do :; done' & done; wait", 20s, true,
            SIGTERM },
        { "stopped by a signal: killed after the grace", "echo 1; kill -STOP $$", 200ms, true,
            SIGKILL },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProcessRunner runner;
        runner.setGentleStop({ SIGTERM, {} }, c.grace);
        std::atomic<int> lines = 0;
        runner.setStdoutHandler([&](const QString&) { ++lines; });
        runner.setStallLimit(400ms, [&] { return QByteArray::number(lines.load()); });
        const auto started = std::chrono::steady_clock::now();
        const ProcessRunner::Result result = runner.run("sh", { "-c", c.script });
        const auto elapsed = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(result.stalled, c.stalled);
        EXPECT_EQ(result.succeeded(), !c.stalled);
        EXPECT_FALSE(result.stopped);
        EXPECT_EQ(result.signal, c.signal);
        EXPECT_LT(elapsed, 10s);
        if (c.stalled) {
            EXPECT_GE(elapsed, 400ms);
        }
    }
    EXPECT_EQ(stallReason(120s), "made no progress for 120 s");
}

// A child that starts a program which spins, reading nothing: however the
// run ends, nothing of it is left running, unless the runner was told that
// what the child starts is meant to stay.
TEST(ProcessRunner, NothingTheChildStartedOutlivesItsRun)
{
    const AdoptedOrphans adopted;
    ASSERT_TRUE(adopted.adopting());
    enum class Ending { Itself, Stall, Stop };
    const struct {
        const char* what;
        QString then; // what the child does once the spinner runs
        Ending ending;
        bool groupEnds;
    } cases[] = {
        { "stalled", "wait", Ending::Stall, true },
        { "stopped", "wait", Ending::Stop, true },
        { "failed", "exit 3", Ending::Itself, true },
        { "killed", "kill -KILL $$", Ending::Itself, true },
        { "succeeded", "exit 0", Ending::Itself, true },
        { "an opener, whose program stays", "exit 0", Ending::Itself, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProcessRunner runner;
        runner.setGentleStop({ SIGTERM, {} }, 20s);
        runner.setGroupEndsWithChild(c.groupEnds);
        runner.setStallLimit(300ms, [] { return QByteArray(); });
        pid_t group = 0;
        pid_t spinner = 0;
        runner.setStdoutHandler([&](const QString& line) {
            group = runner.pid();
            spinner = line.toInt();
            if (c.ending == Ending::Stop)
                runner.stop();
        });
        const ProcessRunner::Result result
            = runner.run("sh", { "-c", "sh -c 'while :; do :; done' & echo $!; " + c.then });
        ASSERT_GT(spinner, 0);
        const auto left = [group] { return processGroupMembers(group); };
        if (c.groupEnds) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return left().isEmpty(); }, 10'000))
                << left().join(' ').toStdString();
        } else {
            EXPECT_EQ(left(), QStringList { QString::number(spinner) });
        }
        ::kill(spinner, SIGKILL);
        EXPECT_EQ(result.stalled, c.ending == Ending::Stall);
        EXPECT_EQ(result.stopped, c.ending == Ending::Stop);
    }
}

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds since(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// How long a decode of the first `frames` of `movie` (all when negative)
// takes here and now.
std::chrono::milliseconds decodeTime(const QString& movie, int frames = -1)
{
    const auto start = Clock::now();
    const Captured decode = capture("ffmpeg",
        { "-nostdin", "-nostats", "-loglevel", "error", "-threads", "1", "-i", movie, "-frames:v",
            QString::number(frames), "-f", "null", "-" });
    EXPECT_TRUE(decode.result.succeeded());
    return since(start);
}

// How long a look at what this process's tree has read takes here and now.
std::chrono::milliseconds lookTime()
{
    ProcessTreeReads reads(::getpid());
    const auto start = Clock::now();
    for (int look = 0; look < 10; ++look)
        reads.look();
    return since(start) / 10;
}

// Runs `program` under the stall limit, with the lines it prints as its
// mark; a runner that never ends it fails the case rather than hanging it.
ProcessRunner::Result runWatched(
    const QString& program, const QStringList& arguments, std::chrono::milliseconds limit)
{
    ProcessRunner runner;
    runner.setGentleStop({ SIGTERM, {} }, limit);
    std::atomic<int> lines = 0;
    runner.setStdoutHandler([&](const QString&) { ++lines; });
    runner.setStallLimit(limit, [&] { return QByteArray::number(lines.load()); });
    std::promise<void> ended;
    std::thread guard([&, ends = ended.get_future()] {
        if (ends.wait_for(20 * limit + 30s) == std::future_status::timeout)
            runner.stop();
    });
    const ProcessRunner::Result result = runner.run(program, arguments);
    ended.set_value();
    guard.join();
    EXPECT_FALSE(result.stopped) << "not ended by the stall limit";
    return result;
}

} // namespace

// A child is moving while it reads, however little processor time it gets,
// and stuck when it reads nothing, however much it gets. The limit is a third
// of a decode of the test's movie as measured here and now, so that ffmpeg's
// run on it lasts about three limits, with every core busy or not. While it
// starts, and while it decodes the first five seconds from what it read to
// learn the streams (a thirtieth of the movie), ffmpeg reads nothing: the
// limit is at least six times what its start and first frame take, and
// twenty looks at the tree. The slow reader reads every sixth of a limit.
TEST(ProcessRunner, StallLimitFollowsReadsNotProcessorTime)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString movie = folder.filePath("long.mkv");
    ASSERT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=150",
        "-c:v", "mpeg4", "-q:v", "2", movie }));
    for (const int loops : { 0, BusyLoops::perCore(1) }) {
        SCOPED_TRACE(loops);
        const BusyLoops busy(loops);
        const std::chrono::milliseconds limit = std::max(
            { decodeTime(movie) / 3, 6 * decodeTime(movie, 1), 20 * std::max(lookTime(), 1ms) });
        const QString pause = QString::number(double(limit.count()) / 6000, 'f', 3);
        const struct {
            const char* what;
            QString program;
            QStringList arguments;
            bool stalled;
        } cases[] = {
            { "spins", "sh", { "-c", "while :; do :; done" }, true },
            { "stops", "sh", { "-c", "kill -STOP $$" }, true },
            { "reads its input whole, slowly", "perl",
                { "-e",
                    "open(my $in, '<', $ARGV[0]) or die; my $slice = int((-s $in) / 18) + 1; "
                    "for (1 .. 18) { read($in, my $b, $slice); select(undef, undef, undef, "
                        + pause + ") }",
                    movie },
                false },
            { "reads its input again and again", "sh",
                { "-c", "while :; do cat \"$1\" >/dev/null; sleep " + pause + "; done", "sh",
                    movie },
                true },
            { "decodes to a far cut", "ffmpeg",
                { "-nostdin", "-nostats", "-loglevel", "error", "-threads", "1", "-i", movie, "-ss",
                    "149.5", "-f", "null", "-" },
                false },
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            const auto start = Clock::now();
            const ProcessRunner::Result result = runWatched(c.program, c.arguments, limit);
            EXPECT_EQ(result.stalled, c.stalled)
                << "limit " << limit.count() << " ms, ran " << since(start).count() << " ms";
            EXPECT_EQ(result.succeeded(), !c.stalled);
        }
    }
}

// A folder laid out as /proc holding the lines of the processes `pids`,
// whose first is listed with a thread that has no list of children, as under
// a kernel that keeps none.
bool makeProcWithoutChildLists(const QString& proc, const std::vector<pid_t>& pids)
{
    for (const pid_t pid : pids) {
        const QString folder = QStringLiteral("%1/%2").arg(proc).arg(pid);
        const QByteArray line = readTestFile(QStringLiteral("/proc/%1/stat").arg(pid));
        if (line.isEmpty() || !QDir().mkpath(folder) || !writeTestFile(folder + "/stat", line))
            return false;
    }
    return QDir().mkpath(QStringLiteral("%1/%2/task/%2").arg(proc).arg(pids.front()))
        && QDir().mkpath(proc + "/self");
}

// The stall clock counts the work of the programs an engine started: a busy
// child is found with or without the kernel's lists of children.
TEST(ProcessRunner, FindsTheChildrenOfAProcess)
{
    QTemporaryDir proc;
    ProcessRunner runner;
    std::vector<pid_t> kernelListed;
    std::vector<pid_t> scanned;
    pid_t busy = 0;
    runner.setStdoutHandler([&](const QString& line) {
        busy = line.toInt();
        kernelListed = childProcessesOf(runner.pid(), "/proc");
        if (makeProcWithoutChildLists(proc.path(), { runner.pid(), busy, ::getpid() }))
            scanned = childProcessesOf(runner.pid(), proc.path());
        ::kill(busy, SIGKILL);
    });
    const ProcessRunner::Result result
        = runner.run("sh", { "-c", "sh -c 'while :; do :; done' & echo $!; wait" });
    ASSERT_TRUE(result.started);
    ASSERT_GT(busy, 0);
    EXPECT_EQ(kernelListed, std::vector<pid_t> { busy });
    EXPECT_EQ(scanned, std::vector<pid_t> { busy });
}

TEST(ProcessRunner, StopBeforeStartSkipsOneRun)
{
    ProcessRunner runner;
    runner.stop();
    const Captured skipped = capture(runner, "echo", { "x" });
    EXPECT_FALSE(skipped.result.started);
    EXPECT_TRUE(skipped.result.stopped);
    EXPECT_TRUE(skipped.out.isEmpty());

    const Captured next = capture(runner, "echo", { "x" });
    EXPECT_TRUE(next.result.succeeded());
    EXPECT_EQ(next.out, QStringList { "x" });
}

// Run in a forked copy of the test whose standard streams are closed: the
// runner's pipes must not take their numbers, or what the program writes to
// its standard output would reach the child's input.
bool runsWithStandardStreamsClosed()
{
    for (const int fd : { STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO })
        ::close(fd);
    ProcessRunner runner;
    runner.setGentleStop({ 0, "bye\n" }, 20s);
    QStringList out;
    QStringList err;
    runner.setStdoutHandler([&](const QString& line) {
        out << line;
        if (line == "out") {
            [[maybe_unused]] const ssize_t ignored = ::write(STDOUT_FILENO, "stray\n", 6);
            runner.stop();
        }
    });
    runner.setStderrHandler([&](const QString& line) { err << line; });
    const ProcessRunner::Result result
        = runner.run("sh", { "-c", "echo out; echo err >&2; read -r line; echo \"in:$line\"" });
    return result.exitCode == 0 && out == QStringList { "out", "in:bye" }
    && err == QStringList { "err" };
}

TEST(ProcessRunner, WorksWhenStartedWithStandardStreamsClosed)
{
    const pid_t copy = ::fork();
    ASSERT_GE(copy, 0);
    if (copy == 0)
        ::_exit(runsWithStandardStreamsClosed() ? 0 : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(copy, &status, 0), copy);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Run in a forked copy of the test that leads a process group of its own:
// what is sent to that group (a terminal's hangup, a supervisor's stop, the
// hangup and continue the kernel sends a group left with a stopped member)
// does not reach the child. Stopped by a signal, it stays stopped until the
// stall limit ends it, and is not woken only to die of the hangup.
bool groupSignalsMissTheChild()
{
    ::alarm(60);
    ::setpgid(0, 0);
    ::signal(SIGHUP, SIG_IGN);
    ProcessRunner runner;
    runner.setGentleStop({ SIGTERM, {} }, 1s);
    runner.setStdoutHandler([&runner](const QString&) {
        const QString stat = QStringLiteral("/proc/%1/stat").arg(runner.pid());
        for (int wait = 0; wait < 10000 && !readTestFile(stat).contains(") T "); ++wait)
            std::this_thread::sleep_for(1ms);
        ::kill(0, SIGHUP);
        ::kill(0, SIGCONT);
    });
    runner.setStallLimit(300ms, [] { return QByteArray(); });
    const ProcessRunner::Result result
        = runner.run("sh", { "-c", "echo stopping; kill -STOP $$; echo woken" });
    return result.stalled && result.signal != SIGHUP;
}

TEST(ProcessRunner, SignalsForOurProcessGroupMissTheChild)
{
    const pid_t copy = ::fork();
    ASSERT_GE(copy, 0);
    if (copy == 0)
        ::_exit(groupSignalsMissTheChild() ? 0 : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(copy, &status, 0), copy);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(ProcessRunner, DestructionStopsAndReapsTheChild)
{
    auto runner = std::make_unique<ProcessRunner>();
    runner->setGentleStop({ SIGTERM, {} }, 20s);
    std::promise<void> ready;
    runner->setStdoutHandler([&](const QString&) { ready.set_value(); });
    ProcessRunner::Result result;
    std::thread worker([&] { result = runner->run("sh", { "-c", "echo ready; exec sleep 30" }); });
    ready.get_future().wait();
    const pid_t child = runner->pid();
    runner.reset();
    EXPECT_TRUE(processIsGone(child));
    worker.join();
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.signal, SIGTERM);
}

#include "platform/ProcessRunner.h"

#include "support/TestFiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
        // The work is done by programs the child started, as ffmpeg under
        // the slideshow engine. Four of them: on a machine with ten jobs
        // ready to run on each processor, one gets about a tenth of one.
        { "busy without printing past the limit: left to finish",
            "for i in 1 2 3 4; do timeout 1.5 sh -c 'while :; do :; done' & done; wait; exit 0",
            20s, false, 0 },
        // Workers reaped unseen (their parent ignores SIGCHLD) take their
        // time out of the tree when they end; the next ones still count.
        { "busy after workers whose time nobody collects: left to finish",
            R"(exec perl -e '$SIG{CHLD} = "IGNORE"; for my $s (1, 1.5) {
                 system(qq{for i in 1 2 3 4; do timeout $s sh -c "while :; do :; done" & done; wait})
               }')",
            20s, false, 0 },
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

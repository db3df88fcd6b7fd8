#include "platform/FatalEndReport.h"

#include "platform/AppPaths.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Ending {
    int signalNumber;
    std::string standardError;
    int exitCode;
};

// Runs `end` in a forked child with the report installed and its standard
// error on a pipe; the child must die by a signal.
Ending endChild(const QString& logPath, const std::function<void()>& end)
{
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeEnds[1], STDERR_FILENO);
        ::close(pipeEnds[0]);
        // As a plain start finds them, whatever a sanitizer of this build set.
        for (const int number : { SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT })
            ::signal(number, SIG_DFL);
        if (!logPath.isNull())
            FatalEndReport::install(logPath);
        end();
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    std::string words;
    char buffer[512];
    for (ssize_t got; (got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        words.append(buffer, static_cast<std::size_t>(got));
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return { WIFSIGNALED(status) ? WTERMSIG(status) : 0, words,
        WIFEXITED(status) ? WEXITSTATUS(status) : -1 };
}

std::string contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

} // namespace

// Each end is told on standard error and in the log, and the process still
// dies of the signal that ended it.
TEST(FatalEndReport, AFatalSignalOrAnUncaughtExceptionLeavesALineAndKeepsItsCause)
{
    struct Case {
        const char* name;
        std::function<void()> end;
        int signalNumber;
        std::string cause;
    };
    const Case cases[] = {
        { "memory fault", [] { ::raise(SIGSEGV); }, SIGSEGV,
            "ended by signal 11 (SIGSEGV, an invalid memory access)" },
        { "write to a page that takes none",
            [] {
                void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
                *static_cast<volatile int*>(page) = 1;
            },
            SIGSEGV, "ended by signal 11 (SIGSEGV, an invalid memory access)" },
        { "abort", [] { std::abort(); }, SIGABRT, "ended by signal 6 (SIGABRT, an abort)" },
        { "exception",
            [] {
                try {
                    throw std::runtime_error("the list lost its row");
                } catch (...) {
                    std::terminate();
                }
            },
            SIGABRT, "ended by an uncaught exception: the list lost its row" },
    };
    const QTemporaryDir folder(AppPaths::temporaryFolder() + "/fatal-XXXXXX");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString log = folder.filePath(QString::fromLatin1(c.name) + ".log");
        QFile earlier(log);
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
        earlier.write("an earlier line\n");
        earlier.close();

        const Ending ending = endChild(log, c.end);
        EXPECT_EQ(ending.signalNumber, c.signalNumber);
        EXPECT_EQ(ending.standardError, "Quillon: " + c.cause + "\n");
        EXPECT_EQ(contents(log), "an earlier line\n[Quillon]: " + c.cause + "\n");
    }
    // A handler that stood before still has its turn, after the line.
    const Ending handled = endChild({}, [] {
        ::signal(SIGFPE, [](int) {
            constexpr char kWords[] = "the handler before\n";
            [[maybe_unused]] const ssize_t written
                = ::write(STDERR_FILENO, kWords, sizeof kWords - 1);
            ::_exit(42);
        });
        FatalEndReport::install({});
        ::raise(SIGFPE);
    });
    EXPECT_EQ(handled.standardError,
        "Quillon: ended by signal 8 (SIGFPE, an arithmetic fault)\nthe handler before\n");
    EXPECT_EQ(handled.exitCode, 42);
    // A log that is not there is not made by the end.
    const QString missing = folder.filePath("missing.log");
    EXPECT_EQ(endChild(missing, [] { ::raise(SIGBUS); }).signalNumber, SIGBUS);
    EXPECT_FALSE(QFile::exists(missing));
}

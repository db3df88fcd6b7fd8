#pragma once

// What the command-line tools share: their lines out, their complaints and
// the start of their main(): a home of their own, the application and the
// command line.
#include "platform/DNLogger.h"
#include "platform/OwnerMark.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

#include <pthread.h>

// One line out, passed on at once: a caller reads the lines as the tool runs.
inline void print(const QString& line)
{
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

// "<tool>: <problem>" on standard error, the tool named as it was started.
inline void complain(const QString& problem)
{
    std::fprintf(
        stderr, "%s: %s\n", program_invocation_short_name, problem.toLocal8Bit().constData());
}

// A complaint about the command line; the exit status of a usage error.
inline int usage(const QString& problem)
{
    complain(problem);
    return 2;
}

// The program's log of this run on standard error, after a failure.
inline void printLog()
{
    QFile log(DNLogger::shareRoughLog().path());
    if (log.open(QIODevice::ReadOnly))
        std::fprintf(stderr, "--- log ---\n%s", log.readAll().constData());
}

// A tool's home is marked as its process's: one killed outright leaves it,
// and the next tool started removes it.
constexpr const char* kToolHomePrefix = "quillon-tool-";

// Removes the homes of tools whose process has ended; only marked ones.
inline void removeAbandonedHomes()
{
    const QDir temporary(QDir::tempPath());
    for (const QString& name : temporary.entryList(
             { QString::fromLatin1(kToolHomePrefix) + '*' }, QDir::Dirs | QDir::NoSymLinks)) {
        QDir home(temporary.filePath(name));
        if (OwnerMark::ownerOf(home.path()) == OwnerMark::Owner::Gone)
            home.removeRecursively();
    }
}

// Settings, log, caches and temporary files in a folder of our own.
inline bool useTemporaryHome(const QTemporaryDir& home)
{
    const struct {
        const char* variable;
        const char* folder;
    } paths[] = { { "HOME", "/home" }, { "XDG_CONFIG_HOME", "/home/.config" },
        { "XDG_DATA_HOME", "/home/.local/share" }, { "XDG_CACHE_HOME", "/home/.cache" },
        { "TMPDIR", "/tmp" } };
    for (const auto& path : paths) {
        const QString folder = home.path() + path.folder;
        if (!QDir().mkpath(folder) || ::setenv(path.variable, folder.toUtf8().constData(), 1) != 0)
            return false;
    }
    return true;
}

// What --help shows: the tool's description, its options and, when it takes
// any, its positional arguments.
struct ToolCommandLine {
    QString description;
    QList<QCommandLineOption> options;
    QString arguments = {};
    QString argumentsHelp = {};
    QString argumentsSyntax = {};
};

// SIGTERM, SIGINT and SIGHUP turned into a call of `stop` on a thread of
// their own, so that the tool ends its work as a stop ends it and leaves
// nothing behind. Made first in main(), before any other thread: they are
// blocked in every thread but that one (a child starts with none blocked).
class StopOnSignals {
public:
    explicit StopOnSignals(std::function<void()> stop)
        : m_stop(std::move(stop))
    {
        sigemptyset(&m_signals);
        for (const int signal : { SIGTERM, SIGINT, SIGHUP })
            sigaddset(&m_signals, signal);
        ::pthread_sigmask(SIG_BLOCK, &m_signals, nullptr);
        m_waiter = std::thread([this] {
            for (;;) {
                int signal = 0;
                if (::sigwait(&m_signals, &signal) != 0)
                    continue;
                if (m_ending)
                    return;
                m_received = signal;
                m_stop();
            }
        });
    }
    ~StopOnSignals()
    {
        m_ending = true;
        ::pthread_kill(m_waiter.native_handle(), SIGTERM);
        m_waiter.join();
    }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

    // The signal that stopped the tool, or 0.
    int received() const { return m_received; }

private:
    std::function<void()> m_stop;
    sigset_t m_signals {};
    std::atomic<bool> m_ending { false };
    std::atomic<int> m_received { 0 };
    std::thread m_waiter;
};

using ToolBody = std::function<int(const QCommandLineParser&)>;

// Starts the application, reads the command line (answering --help there) and
// runs the tool's body with it; the body's result is the exit status.
inline int runTool(int& argc, char** argv, const ToolCommandLine& commandLine, const ToolBody& body)
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(commandLine.description);
    parser.addHelpOption();
    parser.addOptions(commandLine.options);
    if (!commandLine.arguments.isEmpty())
        parser.addPositionalArgument(
            commandLine.arguments, commandLine.argumentsHelp, commandLine.argumentsSyntax);
    parser.process(application);
    return body(parser);
}

// runTool() in a temporary home, switched before Qt or the program reads a
// setting, so the user's own settings are neither read nor changed.
inline int runToolInTemporaryHome(
    int& argc, char** argv, const ToolCommandLine& commandLine, const ToolBody& body)
{
    removeAbandonedHomes();
    const QTemporaryDir home(QDir::tempPath() + '/' + kToolHomePrefix + "XXXXXX");
    // Unmarked where the file system keeps no attributes: never swept then.
    if (home.isValid())
        OwnerMark::mark(home.path());
    if (!home.isValid() || !useTemporaryHome(home)) {
        complain(QStringLiteral("cannot make a temporary home"));
        return 2;
    }
    const int status = runTool(argc, argv, commandLine, body);
    // The log's run lock lies in the home, which goes first.
    DNLogger::shareRoughLog().close();
    return status;
}

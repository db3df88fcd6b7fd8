#pragma once

// What the command-line tools share: their lines out, their complaints and
// the start of their main(): a home of their own, the application and the
// command line.
#include "platform/DNLogger.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>

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
    const QTemporaryDir home;
    if (!home.isValid() || !useTemporaryHome(home)) {
        complain(QStringLiteral("cannot make a temporary home"));
        return 2;
    }
    const int status = runTool(argc, argv, commandLine, body);
    // The log's run lock lies in the home, which goes first.
    DNLogger::shareRoughLog().close();
    return status;
}

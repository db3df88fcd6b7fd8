#include "common/DesktopOpener.h"

#include "platform/DNLogger.h"
#include "platform/Fd.h"
#include "platform/ProcessRunner.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

const QString kProgram = QStringLiteral("xdg-open");
constexpr auto kGrace = std::chrono::seconds(2);
// What is kept of xdg-open's words for the message: its complaint is one line.
constexpr qsizetype kLinesKept = 4;
constexpr qsizetype kLongestLine = 500;

// Why xdg-open did not open the path, from how it ended and what it said;
// empty when it did, or when it was ended by us.
QString failureOf(const ProcessRunner::Result& result, const QStringList& said)
{
    if (result.stopped || result.stalled)
        return {};
    if (!result.started)
        return result.error;
    QString ending;
    if (result.signal != 0)
        ending = QStringLiteral("xdg-open was ended by ") + signalText(result.signal);
    else if (result.exitCode != 0)
        ending = QStringLiteral("xdg-open ended with status %1").arg(result.exitCode);
    else
        return {};
    return said.isEmpty() ? ending : ending + QStringLiteral(": ") + said.join(' ');
}

// A file in memory that holds at most what a message can show: xdg-open's
// words go there rather than to a pipe of ours, because the program it hands
// the path to inherits them and often outlives it, and would be ended by its
// next word into a pipe closed once xdg-open has ended. The file can neither
// grow nor shrink, so whatever that program writes past its end is refused,
// however long it lives. Invalid when no such file can be made.
Fd boundedWordsFile()
{
    Fd words(::memfd_create("xdg-open words", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!words.valid() || ::ftruncate(words.get(), kLinesKept * (kLongestLine + 1)) != 0
        || ::fcntl(words.get(), F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) != 0)
        return {};
    return words;
}

// Where a child opens `words` without truncating it: the same file, through
// this process's table of descriptors.
QString pathOfWords(const Fd& words)
{
    return words.valid() ? QStringLiteral("/proc/%1/fd/%2").arg(::getpid()).arg(words.get())
                         : QStringLiteral("/dev/null");
}

// The first lines of what xdg-open said, each cut to a length a message can
// show, without the name it puts before its complaints: the reason names it.
// The file's unwritten rest is zeros.
QStringList firstLines(const Fd& words)
{
    QByteArray start(kLinesKept * (kLongestLine + 1), '\0');
    const ssize_t read = words.valid() ? ::pread(words.get(), start.data(), start.size(), 0) : 0;
    start.truncate(std::max<ssize_t>(read, 0));
    if (const qsizetype end = start.indexOf('\0'); end >= 0)
        start.truncate(end);
    QStringList lines = QString::fromUtf8(start).split('\n', Qt::SkipEmptyParts).mid(0, kLinesKept);
    for (QString& line : lines) {
        if (line.startsWith(kProgram + QLatin1String(": ")))
            line.remove(0, kProgram.size() + 2);
        line.truncate(kLongestLine);
    }
    return lines;
}

} // namespace

struct DesktopOpener::Run {
    ProcessRunner runner;
    std::thread thread;
    std::atomic<bool> done { false };

    // Runs xdg-open on `path` to its end; why it failed, or empty.
    QString openWith(const QString& path);
};

QString DesktopOpener::Run::openWith(const QString& path)
{
    const Fd words = boundedWordsFile();
    runner.setGentleStop({ SIGTERM, {} }, kGrace);
    // The handler xdg-open starts is the user's now, and stays when it ends.
    runner.setGroupEndsWithChild(false);
    runner.setStallLimit(kStallLimit, [&words] { return firstLines(words).join('\n').toUtf8(); });
    // "<>" opens the file as it is, where ">" would truncate it. Its standard
    // output carries nothing of its own.
    const ProcessRunner::Result result = runner.run(QStringLiteral("sh"),
        { QStringLiteral("-c"), QStringLiteral("exec xdg-open \"$1\" >/dev/null 2<>\"$2\""),
            QStringLiteral("sh"), path, pathOfWords(words) });
    if (result.stalled)
        DNLog(QStringLiteral("xdg-open, asked to open %1, did nothing for %2 s and was ended")
                  .arg(path)
                  .arg(kStallLimit.count()));
    return failureOf(result, firstLines(words));
}

DesktopOpener::DesktopOpener(Failed failed)
    : m_failed(std::move(failed))
    , m_alive(std::make_shared<bool>(true))
{ }

DesktopOpener::~DesktopOpener()
{
    *m_alive = false;
    const std::lock_guard lock(m_mutex);
    for (const auto& run : m_runs)
        run->runner.stop();
    for (const auto& run : m_runs)
        run->thread.join();
}

bool DesktopOpener::open(const QString& given)
{
    if (QStandardPaths::findExecutable(kProgram).isEmpty())
        return false;
    // A relative path that starts with "-" would reach xdg-open as an option.
    const QString path = QFileInfo(given).absoluteFilePath();
    forgetFinishedRuns();
    const std::lock_guard lock(m_mutex);
    Run& run = *m_runs.emplace_back(std::make_unique<Run>());
    run.thread = std::thread([&run, path, failed = m_failed, alive = m_alive] {
        const QString reason = run.openWith(path);
        run.done = true;
        if (reason.isEmpty())
            return;
        DNLog(QStringLiteral("The desktop could not open %1: %2").arg(path, reason));
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [failed, alive, path, reason] {
                if (*alive)
                    failed(path, reason);
            },
            Qt::QueuedConnection);
    });
    return true;
}

void DesktopOpener::forgetFinishedRuns()
{
    const std::lock_guard lock(m_mutex);
    m_runs.remove_if([](const std::unique_ptr<Run>& run) {
        if (!run->done)
            return false;
        run->thread.join();
        return true;
    });
}

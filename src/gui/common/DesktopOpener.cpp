#include "common/DesktopOpener.h"

#include "platform/DNLogger.h"
#include "platform/ProcessRunner.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>

#include <atomic>
#include <csignal>
#include <thread>

namespace {

const QString kProgram = QStringLiteral("xdg-open");
constexpr auto kGrace = std::chrono::seconds(2);
// What is kept of xdg-open's words for the message: its complaint is one line.
constexpr qsizetype kLinesKept = 4;
constexpr qsizetype kLongestLine = 500;

// The processor time of `pid` and of the children it has waited for, in
// clock ticks: it moves while xdg-open works (asks xdg-mime, tries a
// handler), and stands while it only waits.
QByteArray processorTime(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = stat.read(1024);
    // After the name in brackets: the state first, then utime, stime, cutime
    // and cstime as the 12th to 15th words.
    const QList<QByteArray> words = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return words.size() < 15 ? QByteArray() : words.mid(11, 4).join(' ');
}

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
        ending = QStringLiteral("xdg-open was ended by signal %1").arg(result.signal);
    else if (result.exitCode != 0)
        ending = QStringLiteral("xdg-open ended with status %1").arg(result.exitCode);
    else
        return {};
    return said.isEmpty() ? ending : ending + QStringLiteral(": ") + said.join(' ');
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
    QStringList said;
    qsizetype lines = 0;
    const auto keep = [&said, &lines](const QString& line) {
        ++lines;
        if (said.size() < kLinesKept)
            said << line.left(kLongestLine);
    };
    runner.setStdoutHandler(keep);
    runner.setStderrHandler(keep);
    runner.setGentleStop({ SIGTERM, {} }, kGrace);
    runner.setStallLimit(kStallLimit,
        [this, &lines] { return QByteArray::number(lines) + ' ' + processorTime(runner.pid()); });
    const ProcessRunner::Result result = runner.run(kProgram, { path });
    if (result.stalled)
        DNLog(QStringLiteral("xdg-open, asked to open %1, did nothing for %2 s and was ended")
                  .arg(path)
                  .arg(kStallLimit.count()));
    return failureOf(result, said);
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

bool DesktopOpener::open(const QString& path)
{
    if (QStandardPaths::findExecutable(kProgram).isEmpty())
        return false;
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

#include "engine/ToolBridge.h"

#include "engine/ArgumentBlock.h"
#include "platform/DNLogger.h"
#include "platform/OwnerMark.h"
#include "platform/PathStatus.h"
#include "platform/ProcessRunner.h"
#include "services/OutputPublishing.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

ToolBridge::ToolBridge(const char* name)
    : m_name(name)
{ }

ToolBridge::Call::Call(ToolBridge& bridge)
    : m_bridge(bridge)
    , m_run(bridge.m_runLock)
{
    const std::lock_guard lock(m_bridge.m_stateLock);
    m_bridge.m_active = true;
    m_bridge.m_stopRequested = false;
    m_bridge.m_lastFailure.clear();
    m_bridge.m_diskFull = {};
    m_bridge.m_writer = {};
    m_bridge.m_settledFailure.clear();
}

ToolBridge::Call::~Call()
{
    const std::lock_guard lock(m_bridge.m_stateLock);
    m_bridge.m_active = false;
    m_bridge.m_runners.clear();
    m_bridge.m_progressSource = {};
}

QStringList ToolBridge::listOf(int argc, const char* const* argv) const
{
    if (argv == nullptr || argc < 1 || argc >= MaxArguNumber
        || std::any_of(argv, argv + argc, [](const char* word) { return word == nullptr; })) {
        DNLog(QStringLiteral("The %1 was given no usable command line (%2 arguments).")
                  .arg(QString::fromLatin1(m_name))
                  .arg(argc));
        return {};
    }
    QStringList words;
    for (int i = 0; i < argc; ++i)
        words << QString::fromUtf8(argv[i]);
    return words;
}

void ToolBridge::start(ProgressSource source)
{
    ToolBridgeStateCallback callback = nullptr;
    void* context = nullptr;
    {
        const std::lock_guard lock(m_stateLock);
        m_progress = {};
        m_progressSource = std::move(source);
        callback = m_callback;
        context = m_context;
    }
    if (callback)
        callback(kToolBridgeStateRunning, context);
}

int ToolBridge::run(const Child& child, const LineReader& reader)
{
    Lines lines { reader, reader, {} };
    const ProcessRunner::Result result = runChild(child, lines);
    if (stopRequested()) {
        DNLog(QStringLiteral("The %1 was stopped before it finished.").arg(m_name));
        return kToolBridgeStopped;
    }
    const QString failure = failureOf(child.program, result, lines.lastMessage);
    if (!result.started || result.stalled || result.signal != 0)
        return fail(failure);
    if (result.exitCode != 0) {
        DNLog(failure);
        keepFailure(failure);
    }
    return result.exitCode;
}

ProcessRunner::Result ToolBridge::runChild(const Child& child, Lines& lines)
{
    const QStringList command = QStringList { child.program } + child.arguments;
    setLastCommand(command);
    DNLog(QStringLiteral("The %1 runs: ").arg(QString::fromLatin1(m_name))
        + shellCommandLine(command));
    ProcessRunner runner;
    prepare(runner, child, lines);
    attach(runner);
    const ProcessRunner::Result result = runner.run(child.program, child.arguments);
    detach(runner);
    return result;
}

void ToolBridge::prepare(
    ProcessRunner& runner, const Child& child, Lines& lines, PartnerWait waitsOnPartner)
{
    runner.setGentleStop({ child.stopSignal, {} }, child.grace);
    // An engine that neither reports progress nor writes has hung (mencoder
    // waiting for ever on a cache process that has died): it is ended.
    runner.setStallLimit(engineStallLimit(), stallMark(child.output, std::move(waitsOnPartner)));
    runner.setStdoutHandler([this, &lines, program = child.program](const QString& line) {
        readLine(program, line, lines.output, lines.lastMessage);
    });
    runner.setStderrHandler([this, &lines, program = child.program](const QString& line) {
        readLine(program, line, lines.error, lines.lastMessage);
    });
    // Of children side by side, the last one that names the output writes it.
    if (!child.output.isEmpty()) {
        const std::lock_guard lock(m_stateLock);
        m_writer = { child.program, child.output };
    }
}

void ToolBridge::readLine(
    const QString& program, const QString& line, const LineReader& reader, QString& lastMessage)
{
    {
        const std::lock_guard lock(m_stateLock);
        if (m_diskFull.said.isEmpty() && saysDiskIsFull(line))
            m_diskFull = { program, line.trimmed() };
        if (reader && reader(line, m_progress))
            return;
    }
    DNLogger::shareRoughLog().logEngineLine(line);
    lastMessage = line;
}

QByteArray ToolBridge::progressMark(const QString& output) const
{
    const ProgressInfo now = progress();
    // The time it was last written too: a muxer that moves an index to the
    // front rewrites the whole file in place, quietly and without growing it.
    const QFileInfo file(output);
    const qint64 written = output.isEmpty() ? -1 : file.size();
    const qint64 touched = output.isEmpty() ? -1 : file.lastModified().toMSecsSinceEpoch();
    return QByteArray::number(now.convertedTime) + ' ' + QByteArray::number(now.frameNumber) + ' '
        + QByteArray::number(now.percent) + ' ' + QByteArray::number(written) + ' '
        + QByteArray::number(touched);
}

ProcessRunner::ProgressMark ToolBridge::stallMark(const QString& output, PartnerWait waitsOnPartner)
{
    return [this, output, waits = std::move(waitsOnPartner), looks = quint64(0)]() mutable {
        if (waits && waits())
            return QByteArray("waiting ") + QByteArray::number(++looks);
        return progressMark(output);
    };
}

void ToolBridge::attach(ProcessRunner& runner)
{
    const std::lock_guard lock(m_stateLock);
    m_runners.push_back(&runner);
    if (m_stopRequested)
        runner.stop();
}

void ToolBridge::detach(ProcessRunner& runner)
{
    const std::lock_guard lock(m_stateLock);
    std::erase(m_runners, &runner);
}

void ToolBridge::finish(int status)
{
    const std::lock_guard lock(m_stateLock);
    if (m_progressSource)
        m_progressSource(m_progress);
    if (status == 0)
        m_progress.percent = 100;
}

void ToolBridge::setProgress(const ProgressInfo& progress)
{
    const std::lock_guard lock(m_stateLock);
    m_progress = progress;
}

bool ToolBridge::stopRequested() const
{
    const std::lock_guard lock(m_stateLock);
    return m_stopRequested;
}

int ToolBridge::fail(const QString& reason)
{
    DNLog(QStringLiteral("The %1 failed: %2").arg(QString::fromLatin1(m_name), reason));
    keepFailure(reason);
    return kToolBridgeFailed;
}

QString ToolBridge::failureOf(
    const QString& program, const ProcessRunner::Result& result, const QString& lastMessage)
{
    if (!result.started)
        return QStringLiteral("%1 could not start: %2").arg(program, result.error);
    if (result.stalled)
        return QStringLiteral("%1 %2.").arg(program, stallReason(engineStallLimit()));
    if (result.signal != 0)
        return QStringLiteral("%1 was ended by %2.").arg(program, signalText(result.signal));
    if (result.exitCode != 0)
        return QStringLiteral("%1 failed with exit status %2: %3")
            .arg(program, QString::number(result.exitCode), lastMessage);
    return {};
}

void ToolBridge::keepFailure(const QString& reason)
{
    const std::lock_guard lock(m_stateLock);
    m_lastFailure = reason;
}

void ToolBridge::settleFailure(const QString& reason)
{
    DNLog(QStringLiteral("The %1 failed: %2").arg(QString::fromLatin1(m_name), reason));
    const std::lock_guard lock(m_stateLock);
    m_lastFailure = reason;
    m_settledFailure = reason;
}

void ToolBridge::settle(const ToolBridgeOutput& output, int status)
{
    // The room is read before the output goes and frees some.
    if (status != 0 && status != kToolBridgeStopped && output.madeByRun()) {
        const std::lock_guard lock(m_stateLock);
        m_settledFailure = failureWithRoom(output.path());
    }
    output.settle(status);
}

QString ToolBridge::failureWithRoom(const QString& output) const
{
    const QString program = m_diskFull.said.isEmpty() ? m_writer.program : m_diskFull.program;
    if (output.isEmpty())
        return m_diskFull.said.isEmpty()
            ? m_lastFailure
            : fullDiskReason(program, {}, std::nullopt, m_diskFull.said);
    return reasonWithRoom(program, output, m_diskFull.said, m_lastFailure);
}

void ToolBridge::setStateCallback(ToolBridgeStateCallback callback, void* context)
{
    const std::lock_guard lock(m_stateLock);
    m_callback = callback;
    m_context = context;
}

ProgressInfo ToolBridge::progress() const
{
    const std::lock_guard lock(m_stateLock);
    ProgressInfo progress = m_progress;
    if (m_active && m_progressSource)
        m_progressSource(progress);
    return progress;
}

void ToolBridge::stop()
{
    const std::lock_guard lock(m_stateLock);
    if (!m_active)
        return;
    m_stopRequested = true;
    for (ProcessRunner* runner : m_runners)
        runner->stop();
}

QStringList ToolBridge::lastCommand() const
{
    const std::lock_guard lock(m_stateLock);
    return m_lastCommand;
}

void ToolBridge::setLastCommand(const QStringList& command)
{
    const std::lock_guard lock(m_stateLock);
    m_lastCommand = command;
}

QString ToolBridge::lastFailure() const
{
    const std::lock_guard lock(m_stateLock);
    if (!m_settledFailure.isEmpty())
        return m_settledFailure;
    // What the engine said last ("Conversion failed!") or what the output
    // check found (a length short of the list's) would hide the cause.
    if (!m_diskFull.said.isEmpty())
        return failureWithRoom(m_writer.output);
    return m_lastFailure;
}

ToolBridgeOutput::ToolBridgeOutput(QString path)
    : m_path(std::move(path))
    , m_existed(m_path.isEmpty() || pathExists(m_path))
    , m_claimed(!m_path.isEmpty() && isRegularFile(m_path) && OwnerMark::isOwn(m_path))
{ }

void ToolBridgeOutput::settle(int status) const
{
    if (status == 0 || m_existed || !isRegularFile(m_path))
        return;
    if (QFile::remove(m_path))
        DNLog(QStringLiteral("The unfinished output \"%1\" was deleted.").arg(m_path));
}

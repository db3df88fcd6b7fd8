#include "player/PlayerTask.h"

#include "player/MPlayerStatusLine.h"
#include "player/PlayerProcesses.h"

#include <QRegularExpression>
#include <QTimer>

#include <utility>

namespace {

const QString kToolPrefix = QStringLiteral("[DORavuzo]:");
// How long an ended tool may take to go before it is killed.
constexpr int kEndBound = 2000;

} // namespace

QByteArray playerCommandNumber(double value, int digits)
{
    return QByteArray::number(value, 'f', digits);
}

QByteArray playerSeekCommand(double seconds)
{
    return "seek " + playerCommandNumber(seconds, 1) + " 2\n";
}

QByteArray playerSkipCommand(double seconds)
{
    return "seek " + playerCommandNumber(seconds, 1) + " 0\n";
}

QByteArray playerVolumeCommand(double volume)
{
    return "set_property volume " + playerCommandNumber(volume, 2) + "\n";
}

double playerStatusPosition(const QString& line)
{
    return mplayerStatusPattern().match(line).captured(2).toDouble();
}

double playerIdentificationValue(const QString& line)
{
    return line.section('=', 1).trimmed().toDouble();
}

PlayerTask::PlayerTask(QObject* parent)
    : QObject(parent)
{
    m_process.setStandardErrorFile(QProcess::nullDevice());
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &PlayerTask::readOutput);
    connect(&m_process, &QProcess::finished, this, &PlayerTask::processFinished);
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            emit failedToStart();
    });
}

PlayerTask::~PlayerTask()
{
    // The wait below would report the end to whoever listens, mid-destruction.
    m_process.disconnect(this);
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(kEndBound);
    }
    PlayerProcesses::shared().remove(m_pid);
}

void PlayerTask::start(const QStringList& arguments, const QString& workingDirectory)
{
    m_process.setWorkingDirectory(workingDirectory);
    m_process.setProcessEnvironment(PlayerProcesses::toolEnvironment());
    m_process.start(PlayerProcesses::toolPath(), arguments);
    // Registered before the event loop can reap it, so its pid is ours.
    m_pid = static_cast<pid_t>(m_process.processId());
    if (m_pid > 0)
        PlayerProcesses::shared().add(m_pid);
}

void PlayerTask::write(const QByteArray& command)
{
    if (m_process.state() != QProcess::NotRunning)
        m_process.write(command);
}

void PlayerTask::terminate()
{
    m_process.terminate();
}

void PlayerTask::dismiss()
{
    disconnect();
    if (m_process.state() == QProcess::NotRunning) {
        deleteLater();
        return;
    }
    connect(this, &PlayerTask::finished, this, &QObject::deleteLater);
    m_process.terminate();
    QTimer::singleShot(kEndBound, this, [this] { m_process.kill(); });
}

void PlayerTask::readOutput()
{
    handOut(m_reader.read(m_process.readAllStandardOutput()));
}

void PlayerTask::handOut(const QStringList& lines)
{
    for (QString line : lines) {
        if (line.startsWith(kToolPrefix))
            line.remove(0, kToolPrefix.size());
        if (!line.trimmed().isEmpty())
            emit lineRead(line);
    }
}

void PlayerTask::processFinished(int exitCode, QProcess::ExitStatus status)
{
    // The process object forgets its pid once the process has ended.
    PlayerProcesses::shared().remove(std::exchange(m_pid, 0));
    readOutput();
    handOut(m_reader.finish());
    emit finished(exitCode, status);
}

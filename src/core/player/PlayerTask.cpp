#include "player/PlayerTask.h"

#include "model/DNFileNode.h"
#include "platform/DNLogger.h"
#include "player/MPlayerStatusLine.h"
#include "player/PlayerProcesses.h"

#include <QRegularExpression>
#include <QTimer>

#include <utility>

namespace {

const QString kToolPrefix = QStringLiteral("[DORavuzo]:");
// How long an ended tool may take to go before it is killed.
constexpr int kEndBound = 2000;
// The end of the tool's complaints that is kept: mplayer says why it gave up
// last, after repeating the reason of each attempt.
constexpr qsizetype kKeptComplaintBytes = 4096;
constexpr qsizetype kLoggedComplaintLines = 4;

// The last different lines of `complaints`, oldest first, on one line.
QString reasonOf(const QByteArray& complaints)
{
    QStringList reason;
    const QList<QByteArray> lines = complaints.split('\n');
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        const QString text = QString::fromUtf8(line->trimmed());
        if (text.isEmpty() || reason.contains(text))
            continue;
        reason.prepend(text);
        if (reason.size() == kLoggedComplaintLines)
            break;
    }
    return reason.join(QStringLiteral(" | "));
}

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

QStringList playerSubtitleArguments(const NXBasicMediaNode* node)
{
    const auto* file = dynamic_cast<const DNFileNode*>(node);
    const DNSubtitleTrack* track = file ? file->selectedSubtitleTrack() : nullptr;
    const DNTExtSubtitle* external = track ? DNExtSubtitleOf(*track) : nullptr;
    if (!external)
        return {};
    // mplayer takes a list of files there, apart by commas.
    QString path = external->path;
    path.replace(QLatin1Char(','), QLatin1String("\\,"));
    QStringList arguments { QStringLiteral("-sub"), path };
    if (!external->codePage.isEmpty())
        arguments << QStringLiteral("-subcp") << external->codePage;
    return arguments;
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
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &PlayerTask::readOutput);
    connect(&m_process, &QProcess::readyReadStandardError, this, &PlayerTask::readComplaints);
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

void PlayerTask::readComplaints()
{
    m_complaints += m_process.readAllStandardError();
    if (m_complaints.size() > kKeptComplaintBytes)
        m_complaints.remove(0, m_complaints.size() - kKeptComplaintBytes);
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
    readComplaints();
    // A tool we killed (for a new player, or at a stop) ends by a signal,
    // which says nothing of its media.
    if (status == QProcess::NormalExit && exitCode != 0)
        logFailure(exitCode);
    emit finished(exitCode, status);
}

void PlayerTask::logFailure(int exitCode) const
{
    DNLog(QStringLiteral("The player could not play \"%1\" (status %2): %3")
              .arg(m_process.arguments().value(0))
              .arg(exitCode)
              .arg(reasonOf(m_complaints)));
}

#include "player/NXOVPlayerControl.h"

#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/ProcessRunner.h"
#include "player/MPlayerStatusLine.h"
#include "player/MPlayerVideoRenderer.h"
#include "player/PlayerProcesses.h"
#include "player/PlayerTask.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Numbered across the program: every frame link has a name of its own.
int frameLinkCounter = 0;
// Below this cache fill in percent the player is starving.
constexpr int kCacheFillToPlay = 2;
// How long a dropped player may take to go.
constexpr int kEndBound = 2000;

int capturedParts(const QRegularExpressionMatch& match)
{
    int count = 0;
    for (int group = 1; group <= match.lastCapturedIndex(); ++group)
        count += match.captured(group).isEmpty() ? 0 : 1;
    return count;
}

} // namespace

NXOVPlayerControl::NXOVPlayerControl(QObject* parent)
    : QObject(parent)
{
    connect(&m_stallTimer, &QTimer::timeout, this, &NXOVPlayerControl::watchProgress);
}

NXOVPlayerControl::~NXOVPlayerControl()
{
    dropRunningPlayer();
}

int NXOVPlayerControl::status() const
{
    if (m_flags.isWaitingCache)
        return 2;
    if (!m_flags.isStarted)
        return 0;
    return m_flags.isPaused ? 3 : 1;
}

// Before the player tells the duration there is no position to speak of.
double NXOVPlayerControl::currentPlaybackPercent() const
{
    if (m_flags.duration <= 0)
        return 0;
    return m_flags.currentPlaybackTime / m_flags.duration * 100;
}

// Without a cache or a known size nothing is known ahead of the position.
double NXOVPlayerControl::currentLoadingPercent() const
{
    const bool measurable = m_flags.cacheBufferSizeInMB > 0 && m_flags.videoSizeInMB > 0;
    const double ahead
        = measurable ? m_flags.cacheFill * m_flags.cacheBufferSizeInMB / m_flags.videoSizeInMB : 0;
    return std::clamp(currentPlaybackPercent() + ahead, 0.0, 100.0);
}

QStringList NXOVPlayerControl::playerArguments(const QString& url, const QString& linkName) const
{
    QStringList arguments { QStringLiteral("-vf"), QStringLiteral("screenshot"),
        QStringLiteral("-identify"), QStringLiteral("-slave"), QStringLiteral("-vo"),
        QStringLiteral("corevideo:buffer_name=\"%1\"").arg(linkName) };
    if (m_flags.cacheBufferSizeInMB > 0) {
        // In KiB, worked out in single precision as the player's users expect.
        const float kibibytes = static_cast<float>(m_flags.cacheBufferSizeInMB) * 1024.0F;
        arguments << QStringLiteral("-cache")
                  << QString::number(static_cast<qint64>(std::ceil(kibibytes)));
    }
    // The volume is the player's own, applied to the samples, so that the
    // preview never moves the sound device's volume; 100 leaves them as they are.
    arguments << QStringLiteral("-softvol") << QStringLiteral("-softvol-max")
              << QStringLiteral("100") << QStringLiteral("-volume")
              << QString::fromLatin1(playerCommandNumber(m_flags.volumes, 2)) << url;
    return arguments;
}

void NXOVPlayerControl::playOnlineVideoWidthAddress(const QString& url)
{
    startPlaybackWithParams({ url });
}

void NXOVPlayerControl::startPlaybackWithParams(const QStringList& parameters)
{
    // A player still running is replaced without an end of its own: the
    // preview goes on with the new one.
    dropRunningPlayer();
    m_flags.isStarted = true;
    m_flags.isPaused = false;
    m_flags.isWaitingCache = true;
    if (!m_render)
        makeFrameLink();
    const QString url = parameters.value(0);
    if (!launch(playerArguments(url, m_render->connectionName())))
        return;
    if (m_delegate)
        m_delegate->playbackCacheUnavilabled(this);
}

void NXOVPlayerControl::dropRunningPlayer()
{
    if (!m_myYTTask)
        return;
    m_myYTTask->disconnect(this);
    m_myYTTask->kill();
    m_myYTTask->waitForFinished(kEndBound);
    PlayerProcesses::shared().remove(std::exchange(m_playerPid, 0));
    m_myYTTask->deleteLater();
    m_myYTTask = nullptr;
}

void NXOVPlayerControl::makeFrameLink()
{
    ++frameLinkCounter;
    m_render = new MPlayerVideoRenderer(
        QStringLiteral("%1<->%2").arg(kBufferName).arg(frameLinkCounter), this);
    m_render->listen();
    connect(m_render, &MPlayerVideoRenderer::mplayerDidStart, this,
        &NXOVPlayerControl::mplayerDidStart);
    connect(m_render, &MPlayerVideoRenderer::redrawRequested, this,
        &NXOVPlayerControl::redrawRequested);
}

// The player writes its snapshots into its working folder, which must exist
// for the player to start at all.
QString NXOVPlayerControl::workingFolder() const
{
    const QString folder = m_workingFolder.isEmpty() ? AppPaths::picturesFolder() : m_workingFolder;
    if (QDir().mkpath(folder) && QFileInfo(folder).isDir())
        return folder;
    DNLog(QStringLiteral("The preview's picture folder \"%1\" cannot be made; the player writes "
                         "to %2")
              .arg(folder, AppPaths::homeFolder()));
    return AppPaths::homeFolder();
}

bool NXOVPlayerControl::launch(const QStringList& arguments)
{
    const QString tool = PlayerProcesses::toolPath();
    if (!QFileInfo(tool).isExecutable()) {
        failStart(QStringLiteral("Can NOT find player binary! (%1)").arg(tool));
        return false;
    }
    auto* process = new QProcess(this);
    m_myYTTask = process;
    m_outputReader = {};
    m_cacheLine.clear();
    m_quitAsked = false;
    m_stall = {};
    m_stall.sinceMove.start();
    using std::chrono::milliseconds;
    m_stallTimer.start(std::clamp(engineStallLimit() / 8, milliseconds(10), milliseconds(1000)));
    process->setWorkingDirectory(workingFolder());
    process->setProcessEnvironment(PlayerProcesses::toolEnvironment());
    // The player's complaints are of no use to us and must never fill a pipe.
    process->setStandardErrorFile(QProcess::nullDevice());
    connect(process, &QProcess::readyReadStandardOutput, this, &NXOVPlayerControl::readOutput);
    connect(process, &QProcess::finished, this, &NXOVPlayerControl::playerFinished);
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            processEnded();
    });
    process->start(tool, arguments);
    // Registered before the event loop can reap it, so its pid is ours.
    m_playerPid = static_cast<pid_t>(process->processId());
    if (m_playerPid > 0)
        PlayerProcesses::shared().add(m_playerPid);
    return true;
}

// A start that cannot happen ends like a player that ended at once: the
// window resets its pane and stays usable.
void NXOVPlayerControl::failStart(const QString& reason)
{
    DNLog(reason);
    processEnded();
}

void NXOVPlayerControl::sendCommand(const QByteArray& command)
{
    if (m_myYTTask && m_myYTTask->state() != QProcess::NotRunning)
        m_myYTTask->write(command);
}

void NXOVPlayerControl::setPlayerVolume(double volume)
{
    sendCommand(playerVolumeCommand(volume));
    m_flags.volumes = volume;
}

void NXOVPlayerControl::seekToDuration(double seconds)
{
    sendCommand(playerSeekCommand(seconds));
}

void NXOVPlayerControl::seekToDurationInPercent(double percent)
{
    seekToDuration(percent * m_flags.duration / 100);
}

void NXOVPlayerControl::skipSeconds(double seconds)
{
    sendCommand(playerSkipCommand(seconds));
}

void NXOVPlayerControl::pauseOrContinue()
{
    if (!m_myYTTask)
        return;
    sendCommand("pause\n");
    m_flags.isPaused = !m_flags.isPaused;
    if (!m_delegate)
        return;
    if (m_flags.isPaused)
        m_delegate->playbackDidPaused(this);
    else
        m_delegate->playbackDidContinued(this);
}

void NXOVPlayerControl::stopPlay()
{
    m_quitAsked = true;
    sendCommand("quit\n");
}

// The player writes the picture into its own working folder.
void NXOVPlayerControl::saveSnapshotToDirectory(const QString&)
{
    sendCommand("screenshot 0\n");
}

void NXOVPlayerControl::forceRedraw()
{
    if (m_render)
        m_render->redraw();
}

void NXOVPlayerControl::readOutput()
{
    if (!m_myYTTask)
        return;
    for (const QString& line : m_outputReader.read(m_myYTTask->readAllStandardOutput()))
        readLine(line);
}

void NXOVPlayerControl::readLine(const QString& line)
{
    static const QRegularExpression statusLine(QStringLiteral("^A:.*V:.*A-V:"));
    static const QRegularExpression length(QStringLiteral("^ID_LENGTH=(.*)$"));
    if (statusLine.match(line).hasMatch()) {
        readStatusLine(line);
        return;
    }
    if (line.startsWith(QLatin1String("Cache fill:"))) {
        m_cacheLine = line;
        return;
    }
    const QRegularExpressionMatch lengthMatch = length.match(line);
    if (lengthMatch.hasMatch())
        m_flags.duration = lengthMatch.captured(1).trimmed().toDouble();
}

void NXOVPlayerControl::readStatusLine(const QString& line)
{
    const QRegularExpressionMatch match = mplayerStatusPattern().match(line);
    if (capturedParts(match) < 2)
        return;
    const int cacheFill = match.captured(match.lastCapturedIndex()).toInt();
    if (cacheFill < kCacheFillToPlay && !m_flags.isWaitingCache) {
        m_flags.isWaitingCache = true;
        if (m_delegate)
            m_delegate->playbackCacheUnavilabled(this);
    } else if (cacheFill >= kCacheFillToPlay && m_flags.isWaitingCache) {
        m_flags.isWaitingCache = false;
        if (m_delegate)
            m_delegate->playbackCacheAvilabled(this);
    }
    m_flags.currentPlaybackTime = match.captured(2).toDouble();
    m_flags.cacheFill = cacheFill;
}

// The picture fills the view's width or its height, centred in the other.
void NXOVPlayerControl::mplayerDidStart()
{
    const QSizeF bounds = m_viewSize;
    const QSizeF texture(m_render->imageSize());
    double widthRatio = bounds.width() > 0 ? texture.width() / bounds.width() : 0;
    double heightRatio = bounds.height() > 0 ? texture.height() / bounds.height() : 0;
    if (widthRatio == 0)
        widthRatio = 1.0;
    if (heightRatio == 0)
        heightRatio = 1.0;
    QRectF video;
    if (widthRatio > heightRatio) {
        const double height = texture.height() / widthRatio;
        video = QRectF(0, (bounds.height() - height) / 2, bounds.width(), height);
    } else {
        const double width = texture.width() / heightRatio;
        video = QRectF((bounds.width() - width) / 2, 0, width, bounds.height());
    }
    m_render->boundsDidChangeTo(video, QRectF(QPointF(), bounds));
    if (m_delegate)
        m_delegate->playbackDidStarted(this);
}

void NXOVPlayerControl::watchProgress()
{
    if (!m_myYTTask || m_flags.isPaused) {
        m_stall.sinceMove.restart();
        return;
    }
    QByteArray mark = QByteArray::number(m_flags.currentPlaybackTime) + ' '
        + QByteArray::number(m_flags.cacheFill) + ' ' + m_cacheLine.toUtf8();
    if (mark != m_stall.mark) {
        m_stall.mark = std::move(mark);
        m_stall.sinceMove.restart();
        return;
    }
    const std::chrono::milliseconds limit = engineStallLimit();
    if (m_stall.stalled || m_stall.sinceMove.elapsed() < limit.count())
        return;
    DNLog(QStringLiteral("The online preview's player %1: it is stopped.").arg(stallReason(limit)));
    m_stall.stalled = true;
    m_myYTTask->kill();
}

// A player we did not ask to quit that ends in failure (it crashed, or never
// showed the stream), or one stopped for making no progress, could not play it.
void NXOVPlayerControl::playerFinished(int exitCode, QProcess::ExitStatus status)
{
    const bool failed
        = m_stall.stalled || (!m_quitAsked && (status == QProcess::CrashExit || exitCode != 0));
    if (failed) {
        DNLog(QStringLiteral("The online preview's player ended with status %1: %2")
                  .arg(exitCode)
                  .arg(kCannotPlay));
        if (m_delegate)
            m_delegate->playbackDidFail(this, kCannotPlay);
    }
    processEnded();
}

void NXOVPlayerControl::processEnded()
{
    m_stallTimer.stop();
    if (m_myYTTask) {
        m_myYTTask->disconnect(this);
        m_myYTTask->deleteLater();
        m_myYTTask = nullptr;
    }
    PlayerProcesses::shared().remove(std::exchange(m_playerPid, 0));
    m_flags.isStarted = false;
    m_flags.isPaused = false;
    m_flags.isWaitingCache = false;
    if (m_render) {
        m_render->terminateConnection();
        m_render->disconnect(this);
        m_render->deleteLater();
        m_render = nullptr;
    }
    // The last picture is gone with its link.
    emit redrawRequested();
    if (m_delegate)
        m_delegate->playbackDidEnded(this);
}

#include "player/NXMPlayerControl.h"

#include "model/DNDVDNode.h"
#include "model/DNDVDTitle.h"
#include "model/DNMediaPredicates.h"
#include "model/NXMPlayerPlaybackProtocol.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/UserDefaults.h"
#include "player/KeyFrameSeek.h"
#include "player/MPlayerVideoRenderer.h"
#include "player/NXMPlayerSurface.h"
#include "player/PlayerProcesses.h"
#include "services/DNSetting.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace {

using namespace std::chrono_literals;

constexpr double kVolumeStep = 5;
constexpr double kLargestStepVolume = 100;
// Below this the main window has not given the duration yet.
constexpr double kUnknownDuration = 0.01;
constexpr auto kDurationNoticeDelay = 100ms;
// An aspect this close to the picture's own is the picture's own.
constexpr double kSameAspect = 0.01;
// Seconds of playback after which pictures that have not been announced
// will not be.
constexpr double kPicturesOverdue = 1;

} // namespace

NXMPlayerControl::NXMPlayerControl(UserDefaults& defaults, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_render(new MPlayerVideoRenderer(kBufferName, this))
{
    if (m_defaults.contains(kVolumesKey)) {
        m_flag.volumes = m_defaults.value(kVolumesKey).toFloat();
    } else {
        m_flag.volumes = 100;
        m_defaults.setValue(kVolumesKey, 100.0F);
    }
    connect(m_render, &MPlayerVideoRenderer::mplayerWillStart, this,
        &NXMPlayerControl::mplayerWillStart);
}

NXMPlayerControl::~NXMPlayerControl()
{
    // A player still running must not call back into a control that is
    // gone; the task kills and reaps it.
    delete m_myTask;
    NotificationCenter::defaultCenter().removeObserver(m_updateObserver);
}

int NXMPlayerControl::status() const
{
    if (!m_flag.isBegun)
        return 0;
    return m_flag.isPaused ? 2 : 1;
}

void NXMPlayerControl::startPlaybackWithNode(const NXBasicMediaNode::Ptr& node)
{
    m_flag.videoAspect = QSizeF(-1, -1);
    m_quarterTurned = DNHasQuarterTurnedVideoTrack(node.get());
    m_firstPictureTime = DNFirstPictureTime(node.get());
    m_seeksByDecodingTime = DNIsMpegSystemStream(node.get());
    NXBasicMediaNode::Ptr playable = node;
    if (isMemberOf<DNDVDTitle>(playable))
        playable = playable->parent();
    if (const auto* dvd = dynamic_cast<const DNDVDNode*>(playable.get())) {
        const QSizeF aspect = dvd->aspectOfSelectedVideoTrack();
        if (aspect.width() > 0 && aspect.height() > 0)
            m_flag.videoAspect = aspect;
    }
    const auto* protocol = dynamic_cast<const NXMPlayerPlaybackProtocol*>(playable.get());
    if (!protocol)
        return;
    if (m_myTask) {
        // The last player is still ending (its pictures end before its
        // process does): the node waits for it rather than being dropped.
        appendPlaybackItem(node);
        m_myTask->terminate();
        return;
    }
    if (m_currentPBNode)
        m_currentPBNode->setIsPlaying(false);
    m_currentPBNode = playable;
    m_currentPBNode->setIsPlaying(true);
    startPlaybackWithParams(
        protocol->NXMPlayerPlaybackParameters() + playerSubtitleArguments(playable.get()));
}

void NXMPlayerControl::appendPlaybackItem(const NXBasicMediaNode::Ptr& node)
{
    const std::lock_guard lock(m_queueMutex);
    m_playbackQueue.push_back(node);
}

void NXMPlayerControl::sendToMplayersInput(const QByteArray& command)
{
    if (m_myTask)
        m_myTask->write(command);
}

void NXMPlayerControl::startPlaybackWithParams(const QStringList& parameters)
{
    if (m_myTask) {
        // One player at a time: this one ends, and a queued node starts
        // when its end arrives.
        m_myTask->terminate();
        return;
    }
    m_flag.isBegun = true;
    m_flag.isStarted = false;
    m_flag.isPaused = false;
    m_playerAspect = 0;
    m_expectsPictures = false;
    m_didStartPending = false;
    m_playedMedia = parameters.value(0);
    m_render->listen();
    m_render->setPixFormat(DNHas2vuyVideoTrack(m_currentPBNode.get())
            ? MPlayerOSXVOProto::kFormat2vuy
            : MPlayerOSXVOProto::kFormatYuvs);
    launch(parameters + fixedArguments());
}

QStringList NXMPlayerControl::fixedArguments() const
{
    QStringList arguments { QStringLiteral("-osdlevel"), QStringLiteral("0"), QStringLiteral("-ao"),
        QStringLiteral("coreaudio"), QStringLiteral("-vf"), QStringLiteral("screenshot"),
        QStringLiteral("-vo"),
        QStringLiteral("corevideo:shared_buffer:buffer_name=\"%1\"").arg(kBufferName),
        QStringLiteral("-volume"), QString::fromLatin1(playerCommandNumber(m_flag.volumes, 2)) };
    // The tool pads a picture of odd sides for the frame link, at the cost of
    // a copy of every picture: a media known to be even-sided is spared it.
    if (DNHasEvenSidedVideoTracks(m_currentPBNode.get()))
        arguments << QStringLiteral("-evensides");
    return arguments;
}

// The player writes its snapshots into its working folder. A folder that is
// missing is made; where none can be made (a file in its place) the home
// folder serves, since a player that cannot start plays nothing at all.
QString NXMPlayerControl::snapshotFolder() const
{
    const QString folder = DNSetting::shareSetting().appSetting().snapshotDirectory();
    if (!folder.isEmpty() && QDir().mkpath(folder) && QFileInfo(folder).isDir())
        return folder;
    DNLog(QStringLiteral("The snapshot folder \"%1\" cannot be made; the player writes to %2")
              .arg(folder, AppPaths::homeFolder()));
    return AppPaths::homeFolder();
}

void NXMPlayerControl::launch(const QStringList& arguments)
{
    auto* task = new PlayerTask(this);
    m_myTask = task;
    connect(task, &PlayerTask::lineRead, this, &NXMPlayerControl::readLine);
    connect(task, &PlayerTask::finished, this, &NXMPlayerControl::processFinished);
    connect(task, &PlayerTask::failedToStart, this, &NXMPlayerControl::processFailedToStart);
    observeUpdateRequests();
    task->start(arguments, snapshotFolder());
}

void NXMPlayerControl::observeUpdateRequests()
{
    m_updateObserver = NotificationCenter::defaultCenter().addObserver(
        kUpdateWithNewCommands, nullptr, this, [this](const Notification&) {
            // No node has commands to give yet; the answer is asked and left.
            if (const auto* node
                = dynamic_cast<const NXMPlayerPlaybackProtocol*>(m_currentPBNode.get()))
                node->NXMPlayerPlaybackRequestNewUpdateCommands();
        });
}

void NXMPlayerControl::processFailedToStart()
{
    DNLog(QStringLiteral("The player %1 could not be started: %2")
              .arg(PlayerProcesses::toolPath(), m_myTask ? m_myTask->errorString() : QString()));
    emit playbackFailed(QStringLiteral("The player cannot be started; it is missing or broken."));
    mplayerTerminated();
}

void NXMPlayerControl::processFinished(int exitCode, QProcess::ExitStatus status)
{
    if (status == QProcess::NormalExit && exitCode == PlayerTask::kUnplayable)
        emit playbackFailed(QStringLiteral("This file cannot be played."));
    else if (status == QProcess::NormalExit && exitCode == PlayerTask::kWithoutPlayer)
        emit playbackFailed(QStringLiteral("The player cannot be started: mplayer is missing."));
    mplayerTerminated();
}

void NXMPlayerControl::mplayerTerminated()
{
    if (m_myTask) {
        m_myTask->disconnect(this);
        m_myTask->deleteLater();
        m_myTask = nullptr;
    }
    mplayerDidEnded();
    NotificationCenter::defaultCenter().removeObserver(m_updateObserver);
    m_updateObserver = 0;
    checkPlaybackQueueStatus();
}

// Playback ends with the player, once. The link's ends are not playback's: it
// ends a stream also when the picture size changes and a new one follows, and
// its last end may come after the player's.
void NXMPlayerControl::mplayerDidEnded()
{
    if (m_flag.isFullScreen)
        exitFullScreenMode();
    stopedAndClean();
    NotificationCenter::defaultCenter().postWhenIdle(kPlaybackDidEnd, this);
    if (m_currentPBNode) {
        m_currentPBNode->setIsPlaying(false);
        m_currentPBNode.reset();
    }
}

void NXMPlayerControl::stopedAndClean()
{
    m_flag.duration = 0;
    m_flag.currentPlaybackTime = 0;
    m_flag.isPaused = false;
    m_flag.isStarted = false;
    m_flag.isBegun = false;
}

void NXMPlayerControl::checkPlaybackQueueStatus()
{
    NXBasicMediaNode::Ptr next;
    {
        const std::lock_guard lock(m_queueMutex);
        if (m_playbackQueue.empty())
            return;
        next = m_playbackQueue.front();
        m_playbackQueue.pop_front();
    }
    startPlaybackWithNode(next);
}

void NXMPlayerControl::readLine(const QString& line)
{
    if (line.startsWith('A') || line.startsWith('V')) {
        readStatusLine(line);
    } else if (line.startsWith(QLatin1String("ID_PAUSED"))) {
        m_flag.isPaused = true;
        post(kPlaybackStatusChanged);
    } else if (line.startsWith(QLatin1String("ID_LENGTH"))) {
        readLength(line);
    } else if (line.startsWith(QLatin1String("ID_VIDEO_ASPECT"))) {
        readVideoAspect(line);
    } else if (line.startsWith(QLatin1String("ID_VIDEO_WIDTH"))) {
        m_expectsPictures = true;
    } else if (line.startsWith(QLatin1String("Starting playback..."))) {
        m_flag.isStarted = true;
        m_didStartPending = true;
        if (!m_expectsPictures || m_render->isRendering())
            postDidStart();
    }
}

// The player's words and its pictures come by two ways and either may be
// first; the start is told once the pictures are announced, so that a window
// hears of the size before the start. A stream the link refused never is, so
// a second into playback the start is told without it.
void NXMPlayerControl::postDidStart()
{
    if (!std::exchange(m_didStartPending, false))
        return;
    post(kPlaybackDidStart);
}

// The player names the media's own clock, which in a transport stream starts
// anywhere; the preview counts from the first picture.
void NXMPlayerControl::readStatusLine(const QString& line)
{
    m_flag.currentPlaybackTime = playerStatusPosition(line) - m_firstPictureTime;
    if (m_flag.currentPlaybackTime >= kPicturesOverdue)
        postDidStart();
    if (m_flag.isPaused) {
        m_flag.isPaused = false;
        post(kPlaybackStatusChanged);
    }
}

void NXMPlayerControl::readLength(const QString& line)
{
    static const QRegularExpression length(QStringLiteral("^ID_LENGTH=(.*)$"));
    if (m_flag.duration < kUnknownDuration)
        m_flag.duration = length.match(line).captured(1).toDouble();
    QTimer::singleShot(kDurationNoticeDelay, this, [this] { post(kPlaybackDurationAvailable); });
}

// mplayer prints the display aspect again, non-zero, once it knows it; the
// last such line wins over what the frame link announced. It is the stored
// picture's, which a quarter turn of the file's own makes the other way round.
void NXMPlayerControl::readVideoAspect(const QString& line)
{
    const double aspect = playerIdentificationValue(line);
    if (aspect <= 0)
        return;
    m_playerAspect = m_quarterTurned ? 1.0 / aspect : aspect;
    if (m_render->isRendering())
        updateDisplaySize();
}

void NXMPlayerControl::mplayerWillStart(MPlayerVideoRenderer*)
{
    updateDisplaySize();
    post(kPlaybackWillStart);
    postDidStart();
}

// The display size: the node's aspect (a DVD's track) when it gives one, else
// the player's, else the picture's own pixel size.
void NXMPlayerControl::updateDisplaySize()
{
    const QSize picture = m_render->imageSize();
    const double pixelAspect
        = picture.height() > 0 ? double(picture.width()) / picture.height() : 0;
    double aspect = m_playerAspect > 0 ? m_playerAspect : m_render->imageAspect();
    if (m_flag.videoAspect.width() > 0 && m_flag.videoAspect.height() > 0)
        aspect = m_flag.videoAspect.width() / m_flag.videoAspect.height();
    m_flag.videoHeight = picture.height();
    m_flag.videoWidth = aspect > 0 && std::abs(aspect - pixelAspect) > kSameAspect
        ? std::round(picture.height() * aspect)
        : picture.width();
    adjustResolution(0);
}

void NXMPlayerControl::pauseOrContinue()
{
    sendToMplayersInput("pause\n");
}

void NXMPlayerControl::stopPlay()
{
    m_flag.isStarted = false;
    m_flag.isBegun = false;
    sendToMplayersInput("quit\n");
}

// A transport stream's seek by time lands on any picture, whose key frame
// lies behind it: it is sent to the key frame before the time instead.
void NXMPlayerControl::seekToDuration(double seconds)
{
    if (m_seeksByDecodingTime && m_myTask)
        seconds = keyFrameSeekTime(m_playedMedia, seconds);
    sendToMplayersInput(playerSeekCommand(seconds));
}

void NXMPlayerControl::skipSeconds(double seconds)
{
    sendToMplayersInput(playerSkipCommand(seconds));
}

void NXMPlayerControl::getSnapshotAtCurrentTime()
{
    // Any command resumes a paused mplayer: the pause after it keeps it paused.
    sendToMplayersInput(status() == 2 ? "screenshot 0\n pause\n" : "screenshot 0\n");
}

void NXMPlayerControl::setMute(bool mute)
{
    m_flag.isMute = mute;
    detectVolumesAndSet();
}

void NXMPlayerControl::louderSpeaker()
{
    m_flag.volumes = std::min(m_flag.volumes + kVolumeStep, kLargestStepVolume);
    detectVolumesAndSet();
}

void NXMPlayerControl::lowerSpeaker()
{
    m_flag.volumes = std::max(m_flag.volumes - kVolumeStep, 0.0);
    detectVolumesAndSet();
}

void NXMPlayerControl::setVideoVolume(double volume)
{
    m_flag.volumes = std::max(volume, 0.0);
    detectVolumesAndSet();
}

void NXMPlayerControl::detectVolumesAndSet()
{
    sendToMplayersInput("set_property mute " + QByteArray::number(m_flag.isMute ? 1 : 0) + "\n");
    if (!m_flag.isMute)
        sendToMplayersInput(playerVolumeCommand(m_flag.volumes));
    post(kDidVolumeChanged);
}

QString NXMPlayerControl::snapshotSavePath() const
{
    return m_myTask ? m_myTask->workingDirectory() : QString();
}

void NXMPlayerControl::post(const QString& name)
{
    NotificationCenter::defaultCenter().post(name, this);
}

#pragma once

#include "model/NXBasicMediaNode.h"
#include "platform/NotificationCenter.h"
#include "player/NXMPlayerViewDelegate.h"
#include "player/PlayerTask.h"

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSizeF>

#include <deque>
#include <memory>
#include <mutex>

class MPlayerVideoRenderer;
class NXMPlayerSurface;
class UserDefaults;

// The state of the main preview's playback.
struct NXMFlag_ {
    bool isPaused = false; // the player reported a pause
    bool isStarted = false; // the player printed "Starting playback..."
    bool isBegun = false; // a player was started and has not stopped or ended
    bool isFullScreen = false;
    bool isMute = false;
    double volumes = 100; // percent, 0 and up
    double duration = 0; // seconds
    double currentPlaybackTime = 0; // seconds
    QRectF videoFrame; // the picture's rectangle in full screen
    QRectF playPortFrame; // the painted area in full screen
    double videoWidth = -1; // the picture's display size, its aspect applied
    double videoHeight = -1;
    QSizeF videoAspect { -1, -1 }; // the node's display aspect; (-1, -1) for none
    QRectF previousPlaybackRect; // the last place given by adjust()
};

// Plays a node of the conversion list in the main window's preview: starts
// the player tool, drives it with commands on its standard input, reads its
// output, keeps a queue of nodes waiting to play and posts what happens as
// notifications. Main thread only. The views are the interface layer's; the
// control moves them through NXMPlayerSurface and answers their requests as
// their NXMPlayerViewDelegate.
class NXMPlayerControl : public QObject, public NXMPlayerViewDelegate {
    Q_OBJECT
public:
    static inline const QString kPlaybackWillStart
        = QStringLiteral("NXMPlayerControlPlaybackWillStart ~_~");
    static inline const QString kPlaybackDidStart
        = QStringLiteral("NXMPlayerControlPlaybackDidStart ~_~");
    static inline const QString kPlaybackDidEnd
        = QStringLiteral("NXMPlayerControlPlaybackDidEnd ^_^");
    static inline const QString kPlaybackStatusChanged
        = QStringLiteral("NXMPlayerControlPlaybackStatusChanged #_#");
    static inline const QString kPlaybackDurationAvailable
        = QStringLiteral("NXMPlayerControlPlaybackDurationAvailable >_<");
    static inline const QString kDidVolumeChanged
        = QStringLiteral("NXMPlayerControlDidVolumeChanged @_@");
    static inline const QString kWillExitFullScreenMode
        = QStringLiteral("NXMPlayerControlWillExitFullScreenMode =_=");
    static inline const QString kUpdateWithNewCommands
        = QStringLiteral("NXMPlayerPleaseUpdatePlaybackStatusWithNewCommands_");
    static inline const QString kVolumesKey = QStringLiteral("mplayer_volumes");
    static inline const QString kBufferName = QStringLiteral("NXMPlayerBufferName");

    explicit NXMPlayerControl(UserDefaults& defaults, QObject* parent = nullptr);
    ~NXMPlayerControl() override;

    // The views to move about; none (the default) plays without them.
    void setSurface(NXMPlayerSurface* surface) { m_surface = surface; }
    MPlayerVideoRenderer* render() const { return m_render; }

    double videoDuration() const { return m_flag.duration; }
    void setVideoDuration(double seconds) { m_flag.duration = seconds; }
    double currentPlaybackTime() const { return m_flag.currentPlaybackTime; }
    double currentMPlayerVolume() const { return m_flag.volumes; }
    bool isMute() const { return m_flag.isMute; }
    // 0 idle, 1 playing, 2 paused.
    int status() const;
    bool isPlayerBegin() const { return m_flag.isBegun; }
    bool isPlayerStartedPlaying() const { return m_flag.isStarted; }
    bool isPlayerPuased() const { return m_flag.isPaused; }
    // 1 in full screen, else 0.
    int playbackMode() const { return m_flag.isFullScreen ? 1 : 0; }
    const NXMFlag_& flag() const { return m_flag; }
    NXBasicMediaNode::Ptr currentNode() const { return m_currentPBNode; }

    void startPlaybackWithNode(const NXBasicMediaNode::Ptr& node);
    void appendPlaybackItem(const NXBasicMediaNode::Ptr& node);
    void setVideoAspect(const QSizeF& aspect) { m_flag.videoAspect = aspect; }
    void setPlaybackFilePath(const QString& path) { m_curSelectedFile = path; }
    QString curSelectedFile() const { return m_curSelectedFile; }
    void setCurSelectedFile(const QString& path) { m_curSelectedFile = path; }

    void sendToMplayersInput(const QByteArray& command);
    void startPlaybackWithParams(const QStringList& parameters);

    void pauseOrContinue();
    void stopPlay();
    void setMute(bool mute);
    void louderSpeaker();
    void lowerSpeaker();
    void setVideoVolume(double volume);
    void seekToDuration(double seconds);
    void skipSeconds(double seconds);
    void getSnapshotAtCurrentTime();
    // The running player's working folder, where its snapshots go; empty when
    // no player runs.
    QString snapshotSavePath() const;

    // Geometry and full screen.
    // The picture's rectangle, centred at its aspect in `bounds`.
    static QRectF fittedPictureRect(const QSizeF& picture, const QSizeF& bounds);
    void adjust(const QRectF& frame);
    void setResolution(const QRectF& frame) { m_flag.videoFrame = frame; }
    void setResolutionWidth(double width, double height);
    // 0 fits the picture in the playback view; else the full-screen layout.
    void adjustResolution(int mode);
    void playbackVideoInFullScreenMode();
    void exitFullScreenMode();

    double fullScreenModeRequestVideoDuration() const override { return videoDuration(); }
    double fullScreenModeRequestVideoVolume() const override { return currentMPlayerVolume(); }
    double fullScreenModeRequestVideoCurrentPlaybackTime() const override
    {
        return currentPlaybackTime();
    }
    void fullScreenModeRequestPauseOrContinue(QObject*) override { pauseOrContinue(); }
    void fullScreenModeRequestSeek(QObject*, double seconds) override { seekToDuration(seconds); }
    void fullScreenModeRequestLouderVolume(QObject*) override { louderSpeaker(); }
    void fullScreenModeRequestLowerVolume(QObject*) override { lowerSpeaker(); }
    void fullScreenModeRequestSetVolume(QObject*, double volume) override
    {
        setVideoVolume(volume);
    }
    void fullScreenModeRequestExite(QObject*) override { exitFullScreenMode(); }
    void fullScreenModeWillShowControlBar() override;
    void fullScreenModeDidHiddenControlBar() override;

signals:
    // The player could not be started or could not play its media; the
    // message is for the person watching.
    void playbackFailed(const QString& message);

private:
    QString snapshotFolder() const;
    QStringList fixedArguments() const;
    void launch(const QStringList& arguments);
    void observeUpdateRequests();
    void processFailedToStart();
    void processFinished(int exitCode, QProcess::ExitStatus status);
    void mplayerTerminated();
    void mplayerWillStart(MPlayerVideoRenderer* renderer);
    void mplayerDidEnded();
    void stopedAndClean();
    void checkPlaybackQueueStatus();
    void readLine(const QString& line);
    void postDidStart();
    void readStatusLine(const QString& line);
    void readLength(const QString& line);
    void readVideoAspect(const QString& line);
    void updateDisplaySize();
    void detectVolumesAndSet();
    void post(const QString& name);

    UserDefaults& m_defaults;
    NXMPlayerSurface* m_surface = nullptr;
    MPlayerVideoRenderer* m_render = nullptr;
    QPointer<PlayerTask> m_myTask;
    QString m_curSelectedFile;
    std::mutex m_queueMutex; // guards m_playbackQueue
    std::deque<NXBasicMediaNode::Ptr> m_playbackQueue;
    NXBasicMediaNode::Ptr m_currentPBNode;
    NXMFlag_ m_flag;
    // The display aspect the player printed (ID_VIDEO_ASPECT), 0 for none.
    double m_playerAspect = 0;
    bool m_quarterTurned = false; // the node's picture is stored turned by 90 or 270 degrees
    // Where the node's own clock, which the player names, stands at its first picture.
    double m_firstPictureTime = 0;
    // The player seeks the node by decoding time (a transport or program stream).
    bool m_seeksByDecodingTime = false;
    QString m_playedMedia; // the media the player was started with
    // The player announced a video track, whose pictures are yet to come.
    bool m_expectsPictures = false;
    bool m_didStartPending = false;
    NotificationCenter::Token m_updateObserver = 0;
};

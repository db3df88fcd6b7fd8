#pragma once

#include "player/NXMPlayerOutputReader.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QSizeF>
#include <QStringList>
#include <QTimer>

#include <sys/types.h>

class MPlayerVideoRenderer;
class NXOVPlayerControl;

// The online preview's playback state.
struct NXOVFlags {
    bool isStarted = false;
    bool isPaused = false;
    bool isWaitingCache = false; // the player's cache is too empty to play on
    double currentPlaybackTime = 0; // seconds
    double duration = 0; // seconds; 0 until the player tells it
    int cacheFill = 0; // percent of the player's cache ahead of the position
    double volumes = 0; // the player's own volume, never the sound device's
    double cacheBufferSizeInMB = -1.0; // -1.0: play without a cache
    double videoSizeInMB = 0; // 0 when unknown
};

// What the online preview tells its owner (the downloader window). Every
// operation does nothing unless overridden.
class NXOVPlayerControlDelegate {
public:
    virtual ~NXOVPlayerControlDelegate() = default;
    virtual void playbackDidStarted(NXOVPlayerControl*) { }
    virtual void playbackDidEnded(NXOVPlayerControl*) { }
    virtual void playbackDidPaused(NXOVPlayerControl*) { }
    virtual void playbackDidContinued(NXOVPlayerControl*) { }
    virtual void playbackCacheUnavilabled(NXOVPlayerControl*) { }
    virtual void playbackCacheAvilabled(NXOVPlayerControl*) { }
    // The player died, or made no progress for the stall limit, and was
    // stopped: `reason` is for the user. playbackDidEnded follows.
    virtual void playbackDidFail(NXOVPlayerControl*, const QString&) { }
};

// Plays an online video straight from its stream URL in the downloader's
// preview: the player tool reads the URL through a network cache sized for
// the video, its pictures come over a frame link of their own (a new one,
// with the next number, after every stop) and its status lines tell the
// position, the duration and whether the cache holds enough to play on.
// Main thread only. The view that paints render()'s picture belongs to the
// interface layer; it tells the control its size for the first picture's fit.
class NXOVPlayerControl : public QObject {
    Q_OBJECT
public:
    static inline const QString kBufferName = QStringLiteral("ONLINE_VIDEO_BUFFER_NAME");
    static inline const QString kCannotPlay = QStringLiteral("The stream could not be played.");

    explicit NXOVPlayerControl(QObject* parent = nullptr);
    ~NXOVPlayerControl() override;

    void setDelegate(NXOVPlayerControlDelegate* delegate) { m_delegate = delegate; }
    NXOVPlayerControlDelegate* delegate() const { return m_delegate; }
    // The size of the view the pictures are painted in.
    void setViewSize(const QSizeF& size) { m_viewSize = size; }
    // The frame link of the running player, or null.
    MPlayerVideoRenderer* render() const { return m_render; }
    const NXOVFlags& flags() const { return m_flags; }

    // The tool's command line for `url`, with the frame link `linkName`.
    QStringList playerArguments(const QString& url, const QString& linkName) const;
    void playOnlineVideoWidthAddress(const QString& url);
    void setCacheBufferSizeInMB(double size) { m_flags.cacheBufferSizeInMB = size; }
    void setVideoSizeInMB(double size) { m_flags.videoSizeInMB = size; }
    // The working folder of the next player started (its snapshots go there).
    void setCurrentDirectoryPath(const QString& folder) { m_workingFolder = folder; }

    // 0 stopped, 1 playing, 2 waiting for the cache, 3 paused.
    int status() const;
    double duration() const { return m_flags.duration; }
    double currentPlaybackTime() const { return m_flags.currentPlaybackTime; }
    double currentLeftTime() const { return m_flags.duration - m_flags.currentPlaybackTime; }
    double currentPlaybackPercent() const;
    // How far the video is buffered, in percent of its size: the position
    // and what the cache holds ahead of it, for the position slider.
    double currentLoadingPercent() const;

    void setPlayerVolume(double volume);
    void seekToDuration(double seconds);
    void seekToDurationInPercent(double percent);
    void skipSeconds(double seconds);
    void pauseOrContinue();
    void stopPlay();
    void saveSnapshotToDirectory(const QString& folder);
    void forceRedraw();

signals:
    // The picture or its place changed: paint again.
    void redrawRequested();

private:
    void startPlaybackWithParams(const QStringList& parameters);
    void dropRunningPlayer();
    void makeFrameLink();
    QString workingFolder() const;
    bool launch(const QStringList& arguments);
    void failStart(const QString& reason);
    void sendCommand(const QByteArray& command);
    void readOutput();
    void readLine(const QString& line);
    void readStatusLine(const QString& line);
    void mplayerDidStart();
    void playerFinished(int exitCode, QProcess::ExitStatus status);
    void processEnded();
    void watchProgress();

    // A player that neither moves on nor fills its cache for the engines'
    // stall limit (mplayer waiting for ever on a cache process that died)
    // is stopped. Paused, it is left alone.
    struct StallWatch {
        QByteArray mark;
        QElapsedTimer sinceMove;
        bool stalled = false;
    };

    NXOVPlayerControlDelegate* m_delegate = nullptr;
    MPlayerVideoRenderer* m_render = nullptr;
    QPointer<QProcess> m_myYTTask;
    pid_t m_playerPid = 0;
    NXMPlayerOutputReader m_outputReader;
    NXOVFlags m_flags;
    QSizeF m_viewSize;
    QString m_workingFolder;
    QString m_cacheLine; // the player's last "Cache fill:" line
    bool m_quitAsked = false;
    StallWatch m_stall;
    QTimer m_stallTimer;
};

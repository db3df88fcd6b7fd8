#pragma once

#include "model/NXBasicMediaNode.h"
#include "player/NXViewMPlayerRender.h"
#include "player/PlayerTask.h"
#include "player/PreviewSubtitle.h"

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QSizeF>
#include <QTransform>

#include <memory>
#include <thread>

class NXEditMovieView;
class QWidget;

// The state of the editor preview's playback.
struct NXEditFlags {
    bool isStarted = false; // a player was started; set again by "Starting playback..."
    bool isPaused = false; // the player reported a pause
    bool isWaitingCache = false; // from every start until the player ends
    bool trimEnabled = false; // the player loops between the limits
    double currentPlaybackTime = 0; // seconds
    double duration = 0; // seconds
    double volumes = 0; // the last volume sent
    int videoHeight = 0; // the pictures as shown
    int originalHeight = 0; // as the player reported the media
    int videoWidth = 0;
    int originalWidth = 0;
    bool needApplyTransform = false; // arriving pictures are brought to the shown size
    QTransform transform; // from the arriving size to the shown size
    double leftLimitedTime = 0; // seconds: where playback starts
    double rightLimitedTime = 3'600'000; // seconds: where playback loops with the trim on
    QSizeF scaleSize; // what the player scales its pictures to
    double scaleSizeFactor = 0; // the source size over the preview size
    double lastSeek2Duration = 0;
};

// The editor's preview player: plays a node over and over from the trim's
// left limit, scaled for the preview, at half volume, and gives each picture
// to both preview views, the unfiltered one and the one with the edit's
// effects. The control makes the two views, as children of the widget they
// are shown in. Main thread only; what the editor must hear comes as signals.
class NXViewRenderControl : public QObject, public NXViewMPlayerRenderDelegate {
    Q_OBJECT
public:
    static inline const QString kBufferName = QStringLiteral("EDIT_VIDEO_BUFFER_NAME_1");

    explicit NXViewRenderControl(QWidget* viewsParent, QObject* parent = nullptr);
    ~NXViewRenderControl() override;

    NXEditMovieView* originalView() const { return m_originalView; }
    NXEditMovieView* effectView() const { return m_effectView; }
    NXViewMPlayerRender* videoEditRender() const { return m_videoEditRender; }
    const NXEditFlags& flags() const { return m_flags; }

    // Makes the frame receiver when there is none, under the next buffer
    // name, and sets its byte order for the node. Call before every start.
    void auto_detect_video_format_with_node(const NXBasicMediaNode* node);
    void playVideoWidthParams(const QStringList& arguments) { startPlaybackWithParams(arguments); }
    // Starts the player with the node's arguments; a player already running
    // is ended without its end being reported.
    void startPlaybackWithParams(const QStringList& arguments);

    // The subtitle file both views draw over their pictures, in the
    // language it is said to be in, at the editor's `position` (the node's
    // subtitle position): none for an empty `path`. The views draw it
    // themselves, upright over the picture as edited, as the output shows
    // it; it shows at once, while the player plays on. The file is read on
    // a thread of its own: a large one takes a second.
    void setSubtitle(const QString& path, const QString& language, quint32 position);

    void setScaleVideoSize(const QSizeF& size) { m_flags.scaleSize = size; }
    void setScaleVideoSizeFactor(double factor) { m_flags.scaleSizeFactor = factor; }
    void setLimitedLeftTime(double seconds) { m_flags.leftLimitedTime = seconds; }
    void setLimitedRightTime(double seconds) { m_flags.rightLimitedTime = seconds; }
    void setLimitedLeftTime(double left, double right);
    // Fractions of the duration, 0 to 1.
    void setPercentageLimitedLeftTime(double left, double right);
    // Whether the trim is on: the player then loops the range between the limits.
    void setTrimEnabled(bool on) { m_flags.trimEnabled = on; }
    // True while a player runs over a range other than the one the limits
    // now give: the range is on its command line, so only a new player plays it.
    bool playsAnotherRange() const;
    void setDuration(double seconds) { m_flags.duration = seconds; }
    double duration() const { return m_flags.duration; }
    double currentPlaybackTime() const { return m_flags.currentPlaybackTime; }
    double currentLeftTime() const { return m_flags.duration - m_flags.currentPlaybackTime; }
    double currentPlaybackPercent() const;
    // A fraction, 0 to 1.
    double convertTimeToPercent(double seconds) const;
    double convertPercentToTime(double fraction) const { return fraction * m_flags.duration; }
    int videoWidth() const { return m_flags.videoWidth; }
    int videoHeight() const { return m_flags.videoHeight; }
    int originalVideoWidth() const { return m_flags.originalWidth; }
    int originalVideoHeight() const { return m_flags.originalHeight; }
    bool isPaused() const { return m_flags.isPaused; }
    // 2 from a start until the player ends (its cache is never known to be
    // filled), else 0; isPaused() tells a pause.
    int status() const;
    double playerVolume() const { return m_flags.volumes; }
    QString currentBufferName() const;

    void pauseOrContinue();
    void stopPlay();
    void seekToDuration(double seconds);
    void seekToDurationInPercent(double percent);
    void skipSeconds(double seconds);
    void skipDefaultSeconds() { skipSeconds(kDefaultSkip); }
    void setPlayerVolume(double volume);
    // The snapshot lands in the running player's working folder, whatever
    // `folder` says: a running process's folder cannot change.
    void saveSnapshotToDirectory(const QString& folder);

    // The receiver's delegate.
    void videoWillStart(NXViewMPlayerRender* render) override;
    void videoWillStop(NXViewMPlayerRender* render) override;
    void videoNeedDisplay(const QImage& image) override;

    // The shown size and transform for pictures of `picture` size, from the
    // media's size and the scale factor in `flags`.
    static void fitPictures(NXEditFlags& flags, const QSize& picture);
    // A picture as the views show it: brought to the shown size, where the
    // player's rounding of an odd size up to an even one is cut off rather
    // than squeezed in.
    static QImage shownPicture(const QImage& picture, const NXEditFlags& flags);

signals:
    void videoWillStartAction(NXViewRenderControl* control);
    void videoStarted();
    void videoPaused();
    void videoContinus();
    void videoStopped();

private:
    static constexpr double kDefaultSkip = 5;

    QStringList fixedArguments(const QString& media) const;
    QStringList rangeArguments() const;
    QStringList playerRangeArguments(const QString& media) const;
    static QString workingFolder();
    void readLine(const QString& line);
    void readStatusLine(const QString& line);
    void readStoredSide(const QString& line);
    void mplayerTerminated();
    void endRender();
    void fitPictures();
    void setMovieStop(bool stopped);
    void send(const QByteArray& command);
    void readSubtitle();
    void subtitleRead(const QString& path, const QString& language,
        const std::shared_ptr<const PreviewSubtitle>& subtitle, const QString& failure);
    void showSubtitle();
    // The command, then a pause when the player is paused, so that it stays paused.
    void sendKeepingPause(const QByteArray& command);

    QPointer<NXEditMovieView> m_originalView;
    QPointer<NXEditMovieView> m_effectView;
    NXViewMPlayerRender* m_videoEditRender = nullptr;
    QPointer<PlayerTask> m_myEditMplayerTask;
    NXEditFlags m_flags;
    bool m_quarterTurned = false; // the node's picture is stored turned by 90 or 270 degrees
    // Where the node's own clock, which the player names, stands at its first picture.
    double m_firstPictureTime = 0;
    // The player seeks the node by decoding time (a transport or program stream).
    bool m_seeksByDecodingTime = false;
    QStringList m_playedRange; // the range arguments of the running player
    QString m_playedMedia; // the media of the running player
    QString m_subtitlePath; // the subtitle asked for, in m_subtitleLanguage
    QString m_subtitleLanguage;
    quint32 m_subtitlePosition = 0;
    std::shared_ptr<const PreviewSubtitle> m_subtitle; // its cues, once read
    std::thread m_subtitleReader; // at most one, joined when it has reported
};

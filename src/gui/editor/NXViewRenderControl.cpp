#include "editor/NXViewRenderControl.h"

#include "editor/NXEditMovieView.h"
#include "model/DNBaseEditSetting.h"
#include "model/DNMediaPredicates.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "player/KeyFrameSeek.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {

// The receivers of the whole run are numbered, so that every player gets a
// link of its own; main thread only.
int g_receiverCount = 0;
constexpr double kHalfVolume = 50;
// Below this the editor has not given the duration yet.
constexpr double kUnknownDuration = 1.0;
// A quotient that is a whole number in decimal may come out a hair below it
// in binary (640 / (640 / 201.0)); truncation must not cost it a pixel.
constexpr double kRoundingSlack = 1e-6;

// Seconds to the millisecond without trailing zeros ("10", "10.6"), whatever the locale.
QString playerTimeText(double seconds)
{
    QString text = QString::fromLatin1(playerCommandNumber(seconds, 3));
    while (text.contains(QLatin1Char('.')) && (text.endsWith('0') || text.endsWith('.')))
        text.chop(1);
    return text;
}

int shownSide(int reported, double factor)
{
    return static_cast<int>(reported / factor + kRoundingSlack);
}

// The player rounds odd sizes up to even ones, repeating the last row and
// column: such a picture is the shown one with a pixel too many.
bool isRoundedUp(const QSize& picture, const QSize& shown)
{
    const QSize excess = picture - shown;
    return excess.width() >= 0 && excess.width() <= 1 && excess.height() >= 0
        && excess.height() <= 1;
}

} // namespace

NXViewRenderControl::NXViewRenderControl(QWidget* viewsParent, QObject* parent)
    : QObject(parent)
    , m_originalView(new NXEditMovieView(viewsParent))
    , m_effectView(new NXEditMovieView(viewsParent))
{ }

NXViewRenderControl::~NXViewRenderControl()
{
    // The task (a child) kills and reaps a running player; the receiver
    // must not call back into a control that is going.
    if (m_videoEditRender)
        m_videoEditRender->setTarget(nullptr);
    // Its report finds the control gone.
    if (m_subtitleReader.joinable())
        m_subtitleReader.join();
}

void NXViewRenderControl::setSubtitle(
    const QString& path, const QString& language, quint32 position)
{
    m_subtitlePosition = position;
    if (path != m_subtitlePath || language != m_subtitleLanguage) {
        m_subtitlePath = path;
        m_subtitleLanguage = language;
        m_subtitle.reset();
        readSubtitle();
    }
    showSubtitle();
}

void NXViewRenderControl::readSubtitle()
{
    // A reader at work reads the file asked for now when it has reported.
    if (m_subtitlePath.isEmpty() || m_subtitleReader.joinable())
        return;
    const QPointer<NXViewRenderControl> self(this);
    m_subtitleReader = std::thread([self, path = m_subtitlePath, language = m_subtitleLanguage] {
        QString failure;
        std::optional<PreviewSubtitle> read = PreviewSubtitle::read(path, language, failure);
        const std::shared_ptr<const PreviewSubtitle> subtitle
            = read ? std::make_shared<const PreviewSubtitle>(std::move(*read)) : nullptr;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, path, language, subtitle, failure] {
                if (self)
                    self->subtitleRead(path, language, subtitle, failure);
            },
            Qt::QueuedConnection);
    });
}

void NXViewRenderControl::subtitleRead(const QString& path, const QString& language,
    const std::shared_ptr<const PreviewSubtitle>& subtitle, const QString& failure)
{
    m_subtitleReader.join();
    if (path != m_subtitlePath || language != m_subtitleLanguage) {
        readSubtitle();
        return;
    }
    if (!subtitle)
        DNLog(QStringLiteral("The preview cannot draw the subtitle file \"%1\": %2")
                  .arg(path, failure));
    m_subtitle = subtitle;
    showSubtitle();
}

// The cues on screen at the picture shown, where the output puts them: the
// editor's top or centre opens every cue of the output, as its own tag.
void NXViewRenderControl::showSubtitle()
{
    std::optional<PreviewSubtitle::Place> every;
    if (m_subtitlePosition == DNBaseEditSetting::kSubtitleTop)
        every = PreviewSubtitle::Place::Top;
    else if (m_subtitlePosition == DNBaseEditSetting::kSubtitleCentre)
        every = PreviewSubtitle::Place::Middle;
    const PreviewSubtitle::Lines lines = m_subtitle && !m_subtitlePath.isEmpty()
        ? m_subtitle->textAt(m_flags.currentPlaybackTime, every)
        : PreviewSubtitle::Lines {};
    for (NXEditMovieView* view : { m_originalView.get(), m_effectView.get() }) {
        if (view)
            view->setSubtitleLines(lines);
    }
}

QString NXViewRenderControl::currentBufferName() const
{
    return QStringLiteral("%1->%2").arg(kBufferName).arg(g_receiverCount);
}

void NXViewRenderControl::auto_detect_video_format_with_node(const NXBasicMediaNode* node)
{
    if (!m_videoEditRender) {
        ++g_receiverCount;
        m_videoEditRender = new NXViewMPlayerRender(currentBufferName(), this);
        m_videoEditRender->setTarget(this);
    }
    m_videoEditRender->setPixFormat(DNHas2vuyVideoTrack(node) ? MPlayerOSXVOProto::kFormat2vuy
                                                              : MPlayerOSXVOProto::kFormatYuvs);
    m_quarterTurned = DNHasQuarterTurnedVideoTrack(node);
    m_firstPictureTime = DNFirstPictureTime(node);
    m_seeksByDecodingTime = DNIsMpegSystemStream(node);
}

void NXViewRenderControl::startPlaybackWithParams(const QStringList& arguments)
{
    setMovieStop(false);
    if (m_myEditMplayerTask) {
        // Restarted in place: the old player's end is not the editor's
        // business, but it must still go, and be reaped.
        m_myEditMplayerTask->dismiss();
        m_myEditMplayerTask = nullptr;
    }
    m_flags.isStarted = true;
    m_flags.isPaused = false;
    m_flags.isWaitingCache = true;
    m_flags.volumes = kHalfVolume;
    m_flags.originalWidth = m_flags.originalHeight = 0;
    m_playedRange = rangeArguments();
    m_playedMedia = arguments.value(0);
    auto* task = new PlayerTask(this);
    m_myEditMplayerTask = task;
    connect(task, &PlayerTask::lineRead, this, &NXViewRenderControl::readLine);
    connect(task, &PlayerTask::finished, this, &NXViewRenderControl::mplayerTerminated);
    connect(task, &PlayerTask::failedToStart, this, &NXViewRenderControl::mplayerTerminated);
    task->start(arguments + fixedArguments(arguments.value(0)), workingFolder());
}

QStringList NXViewRenderControl::fixedArguments(const QString& media) const
{
    const auto number = [](double value, int digits) {
        return QString::fromLatin1(playerCommandNumber(value, digits));
    };
    const QString width = number(m_flags.scaleSize.width(), 0);
    const QString height = number(m_flags.scaleSize.height(), 0);
    QStringList arguments { QStringLiteral("-osdlevel"), QStringLiteral("0"), QStringLiteral("-ao"),
        QStringLiteral("coreaudio"), QStringLiteral("-vf"),
        QStringLiteral("scale=%1:%2").arg(width, height) };
    // The scale comes last, after the node's turn upright: sides it gives even
    // spare the tool its padding for the frame link, a copy of every picture.
    // A side of 0 or less keeps the media's own, which is not known here.
    const auto isEven = [](const QString& side) {
        bool ok = false;
        const int value = side.toInt(&ok);
        return ok && value > 0 && value % 2 == 0;
    };
    if (isEven(width) && isEven(height))
        arguments << QStringLiteral("-evensides");
    arguments << playerRangeArguments(media);
    arguments << QStringLiteral("-vo")
              << QStringLiteral("corevideo:buffer_name=\"%1\"").arg(currentBufferName())
              << QStringLiteral("-volume") << number(kHalfVolume, 2) << QStringLiteral("-loop")
              << QStringLiteral("0");
    return arguments;
}

// The player loops what it was asked to play: from the left limit, and while
// the trim is on only up to the right one, which it counts from the start.
// The limits go to the millisecond: whole seconds would move a trim's ends,
// and make a short one end where it starts.
QStringList NXViewRenderControl::rangeArguments() const
{
    QStringList arguments { QStringLiteral("-ss"), playerTimeText(m_flags.leftLimitedTime) };
    const double length = m_flags.rightLimitedTime - m_flags.leftLimitedTime;
    if (m_flags.trimEnabled && length > 0)
        arguments << QStringLiteral("-endpos") << playerTimeText(length);
    return arguments;
}

// mplayer lands on the next key frame after where it is asked to start, and
// shows the first picture past where it is asked to end: it starts at the key
// frame before the left limit, and the player tool shows the pictures from
// the left limit on, and before the right one with the trim on.
// The limits count from the media's first picture; mplayer's status lines,
// its end and the tool's part name the media's own clock, which in a
// transport stream starts anywhere. There its "-ss" names the key frame by
// its decoding time, and the tool is told the picture it lands on.
QStringList NXViewRenderControl::playerRangeArguments(const QString& media) const
{
    const double left = m_flags.leftLimitedTime;
    const std::optional<KeyFrameStart> key
        = left > 0 ? keyFrameAtOrBefore(media, left) : std::nullopt;
    const double start = key ? key->picture : left;
    const double seek = key && m_seeksByDecodingTime ? key->seek : start;
    const double right = m_flags.rightLimitedTime;
    const bool trimmed = m_flags.trimEnabled && right > left;
    const double clock = m_firstPictureTime;
    if (!trimmed && playerTimeText(start) == playerTimeText(left) && seek == start && clock == 0)
        return rangeArguments();
    QStringList arguments { QStringLiteral("-ss"), playerTimeText(seek) };
    if (trimmed)
        arguments << QStringLiteral("-endpos") << playerTimeText(clock + right - seek);
    arguments << QStringLiteral("-showfrom") << playerTimeText(clock + left);
    if (trimmed)
        arguments << QStringLiteral("-showto") << playerTimeText(clock + right);
    if (seek != start || clock != 0)
        arguments << QStringLiteral("-landing") << playerTimeText(clock + start);
    return arguments;
}

bool NXViewRenderControl::playsAnotherRange() const
{
    return m_myEditMplayerTask && m_playedRange != rangeArguments();
}

// The player writes its snapshots into the pictures folder. A missing one is
// made; where none can be made the home folder serves, since a player that
// cannot start plays nothing at all.
QString NXViewRenderControl::workingFolder()
{
    const QString folder = AppPaths::picturesFolder();
    if (!folder.isEmpty() && QDir().mkpath(folder) && QFileInfo(folder).isDir())
        return folder;
    DNLog(QStringLiteral("The pictures folder \"%1\" cannot be made; the editor's player writes "
                         "to %2")
              .arg(folder, AppPaths::homeFolder()));
    return AppPaths::homeFolder();
}

void NXViewRenderControl::setLimitedLeftTime(double left, double right)
{
    m_flags.leftLimitedTime = left;
    m_flags.rightLimitedTime = right;
}

void NXViewRenderControl::setPercentageLimitedLeftTime(double left, double right)
{
    setLimitedLeftTime(m_flags.duration * left, m_flags.duration * right);
}

double NXViewRenderControl::currentPlaybackPercent() const
{
    return m_flags.currentPlaybackTime / m_flags.duration * 100;
}

double NXViewRenderControl::convertTimeToPercent(double seconds) const
{
    return seconds / m_flags.duration;
}

int NXViewRenderControl::status() const
{
    return m_flags.isWaitingCache ? 2 : 0;
}

void NXViewRenderControl::send(const QByteArray& command)
{
    if (m_myEditMplayerTask)
        m_myEditMplayerTask->write(command);
}

void NXViewRenderControl::sendKeepingPause(const QByteArray& command)
{
    // Any command resumes a paused mplayer.
    send(m_flags.isPaused ? command + " pause\n" : command);
}

void NXViewRenderControl::pauseOrContinue()
{
    send("pause\n");
}

// The pictures still on their way belong to the player that goes: the views
// may already be cleared for the next entry, which must not show them.
void NXViewRenderControl::stopPlay()
{
    setMovieStop(true);
    send("quit\n");
    endRender();
}

// A transport stream's seek by time lands on any picture, whose key frame
// lies behind it: it is sent to the key frame before the time instead.
void NXViewRenderControl::seekToDuration(double seconds)
{
    if (m_seeksByDecodingTime && m_myEditMplayerTask)
        seconds = keyFrameSeekTime(m_playedMedia, seconds);
    send(playerSeekCommand(seconds));
}

void NXViewRenderControl::seekToDurationInPercent(double percent)
{
    seekToDuration(percent * m_flags.duration / 100);
}

void NXViewRenderControl::skipSeconds(double seconds)
{
    sendKeepingPause(playerSkipCommand(seconds));
}

void NXViewRenderControl::setPlayerVolume(double volume)
{
    m_flags.volumes = volume;
    sendKeepingPause(playerVolumeCommand(volume));
}

void NXViewRenderControl::saveSnapshotToDirectory(const QString&)
{
    send("screenshot 0\n");
}

void NXViewRenderControl::videoWillStart(NXViewMPlayerRender*)
{
    fitPictures();
    emit videoWillStartAction(this);
}

// The player's words and its pictures come by two ways and either may be
// first: the fit is worked out again when the media's size is read after the
// pictures were announced.
void NXViewRenderControl::fitPictures()
{
    fitPictures(m_flags, QSize(m_videoEditRender->imageWidth(), m_videoEditRender->imageHeight()));
}

void NXViewRenderControl::fitPictures(NXEditFlags& flags, const QSize& picture)
{
    flags.needApplyTransform = false;
    flags.transform = QTransform();
    flags.videoWidth = picture.width();
    flags.videoHeight = picture.height();
    // Without the media's size or the preview's factor (an unknown source
    // size) there is nothing to rescale to: the pictures are shown as they come.
    if (flags.originalWidth <= 0 || flags.originalHeight <= 0 || flags.scaleSizeFactor <= 0
        || picture.isEmpty() || picture == QSize(flags.originalWidth, flags.originalHeight))
        return;
    flags.needApplyTransform = true;
    flags.videoWidth = shownSide(flags.originalWidth, flags.scaleSizeFactor);
    flags.videoHeight = shownSide(flags.originalHeight, flags.scaleSizeFactor);
    flags.transform = QTransform::fromScale(
        double(flags.videoWidth) / picture.width(), double(flags.videoHeight) / picture.height());
}

QImage NXViewRenderControl::shownPicture(const QImage& picture, const NXEditFlags& flags)
{
    const QSize shown(flags.videoWidth, flags.videoHeight);
    if (!flags.needApplyTransform || picture.size() == shown || shown.isEmpty())
        return picture;
    if (isRoundedUp(picture.size(), shown))
        return picture.copy(QRect(QPoint(), shown));
    return picture.transformed(flags.transform, Qt::SmoothTransformation);
}

void NXViewRenderControl::videoNeedDisplay(const QImage& image)
{
    const QImage shown = shownPicture(image, m_flags);
    showSubtitle();
    for (NXEditMovieView* view : { m_originalView.get(), m_effectView.get() }) {
        if (!view)
            continue;
        view->setCurrentVideoFrame(shown);
        view->displayImage();
    }
}

// The media's own size stays: it is the player's, read from its output, and
// may already belong to the player that follows.
void NXViewRenderControl::videoWillStop(NXViewMPlayerRender*)
{
    m_flags.videoWidth = m_flags.videoHeight = 0;
}

void NXViewRenderControl::readLine(const QString& line)
{
    if (line.startsWith('A') || line.startsWith('V')) {
        readStatusLine(line);
    } else if (line.startsWith(QLatin1String("ID_PAUSED"))) {
        m_flags.isPaused = true;
        emit videoPaused();
    } else if (line.startsWith(QLatin1String("ID_LENGTH"))) {
        if (m_flags.duration < kUnknownDuration)
            m_flags.duration = playerIdentificationValue(line);
    } else if (line.startsWith(QLatin1String("ID_VIDEO_WIDTH"))
        || line.startsWith(QLatin1String("ID_VIDEO_HEIGHT"))) {
        readStoredSide(line);
    } else if (line.startsWith(QLatin1String("Starting playback..."))) {
        m_flags.isStarted = true;
        emit videoStarted();
    }
}

// The player names the stored picture's sides; the pictures it sends are
// upright, so a file turned by a quarter has them the other way round.
void NXViewRenderControl::readStoredSide(const QString& line)
{
    const bool storedWidth = line.startsWith(QLatin1String("ID_VIDEO_WIDTH"));
    const int side = static_cast<int>(playerIdentificationValue(line));
    if (storedWidth != m_quarterTurned)
        m_flags.videoWidth = m_flags.originalWidth = side;
    else
        m_flags.videoHeight = m_flags.originalHeight = side;
    if (m_videoEditRender && m_videoEditRender->isRendering())
        fitPictures();
}

// The player names the media's own clock, which in a transport stream starts
// anywhere; the editor counts from the first picture. Only the part between
// the limits is shown: the pictures the player reads from the key frame before
// the left limit are not, and the time stays with the picture shown.
void NXViewRenderControl::readStatusLine(const QString& line)
{
    double time
        = std::max(playerStatusPosition(line) - m_firstPictureTime, m_flags.leftLimitedTime);
    if (m_flags.trimEnabled && m_flags.rightLimitedTime > m_flags.leftLimitedTime)
        time = std::min(time, m_flags.rightLimitedTime);
    m_flags.currentPlaybackTime = time;
    if (m_flags.isPaused) {
        m_flags.isPaused = false;
        emit videoContinus();
    }
}

void NXViewRenderControl::mplayerTerminated()
{
    if (m_myEditMplayerTask) {
        m_myEditMplayerTask->disconnect(this);
        m_myEditMplayerTask->deleteLater();
        m_myEditMplayerTask = nullptr;
    }
    m_flags.isStarted = m_flags.isWaitingCache = m_flags.isPaused = false;
    m_flags.currentPlaybackTime = m_flags.duration = 0;
    m_flags.videoHeight = m_flags.originalHeight = 0;
    m_flags.videoWidth = m_flags.originalWidth = 0;
    endRender();
    setMovieStop(false);
    emit videoStopped();
}

// Every player gets a receiver, and a link name, of its own.
void NXViewRenderControl::endRender()
{
    if (!m_videoEditRender)
        return;
    m_videoEditRender->terminateConnection();
    m_videoEditRender->setTarget(nullptr);
    m_videoEditRender->deleteLater();
    m_videoEditRender = nullptr;
}

void NXViewRenderControl::setMovieStop(bool stopped)
{
    for (NXEditMovieView* view : { m_originalView.get(), m_effectView.get() })
        if (view)
            view->setMovieStop(stopped);
}

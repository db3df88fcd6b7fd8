#include "model/DNFileNode.h"

#include "model/DNMediaPredicates.h"
#include "services/SubtitleCharset.h"

#include <QFileInfo>

#include <algorithm>

namespace {

// Below this a track's length or size is unknown, and a fraction of it means
// nothing.
constexpr float kShortestDuration = 0.0001f;

// A time stored as a fraction of a length comes back from the product a hair
// short of the whole second it was set to (31 s of 59.94 s gives 30.99998);
// half a millisecond of slack keeps it at 31 without rounding real fractions.
constexpr double kSecondSlack = 0.0005;

quint32 wholeSeconds(float length, float fraction)
{
    const double seconds = static_cast<double>(length) * static_cast<double>(fraction);
    return seconds > 0.0 ? static_cast<quint32>(seconds + kSecondSlack) : 0;
}

// Pixels to fractions of the picture; false when the picture has no size.
bool toFractions(const QRectF& pixels, const QSizeF& picture, QRectF& fractions)
{
    if (picture.width() <= 0.0 || picture.height() <= 0.0)
        return false;
    fractions = QRectF(pixels.x() / picture.width(), pixels.y() / picture.height(),
        pixels.width() / picture.width(), pixels.height() / picture.height());
    return true;
}

QRectF toPixels(const QRectF& fractions, const QSizeF& picture)
{
    return QRectF(fractions.x() * picture.width(), fractions.y() * picture.height(),
        fractions.width() * picture.width(), fractions.height() * picture.height());
}

// The element at `index`, or null when the index points outside the list.
template<typename Track> const Track* trackAt(const std::vector<Track>& tracks, qint32 index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= tracks.size())
        return nullptr;
    return &tracks[static_cast<std::size_t>(index)];
}

// The player's filters that turn a picture stored with a clockwise rotation
// of `clockwiseDegrees` upright; empty for 0.
QString uprightPlayerFilter(qint32 clockwiseDegrees)
{
    switch (clockwiseDegrees) {
    case 90:
        return QStringLiteral("rotate=1");
    case 180:
        return QStringLiteral("flip,mirror");
    case 270:
        return QStringLiteral("rotate=2");
    default:
        return {};
    }
}

} // namespace

DNFileNode::DNFileNode(const QString& path)
    : DNFileNode(NXMediaType::VideoFile, path)
{ }

DNFileNode::DNFileNode(NXMediaType type, const QString& path)
    : NXBasicMediaNode(type)
    , m_path(path)
{ }

std::shared_ptr<DNFileNode> DNFileNode::fileNodeForConversion()
{
    return std::static_pointer_cast<DNFileNode>(weak_from_this().lock());
}

void DNFileNode::setThumbnail(const QImage& image)
{
    m_thumbnail = image;
    emit notifier()->thumbnailChanged();
}

void DNFileNode::addExtraAudio(const QString& path)
{
    m_audioTracks.emplace_back(DNTExtAudio::extAudioTrack(path));
    m_setting.setAudioIndex(static_cast<qint32>(m_audioTracks.size()) - 1);
}

const DNTVideo* DNFileNode::selectedVideoTrack() const
{
    return trackAt(m_videoTracks, m_setting.videoIndex());
}

DNTVideo* DNFileNode::selectedVideoTrack()
{
    return const_cast<DNTVideo*>(std::as_const(*this).selectedVideoTrack());
}

const DNAudioTrack* DNFileNode::selectedAudioTrack() const
{
    return trackAt(m_audioTracks, m_setting.audioIndex());
}

const DNSubtitleTrack* DNFileNode::selectedSubtitleTrack() const
{
    return trackAt(m_subtitleTracks, m_setting.subtitleIndex());
}

float DNFileNode::selectedTrackDuration() const
{
    const DNTVideo* track = selectedVideoTrack();
    return track ? track->duration : 0.0f;
}

QSizeF DNFileNode::selectedTrackSize() const
{
    const DNTVideo* track = selectedVideoTrack();
    return track ? QSizeF(track->width, track->height) : QSizeF();
}

QStringList DNFileNode::NXMPlayerPlaybackParameters() const
{
    QStringList arguments { m_path, QStringLiteral("-identify"), QStringLiteral("-slave") };
    const bool systemStream = DNIsMpegSystemStream(this);
    if (systemStream)
        arguments << QStringLiteral("-demuxer") << QStringLiteral("lavf");
    // The player shows the stored picture as it is: it is turned upright
    // first, so that every later filter and the editor's own turn and mirror
    // work on the picture the conversion sees.
    if (const DNTVideo* track = selectedVideoTrack(); track && track->rotation != 0)
        arguments << QStringLiteral("-vf") << uprightPlayerFilter(track->rotation);
    if (m_audioTracks.empty()) {
        arguments << QStringLiteral("-nosound");
        return arguments;
    }
    const DNAudioTrack* chosen = selectedAudioTrack();
    if (m_audioTracks.size() < 2 || !chosen)
        return arguments;
    // A WMV numbers its streams by id, not by order (a transport stream did
    // too, in the player's own demuxer).
    const bool byStreamID
        = !systemStream && QFileInfo(m_path).suffix().toLower() == QLatin1String("wmv");
    const qint32 number = byStreamID ? DNAudioFields(*chosen).aid : m_setting.audioIndex();
    arguments << QStringLiteral("-aid") << QString::number(number);
    return arguments;
}

quint32 DNFileNode::rotationAngle() const
{
    return static_cast<quint32>(m_setting.rotationAngle());
}

void DNFileNode::setRotationAngle(quint32 degrees)
{
    m_setting.setRotationAngle(static_cast<qint32>(degrees));
}

quint32 DNFileNode::trimStartTime() const
{
    return wholeSeconds(selectedTrackDuration(), m_setting.trimStartPercent());
}

quint32 DNFileNode::trimEndTime() const
{
    return wholeSeconds(selectedTrackDuration(), m_setting.trimEndPercent());
}

void DNFileNode::setTrimStartTime(quint32 seconds)
{
    const float duration = selectedTrackDuration();
    if (duration < kShortestDuration) {
        m_setting.setTrimStartPercent(0.0f);
        return;
    }
    m_setting.setTrimStartPercent(std::min(static_cast<float>(seconds) / duration, 1.0f));
}

void DNFileNode::setTrimEndTime(quint32 seconds)
{
    const float duration = selectedTrackDuration();
    if (duration < kShortestDuration) {
        m_setting.setTrimEndPercent(1.0f);
        return;
    }
    // The editor counts whole seconds: the last one it shows is the end of the
    // track, and a trim to it keeps the fraction of a second after it.
    if (seconds >= wholeSeconds(duration, 1.0f)) {
        m_setting.setTrimEndPercent(1.0f);
        return;
    }
    m_setting.setTrimEndPercent(static_cast<float>(seconds) / duration);
}

QRectF DNFileNode::cropRect() const
{
    return toPixels(m_setting.cropRectPercent(), selectedTrackSize());
}

void DNFileNode::setCropRect(const QRectF& pixels)
{
    // An all-zero rectangle is what an unset selector reports.
    if (pixels.x() == 0.0 && pixels.y() == 0.0 && pixels.width() == 0.0 && pixels.height() == 0.0)
        return;
    QRectF fractions;
    if (toFractions(pixels, selectedTrackSize(), fractions))
        m_setting.setCropRectPercent(fractions);
}

QRectF DNFileNode::watermarkRect() const
{
    return toPixels(m_setting.watermarkRectPercent(), selectedTrackSize());
}

void DNFileNode::setWatermarkRect(const QRectF& pixels)
{
    QRectF fractions;
    if (toFractions(pixels, selectedTrackSize(), fractions))
        m_setting.setWatermarkRectPercent(fractions);
}

QSizeF DNFileNode::resolutionOfSelectedVideoTrack() const
{
    return selectedTrackSize();
}

void DNFileNode::setResolutionOfSelectedVideoTrack(const QSizeF& size)
{
    DNTVideo* track = selectedVideoTrack();
    if (!track)
        return;
    track->width = static_cast<qint32>(size.width());
    track->height = static_cast<qint32>(size.height());
}

quint32 DNFileNode::currentVideoTrackDuration() const
{
    const float duration = selectedTrackDuration();
    return duration > 0.0f ? static_cast<quint32>(duration) : 0;
}

void DNFileNode::setCurrentVideoTrackDuration(quint32 seconds)
{
    // Only fills in a length the probe could not find.
    DNTVideo* track = selectedVideoTrack();
    if (track && track->duration < kShortestDuration)
        track->duration = static_cast<float>(seconds);
}

qint32 DNFileNode::innerSubtitleCount() const
{
    return static_cast<qint32>(std::count_if(m_subtitleTracks.begin(), m_subtitleTracks.end(),
        [](const DNSubtitleTrack& track) { return !DNExtSubtitleOf(track); }));
}

const DNTExtSubtitle* DNFileNode::lastExtSubtitle() const
{
    return m_subtitleTracks.empty() ? nullptr : DNExtSubtitleOf(m_subtitleTracks.back());
}

quint32 DNFileNode::indexOfSubtitleType() const
{
    const qint32 inner = innerSubtitleCount();
    if (inner == 0)
        return 1;
    const qint32 chosen = m_setting.subtitleIndex();
    if (chosen < 0)
        return 0;
    // The external file follows the source's own tracks.
    return static_cast<quint32>(chosen / inner);
}

quint32 DNFileNode::indexOfInnerSubtitle() const
{
    const qint32 chosen = m_setting.subtitleIndex();
    return chosen >= 0 && chosen < innerSubtitleCount() ? static_cast<quint32>(chosen) : 0;
}

QStringList DNFileNode::innerSubtitlesName() const
{
    QStringList names;
    for (const DNSubtitleTrack& track : m_subtitleTracks) {
        if (DNExtSubtitleOf(track))
            continue;
        const QString language = DNSubtitleFields(track).language;
        names << QStringLiteral("Track%1 [%2]")
                     .arg(names.size() + 1)
                     .arg(language.isEmpty() ? QStringLiteral("undef") : language);
    }
    if (names.isEmpty())
        names << QStringLiteral("No Subtitle");
    return names;
}

QString DNFileNode::extraSubtitlePath() const
{
    const DNTExtSubtitle* external = lastExtSubtitle();
    return external ? external->path : QString();
}

QString DNFileNode::extraSubtitleLanguage() const
{
    const DNTExtSubtitle* external = lastExtSubtitle();
    if (!external || external->language.isEmpty())
        return DNTExtSubtitle::kDefaultLanguage;
    return external->language;
}

void DNFileNode::setExtraSubtitleLanguage(const QString& language)
{
    if (m_subtitleTracks.empty())
        return;
    if (DNTExtSubtitle* external = DNExtSubtitleOf(m_subtitleTracks.back())) {
        external->language = language;
        // The language tells which older set the file's letters are in.
        external->codePage = subtitleFileCodePage(external->path, language);
    }
}

void DNFileNode::addExtraSubtitle(const QString& path)
{
    // Read as the loader reads the file beside the movie, in the language
    // chosen for the file it replaces. One that cannot be read is still
    // taken: the conversion refuses it with the reason.
    // One external file at a time: a new choice replaces the old one.
    if (!m_subtitleTracks.empty()) {
        if (DNTExtSubtitle* external = DNExtSubtitleOf(m_subtitleTracks.back())) {
            external->path = path;
            external->codePage = subtitleFileCodePage(path, external->language);
            return;
        }
    }
    DNTExtSubtitle track = DNTExtSubtitle::extSubtitleTrack(path);
    track.codePage = subtitleFileCodePage(path, track.language);
    m_subtitleTracks.emplace_back(std::move(track));
}

void DNFileNode::selectSubtitleAtIndex(qint32 index, bool extraSubtitle)
{
    if (!m_setting.subtitleEnable())
        return;
    const auto count = static_cast<qint32>(m_subtitleTracks.size());
    if (extraSubtitle)
        index = count - 1;
    m_setting.setSubtitleIndex(index >= 0 && index < count ? index : -1);
}

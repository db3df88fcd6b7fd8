// The editor's operations on a DVD node, each on the selected title's
// setting. Times are kept as fractions of the title's exact length and
// rectangles as fractions of its picture, as for a file node.
#include "model/DNDVDNode.h"

#include <algorithm>
#include <cmath>

namespace {

using Setting = DNDVDTitleSetting;

enum class TrimBound { Start, End };

// The fraction of the title's exact length a time is stored as: 0 (start)
// or 1 (end) for a title under a second long or a time past its end. The
// times are whole seconds, the title's last one its end: an end there keeps
// the frames past it.
float fractionOfLength(quint32 seconds, const DNDVDTitle& title, TrimBound bound)
{
    const qint32 length = title.length();
    const float outside = bound == TrimBound::Start ? 0.0f : 1.0f;
    if (length < 1 || seconds > static_cast<quint32>(length))
        return outside;
    if (bound == TrimBound::End && seconds == static_cast<quint32>(length))
        return 1.0f;
    return static_cast<float>(seconds / title.exactLength());
}

// The whole seconds of a stored fraction. A fraction keeps a time to some
// ten millionths of the length: a whole second stored comes back a hair
// under or over it, and is read as that second.
quint32 secondsOfLength(float fraction, const DNDVDTitle& title)
{
    constexpr double kStoredError = 1e-3;
    const double seconds = static_cast<double>(fraction) * title.exactLength() + kStoredError;
    return seconds > 0.0 ? static_cast<quint32>(std::min(seconds, double(title.length()))) : 0;
}

QRectF toFractions(const QRectF& pixels, const QSizeF& picture)
{
    return QRectF(pixels.x() / picture.width(), pixels.y() / picture.height(),
        pixels.width() / picture.width(), pixels.height() / picture.height());
}

QRectF toPixels(const QRectF& fractions, const QSizeF& picture)
{
    return QRectF(fractions.x() * picture.width(), fractions.y() * picture.height(),
        fractions.width() * picture.width(), fractions.height() * picture.height());
}

} // namespace

void DNDVDNode::setMirror(bool on)
{
    edit([on](Setting& setting) { setting.setMirror(on); });
}

quint32 DNDVDNode::rotationAngle() const
{
    return static_cast<quint32>(currentSetting().rotationAngle());
}

void DNDVDNode::setRotationAngle(quint32 degrees)
{
    edit([degrees](Setting& setting) { setting.setRotationAngle(static_cast<qint32>(degrees)); });
}

void DNDVDNode::setEnableGeneral(bool on)
{
    edit([on](Setting& setting) { setting.setGeneralEnable(on); });
}

void DNDVDNode::setGeneralVolume(quint32 percent)
{
    edit([percent](Setting& setting) { setting.setVolume(percent); });
}

void DNDVDNode::setEnableTrimming(bool on)
{
    edit([on](Setting& setting) { setting.setTrimEnable(on); });
}

quint32 DNDVDNode::trimStartTime() const
{
    const auto title = selectedTitle();
    return title ? secondsOfLength(title->setting().trimStartPercent(), *title) : 0;
}

quint32 DNDVDNode::trimEndTime() const
{
    const auto title = selectedTitle();
    return title ? secondsOfLength(title->setting().trimEndPercent(), *title) : 0;
}

void DNDVDNode::setTrimStartTime(quint32 seconds)
{
    if (const auto title = selectedTitle())
        title->setting().setTrimStartPercent(fractionOfLength(seconds, *title, TrimBound::Start));
}

void DNDVDNode::setTrimEndTime(quint32 seconds)
{
    if (const auto title = selectedTitle())
        title->setting().setTrimEndPercent(fractionOfLength(seconds, *title, TrimBound::End));
}

void DNDVDNode::setEnableCrop(bool on)
{
    edit([on](Setting& setting) { setting.setCropEnable(on); });
}

void DNDVDNode::setCropLetterboxAuto(bool on)
{
    edit([on](Setting& setting) { setting.setCropLetterboxAuto(on); });
}

void DNDVDNode::setIndexOfCropAspect(quint32 index)
{
    edit([index](Setting& setting) { setting.setCropAspectIndex(index); });
}

void DNDVDNode::setAutoExpandToProfileRes(bool on)
{
    edit([on](Setting& setting) { setting.setAutoExpandToProfile(on); });
}

QSizeF DNDVDNode::selectedPictureSize() const
{
    const auto title = selectedTitle();
    const DNDVDTVideo* track = title ? title->selectedVideoTrack() : nullptr;
    return track ? track->videoResolution : QSizeF();
}

QRectF DNDVDNode::cropRect() const
{
    return toPixels(currentSetting().cropRectPercent(), selectedPictureSize());
}

void DNDVDNode::setCropRect(const QRectF& pixels)
{
    const QSizeF picture = selectedPictureSize();
    if (picture.isEmpty())
        return;
    edit([&](Setting& setting) { setting.setCropRectPercent(toFractions(pixels, picture)); });
}

void DNDVDNode::setEnableEffect(bool on)
{
    edit([on](Setting& setting) { setting.setEffectEnable(on); });
}

void DNDVDNode::setIndexOfEffect(quint32 index)
{
    edit([index](Setting& setting) { setting.setEffectIndex(index); });
}

void DNDVDNode::setSubtitlePos(quint32 position)
{
    edit([position](Setting& setting) { setting.setPosition(position); });
}

void DNDVDNode::setEnableWatermark(bool on)
{
    edit([on](Setting& setting) { setting.setWatermarkEnable(on); });
}

void DNDVDNode::setTypeOfWatermark(quint32 type)
{
    edit([type](Setting& setting) { setting.setWatermarkType(type); });
}

void DNDVDNode::setImagePathOfWatermark(const QString& path)
{
    edit([&](Setting& setting) { setting.setWatermarkImagePath(path); });
}

void DNDVDNode::setTextOfWatermark(const QString& text)
{
    edit([&](Setting& setting) { setting.setWatermarkText(text); });
}

void DNDVDNode::setWatermarkTransparency(quint32 percent)
{
    edit([percent](Setting& setting) { setting.setWatermarkTransparency(percent); });
}

void DNDVDNode::setTextWatermarkFont(const DNWatermarkFont& font)
{
    edit([&](Setting& setting) { setting.setWatermarkFont(font); });
}

void DNDVDNode::setTextWatermarkColor(const QColor& colour)
{
    edit([&](Setting& setting) { setting.setWatermarkColor(colour); });
}

QRectF DNDVDNode::watermarkRect() const
{
    return toPixels(currentSetting().watermarkRectPercent(), selectedPictureSize());
}

void DNDVDNode::setWatermarkRect(const QRectF& pixels)
{
    const QSizeF picture = selectedPictureSize();
    if (picture.isEmpty())
        return;
    edit([&](Setting& setting) { setting.setWatermarkRectPercent(toFractions(pixels, picture)); });
}

QSizeF DNDVDNode::resolutionOfSelectedVideoTrack() const
{
    return selectedPictureSize();
}

void DNDVDNode::setResolutionOfSelectedVideoTrack(const QSizeF& size)
{
    const auto title = selectedTitle();
    DNDVDTVideo* track = title ? title->selectedVideoTrack() : nullptr;
    if (track)
        track->videoResolution = QSizeF(std::trunc(size.width()), std::trunc(size.height()));
}

quint32 DNDVDNode::currentVideoTrackDuration() const
{
    const auto title = selectedTitle();
    return title && title->length() > 0 ? static_cast<quint32>(title->length()) : 0;
}

void DNDVDNode::setCurrentVideoTrackDuration(quint32 seconds)
{
    if (const auto title = selectedTitle())
        title->setLength(static_cast<qint32>(seconds));
}

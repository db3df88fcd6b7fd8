#include "builders/video/BuilderServices.h"

#include "engine/AVEncoder.h"
#include "engine/EncodeConfig.h"
#include "model/DNFileNode.h"
#include "platform/DNLogger.h"
#include "platform/TemporaryFile.h"
#include "profiles/DNProfile.h"
#include "profiles/ProfileValues.h"
#include "services/DNHelpers.h"
#include "services/SubtitleCharset.h"

#include <QRectF>
#include <QSize>
#include <QStringList>

#include <cmath>
#include <numbers>

namespace {

// A number for a filter expression, in the C locale.
QString num(double value)
{
    return QString::number(value, 'g', 9);
}

int multipleDown(double value, int step)
{
    return static_cast<int>(std::trunc(value / step)) * step;
}

int evenDown(double value)
{
    return multipleDown(value, 2);
}

// The graph grows as a run of simple filters on the current picture; a
// filter with a second input closes the run under a new label.
class ChainBuilder {
public:
    explicit ChainBuilder(QString input)
        : m_label(std::move(input))
    { }

    void add(const QString& filter) { m_run << filter; }
    // Closes the run under `label` (a new one when empty) and returns the
    // label of the picture. An empty run under no label needs no segment: the
    // picture keeps its label.
    QString close(QString label = {})
    {
        if (label.isEmpty() && m_run.isEmpty())
            return m_label;
        if (label.isEmpty())
            label = nextLabel();
        m_segments << m_label + (m_run.isEmpty() ? QStringLiteral("null") : m_run.join(','))
                + label;
        m_run.clear();
        m_label = label;
        return label;
    }
    // A segment reading the current picture under `label` and giving the next.
    void addSegment(const QString& segment) { m_segments << segment; }
    QString nextLabel() { return QStringLiteral("[v%1]").arg(++m_count); }
    void setCurrent(const QString& label) { m_label = label; }
    QString current() const { return m_label; }
    bool isEmpty() const { return m_segments.isEmpty() && m_run.isEmpty(); }

    QString finish()
    {
        if (!m_run.isEmpty() || m_segments.isEmpty())
            close(QStringLiteral("[video]"));
        else
            m_segments.last().replace(m_segments.last().size() - m_label.size(), m_label.size(),
                QStringLiteral("[video]"));
        return m_segments.join(';');
    }

private:
    QString m_label;
    QStringList m_run;
    QStringList m_segments;
    int m_count = 0;
};

struct ChainInput {
    const DNFileNode& node;
    const DNTVideo& track;
    const EncodeConfig& config;
    bool expand;
    const std::optional<Trim>& seekedTrim; // the trim the engine seeks to before decoding
    const PictureTarget& target;
};

// The frame the output is written at: the profile's, unless the output's
// format has one of its own whatever the profile says.
QSize frameSize(const ChainInput& in)
{
    const DNProfile* profile = in.node.profile().get();
    if (!profile)
        return {};
    if (in.target.writtenFrame)
        return in.target.writtenFrame(*profile);
    const QString value = profile->videoResolution().currentValue();
    if (value.isNull() || isKeepOriginResolution(value))
        return {};
    const QSizeF size = resolutionFromString(value, 0, 0);
    return QSize(static_cast<int>(size.width()), static_cast<int>(size.height()));
}

// The crop rectangle with its origin moved to the top left, clamped to the
// picture; empty when the crop is off or keeps the whole picture.
QRectF topLeftCrop(const DNNodeSetting& setting)
{
    if (!setting.cropEnable())
        return {};
    const QRectF bottomLeft = setting.cropRectPercent().intersected(QRectF(0, 0, 1, 1));
    if (bottomLeft.isEmpty() || bottomLeft == QRectF(0, 0, 1, 1))
        return {};
    return QRectF(bottomLeft.x(), 1.0 - bottomLeft.y() - bottomLeft.height(), bottomLeft.width(),
        bottomLeft.height());
}

// The whole pixels of `size` that a crop's fraction stands for: the fraction
// was made from pixels, and carries the rounding of that division.
int cropPixels(double fraction, double size)
{
    return static_cast<int>(std::round(fraction * size));
}

// A crop's fraction of `size` pixels, written so that the engine's
// trunc(size*fraction) gives the pixel it stands for. At 9 digits the top
// row 334 of 1920 reads 0.173958333, which the engine truncates to row 333:
// such a fraction is written as the pixel over the size, which the engine
// computes exactly. An unknown size leaves the fraction as it is.
QString cropFraction(double fraction, int size)
{
    const QString text = num(fraction);
    if (size <= 0)
        return text;
    const int pixel = cropPixels(fraction, size);
    if (std::trunc(text.toDouble() * size) == pixel)
        return text;
    return QStringLiteral("%1/%2").arg(pixel).arg(size);
}

QString cropFilter(const QRectF& crop, const DNTVideo& track)
{
    // Even sizes, as most encoders of 4:2:0 pictures want them.
    return QStringLiteral("crop=trunc(iw*%1/2)*2:trunc(ih*%2/2)*2:trunc(iw*%3):trunc(ih*%4)")
        .arg(cropFraction(crop.width(), track.width), cropFraction(crop.height(), track.height),
            cropFraction(crop.x(), track.width), cropFraction(crop.y(), track.height));
}

int normalizedAngle(qint32 degrees)
{
    return ((degrees % 360) + 360) % 360;
}

double radiansOf(int degrees)
{
    return degrees * std::numbers::pi / 180.0;
}

QString rotationFilter(int angle)
{
    switch (angle) {
    case 90:
        return QStringLiteral("transpose=clock");
    case 180:
        return QStringLiteral("hflip,vflip");
    case 270:
        return QStringLiteral("transpose=cclock");
    default:
        break;
    }
    const QString radians = num(radiansOf(angle));
    return QStringLiteral("rotate=%1:ow=trunc(rotw(%1)/2)*2:oh=trunc(roth(%1)/2)*2:c=black")
        .arg(radians);
}

// The size of the picture that rotationFilter(angle) turns: a quarter turn
// swaps the sides; another angle gives the bounding box with even sides.
QSizeF rotatedSize(const QSizeF& size, int angle)
{
    if (angle % 180 == 0)
        return size;
    if (angle % 90 == 0)
        return size.transposed();
    const double c = std::abs(std::cos(radiansOf(angle)));
    const double s = std::abs(std::sin(radiansOf(angle)));
    return QSizeF(evenDown(size.width() * c + size.height() * s),
        evenDown(size.width() * s + size.height() * c));
}

// The picture the crop leaves, before it is scaled.
QSize croppedSize(const ChainInput& in)
{
    const QSize whole(in.track.width, in.track.height);
    const QRectF crop = topLeftCrop(in.node.setting());
    if (crop.isEmpty())
        return whole;
    return QSize(evenDown(cropPixels(crop.width(), whole.width())),
        evenDown(cropPixels(crop.height(), whole.height())));
}

QString profileAspect(const DNFileNode& node)
{
    return node.profile() ? node.profile()->videoAspect().currentValue() : QString();
}

int turnOf(const ChainInput& in)
{
    return normalizedAngle(in.node.setting().rotationAngle());
}

// A television frame keeps its size whatever the turn, and a named aspect is
// the turned picture's, so there the picture is turned before it is fitted.
// Elsewhere the fitted picture is turned, and its frame with it.
bool turnsBeforeFit(const ChainInput& in)
{
    return (in.target.shape == PixelShape::Television && !frameSize(in).isEmpty())
        || in.target.shape == PixelShape::NamedAspect;
}

// The picture the fit takes, and its pixels' width over their height.
struct FitSource {
    QSize size;
    double sampleAspect;
};

FitSource fitSourceOf(const ChainInput& in)
{
    const QSize cropped = croppedSize(in);
    const double sampleAspect = in.track.sampleAspect;
    if (!turnsBeforeFit(in))
        return { cropped, sampleAspect };
    const int angle = turnOf(in);
    // A quarter turn makes a pixel's width its height.
    const bool quarter = angle % 180 == 90;
    return { rotatedSize(QSizeF(cropped), angle).toSize(),
        quarter && sampleAspect > 0 ? 1.0 / sampleAspect : sampleAspect };
}

// The fit by display aspect of an output that does not store the shape of
// its pixels; none where the engine's fit by pixels keeps the shape.
std::optional<FrameFit> frameFitOf(const ChainInput& in)
{
    const FitSource source = fitSourceOf(in);
    return fitPictureToFrame(source.size, source.sampleAspect, frameSize(in),
        profileAspect(in.node), in.expand, in.target);
}

// The picture size the engine's fit by pixels gives in `frame`.
QSize pixelFitSize(QSize picture, QSize frame, bool expand)
{
    if (expand)
        return frame;
    const QSizeF fitted = DNAspectFitSize(QSizeF(picture), QSizeF(frame));
    return QSize(multipleDown(fitted.width(), kScaledSideStep),
        multipleDown(fitted.height(), kScaledSideStep));
}

// The picture size the edits give.
QSize geometrySize(const ChainInput& in)
{
    QSize size = fitSourceOf(in).size;
    const QSize frame = frameSize(in);
    if (const std::optional<FrameFit> fit = frameFitOf(in))
        size = fit->padded.isEmpty() ? fit->scaled : fit->padded;
    else if (!frame.isEmpty())
        size = pixelFitSize(size, frame, in.expand);
    if (turnsBeforeFit(in))
        return size;
    return rotatedSize(QSizeF(size), turnOf(in)).toSize();
}

// The picture size the graph is expected to give before subtitle and
// watermark, for drawing the watermark at its final size.
QSize expectedPictureSize(const ChainInput& in)
{
    return sizeForTarget(geometrySize(in), in.target);
}

void addPad(ChainBuilder& chain, QSize frame)
{
    chain.add(
        QStringLiteral("pad=%1:%2:(ow-iw)/2:(oh-ih)/2").arg(frame.width()).arg(frame.height()));
}

// Scaled to the size the fit gives and padded, its pixels of the shape the
// output shows them at.
void addFrameFit(ChainBuilder& chain, const ChainInput& in, const FrameFit& fit)
{
    if (fit.scaled != fitSourceOf(in).size)
        chain.add(QStringLiteral("scale=%1:%2").arg(fit.scaled.width()).arg(fit.scaled.height()));
    chain.add(QStringLiteral("setsar=") + fit.pixelShape);
    if (!fit.padded.isEmpty() && fit.padded != fit.scaled)
        addPad(chain, fit.padded);
}

void addFit(ChainBuilder& chain, const ChainInput& in)
{
    if (const std::optional<FrameFit> fit = frameFitOf(in)) {
        addFrameFit(chain, in, *fit);
        return;
    }
    const QSize frame = frameSize(in);
    if (frame.isEmpty())
        return;
    chain.add(QStringLiteral("scale=%1:%2:force_original_aspect_ratio=decrease:"
                             "force_divisible_by=%3")
                  .arg(frame.width())
                  .arg(frame.height())
                  .arg(kScaledSideStep));
    if (in.expand)
        addPad(chain, frame);
}

void addTurn(ChainBuilder& chain, int angle)
{
    if (angle != 0)
        chain.add(rotationFilter(angle));
}

void addGeometry(ChainBuilder& chain, const ChainInput& in)
{
    const DNNodeSetting& setting = in.node.setting();
    if (in.config.deinterlace)
        chain.add(QStringLiteral("yadif=0"));
    const QRectF crop = topLeftCrop(setting);
    if (!crop.isEmpty())
        chain.add(cropFilter(crop, in.track));
    if (turnsBeforeFit(in))
        addTurn(chain, turnOf(in));
    addFit(chain, in);
    if (!turnsBeforeFit(in))
        addTurn(chain, turnOf(in));
    // The mirror acts on the turned picture, as the editor's preview shows it.
    if (setting.mirror())
        chain.add(QStringLiteral("hflip"));
}

// The edited picture as the output's encoder takes it, before anything is
// drawn on it: subtitle and watermark keep their colours in an SDR output.
void addTargetFormat(ChainBuilder& chain, const ChainInput& in)
{
    if (const std::optional<QString> crop = sideCropFilter(geometrySize(in), in.target))
        chain.add(*crop);
    const QSize picture = expectedPictureSize(in);
    if (isToneMapped(in.track, in.target))
        chain.add(toneMappingFilter(in.track, picture, in.target));
    else if (const std::optional<QString> colours = colourFilter(in.track, picture, in.target))
        chain.add(*colours);
}

std::optional<QString> extractedTextSubtitle(
    const DNFileNode& node, qint32 index, const std::optional<Trim>& seekedTrim)
{
    const QString srt = makeTemporaryFile(QStringLiteral("qzsubsrt"), QStringLiteral("srt"));
    if (srt.isEmpty()
        || AVEncoderExtractSubFile(
               node.path().toUtf8().constData(), index, srt.toUtf8().constData())
            != 0) {
        DNLog(QStringLiteral("abandone subtitle!!!! buildin subtitle(text based), but we cannot "
                             "extrat the subtitle from video file"));
        return std::nullopt;
    }
    return GenSubtitlesFilter(srt, detectFileCharset(srt), node.setting().position(), seekedTrim,
        SubtitleStreamName(node));
}

void addOverlay(ChainBuilder& chain, const QString& second, const QString& overlay)
{
    const QString main = chain.close();
    const QString out = chain.nextLabel();
    chain.addSegment(main + second + overlay + out);
    chain.setCurrent(out);
}

// A picture subtitle stream lasts to its last cue, which may come after the
// movie's last picture (and the engine ends such a stream at a time of days):
// left to itself, the overlay would hold that picture until then. The
// picture's end ends the overlay instead, and the subtitle, held at its last
// state past its own end, never ends it early.
void addPictureSubtitle(ChainBuilder& chain, const QString& mark, const DNFileNode& node)
{
    noteBuildSubtitle(SubtitleStreamName(node));
    const QString held = chain.nextLabel();
    chain.addSegment(mark + QStringLiteral("tpad=stop=-1:stop_mode=clone") + held);
    addOverlay(chain, held, QStringLiteral("overlay=x=(W-w)/2:y=H-h:shortest=1"));
}

void addSubtitle(ChainBuilder& chain, const ChainInput& in)
{
    const qint32 index = in.node.setting().subtitleIndex();
    if (index < 0)
        return;
    if (static_cast<std::size_t>(index) >= in.node.subtitleTracks().size()) {
        DNLog(
            QStringLiteral("No subtitle track at index %1, the subtitle is left out.").arg(index));
        return;
    }
    const DNSubtitleTrack& track = in.node.subtitleTracks()[static_cast<std::size_t>(index)];
    std::optional<QString> filter;
    if (const DNTExtSubtitle* external = DNExtSubtitleOf(track))
        filter = GenSubtitlesFilter(
            external->path, external->codePage, in.node.setting().position(), in.seekedTrim);
    else if (DNSubtitleFields(track).isTextformat)
        filter = extractedTextSubtitle(in.node, index, in.seekedTrim);
    else if (const auto mark = GenSubtitleStreamMark(in.node, true, in.config))
        return addPictureSubtitle(chain, *mark, in.node);
    if (!filter)
        return;
    // The subtitle filter reads the picture under the label it names.
    chain.close(QStringLiteral("[VA]"));
    const QString out = chain.nextLabel();
    chain.addSegment(*filter + out);
    chain.setCurrent(out);
}

void addWatermark(ChainBuilder& chain, const ChainInput& in)
{
    if (!in.node.isEnableWatermark())
        return;
    const QRectF rect = in.node.setting().watermarkRectPercent().intersected(QRectF(0, 0, 1, 1));
    const QSize picture = expectedPictureSize(in);
    const QSize size(static_cast<int>(picture.width() * rect.width()),
        static_cast<int>(picture.height() * rect.height()));
    const double alpha = 1.0 - std::min(in.node.watermarkTransparency(), 100u) / 100.0;
    const QString path = in.node.pathOfWatermarkFile(size, alpha);
    if (path.isEmpty()) {
        DNLog(
            QStringLiteral("The watermark picture could not be made, the watermark is left out."));
        return;
    }
    const QString mark = chain.nextLabel();
    chain.addSegment(QStringLiteral("movie=filename=") + FilterGraphQuote(path) + mark);
    // The rectangle's origin is at the bottom left, the overlay's at the top left.
    addOverlay(chain, mark,
        QStringLiteral("overlay=x=trunc(W*%1):y=trunc(H*%2)")
            .arg(num(rect.x()), num(1.0 - rect.y() - rect.height())));
}

} // namespace

bool SubtitleCuesFollowSeek(const DNFileNode& node)
{
    const DNSubtitleTrack* track = node.selectedSubtitleTrack();
    if (!track)
        return false;
    if (const DNTExtSubtitle* external = DNExtSubtitleOf(*track))
        return IsSrtFile(external->path);
    return DNSubtitleFields(*track).isTextformat;
}

std::optional<QString> GenVideoFilterChain(const DNFileNode& node, const QString& prefixFilter,
    bool burnSubtitles, bool expandToProfile, const EncodeConfig& config,
    const std::optional<Trim>& seekedTrim, const PictureTarget& target, const QString& frameRate)
{
    const std::optional<QString> input = GenVideoStreamMark(node, true, config);
    if (!input)
        return std::nullopt;
    // The stream mark exists only for a selected track that is there.
    const ChainInput in { node, *node.selectedVideoTrack(), config, expandToProfile, seekedTrim,
        target };
    ChainBuilder chain(*input);
    if (!frameRate.isEmpty())
        chain.add(QStringLiteral("fps=") + frameRate);
    addGeometry(chain, in);
    addTargetFormat(chain, in);
    if (burnSubtitles)
        addSubtitle(chain, in);
    addWatermark(chain, in);
    if (!prefixFilter.isEmpty())
        chain.add(prefixFilter);
    if (chain.isEmpty())
        return std::nullopt;
    return chain.finish();
}

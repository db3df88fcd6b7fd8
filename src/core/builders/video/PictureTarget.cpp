#include "builders/video/PictureTarget.h"

#include "profiles/ProfileValues.h"
#include "services/DNFileTracks.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>

namespace {

bool isOdd(int side)
{
    return side % 2 != 0;
}

// The engine's name of the track's colour property, or the BT.2020 one that
// HDR video uses when the stream does not say.
QString orBt2020(const QString& name, const char* bt2020)
{
    return name.isEmpty() ? QString::fromLatin1(bt2020) : name;
}

// --- Shape -----------------------------------------------------------------

// The nearest multiple keeps the picture's shape best.
int nearestSide(double side, int limit)
{
    const int rounded = static_cast<int>(std::lround(side / kScaledSideStep)) * kScaledSideStep;
    return std::clamp(rounded, kScaledSideStep, std::max(limit, kScaledSideStep));
}

// Width over height as the picture is shown; 0 when its size is unknown.
double shownAspect(QSize picture, double sampleAspect)
{
    if (picture.isEmpty())
        return 0.0;
    const double pixel = sampleAspect > 0 ? sampleAspect : 1.0;
    return picture.width() * pixel / picture.height();
}

// `shown` inside `frame` of pixels `pixel` wide: a wider picture takes the
// frame's width, a narrower one its height. An unknown shape fills it.
QSize fitByShape(double shown, QSize frame, double pixel)
{
    if (shown <= 0)
        return frame;
    if (shown >= frame.width() * pixel / frame.height())
        return QSize(frame.width(), nearestSide(frame.width() * pixel / shown, frame.height()));
    return QSize(nearestSide(frame.height() * shown / pixel, frame.width()), frame.height());
}

// A ratio kept exact for the engine's "setsar".
struct Ratio {
    std::int64_t num = 1;
    std::int64_t den = 1;

    double value() const { return double(num) / double(den); }
    QString text() const
    {
        const std::int64_t divisor = std::gcd(num, den);
        return QStringLiteral("%1/%2").arg(num / divisor).arg(den / divisor);
    }
};

// A profile's display aspect, "4:3", "16x9" or "2.35", in thousandths; none
// when it is "keep origin" or no ratio.
std::optional<Ratio> aspectOf(const QString& value)
{
    if (value.isNull() || isKeepOriginAspect(value))
        return std::nullopt;
    const QStringList sides = normalizeAspectString(value, QStringLiteral(":")).split(u':');
    const double width = sides.value(0).toDouble();
    const double height = sides.size() > 1 ? sides.value(1).toDouble() : 1.0;
    if (!(width > 0) || !(height > 0) || sides.size() > 2)
        return std::nullopt;
    return Ratio { std::llround(width * 1000), std::llround(height * 1000) };
}

// A television frame shows 4:3 or 16:9. Left to the source, it takes the one
// nearer the picture's own shape, so that the least of the frame is bars.
Ratio televisionAspect(const QString& profileAspect, double shown)
{
    if (const std::optional<Ratio> aspect = aspectOf(profileAspect))
        return *aspect;
    const double between = std::sqrt(4.0 / 3.0 * 16.0 / 9.0);
    return shown >= between ? Ratio { 16, 9 } : Ratio { 4, 3 };
}

std::optional<FrameFit> squareFit(QSize picture, double sampleAspect, QSize frame, bool pad)
{
    const double shown = shownAspect(picture, sampleAspect);
    if (frame.isEmpty()) {
        if (std::abs(sampleAspect - 1.0) < 1e-3 || shown <= 0)
            return std::nullopt;
        const int width = static_cast<int>(std::lround(picture.height() * shown / 2)) * 2;
        return FrameFit { QSize(std::max(width, 2), picture.height()), {}, QStringLiteral("1") };
    }
    return FrameFit { fitByShape(shown, frame, 1.0), pad ? frame : QSize(), QStringLiteral("1") };
}

// True when MPEG-2 can name the display aspect `shown` (within 1 %).
bool isNamedAspect(double shown)
{
    constexpr double kNamed[] = { 4.0 / 3.0, 16.0 / 9.0, 2.21 };
    return std::any_of(std::begin(kNamed), std::end(kNamed),
        [shown](double named) { return std::abs(shown / named - 1.0) < 0.01; });
}

std::optional<FrameFit> televisionFit(
    QSize picture, double sampleAspect, QSize frame, const QString& frameAspect)
{
    if (frame.isEmpty())
        return std::nullopt;
    const double shown = shownAspect(picture, sampleAspect);
    const Ratio aspect = televisionAspect(frameAspect, shown);
    const Ratio pixel { aspect.num * frame.height(), aspect.den * frame.width() };
    return FrameFit { fitByShape(shown, frame, pixel.value()), frame, pixel.text() };
}

// --- Colour ----------------------------------------------------------------

// What players take an untagged picture of this size to be.
bool isHighDefinition(QSize picture)
{
    return picture.width() >= 1280 || picture.height() > 576;
}

// The scaler's name of the matrix the track's picture is in: its tag, or
// what players take an untagged picture of its size to be. "rgb" for a
// picture of red, green and blue; empty for a matrix the scaler does not know.
QString scalerMatrixOf(const DNTVideo& track)
{
    if (track.colorMatrix.isEmpty())
        return isHighDefinition(QSize(track.width, track.height)) ? QStringLiteral("bt709")
                                                                  : QStringLiteral("bt601");
    static const QHash<QString, QString> names {
        { QStringLiteral("bt709"), QStringLiteral("bt709") },
        { QStringLiteral("smpte170m"), QStringLiteral("bt601") },
        { QStringLiteral("bt470bg"), QStringLiteral("bt601") },
        { QStringLiteral("fcc"), QStringLiteral("fcc") },
        { QStringLiteral("smpte240m"), QStringLiteral("smpte240m") },
        { QStringLiteral("bt2020nc"), QStringLiteral("bt2020") },
        { QStringLiteral("bt2020c"), QStringLiteral("bt2020") },
        { QStringLiteral("gbr"), QStringLiteral("rgb") },
    };
    return names.value(track.colorMatrix);
}

// The matrix the target writes a picture of this size in, in the scaler's
// names; empty for the source's own.
QString writtenMatrix(QSize picture, const PictureTarget& target)
{
    switch (target.matrix) {
    case ColourMatrix::Source:
        return {};
    case ColourMatrix::Bt601:
        return QStringLiteral("bt601");
    case ColourMatrix::PlayersOfSize:
        // An untagged HD picture is BT.709 to the players that show most
        // such files (the system's own renderers, browsers, the common
        // media players); only BT.601 at every size would please the
        // engine's own decoder, which no one watches.
        return isHighDefinition(picture) ? QStringLiteral("bt709") : QStringLiteral("bt601");
    }
    return {};
}

QString matrixTagOf(const QString& scalerMatrix)
{
    return scalerMatrix == QLatin1String("bt709") ? QStringLiteral("bt709")
                                                  : QStringLiteral("smpte170m");
}

// --- Wide gamut ------------------------------------------------------------

// A picture in BT.2020's primaries at standard dynamic range; a BT.2020 matrix
// with no primaries said stands for them.
bool hasWideGamut(const DNTVideo& track)
{
    if (track.isHighDynamicRange())
        return false;
    if (!track.colorPrimaries.isEmpty())
        return track.colorPrimaries == QLatin1String("bt2020");
    return track.colorMatrix.startsWith(QLatin1String("bt2020"));
}

// The primaries players take an untagged picture of this size to be: those
// of its television standard where its lines say one, else BT.709's.
QString playersPrimaries(QSize picture)
{
    if (isHighDefinition(picture))
        return QStringLiteral("bt709");
    if (picture.height() == 576)
        return QStringLiteral("bt470bg");
    if (picture.height() == 480 || picture.height() == 486)
        return QStringLiteral("smpte170m");
    return QStringLiteral("bt709");
}

// The transfer players take a picture in `primaries` to have: its television
// standard's, which has BT.709's curve under another name.
QString transferOf(const QString& primaries)
{
    return primaries == QLatin1String("bt709") ? QStringLiteral("bt709")
                                               : QStringLiteral("smpte170m");
}

// The colour converter's name of the track's transfer; an unsaid or unknown
// one is read as BT.709's curve, which SDR video is made with.
QString converterTransferOf(const DNTVideo& track)
{
    static const QStringList known { QStringLiteral("bt709"), QStringLiteral("smpte170m"),
        QStringLiteral("bt2020-10"), QStringLiteral("bt2020-12"), QStringLiteral("bt470m"),
        QStringLiteral("bt470bg"), QStringLiteral("iec61966-2-1"), QStringLiteral("linear") };
    return known.contains(track.colorTransfer) ? track.colorTransfer : QStringLiteral("bt709");
}

// The colour converter's name of the track's matrix, unsaid read as players
// read it; empty for one the converter does not know.
QString converterMatrixOf(const DNTVideo& track)
{
    if (track.colorMatrix.isEmpty())
        return matrixTagOf(scalerMatrixOf(track));
    static const QStringList known { QStringLiteral("bt709"), QStringLiteral("smpte170m"),
        QStringLiteral("bt470bg"), QStringLiteral("bt2020nc"), QStringLiteral("bt2020c"),
        QStringLiteral("fcc"), QStringLiteral("gbr") };
    // The converter misspells SMPTE 240M's name, and may not always: its
    // number in the standard's table is the same in every version.
    if (track.colorMatrix == QLatin1String("smpte240m"))
        return QStringLiteral("7");
    return known.contains(track.colorMatrix) ? track.colorMatrix : QString();
}

// The colour converter takes and gives a picture with halved chroma only at
// even sides: an odd one's chroma is whole on both sides of it (at a depth
// that keeps a 10-bit source's steps).
QString atConvertibleSides(const QString& conversion, QSize picture, bool halvedChroma)
{
    if (!halvedChroma || (!isOdd(picture.width()) && !isOdd(picture.height())))
        return conversion;
    const QString whole = QStringLiteral("format=yuv444p16le");
    return QStringList { whole, conversion, whole }.join(u',');
}

// The conversion of the picture into `written`, tagged so; none when the
// picture is in it already, or in a matrix the converter does not know. The
// colour converter keeps a grey grey: the scaler, by default, rounds a grey
// through another matrix a level darker and a level green, and its exact
// rounding costs four times the time.
std::optional<QString> matrixConversion(
    const DNTVideo& track, QSize picture, const QString& written)
{
    const QString source = scalerMatrixOf(track);
    const QString matrix = converterMatrixOf(track);
    if (written.isEmpty() || source.isEmpty() || matrix.isEmpty() || source == written)
        return std::nullopt;
    // Red, green and blue take the matrix only on their way out.
    const bool rgb = source == QLatin1String("rgb");
    const QString from = rgb ? QString() : QStringLiteral("min=%1:").arg(matrix);
    return atConvertibleSides(
        QStringLiteral("zscale=%1m=%2").arg(from, matrixTagOf(written)), picture, !rgb);
}

// A BT.2020 picture shown by players of an output that says nothing of
// primaries, or that they read as SD or HD video, loses its saturation
// unless its colours are brought into the primaries they read. The converter
// works in linear light and tags the frames with what it wrote.
std::optional<QString> gamutConversion(const DNTVideo& track, QSize picture, const QString& written)
{
    const QString matrix = converterMatrixOf(track);
    if (written.isEmpty() || !hasWideGamut(track) || matrix.isEmpty())
        return std::nullopt;
    const QString primaries = playersPrimaries(picture);
    return atConvertibleSides(QStringLiteral("zscale=tin=%1:pin=bt2020:min=%2:t=%3:p=%4:m=%5")
                                  .arg(converterTransferOf(track), matrix, transferOf(primaries),
                                      primaries, matrixTagOf(written)),
        picture, matrix != QLatin1String("gbr"));
}

using Aliases = QHash<QString, QString>;

// Values of the same meaning under another name: BT.601's two matrices are
// one, and the 525-line and BT.2020 transfers are BT.709's curve.
const Aliases& matrixAliases()
{
    static const Aliases aliases { { QStringLiteral("bt470bg"), QStringLiteral("smpte170m") } };
    return aliases;
}

const Aliases& transferAliases()
{
    static const Aliases aliases {
        { QStringLiteral("smpte170m"), QStringLiteral("bt709") },
        { QStringLiteral("bt2020-10"), QStringLiteral("bt709") },
        { QStringLiteral("bt2020-12"), QStringLiteral("bt709") },
    };
    return aliases;
}

// "name=value" for a tag the encoder would write as another value: the same
// meaning under a name it carries, or no value at all.
void addCarriedTag(QStringList& changes, const char* name, const QString& value,
    const QStringList& carried, const Aliases& aliases = {})
{
    if (value.isEmpty() || carried.contains(value))
        return;
    const QString alias = aliases.value(value);
    changes << QStringLiteral("%1=%2").arg(
        QLatin1String(name), carried.contains(alias) ? alias : QStringLiteral("unknown"));
}

std::optional<QString> carriedTagsFilter(const DNTVideo& track, const PictureTarget& target)
{
    if (!target.carriedTags)
        return std::nullopt;
    const ColourTagSet& carried = *target.carriedTags;
    QStringList changes;
    addCarriedTag(changes, "color_primaries", track.colorPrimaries, carried.primaries);
    addCarriedTag(changes, "color_trc", track.colorTransfer, carried.transfers, transferAliases());
    addCarriedTag(changes, "colorspace", track.colorMatrix, carried.matrices, matrixAliases());
    if (changes.isEmpty())
        return std::nullopt;
    return QStringLiteral("setparams=") + changes.join(u':');
}

} // namespace

QSize sizeForTarget(QSize picture, const PictureTarget& target)
{
    if (target.evenWidth && isOdd(picture.width()))
        picture.rwidth() -= 1;
    if (target.evenHeight && isOdd(picture.height()))
        picture.rheight() -= 1;
    return picture;
}

// A one-pixel crop keeps the aspect within that pixel, and the picture
// unscaled.
std::optional<QString> sideCropFilter(QSize picture, const PictureTarget& target)
{
    if (sizeForTarget(picture, target) == picture)
        return std::nullopt;
    return QStringLiteral("crop=%1:%2:0:0")
        .arg(target.evenWidth ? QStringLiteral("trunc(iw/2)*2") : QStringLiteral("iw"),
            target.evenHeight ? QStringLiteral("trunc(ih/2)*2") : QStringLiteral("ih"));
}

std::optional<FrameFit> fitPictureToFrame(QSize picture, double sampleAspect, QSize frame,
    const QString& frameAspect, bool pad, const PictureTarget& target)
{
    switch (target.shape) {
    case PixelShape::Stored:
        return std::nullopt;
    case PixelShape::Square:
        return squareFit(picture, sampleAspect, frame, pad);
    case PixelShape::Television:
        return televisionFit(picture, sampleAspect, frame, frameAspect);
    case PixelShape::NamedAspect:
        if (isNamedAspect(shownAspect(picture, sampleAspect)))
            return std::nullopt;
        return squareFit(picture, sampleAspect, frame, pad);
    }
    return std::nullopt;
}

bool isToneMapped(const DNTVideo& track, const PictureTarget& target)
{
    return target.standardRange && track.isHighDynamicRange();
}

// The curve works on linear light in floating point, after the primaries are
// brought to BT.709, so that saturated colours come out inside the gamut;
// the picture then takes the primaries the output is shown in (BT.709 where
// it says so, those its players read where it says nothing or they pay it no
// heed, as the BT.2020 pictures get). Hable's curve keeps the highlights'
// detail; the source's colours are named rather than read from the pictures,
// which not every decoder tags.
QString toneMappingFilter(const DNTVideo& track, QSize picture, const PictureTarget& target)
{
    const QString written = writtenMatrix(picture, target);
    const QString matrix = written.isEmpty() ? QStringLiteral("bt709") : matrixTagOf(written);
    const QString shownIn = written.isEmpty() ? QStringLiteral("bt709") : playersPrimaries(picture);
    const QString primaries = orBt2020(track.colorPrimaries, "bt2020");
    return QStringLiteral("zscale=tin=%1:pin=%2:min=%3:t=linear:p=%2:npl=100,format=gbrpf32le,"
                          "zscale=p=bt709,tonemap=tonemap=hable:desat=0,"
                          "zscale=t=%5:p=%4:m=%6:r=tv,format=yuv420p")
        .arg(track.colorTransfer, primaries, orBt2020(track.colorMatrix, "bt2020nc"), shownIn,
            transferOf(shownIn), matrix);
}

std::optional<QString> colourFilter(
    const DNTVideo& track, QSize picture, const PictureTarget& target)
{
    const QString written = writtenMatrix(picture, target);
    QStringList filters;
    if (const std::optional<QString> gamut = gamutConversion(track, picture, written))
        filters << *gamut;
    else if (const std::optional<QString> conversion = matrixConversion(track, picture, written))
        filters << *conversion;
    if (const std::optional<QString> tags = carriedTagsFilter(track, target))
        filters << *tags;
    if (filters.isEmpty())
        return std::nullopt;
    return filters.join(u',');
}

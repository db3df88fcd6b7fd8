#include "builders/dvd/DVDArgumentHelpers.h"

#include "builders/video/BuilderServices.h"
#include "model/DNDVDNode.h"
#include "platform/DNLogger.h"
#include "profiles/DNProfile.h"
#include "profiles/ProfileValues.h"
#include "services/DNHelpers.h"

#include <QDir>

#include <cmath>

namespace {

// Below this on either side the picture size is not a real one.
constexpr double kSmallestSide = 32;
// A scale side the engine derives from the other side and the aspect.
constexpr int kDerived = -2;
// With "keep origin" the picture is scaled to the DVD width.
constexpr int kDVDWidth = 720;
const QString kTail = QStringLiteral("eq2=1:1:0:1,harddup,fixpts");

int raisedToEven(int value)
{
    return value % 2 != 0 ? value + 1 : value;
}

int whole(double value)
{
    return static_cast<int>(value);
}

struct ScaleSize {
    int width = 0;
    int height = 0;
};

// Everything the chain is made from, read once.
struct ChainInput {
    QSizeF source;
    QSizeF aspect; // the target display aspect
    QString resolution; // the profile's size value
    bool keep = false; // the profile keeps the source's size
    const DNDVDTitleSetting* setting = nullptr;
};

QString rotationPart(const DNBaseEditSetting& setting)
{
    // Into 0..359 first, so that -90 turns the picture as 270 does.
    const int degrees = ((setting.rotationAngle() % 360) + 360) % 360;
    if (degrees < 90 && !setting.mirror())
        return {};
    return BuildRotateMirrorFilter(degrees / 90, setting.mirror()).value_or(QString());
}

// The crop part; `source` becomes the cropped size.
QString cropPart(const DNBaseEditSetting& setting, QSizeF& source)
{
    const int width = whole(source.width());
    const int height = whole(source.height());
    const QRectF crop = setting.cropRectPercent();
    const int cropWidth = whole(crop.width() * width);
    const int cropHeight = whole(crop.height() * height);
    const int left = whole(crop.x() * width);
    const int top = std::max(0, whole(height - crop.y() * height - crop.height() * height));
    source = QSizeF(cropWidth, cropHeight);
    return QStringLiteral("crop=%1:%2:%3:%4,")
        .arg(raisedToEven(cropWidth))
        .arg(raisedToEven(cropHeight))
        .arg(raisedToEven(left))
        .arg(raisedToEven(top));
}

bool fits(const ScaleSize& candidate, const QSizeF& box, const QSizeF& aspect)
{
    if (candidate.height == kDerived && candidate.width > 0)
        return whole(candidate.width * aspect.height() / aspect.width()) <= box.height();
    if (candidate.width == kDerived && candidate.height > 0)
        return whole(candidate.height * aspect.width() / aspect.height()) <= box.width();
    return candidate.width <= box.width() && candidate.height <= box.height();
}

// The fitted size turned to the target aspect where that still fits the box:
// one side given, the other derived by the engine.
ScaleSize towardsAspect(const ScaleSize& fitted, const QSizeF& box, const QSizeF& aspect)
{
    ScaleSize candidate = fitted;
    if (fitted.height == whole(box.height())) {
        const int width = whole(box.height() * aspect.width() / aspect.height());
        candidate = width > box.width() ? ScaleSize { whole(box.width()), kDerived }
                                        : ScaleSize { kDerived, whole(box.height()) };
    } else if (fitted.width == whole(box.width())) {
        const int height = whole(box.width() * aspect.height() / aspect.width());
        candidate = height > box.height() ? ScaleSize { kDerived, whole(box.height()) }
                                          : ScaleSize { whole(box.width()), kDerived };
    }
    return fits(candidate, box, aspect) ? candidate : fitted;
}

QString scalePart(const ChainInput& input, bool cropped)
{
    ScaleSize scale { kDVDWidth, kDerived };
    ScaleSize expand;
    if (cropped || !input.keep) {
        const QSizeF box
            = resolutionFromString(input.resolution, input.source.width(), input.source.height());
        const QSizeF fitted = DNAspectFitSize(input.source, box);
        scale = { whole(fitted.width()), whole(fitted.height()) };
        expand = { whole(box.width()), whole(box.height()) };
        if (!cropped)
            scale = towardsAspect(scale, box, input.aspect);
    }
    if (!input.setting->autoExpandToProfile())
        return QStringLiteral("scale=%1:%2,")
            .arg(raisedToEven(scale.width))
            .arg(raisedToEven(scale.height));
    if (!cropped && input.keep)
        expand = { kDVDWidth, whole(input.aspect.height() * kDVDWidth / input.aspect.width()) };
    return QStringLiteral("scale=%1:%2,expand=%3:%4,")
        .arg(raisedToEven(scale.width))
        .arg(raisedToEven(scale.height))
        .arg(raisedToEven(expand.width))
        .arg(raisedToEven(expand.height));
}

} // namespace

QString BuildVideoFilterChain(const DNDVDNode& node, int32_t titleIndex, const EncodeConfig& config)
{
    const QString deinterlace
        = config.deinterlace ? QStringLiteral("yadif=0,") : QStringLiteral("pp,");
    const auto title = node.titleAt(titleIndex);
    if (!title) {
        DNLog(QStringLiteral("No DVD title at index %1, so ignore video filter configure...")
                  .arg(titleIndex));
        return deinterlace + kTail;
    }
    const QString rotation = rotationPart(title->setting());
    const DNDVDTVideo* track = title->selectedVideoTrack();
    ChainInput input;
    input.source = track ? track->videoResolution : QSizeF();
    if (input.source.width() < kSmallestSide || input.source.height() < kSmallestSide) {
        DNLog(QStringLiteral("VideoSize {%1, %2}, so ignore video filter configure...")
                  .arg(input.source.width())
                  .arg(input.source.height()));
        return deinterlace + rotation + kTail;
    }
    const auto profile = node.profile();
    const QString aspectValue = profile ? profile->videoAspect().currentValue() : QString();
    input.resolution = profile ? profile->videoResolution().currentValue() : QString();
    input.aspect = resolutionFromStringOrOne(aspectValue, track->videoAspect);
    input.keep = isKeepOriginResolution(input.resolution);
    input.setting = &title->setting();
    const bool cropped = title->setting().cropEnable();
    const QString crop = cropped ? cropPart(title->setting(), input.source) : QString();
    return deinterlace + crop + scalePart(input, cropped) + rotation + kTail;
}

std::optional<QString> BuildRotateMirrorFilter(int32_t quarterTurns, bool mirror)
{
    static const char* const kFragments[4][2] = {
        { nullptr, "mirror," },
        { "rotate=1,", "rotate=1,mirror," },
        { "flip,mirror,", "flip," }, // a half turn is a flip and a mirror
        { "rotate=2,", "rotate=2,mirror," },
    };
    if (quarterTurns < 0 || quarterTurns > 3)
        return std::nullopt;
    const char* fragment = kFragments[quarterTurns][mirror ? 1 : 0];
    return fragment ? std::optional<QString>(QString::fromLatin1(fragment)) : std::nullopt;
}

QString ReplaceQuotesInMetadata(const std::optional<QString>& text)
{
    if (!text)
        return QStringLiteral(" ");
    QString cleaned = *text;
    cleaned.replace(QLatin1Char('"'), QLatin1Char('_'));
    return cleaned.size() < 2 ? QStringLiteral(" ") : cleaned;
}

QString MakeOutputFileName(const QString& folder, const std::optional<QString>& outputName,
    const QString& middle, const QString& suffix)
{
    const QString where = folder.isEmpty() ? QDir::homePath() : folder;
    // The engines take the path as one argument, never through a shell: a
    // disc named "Rock 'n' Roll" keeps its quotes. Only a slash, which would
    // put the output in another folder, is replaced.
    QString name = outputName.value_or(QString());
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    // A leading point marks a hidden file, not an extension.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    // The extension as the file converter chooses it ("m4v" stays for "mp4").
    const QString extension
        = dot > 0 ? OutputFileName(QLatin1Char('x') + name.mid(dot), suffix).mid(2) : suffix;
    return DNUniqueFilePath(where,
        (base.isEmpty() ? QStringLiteral("Untitled") : base) + middle + QLatin1Char('.')
            + extension,
        0);
}

QString MEncoderVolumeFilter(quint32 percent)
{
    if (percent == 100)
        return QStringLiteral("volnorm=1");
    const double decibels = percent == 0 ? -200.0 : 20.0 * std::log10(percent / 100.0);
    return QStringLiteral("volume=%1").arg(decibels, 0, 'f', 1);
}

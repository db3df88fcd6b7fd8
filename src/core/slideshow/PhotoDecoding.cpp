#include "slideshow/PhotoDecoding.h"

#include "slideshow/CmykJpeg.h"
#include "slideshow/CmykTiff.h"
#include "slideshow/EmbeddedProfile.h"

#include <QColorSpace>
#include <QImageReader>
#include <QTransform>

#include <lcms2.h>

#include <memory>

namespace {

struct ProfileClose {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileClose>;

struct TransformDelete {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using Transform = std::unique_ptr<void, TransformDelete>;

// A grey picture held as red, green, blue and alpha bytes: the grey is the
// first byte of each four.
constexpr cmsUInt32Number kGreyInRgba
    = COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(3);

// Perceptual, as colour-managed viewers and the colour engine's own tools
// take a photo when asked nothing else: a print or table-based profile then
// brings colours the screen cannot show smoothly into its range instead of
// clipping them. Matrix profiles (most camera and screen ones) give the same
// either way. The output's fourth byte is left as it is: the alpha stays.
Transform transformToSrgb(cmsHPROFILE from, cmsUInt32Number format)
{
    const Profile srgb(cmsCreate_sRGBProfile());
    return Transform(
        cmsCreateTransform(from, format, srgb.get(), TYPE_RGBA_8, INTENT_PERCEPTUAL, 0));
}

QString spaceName(cmsColorSpaceSignature space)
{
    QByteArray name(4, ' ');
    for (int at = 0; at < 4; ++at)
        name[at] = char((space >> (8 * (3 - at))) & 0xFF);
    return QString::fromLatin1(name).trimmed();
}

QImage upright(QImage image, QImageIOHandler::Transformations turn)
{
    image = std::move(image).mirrored(turn.testFlag(QImageIOHandler::TransformationMirror),
        turn.testFlag(QImageIOHandler::TransformationFlip));
    if (turn.testFlag(QImageIOHandler::TransformationRotate90))
        image = image.transformed(QTransform().rotate(90));
    return image;
}

QString samplesName(StoredSamples samples)
{
    switch (samples) {
    case StoredSamples::Grey:
        return QStringLiteral("grey");
    case StoredSamples::Rgb:
        return QStringLiteral("red, green and blue");
    case StoredSamples::Cmyk:
        return QStringLiteral("CMYK inks");
    case StoredSamples::Unknown:
        break;
    }
    return QStringLiteral("red, green and blue or grey");
}

// Whether a profile of `space` says what the numbers `samples` mean. A grey
// picture takes an RGB profile as red, green and blue all equal, as the
// browsers show it: it stays a grey, in the profile's tones. The other way
// round, a grey profile would read a colour picture's red as its grey and
// throw its green and blue away.
bool fits(cmsColorSpaceSignature space, StoredSamples samples)
{
    switch (samples) {
    case StoredSamples::Grey:
        return space == cmsSigGrayData || space == cmsSigRgbData;
    case StoredSamples::Rgb:
        return space == cmsSigRgbData;
    case StoredSamples::Cmyk:
        return space == cmsSigCmykData;
    case StoredSamples::Unknown:
        break;
    }
    return space == cmsSigGrayData || space == cmsSigRgbData;
}

// The picture as the reader decoded it, its numbers taken through `profile`;
// the reason when they cannot be.
QString applyToDecoded(QImage& image, cmsHPROFILE profile)
{
    const cmsColorSpaceSignature space = cmsGetColorSpace(profile);
    const Transform transform
        = transformToSrgb(profile, space == cmsSigGrayData ? kGreyInRgba : TYPE_RGBA_8);
    if (!transform)
        return QStringLiteral("the colour engine cannot use the %1 profile").arg(spaceName(space));
    QImage pixels = image.convertToFormat(
        image.hasAlphaChannel() ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
    uchar* bits = pixels.bits();
    const auto rowBytes = static_cast<cmsUInt32Number>(pixels.bytesPerLine());
    cmsDoTransformLineStride(transform.get(), bits, bits,
        static_cast<cmsUInt32Number>(pixels.width()), static_cast<cmsUInt32Number>(pixels.height()),
        rowBytes, rowBytes, 0, 0);
    image = std::move(pixels);
    return {};
}

// The light of `samples` through the CMYK `profile`; null when the colour
// engine cannot use it.
QImage lightThroughProfile(const CmykSamples& samples, cmsHPROFILE profile)
{
    const cmsUInt32Number format = samples.sixteenBits ? TYPE_CMYK_16
        : samples.inverted                             ? TYPE_CMYK_8_REV
                                                       : TYPE_CMYK_8;
    const Transform transform = transformToSrgb(profile, format);
    if (!transform)
        return {};
    QImage light(samples.size, QImage::Format_RGBX8888);
    light.fill(Qt::white);
    cmsDoTransformLineStride(transform.get(), samples.inks.constData(), light.bits(),
        static_cast<cmsUInt32Number>(light.width()), static_cast<cmsUInt32Number>(light.height()),
        static_cast<cmsUInt32Number>(4 * light.width() * (samples.sixteenBits ? 2 : 1)),
        static_cast<cmsUInt32Number>(light.bytesPerLine()), 0, 0);
    return light;
}

// The light of inks that name no profile, by the rule of thumb the image
// reader and the TIFF library use: each ink keeps its share of the light the
// black leaves.
QImage lightByRuleOfThumb(const CmykSamples& samples)
{
    QImage light(samples.size, QImage::Format_RGBX8888);
    const auto* eightBits = reinterpret_cast<const uchar*>(samples.inks.constData());
    const auto* sixteenBits = reinterpret_cast<const quint16*>(samples.inks.constData());
    const auto ink = [&](qsizetype at) {
        const int value = samples.sixteenBits ? sixteenBits[at] >> 8 : eightBits[at];
        return samples.inverted ? 255 - value : value;
    };
    for (int y = 0; y < light.height(); ++y) {
        uchar* row = light.scanLine(y);
        for (int x = 0; x < light.width(); ++x) {
            const qsizetype at = (qsizetype(y) * light.width() + x) * 4;
            const int left = 255 - ink(at + 3);
            for (int colour = 0; colour < 3; ++colour)
                row[4 * x + colour] = uchar((255 - ink(at + colour)) * left / 255);
            row[4 * x + 3] = 255;
        }
    }
    return light;
}

// `light` at the size the reader was asked for, turned as the reader turns
// its pictures upright.
QImage asTheReaderGivesIt(const QImage& light, const QImageReader& reader)
{
    return upright(light.scaled(reader.scaledSize(), Qt::IgnoreAspectRatio,
                       Qt::SmoothTransformation),
        reader.transformation());
}

QString profileMisfit(cmsHPROFILE profile, StoredSamples samples)
{
    return QStringLiteral("a %1 profile on a picture of %2")
        .arg(spaceName(cmsGetColorSpace(profile)), samplesName(samples));
}

// A CMYK JPEG decoded again from its inks, which the reader's picture has
// lost, at the reader's size and turned as the reader turned it.
QString applyToInks(QImageReader& reader, QImage& image, cmsHPROFILE profile)
{
    QString error;
    const std::optional<CmykSamples> samples
        = decodeCmykJpeg(*reader.device(), reader.scaledSize(), error);
    if (!samples)
        return QStringLiteral("its inks cannot be read (%1)").arg(error);
    const QImage light = lightThroughProfile(*samples, profile);
    if (light.isNull())
        return QStringLiteral("the colour engine cannot use the CMYK profile");
    image = asTheReaderGivesIt(light, reader);
    return {};
}

// A CMYK TIFF, whose inks the image reader reads at 8 bits only and turns
// into light by a rule of thumb, read by the TIFF library, whole, and taken
// through the profile it carries; without one (or with one that cannot be
// applied, the reason in `profileProblem`) by the rule of thumb. Null, with
// the reason in `error`, when its inks cannot be read.
QImage cmykTiffPicture(
    QImageReader& reader, const QByteArray& icc, QString& error, QString& profileProblem)
{
    const std::optional<CmykSamples> samples = decodeCmykTiff(*reader.device(), error);
    if (!samples)
        return {};
    QImage light;
    if (!icc.isEmpty()) {
        const Profile profile(
            cmsOpenProfileFromMem(icc.constData(), static_cast<cmsUInt32Number>(icc.size())));
        if (!profile)
            profileProblem = QStringLiteral("not a colour profile that can be read");
        else if (!fits(cmsGetColorSpace(profile.get()), StoredSamples::Cmyk))
            profileProblem = profileMisfit(profile.get(), StoredSamples::Cmyk);
        else if (light = lightThroughProfile(*samples, profile.get()); light.isNull())
            profileProblem = QStringLiteral("the colour engine cannot use the CMYK profile");
    }
    const bool managed = !light.isNull();
    QImage image = asTheReaderGivesIt(managed ? light : lightByRuleOfThumb(*samples), reader);
    if (managed)
        image.setColorSpace(QColorSpace::SRgb);
    return image;
}

// Frames and screens show sRGB. A photo's numbers shown as they stand come
// out dull, off in hue or, for print work in CMYK, far off; a photo that
// names no profile is sRGB already, as every viewer takes it. The reason
// when the file's profile cannot be applied.
QString bringToSrgb(QImageReader& reader, QImage& image, EmbeddedProfile embedded)
{
    const QColorSpace understood = image.colorSpace();
    if (understood == QColorSpace(QColorSpace::SRgb) || !reader.device())
        return {};
    // Qt also takes a colour space from other marks, such as PNG's gamma.
    if (embedded.icc.isEmpty())
        embedded.icc = understood.iccProfile();
    if (embedded.icc.isEmpty())
        return {};
    const Profile profile(cmsOpenProfileFromMem(
        embedded.icc.constData(), static_cast<cmsUInt32Number>(embedded.icc.size())));
    // No reading of a profile for other numbers is right, the image reader's
    // own neither: the numbers stay as they are.
    if (profile && !fits(cmsGetColorSpace(profile.get()), embedded.samples))
        return profileMisfit(profile.get(), embedded.samples);
    const QString problem = !profile ? QStringLiteral("not a colour profile that can be read")
        : embedded.isCmykJpeg()      ? applyToInks(reader, image, profile.get())
                                     : applyToDecoded(image, profile.get());
    if (problem.isEmpty()) {
        image.setColorSpace(QColorSpace::SRgb);
        return {};
    }
    if (understood.isValid()) {
        image.convertToColorSpace(QColorSpace::SRgb);
        return {};
    }
    return problem;
}

} // namespace

QImage decodeFittedPhoto(QImageReader& reader, QSize box, QString& error, QString& profileProblem)
{
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (!stored.isValid()) {
        error = reader.errorString();
        return {};
    }
    // The reader scales before it turns the picture upright, so a picture
    // stored on its side is scaled with its sides swapped.
    const bool onItsSide
        = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    const QSize shown = onItsSide ? stored.transposed() : stored;
    const QSize fitted = shown.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    reader.setScaledSize(onItsSide ? fitted.transposed() : fitted);
    const EmbeddedProfile embedded
        = reader.device() ? readEmbeddedProfile(*reader.device()) : EmbeddedProfile();
    if (embedded.isCmykTiff())
        return cmykTiffPicture(reader, embedded.icc, error, profileProblem);
    QImage image = reader.read();
    if (image.isNull()) {
        error = reader.errorString();
        return {};
    }
    // A format that cannot scale while it decodes hands over the whole picture.
    if (image.size() != fitted)
        image = image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // Converted once it is small: the conversion costs by the pixel.
    profileProblem = bringToSrgb(reader, image, embedded);
    return image;
}

QString photoHeaderProblem(QIODevice& device)
{
    return readEmbeddedProfile(device).isCmykTiff() ? cmykTiffProblem(device) : QString();
}

QString profileNotAppliedLine(const QString& photo, const QString& problem)
{
    return QStringLiteral("The colour profile of the photo %1 cannot be applied (%2): its colours "
                          "are shown as the file stores them.")
        .arg(photo, problem);
}

// Photos whose files carry colour profiles, made with the colour engine at
// test time, decoded as the album's pictures and the slideshow's frames are,
// and compared with the engine's own conversion of the same numbers.
#include "slideshow/PhotoDecoding.h"

#include "platform/DNLogger.h"
#include "slideshow/ThumbnailOfImage.h"

#include "fixtures/ProfiledPhotos.h"
#include "support/TestFiles.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using ProfiledPhotos::Samples;

// Bands 32 pixels wide and high, as the fixtures' CMYK JPEGs have them.
constexpr int kBand = 32;

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 100);
    return bytes;
}

QImage greyBands(const QList<int>& levels)
{
    QImage image(kBand * int(levels.size()), kBand, QImage::Format_Grayscale8);
    for (int band = 0; band < levels.size(); ++band)
        for (int y = 0; y < kBand; ++y)
            std::memset(image.scanLine(y) + band * kBand, levels[band], kBand);
    return image;
}

QImage rgbBands(const QList<QColor>& colours, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(kBand * int(colours.size()), kBand, format);
    for (int band = 0; band < colours.size(); ++band)
        for (int y = 0; y < kBand; ++y)
            for (int x = 0; x < kBand; ++x)
                image.setPixelColor(band * kBand + x, y, colours[band]);
    return image;
}

struct Decoded {
    QImage picture;
    QString error;
    QString profileProblem;
};

Decoded decode(const QString& path, QSize box)
{
    QImageReader reader(path);
    Decoded decoded;
    decoded.picture = decodeFittedPhoto(reader, box, decoded.error, decoded.profileProblem);
    return decoded;
}

// The middle of band `band`, the bands running across, or down when the
// photo is shown turned.
QColor bandColour(const QImage& picture, int band, bool turned)
{
    return turned ? picture.pixelColor(kBand / 2, band * kBand + kBand / 2)
                  : picture.pixelColor(band * kBand + kBand / 2, kBand / 2);
}

int distance(QColor seen, QColor truth)
{
    return std::max({ std::abs(seen.red() - truth.red()), std::abs(seen.green() - truth.green()),
        std::abs(seen.blue() - truth.blue()) });
}

QString logText()
{
    QFile log(DNLogger::shareRoughLog().path());
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

struct ProfiledCase {
    const char* name;
    QByteArray file;
    QList<QColor> truth;
    bool turned = false;
    int alpha = 255;
};

QList<ProfiledCase> profiledCases()
{
    const QByteArray cmyk = ProfiledPhotos::cmykProfile();
    const QByteArray grey = ProfiledPhotos::greyLabProfile();
    const QByteArray rgb = ProfiledPhotos::rgbTableProfile();
    // Red, full black, a grey of black ink alone, a rich blue.
    const QList<std::array<int, 4>> inks { { 0, 255, 255, 0 }, { 0, 0, 0, 255 }, { 0, 0, 0, 128 },
        { 230, 140, 20, 30 } };
    QList<QColor> inkTruth;
    QList<QColor> ruleOfThumb; // each ink keeps its share of the light the black leaves
    for (const auto& ink : inks) {
        inkTruth << ProfiledPhotos::inSrgb(cmyk, Samples::Cmyk, { ink[0], ink[1], ink[2], ink[3] });
        const int left = 255 - ink[3];
        ruleOfThumb << QColor((255 - ink[0]) * left / 255, (255 - ink[1]) * left / 255,
            (255 - ink[2]) * left / 255);
    }
    const QList<int> levels { 40, 100, 128, 180, 235 };
    QList<QColor> greyTruth;
    for (const int level : levels)
        greyTruth << ProfiledPhotos::inSrgb(grey, Samples::Grey, { level });
    const QList<QColor> colours { QColor(200, 40, 40), QColor(30, 160, 60), QColor(40, 60, 210) };
    QList<QColor> seeThrough;
    for (QColor colour : colours) {
        colour.setAlpha(100);
        seeThrough << colour;
    }
    QList<QColor> greyThroughRgb;
    for (const int level : levels)
        greyThroughRgb << ProfiledPhotos::inSrgb(rgb, Samples::Rgb, { level, level, level });
    QList<QColor> rgbTruth;
    for (const QColor& colour : colours)
        rgbTruth << ProfiledPhotos::inSrgb(
            rgb, Samples::Rgb, { colour.red(), colour.green(), colour.blue() });
    return {
        { "CMYK JPEG with an Adobe marker", ProfiledPhotos::cmykJpeg(inks, cmyk, true), inkTruth },
        { "CMYK JPEG without one", ProfiledPhotos::cmykJpeg(inks, cmyk, false), inkTruth },
        // EXIF orientation 6: shown turned a quarter clockwise.
        { "CMYK JPEG stored on its side", ProfiledPhotos::cmykJpeg(inks, cmyk, true, 6), inkTruth,
            true },
        { "16-bit CMYK TIFF", ProfiledPhotos::cmykTiff(inks, cmyk, 16), inkTruth },
        { "8-bit CMYK TIFF", ProfiledPhotos::cmykTiff(inks, cmyk, 8), inkTruth },
        { "16-bit CMYK TIFF without a profile", ProfiledPhotos::cmykTiff(inks, {}, 16),
            ruleOfThumb },
        { "grey JPEG, Lab profile",
            ProfiledPhotos::withJpegProfile(encoded(greyBands(levels), "jpeg"), grey), greyTruth },
        { "grey PNG, Lab profile",
            ProfiledPhotos::withPngProfile(encoded(greyBands(levels), "png"), grey), greyTruth },
        { "grey TIFF, Lab profile", ProfiledPhotos::greyTiff(greyBands(levels), grey, 1),
            greyTruth },
        { "grey TIFF stored on its side", ProfiledPhotos::greyTiff(greyBands(levels), grey, 6),
            greyTruth, true },
        { "RGB JPEG, table profile",
            ProfiledPhotos::withJpegProfile(encoded(rgbBands(colours), "jpeg"), rgb), rgbTruth },
        // Red, green and blue all equal: a grey, in the profile's tones.
        { "grey JPEG, RGB table profile",
            ProfiledPhotos::withJpegProfile(encoded(greyBands(levels), "jpeg"), rgb),
            greyThroughRgb },
        { "RGB PNG seen through, table profile",
            ProfiledPhotos::withPngProfile(
                encoded(rgbBands(seeThrough, QImage::Format_ARGB32), "png"), rgb),
            rgbTruth, false, 100 },
    };
}

} // namespace

// Every kind of profile a photo carries (grey, RGB, CMYK; Lab or XYZ as the
// connection) brings its numbers to the colours the colour engine makes of
// them, however the reader would have drawn them.
TEST(PhotoDecoding, PhotosTakeTheColoursTheirProfilesMean)
{
    QTemporaryDir folder;
    for (const ProfiledCase& photo : profiledCases()) {
        SCOPED_TRACE(photo.name);
        const QString path = folder.filePath(QString::fromLatin1(photo.name));
        ASSERT_TRUE(writeTestFile(path, photo.file));
        const QSize size(kBand * int(photo.truth.size()), kBand);
        const Decoded decoded = decode(path, photo.turned ? size.transposed() : size);
        ASSERT_FALSE(decoded.picture.isNull()) << decoded.error.toStdString();
        EXPECT_EQ(decoded.profileProblem, QString());
        EXPECT_EQ(decoded.picture.size(), photo.turned ? size.transposed() : size);
        for (int band = 0; band < photo.truth.size(); ++band) {
            const QColor seen = bandColour(decoded.picture, band, photo.turned);
            EXPECT_EQ(seen.alpha(), photo.alpha) << "band " << band;
            EXPECT_LE(distance(seen, photo.truth[band]), 3)
                << "band " << band << " is " << seen.name().toStdString() << ", the profile says "
                << photo.truth[band].name().toStdString();
        }
    }
}

// A CMYK photo scaled down while it is decoded keeps its colours.
TEST(PhotoDecoding, ACmykPhotoDecodedSmallerKeepsItsColours)
{
    const QByteArray cmyk = ProfiledPhotos::cmykProfile();
    const std::array<int, 4> ink { 200, 30, 90, 10 };
    QTemporaryDir folder;
    const QString path = folder.filePath("wide.jpg");
    ASSERT_TRUE(writeTestFile(
        path, ProfiledPhotos::cmykJpeg(QList<std::array<int, 4>>(16, ink), cmyk, true)));
    const Decoded decoded = decode(path, QSize(64, 64));
    ASSERT_EQ(decoded.picture.size(), QSize(64, 4));
    const QColor truth = ProfiledPhotos::inSrgb(cmyk, Samples::Cmyk, { 200, 30, 90, 10 });
    EXPECT_LE(distance(decoded.picture.pixelColor(32, 2), truth), 3)
        << decoded.picture.pixelColor(32, 2).name().toStdString();
}

// A profile that cannot be read, or that is for other numbers than the
// photo's, leaves the picture as the reader draws it, and says why; the
// album's pictures put that in the log. A grey profile copied onto a colour
// photo would turn its red grey and its green black.
TEST(PhotoDecoding, AProfileThatCannotBeAppliedLeavesThePictureAndSaysWhy)
{
    const QList<int> levels { 60, 128, 200 };
    const QByteArray greyJpeg = encoded(greyBands(levels), "jpeg");
    const QImage colours = rgbBands({ QColor(200, 40, 40), QColor(40, 200, 40), Qt::blue });
    const QByteArray rgbJpeg = encoded(colours, "jpeg");
    const QByteArray greyGamma = ProfiledPhotos::greyGammaProfile();
    QByteArray rgbSamples;
    for (int y = 0; y < colours.height(); ++y)
        for (int x = 0; x < colours.width(); ++x) {
            const QColor colour = colours.pixelColor(x, y);
            rgbSamples += char(colour.red()) + QByteArray(1, char(colour.green()))
                + char(colour.blue());
        }
    const std::array<int, 4> ink { 0, 255, 255, 0 };
    const struct {
        const char* name;
        QByteArray file;
        const char* problem;
    } cases[] = {
        { "no profile at all", ProfiledPhotos::withJpegProfile(rgbJpeg, QByteArray(300, 'x')),
            "not a colour profile that can be read" },
        { "a CMYK profile on a grey photo",
            ProfiledPhotos::withJpegProfile(greyJpeg, ProfiledPhotos::cmykProfile()), "CMYK" },
        { "a grey profile on an RGB JPEG", ProfiledPhotos::withJpegProfile(rgbJpeg, greyGamma),
            "GRAY profile on a picture of red, green and blue" },
        { "a grey profile on an RGB PNG",
            ProfiledPhotos::withPngProfile(encoded(colours, "png"), greyGamma), "GRAY" },
        { "a grey profile on an RGB TIFF",
            ProfiledPhotos::tiff(rgbSamples, colours.size(), 3, 8, 2, greyGamma), "GRAY" },
        { "a grey profile on a CMYK photo",
            ProfiledPhotos::cmykJpeg({ ink, ink }, ProfiledPhotos::greyLabProfile(), true),
            "GRAY" },
    };
    QTemporaryDir folder;
    for (const auto& photo : cases) {
        SCOPED_TRACE(photo.name);
        const QString path = folder.filePath(QString::fromLatin1(photo.name));
        ASSERT_TRUE(writeTestFile(path, photo.file));
        const QImage asRead = QImageReader(path).read();
        const Decoded decoded = decode(path, asRead.size());
        EXPECT_TRUE(decoded.profileProblem.contains(QString::fromLatin1(photo.problem)))
            << decoded.profileProblem.toStdString();
        ASSERT_EQ(decoded.picture.size(), asRead.size());
        for (int band = 0; band < asRead.width() / kBand; ++band)
            EXPECT_LE(
                distance(bandColour(decoded.picture, band, false), bandColour(asRead, band, false)),
                1);
        ThumbnailOfImage(path, asRead.width(), asRead.height());
        EXPECT_TRUE(logText().contains(
            QStringLiteral("The colour profile of the photo %1 cannot be applied").arg(path)));
    }
}

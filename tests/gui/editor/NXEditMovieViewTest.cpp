#include "editor/NXEditMovieView.h"

#include "builders/video/BuilderServices.h"
#include "engine/EncodeConfig.h"
#include "model/DNFileNode.h"
#include "profiles/DNProfile.h"
#include "support/EncodeWords.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QImage solidPicture(QSize size, QRgb colour)
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(colour);
    return picture;
}

QImage grabbed(NXEditMovieView& view)
{
    return view.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TEST(NXEditMovieView, ColourValuesPresetsAndSteps)
{
    NXEditMovieView view;
    view.resetColorAdjust();
    EXPECT_EQ(view.transformedContrast(), -60);
    EXPECT_EQ(view.transformedGamma(), -55);
    EXPECT_EQ(
        view.transformedBrightness() | view.transformedSaturation() | view.transformedHue(), 0);

    view.setInternalEffectIndex(1);
    EXPECT_EQ(view.hue(), 1.0);
    EXPECT_EQ(view.saturation(), 0.25);
    view.setInternalEffectIndex(0);
    EXPECT_EQ(view.saturation(), 0.0);
    view.setBrightness(0.3);
    view.setInternalEffectIndex(0);
    EXPECT_EQ(view.brightness(), 0.3);
    view.setInternalEffectIndex(7);
    EXPECT_EQ(view.brightness(), 0.0);
    EXPECT_EQ(view.saturation(), 1.0);

    view.tinyAddValue('g');
    EXPECT_DOUBLE_EQ(view.gamma(), 0.75 + 0.0145);
    view.tinyReduceValue('C');
    view.tinyReduceValue('x');
    EXPECT_DOUBLE_EQ(view.contrast(), 1.0 - 0.01875);
}

TEST(NXEditMovieView, RotationAndCropSettings)
{
    NXEditMovieView view;
    std::vector<int> degrees;
    for (int turn = 0; turn < 4; ++turn) {
        view.rotateLeft90();
        degrees.push_back(view.rotationDegress());
    }
    EXPECT_EQ(degrees, (std::vector<int> { 90, 180, 270, 360 }));
    view.setRotateDegress(-90, true);
    EXPECT_EQ(view.rotationDegress(), 270);
    EXPECT_TRUE(view.isFlippedHorizontal());

    view.setCropRectPercent(QRectF(0.1, 0.1, 0.8, 0.8));
    EXPECT_EQ(view.cropRect(), QRectF());
    view.setCurrentVideoFrame(solidPicture({ 640, 360 }, qRgb(0, 0, 0)));
    view.setCropRectPercent(QRectF(0.1, 0.1, 0.8, 0.8));
    EXPECT_EQ(view.cropRect(), QRectF(64, 36, 512, 288));
    view.setCropRectPercent(QRectF(0.5, 0.5, 0.8, 0.8));
    EXPECT_EQ(view.cropRect(), QRectF(320, 180, 320, 180));
}

TEST(NXEditMovieView, DrawsFittedOnBlackAndNothingWhileStopped)
{
    NXEditMovieView view;
    view.resize(400, 300);
    view.setCurrentVideoFrame(solidPicture({ 1280, 720 }, qRgb(255, 0, 0)));
    const QImage shown = grabbed(view);
    EXPECT_EQ(shown.pixel(200, 36), qRgb(0, 0, 0));
    EXPECT_EQ(shown.pixel(200, 39), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(200, 261), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(200, 263), qRgb(0, 0, 0));

    // At the initial values the colour effect shows the picture black and white.
    view.setEnableEditEffect(true);
    const QRgb grey = grabbed(view).pixel(200, 150);
    EXPECT_TRUE(qRed(grey) == qGreen(grey) && qGreen(grey) == qBlue(grey)) << grey;
    view.resetColorAdjust();
    EXPECT_EQ(grabbed(view).pixel(200, 150), qRgb(255, 0, 0));

    view.setCurrentVideoFrame(solidPicture({ 1280, 720 }, qRgb(255, 255, 255)));
    view.setMovieStop(true);
    EXPECT_NE(grabbed(view).pixel(200, 150), qRgb(255, 255, 255));
}

// The first picture of `clip` through `graph` (none: as decoded), by the ffmpeg bridge.
QImage converted(const QString& clip, const std::optional<QString>& graph, const QString& out)
{
    QStringList words { "encoder", "-y", "-i", clip };
    if (graph)
        words += QStringList { "-filter_complex", *graph, "-map", "[video]" };
    words += QStringList { "-an", "-frames:v", "1", out };
    EXPECT_EQ(encodeWords(words), 0);
    return QImage(out).convertToFormat(QImage::Format_RGB32);
}

// The picture the view shows, cut out of its fitted place and brought to `size`.
QImage shownAt(NXEditMovieView& view, QSize size)
{
    const QImage picture = view.resultOfImageFilterFromImage(view.currentVideoFrame());
    const QRect place = fittedPictureRect(picture.size(), view.size()).toRect();
    return grabbed(view).copy(place).scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The red corner: 0 top left, 1 top right, 2 bottom left, 3 bottom right; -1 for none.
int redCorner(const QImage& picture)
{
    for (int corner = 0; corner < 4; ++corner) {
        const int x = corner % 2 == 0 ? picture.width() / 20 : picture.width() * 19 / 20;
        const int y = corner / 2 == 0 ? picture.height() / 20 : picture.height() * 19 / 20;
        const QRgb p = picture.pixel(x, y);
        if (qRed(p) > 180 && qGreen(p) < 80 && qBlue(p) < 80)
            return corner;
    }
    return -1;
}

// Share of a 16x16 grid of points where two pictures of one size show about the same colour.
double matchingShare(const QImage& a, const QImage& b)
{
    int matching = 0;
    for (int point = 0; point < 256; ++point) {
        const QPoint at(
            (2 * (point % 16) + 1) * a.width() / 32, (2 * (point / 16) + 1) * a.height() / 32);
        const QRgb p = a.pixel(at);
        const QRgb q = b.pixel(at);
        const int distance = std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
            + std::abs(qBlue(p) - qBlue(q));
        matching += distance < 60 ? 1 : 0;
    }
    return matching / 256.0;
}

struct PreviewCase {
    int angle;
    bool mirror;
    QRectF crop; // fractions, origin at the bottom left; empty: none
    int redCorner;
    QSize size;
    QRect sourcePart = {}; // of the decoded source, top-left rows, that the output shows
};

// A grey testsrc2 clip with coloured squares in its corners, red at the top
// left, shown by the effect view and converted through the builders' filter
// graph with the same setting.
TEST(EditPreviewAgainstOutput, ShowsWhatTheConversionWrites)
{
    const std::vector<PreviewCase> cases = {
        { 0, false, {}, 0, { 320, 180 } },
        { 90, false, {}, 1, { 180, 320 } },
        { 180, false, {}, 3, { 320, 180 } },
        { 270, false, {}, 2, { 180, 320 } },
        { 0, true, {}, 1, { 320, 180 } },
        { 90, true, {}, 0, { 180, 320 } },
        { 180, true, {}, 2, { 320, 180 } },
        { 270, true, {}, 3, { 180, 320 } },
        // The bottom-left quarter holds the blue square, not the red one.
        { 0, false, { 0, 0, 0.5, 0.5 }, -1, { 160, 90 }, { 0, 90, 160, 90 } },
        { 90, false, { 0, 0.5, 0.5, 0.5 }, 1, { 90, 160 } },
    };
    QTemporaryDir dir;
    const QString clip = dir.filePath("marker.mp4");
    ASSERT_EQ(
        encodeWords({ "encoder", "-y", "-f", "lavfi", "-i",
            "testsrc2=size=320x180:rate=25:duration=0.4,hue=s=0,"
            "drawbox=x=0:y=0:w=40:h=40:c=red:t=fill,drawbox=x=280:y=0:w=40:h=40:c=lime:t=fill,"
            "drawbox=x=0:y=140:w=40:h=40:c=blue:t=fill,drawbox=x=280:y=140:w=40:h=40:c=yellow:t="
            "fill",
            "-c:v", "libx264", "-pix_fmt", "yuv420p", clip }),
        0);
    auto node = DNFileNode::fileNodeWithFile(clip);
    ASSERT_TRUE(node);
    auto profile = std::make_shared<DNProfile>();
    profile->videoResolution().setChoices("keep origin", { "keep origin" });
    node->setProfile(profile);
    node->setting().setSubtitleIndex(-1);
    const QImage source = converted(clip, std::nullopt, dir.filePath("source.png"));
    ASSERT_EQ(source.size(), QSize(320, 180));

    for (const auto& c : cases) {
        const std::string label = std::to_string(c.angle) + (c.mirror ? " mirrored" : "")
            + (c.crop.isEmpty() ? "" : " cropped");
        node->setting().setRotationAngle(c.angle);
        node->setting().setMirror(c.mirror);
        node->setting().setCropEnable(!c.crop.isEmpty());
        node->setting().setCropRectPercent(c.crop.isEmpty() ? QRectF(0, 0, 1, 1) : c.crop);
        const QImage output = converted(clip,
            GenVideoFilterChain(*node, {}, false, false, EncodeConfig()), dir.filePath("out.png"));

        NXEditMovieView view;
        view.resize(400, 300);
        view.setCurrentVideoFrame(source);
        view.setEnableCropEffect(!c.crop.isEmpty());
        if (!c.crop.isEmpty())
            view.setCropRectPercent(c.crop);
        view.setRotateDegress(c.angle, c.mirror);

        EXPECT_EQ(output.size(), c.size) << label;
        EXPECT_EQ(redCorner(output), c.redCorner) << label;
        EXPECT_GT(matchingShare(shownAt(view, output.size()), output), 0.85) << label;
        if (!c.sourcePart.isEmpty()) {
            EXPECT_GT(matchingShare(source.copy(c.sourcePart), output), 0.85) << label;
        }
    }
}

} // namespace

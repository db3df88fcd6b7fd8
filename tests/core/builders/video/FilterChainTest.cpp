#include "builders/video/BuilderServices.h"

#include "core/profiles/ProfileTestSupport.h"
#include "engine/EncodeConfig.h"
#include "model/DNFileNode.h"
#include "profiles/DNProfile.h"
#include "support/RunFfmpeg.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <tuple>
#include <utility>

namespace {

// A Matroska file node (selected by index) with one picture of `size`.
std::shared_ptr<DNFileNode> clipNode(QSize size, const QString& frameSize)
{
    auto node = std::make_shared<DNFileNode>(QStringLiteral("/media/clip.mkv"));
    node->setFileFormat(QStringLiteral("Matroska"));
    DNTVideo video;
    video.vid = 0;
    video.width = size.width();
    video.height = size.height();
    node->setVideoTracks({ video });
    auto profile = std::make_shared<DNProfile>();
    profile->videoResolution().setChoices(frameSize, { frameSize });
    node->setProfile(profile);
    return node;
}

std::shared_ptr<DNFileNode> node640x360(const QString& frameSize = QStringLiteral("keep origin"))
{
    return clipNode({ 640, 360 }, frameSize);
}

// The crop `filter` as the engine makes it of a picture of `size`: x, y,
// width and height. Each pixel of the picture it crops tells its own place.
std::array<int, 4> engineCrop(const QString& filter, QSize size)
{
    QByteArray raw;
    const QString picture
        = QStringLiteral("nullsrc=s=%1x%2:d=0.04,format=gbrp,geq=r='mod(X,256)':g='mod(Y,256)':"
                         "b='trunc(X/256)+16*trunc(Y/256)',")
              .arg(size.width())
              .arg(size.height());
    if (!runFfmpeg({ "-f", "lavfi", "-i", picture + filter, "-frames:v", "1", "-pix_fmt", "rgb24",
                       "-f", "rawvideo", "-" },
            &raw)
        || raw.size() < 3)
        return {};
    const auto place = [&raw](qsizetype at) {
        const int high = quint8(raw[at + 2]);
        return QPoint(quint8(raw[at]) + 256 * (high % 16), quint8(raw[at + 1]) + 256 * (high / 16));
    };
    const QPoint first = place(0);
    const QPoint last = place(raw.size() - 3);
    return { first.x(), first.y(), last.x() - first.x() + 1, last.y() - first.y() + 1 };
}

// A green 40x20 logo in `dir`.
QString savedLogo(const QTemporaryDir& dir)
{
    QImage logo(40, 20, QImage::Format_RGB32);
    logo.fill(Qt::green);
    const QString path = dir.filePath(QStringLiteral("logo.png"));
    EXPECT_TRUE(logo.save(path));
    return path;
}

void addWholePictureWatermark(DNFileNode& node, const QString& logo)
{
    node.setEnableWatermark(true);
    node.setTypeOfWatermark(DNBaseEditSetting::kWatermarkImage);
    node.setImagePathOfWatermark(logo);
    node.setting().setWatermarkRectPercent(QRectF(0, 0, 1, 1));
}

struct ChainCase {
    const char* label;
    QString frameSize;
    std::function<void(DNFileNode&, EncodeConfig&)> edit;
    bool expand;
    QString prefix;
    std::optional<QString> expected;
};

TEST(GenVideoFilterChain, OrdersTheFiltersAndPadsOnlyWhenExpanding)
{
    const QString scale720
        = QStringLiteral("scale=720:480:force_original_aspect_ratio=decrease:force_divisible_by=4");
    const QString pad720 = QStringLiteral("pad=720:480:(ow-iw)/2:(oh-ih)/2");
    const auto none = [](DNFileNode&, EncodeConfig&) {};
    const std::vector<ChainCase> cases = {
        { "nothing to do", "keep origin", none, true, {}, std::nullopt },
        { "prefix only", "keep origin", none, false, "setpts=N/(FRAME_RATE*TB)",
            "[0:v:0]setpts=N/(FRAME_RATE*TB)[video]" },
        { "scale without pad", "720x480", none, false, {}, "[0:v:0]" + scale720 + "[video]" },
        { "scale and pad", "720x480", none, true, {},
            "[0:v:0]" + scale720 + "," + pad720 + "[video]" },
        { "every edit in order", "720x480",
            [](DNFileNode& n, EncodeConfig& c) {
                c.deinterlace = true;
                n.setting().setCropEnable(true);
                n.setting().setCropRectPercent(QRectF(0.25, 0.1, 0.5, 0.5));
                n.setting().setMirror(true);
                n.setting().setRotationAngle(-90);
            },
            true, "setpts=N/(FRAME_RATE*TB)",
            "[0:v:0]yadif=0,crop=trunc(iw*0.5/2)*2:trunc(ih*0.5/2)*2:trunc(iw*0.25):trunc(ih*0.4),"
                + scale720 + "," + pad720
                + ",transpose=cclock,hflip,setpts=N/(FRAME_RATE*TB)[video]" },
        { "whole-picture crop is no crop", "keep origin",
            [](DNFileNode& n, EncodeConfig&) {
                n.setting().setCropEnable(true);
                n.setting().setRotationAngle(540);
            },
            false, {}, "[0:v:0]hflip,vflip[video]" },
        { "crop switched off", "keep origin",
            [](DNFileNode& n, EncodeConfig&) {
                n.setting().setCropRectPercent(QRectF(0.25, 0.25, 0.5, 0.5));
                n.setting().setRotationAngle(90);
            },
            false, {}, "[0:v:0]transpose=clock[video]" },
        { "free angle keeps even sides", "keep origin",
            [](DNFileNode& n, EncodeConfig&) { n.setting().setRotationAngle(30); }, false, {},
            "[0:v:0]rotate=0.523598776:ow=trunc(rotw(0.523598776)/2)*2:"
            "oh=trunc(roth(0.523598776)/2)*2:c=black[video]" },
    };
    for (const auto& c : cases) {
        const auto node = node640x360(c.frameSize);
        EncodeConfig config;
        c.edit(*node, config);
        EXPECT_EQ(GenVideoFilterChain(*node, c.prefix, true, c.expand, config), c.expected)
            << c.label;
    }
}

TEST(GenVideoFilterChain, RefusesOrLeavesOutWhatIsNotThere)
{
    const auto node = node640x360(QStringLiteral("720x480"));
    node->setting().setSubtitleIndex(3); // no such subtitle: left out
    EXPECT_EQ(GenVideoFilterChain(*node, {}, true, false, EncodeConfig()),
        QStringLiteral("[0:v:0]scale=720:480:force_original_aspect_ratio=decrease:force_divisible_"
                       "by=4[video]"));
    node->setting().setVideoIndex(1);
    EXPECT_FALSE(GenVideoFilterChain(*node, {}, true, false, EncodeConfig()));
}

TEST(GenVideoFilterChain, BurnsSubtitlesOnlyWhenAsked)
{
    const auto node = node640x360();
    QFile srt(QDir::temp().filePath(QStringLiteral("film.srt")));
    ASSERT_TRUE(srt.open(QIODevice::WriteOnly));
    srt.write("1\n00:00:00,000 --> 00:00:01,000\nHi\n");
    srt.close();
    DNTExtSubtitle external = DNTExtSubtitle::extSubtitleTrack(srt.fileName());
    external.codePage = QStringLiteral("windows-1252");
    DNTSubtitle picture;
    picture.sid = 4;
    node->setSubtitleTracks({ picture, external });

    node->setting().setSubtitleIndex(0);
    EXPECT_EQ(GenVideoFilterChain(*node, {}, true, false, EncodeConfig()),
        QStringLiteral("[0:s:0]tpad=stop=-1:stop_mode=clone[v1];"
                       "[0:v:0][v1]overlay=x=(W-w)/2:y=H-h:shortest=1[video]"));
    EXPECT_FALSE(GenVideoFilterChain(*node, {}, false, false, EncodeConfig()));

    node->setting().setSubtitleIndex(1);
    node->setting().setMirror(true);
    const QString graph = GenVideoFilterChain(*node, {}, true, false, EncodeConfig()).value_or("");
    const QRegularExpression shape(QStringLiteral(
        R"(^\[0:v:0\]hflip\[VA\];\[VA\]subtitles=filename=\\'.*/qzsub\w+\.srt\\'\[video\]$)"));
    EXPECT_TRUE(shape.match(graph).hasMatch()) << graph.toStdString();
}

struct WatermarkCase {
    const char* label;
    QSize size;
    double alpha;
    QSize logo;
    QPoint probe;
    int expectedAlpha; // at the probe
};

TEST(DNFileNodeWatermark, ScalesTheImageIntoTheSizeAtTheOpacity)
{
    const std::vector<WatermarkCase> cases = {
        { "opaque, same shape", { 100, 50 }, 1.0, { 40, 20 }, { 50, 25 }, 255 },
        { "half transparent", { 100, 50 }, 0.5, { 40, 20 }, { 99, 49 }, 128 },
        { "taller logo is centred", { 100, 50 }, 1.0, { 20, 20 }, { 5, 25 }, 0 },
        { "opacity clamped", { 10, 10 }, 7.0, { 10, 10 }, { 0, 0 }, 255 },
    };
    for (const auto& c : cases) {
        QImage logo(c.logo, QImage::Format_RGB32);
        logo.fill(Qt::green);
        const QString logoPath = QDir::temp().filePath(QStringLiteral("wm.png"));
        ASSERT_TRUE(logo.save(logoPath));
        DNFileNode node;
        node.setTypeOfWatermark(DNBaseEditSetting::kWatermarkImage);
        node.setImagePathOfWatermark(logoPath);
        const QImage picture(node.pathOfWatermarkFile(c.size, c.alpha));
        ASSERT_EQ(picture.size(), c.size) << c.label;
        EXPECT_NEAR(qAlpha(picture.pixel(c.probe)), c.expectedAlpha, 1) << c.label;
    }
}

// A watermark over the whole picture is drawn at the size the filters turn it to.
TEST(GenVideoFilterChain, DrawsTheWatermarkAtTheTurnedPictureSize)
{
    QTemporaryDir dir;
    const QString logo = savedLogo(dir);
    const std::tuple<int, const char*, std::pair<int, int>> cases[]
        = { { 90, "keep origin", { 360, 640 } }, { 30, "keep origin", { 734, 630 } },
              { 30, "720x480", { 824, 708 } } };
    for (const auto& [angle, frameSize, expected] : cases) {
        const auto node = node640x360(frameSize);
        addWholePictureWatermark(*node, logo);
        node->setting().setRotationAngle(angle);
        const QString graph = GenVideoFilterChain(*node, {}, true, false, {}).value_or("");
        const QSize drawn = QImage(graph.section("\\'", 1, 1)).size();
        EXPECT_EQ(std::pair(drawn.width(), drawn.height()), expected) << angle << " " << frameSize;
    }
}

// A crop drawn or typed in the editor's pixels (top-left origin) reaches the
// engine as those very rows and columns, sides evened down, and a watermark
// over the whole picture is drawn at the cropped size. At 9 digits, these
// rows' fractions fall a hair short of the pixel.
TEST(GenVideoFilterChain, CropsAtTheDrawnPixels)
{
    QTemporaryDir dir;
    const QString logo = savedLogo(dir);
    const struct {
        const char* label;
        QSize picture;
        QRect drawn;
        std::array<int, 4> expected; // the engine's crop: x, y, width, height
    } cases[] = {
        { "phone clip, top 334", { 1080, 1920 }, { 0, 334, 1080, 1252 }, { 0, 334, 1080, 1252 } },
        { "phone clip, side margins", { 1080, 1920 }, { 40, 334, 1000, 1252 },
            { 40, 334, 1000, 1252 } },
        { "16:9 border", { 1920, 1080 }, { 16, 2, 1888, 1076 }, { 16, 2, 1888, 1076 } },
        { "PAL 4:3 border", { 720, 576 }, { 34, 2, 652, 572 }, { 34, 2, 652, 572 } },
        { "PAL 4:3, odd width", { 720, 576 }, { 8, 72, 705, 432 }, { 8, 72, 704, 432 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto node = clipNode(c.picture, QStringLiteral("keep origin"));
        node->setting().setCropEnable(true);
        node->setCropRect(QRectF(c.drawn.x(), c.picture.height() - c.drawn.y() - c.drawn.height(),
            c.drawn.width(), c.drawn.height()));
        addWholePictureWatermark(*node, logo);
        const QString graph = GenVideoFilterChain(*node, {}, true, false, {}).value_or("");
        static const QRegularExpression crop(QStringLiteral("crop=[^,;\\[]+"));
        const QString filter = crop.match(graph).captured();
        ASSERT_FALSE(filter.isEmpty()) << graph.toStdString();
        EXPECT_EQ(engineCrop(filter, c.picture), c.expected) << graph.toStdString();
        EXPECT_EQ(QImage(graph.section("\\'", 1, 1)).size(), QSize(c.expected[2], c.expected[3]));
    }
}

// Before anything is drawn on it, the picture is brought to what the output's
// encoder takes: an odd side it cannot take loses its last pixel (the
// watermark is drawn at that size), and HDR becomes SDR where the output is.
TEST(GenVideoFilterChain, BringsThePictureToWhatTheEncoderTakes)
{
    QTemporaryDir dir;
    const QString logo = savedLogo(dir);
    const PictureTarget yuv420 { true, true, true };
    const PictureTarget evenWidthHdr { true, false, false };
    const PictureTarget anySize { false, false, true };
    const struct {
        const char* label;
        QSize size;
        int angle;
        const char* transfer;
        PictureTarget target;
        QString beforeWatermark; // "" for no filter
        QSize watermark;
    } cases[] = {
        { "odd width", { 853, 480 }, 0, "", yuv420, "crop=trunc(iw/2)*2:trunc(ih/2)*2:0:0",
            { 852, 480 } },
        { "odd once turned", { 853, 480 }, 90, "", yuv420,
            "transpose=clock,crop=trunc(iw/2)*2:trunc(ih/2)*2:0:0", { 480, 852 } },
        { "odd height taken", { 321, 241 }, 0, "", evenWidthHdr, "crop=trunc(iw/2)*2:ih:0:0",
            { 320, 241 } },
        { "any size taken", { 321, 241 }, 0, "", anySize, "", { 321, 241 } },
        { "HLG to SDR", { 640, 360 }, 0, "arib-std-b67", yuv420,
            "zscale=tin=arib-std-b67:", { 640, 360 } },
        { "PQ kept", { 640, 360 }, 0, "smpte2084", evenWidthHdr, "", { 640, 360 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto node = clipNode(c.size, QStringLiteral("keep origin"));
        node->videoTracks()[0].colorTransfer = c.transfer;
        node->setting().setRotationAngle(c.angle);
        addWholePictureWatermark(*node, logo);
        const QString graph
            = GenVideoFilterChain(*node, {}, true, false, {}, std::nullopt, c.target).value_or("");
        // The filters on the source's picture, before it meets the watermark.
        const QString run = graph.section("[0:v:0]", 1, 1).section('[', 0, 0);
        EXPECT_EQ(run.left(c.beforeWatermark.size()), c.beforeWatermark) << qPrintable(graph);
        EXPECT_EQ(run.isEmpty(), c.beforeWatermark.isEmpty()) << qPrintable(graph);
        EXPECT_EQ(QImage(graph.section("\\'", 1, 1)).size(), c.watermark);
    }
}

// The editor refuses such files, but a stored setting may still name one;
// the run then goes on without the watermark.
TEST(GenVideoFilterChain, LeavesOutAWatermarkThatCannotBeDrawn)
{
    QTemporaryDir dir;
    const QString noise = dir.filePath(QStringLiteral("noise.png"));
    QFile file(noise);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(512, '\x5a'));
    file.close();
    const struct {
        const char* label;
        quint32 kind;
        QString imagePath;
        QString logged;
    } cases[] = {
        { "bytes that are no picture", DNBaseEditSetting::kWatermarkImage, noise, noise },
        { "missing picture", DNBaseEditSetting::kWatermarkImage, dir.filePath("gone.png"),
            dir.filePath("gone.png") },
        { "empty text", DNBaseEditSetting::kWatermarkText, {}, "The text watermark is empty" },
    };
    for (const auto& c : cases) {
        const auto node = node640x360();
        node->setEnableWatermark(true);
        node->setTypeOfWatermark(c.kind);
        node->setImagePathOfWatermark(c.imagePath);
        node->setting().setMirror(true);
        EXPECT_EQ(GenVideoFilterChain(*node, {}, true, false, EncodeConfig()),
            QStringLiteral("[0:v:0]hflip[video]"))
            << c.label;
        EXPECT_TRUE(sharedLogText().contains(c.logged)) << c.label;
    }
}

} // namespace

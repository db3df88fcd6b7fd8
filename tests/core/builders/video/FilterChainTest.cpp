#include "builders/video/BuilderServices.h"

#include "core/profiles/ProfileTestSupport.h"
#include "engine/EncodeConfig.h"
#include "model/DNFileNode.h"
#include "profiles/DNProfile.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <utility>

namespace {

// A Matroska file node (selected by index) with one 640x360 picture.
std::shared_ptr<DNFileNode> node640x360(const QString& frameSize = QStringLiteral("keep origin"))
{
    auto node = std::make_shared<DNFileNode>(QStringLiteral("/media/clip.mkv"));
    node->setFileFormat(QStringLiteral("Matroska"));
    DNTVideo video;
    video.vid = 0;
    video.width = 640;
    video.height = 360;
    node->setVideoTracks({ video });
    auto profile = std::make_shared<DNProfile>();
    profile->videoResolution().setChoices(frameSize, { frameSize });
    node->setProfile(profile);
    return node;
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
        QStringLiteral("[0:v:0][0:s:0]overlay=x=(W-w)/2:y=H-h[video]"));
    EXPECT_FALSE(GenVideoFilterChain(*node, {}, false, false, EncodeConfig()));

    node->setting().setSubtitleIndex(1);
    node->setting().setMirror(true);
    const QString graph = GenVideoFilterChain(*node, {}, true, false, EncodeConfig()).value_or("");
    const QRegularExpression shape(QStringLiteral(
        R"(^\[0:v:0\]hflip\[VA\];\[VA\]subtitles=filename=\\'.*/qzsub\w+\.srt\\':charenc=\\'windows-1252\\'\[video\]$)"));
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
    QImage logo(40, 20, QImage::Format_RGB32);
    logo.fill(Qt::green);
    ASSERT_TRUE(logo.save(dir.filePath("logo.png")));
    const std::tuple<int, const char*, std::pair<int, int>> cases[]
        = { { 90, "keep origin", { 360, 640 } }, { 30, "keep origin", { 734, 630 } },
              { 30, "720x480", { 824, 708 } } };
    for (const auto& [angle, frameSize, expected] : cases) {
        const auto node = node640x360(frameSize);
        node->setEnableWatermark(true);
        node->setTypeOfWatermark(DNBaseEditSetting::kWatermarkImage);
        node->setImagePathOfWatermark(dir.filePath("logo.png"));
        node->setting().setWatermarkRectPercent(QRectF(0, 0, 1, 1));
        node->setting().setRotationAngle(angle);
        const QString graph = GenVideoFilterChain(*node, {}, true, false, {}).value_or("");
        const QSize drawn = QImage(graph.section("\\'", 1, 1)).size();
        EXPECT_EQ(std::pair(drawn.width(), drawn.height()), expected) << angle << " " << frameSize;
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

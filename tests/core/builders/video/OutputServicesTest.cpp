#include "builders/video/BuilderServices.h"

#include "engine/EncodeConfig.h"
#include "model/DNFileNode.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void touch(const QString& path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

struct OutputPathCase {
    const char* label;
    std::optional<QString> name;
    QString suffix;
    QStringList existing; // files already in the folder
    QString expected; // file name in the folder
};

TEST(MakeOutputPath, NamesTheFileInTheFolder)
{
    const std::vector<OutputPathCase> cases = {
        { "plain", QStringLiteral("clip.avi"), "mkv", {}, "clip.mkv" },
        { "quotes", QStringLiteral("it's \"me\".mov"), "mp4", {}, "it_s _me_.mp4" },
        { "no extension", QStringLiteral("clip"), "flv", {}, "clip.flv" },
        { "own case kept", QStringLiteral("Clip.MKV"), "mkv", {}, "Clip.MKV" },
        { "mp4 for m4v", QStringLiteral("a.mp4"), "m4v", {}, "a.mp4" },
        { "m4v for mp4", QStringLiteral("a.m4v"), "mp4", {}, "a.m4v" },
        { "other extension", QStringLiteral("a.b.wmv"), "webm", {}, "a.b.webm" },
        { "empty name", QStringLiteral(""), "mp4", {}, "Untitled.mp4" },
        { "only extension", QStringLiteral("'.avi"), "mp4", {}, "_.mp4" },
        { "hidden name", QStringLiteral(".mp4"), "mp4", {}, ".mp4.mp4" },
        { "no suffix", QStringLiteral("a.avi"), QString(), {}, "a." },
        { "slashes stay inside", QStringLiteral("../../etc/x.mp4"), "mp4", {}, ".._.._etc_x.mp4" },
        { "counter", QStringLiteral("a.mov"), "mp4", { "a.mp4", "a (1).mp4" }, "a (2).mp4" },
        { "counter keeps own extension", QStringLiteral("A.MP4"), "m4v", { "A.MP4" }, "A (1).MP4" },
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        for (const QString& file : c.existing)
            touch(dir.filePath(file));
        EXPECT_EQ(MakeOutputPath(dir.path(), c.name, c.suffix), dir.filePath(c.expected))
            << c.label;
    }
}

TEST(MakeOutputPath, DefaultsToHomeAndRefusesAMissingName)
{
    EXPECT_EQ(MakeOutputPath(QString(), QStringLiteral("a.avi"), QStringLiteral("mp4")),
        QDir::home().filePath(QStringLiteral("a.mp4")));
    EXPECT_TRUE(MakeOutputPath(QDir::tempPath(), std::nullopt, QStringLiteral("mp4")).isEmpty());
    EXPECT_TRUE(ReplaceQuotesInName(std::nullopt).isEmpty());
    EXPECT_EQ(ReplaceQuotesInName(QStringLiteral("a'b\"c/d")), QStringLiteral("a_b_c/d"));
}

TEST(GenVolumeFilter, WritesTheGainWithTwoDecimals)
{
    const std::vector<std::pair<quint32, std::optional<QString>>> cases = {
        { 100, std::nullopt },
        { 150, QStringLiteral("volume=1.50[audio]") },
        { 40, QStringLiteral("volume=0.40[audio]") },
        { 0, QStringLiteral("volume=0.00[audio]") },
        { 5, QStringLiteral("volume=0.05[audio]") },
        { 1234, QStringLiteral("volume=12.34[audio]") },
    };
    const EncodeConfig config;
    DNFileNode node;
    for (const auto& [percent, expected] : cases) {
        node.setting().setVolume(percent);
        EXPECT_EQ(GenVolumeFilter(node, config), expected) << percent;
    }
}

// A node with one video, two audio and two subtitle tracks whose ids differ
// from their positions, as in a transport stream.
std::shared_ptr<DNFileNode> nodeWithIds(const QString& format)
{
    auto node = std::make_shared<DNFileNode>(QStringLiteral("/media/a"));
    node->setFileFormat(format);
    DNTVideo video;
    video.vid = 256;
    node->setVideoTracks({ video });
    DNTAudio first;
    first.aid = 257;
    DNTAudio second;
    second.aid = -1; // the probe could not tell
    node->setAudioTracks({ first, second });
    DNTSubtitle inner;
    inner.sid = 259;
    node->setSubtitleTracks({ inner, DNTExtSubtitle::extSubtitleTrack(QStringLiteral("/a.srt")) });
    node->setting().setAudioIndex(0);
    node->setting().setSubtitleIndex(0);
    return node;
}

struct MarkCase {
    const char* label;
    QString format;
    bool safeMode;
    qint32 audioIndex;
    qint32 subtitleIndex;
    bool bracketed;
    QStringList expected; // video, audio, subtitle
};

TEST(StreamMarks, ByIdOrByIndex)
{
    const std::vector<MarkCase> cases = {
        { "ids", "MPEG-TS", false, 0, 0, false, { "0:#256", "0:#257", "0:#259" } },
        { "bracketed ids", "MPEG-TS", false, 0, 0, true, { "[0:#256]", "[0:#257]", "[0:#259]" } },
        { "safe mode", "MPEG-TS", true, 0, 0, false, { "0:v:0", "0:a:0", "0:s:0" } },
        { "matroska", "Matroska", false, 0, 0, true, { "[0:v:0]", "[0:a:0]", "[0:s:0]" } },
        { "webm", "WebM", false, 0, 0, false, { "0:v:0", "0:a:0", "0:s:0" } },
        { "program stream", "MPEG-PS", false, 0, 0, false, { "0:v:0", "0:a:0", "0:s:0" } },
        { "negative ids", "MPEG-4", false, 1, 1, false, { "0:#256", "0:a:1", "0:s:1" } },
    };
    for (const auto& c : cases) {
        const auto node = nodeWithIds(c.format);
        node->setting().setAudioIndex(c.audioIndex);
        node->setting().setSubtitleIndex(c.subtitleIndex);
        EncodeConfig config;
        config.safeMode = c.safeMode;
        EXPECT_EQ(GenVideoStreamMark(*node, c.bracketed, config), c.expected[0]) << c.label;
        EXPECT_EQ(GenAudioStreamMark(*node, c.bracketed, config), c.expected[1]) << c.label;
        EXPECT_EQ(GenSubtitleStreamMark(*node, c.bracketed, config), c.expected[2]) << c.label;
    }
}

TEST(StreamMarks, IndexOutsideTheListGivesNothing)
{
    const auto node = nodeWithIds(QStringLiteral("MPEG-TS"));
    const EncodeConfig config;
    for (const qint32 index : { -1, 2, 99 }) {
        node->setting().setAudioIndex(index);
        node->setting().setSubtitleIndex(index);
        EXPECT_FALSE(GenAudioStreamMark(*node, false, config)) << index;
        EXPECT_FALSE(GenSubtitleStreamMark(*node, false, config)) << index;
    }
    node->setting().setVideoIndex(1);
    EXPECT_FALSE(GenVideoStreamMark(*node, true, config));
}

} // namespace

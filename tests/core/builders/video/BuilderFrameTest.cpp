#include "builders/video/BuilderFrame.h"

#include "FrameTestSupport.h"
#include "model/DNFileGroupNode.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cmath>

namespace {

VideoBuilderRow rowWith(StreamMapRule maps, ThreadsRule threads, FrameRateRule rate)
{
    VideoBuilderRow row("Test_Builder", maps, threads, rate, QStringLiteral("matroska"));
    // The picture stays untouched, so that no graph appears unasked.
    row.burnSubtitles = false;
    return row;
}

const VideoBuilderRow kPlainRow
    = rowWith(StreamMapRule::TrackChoiceOrMismatch, ThreadsRule::None, FrameRateRule::FixedRate);

class BuilderFrame : public VideoBuilderTest {
protected:
    ArgumentBlockPtr build(const VideoBuilderRow& row = kPlainRow, int processors = 4)
    {
        return buildVideoFrame(row, node, 0, config, FrameEnvironment { processors });
    }

    void addEmbeddedSubtitles(int count)
    {
        std::vector<DNSubtitleTrack> tracks;
        for (int i = 0; i < count; ++i)
            tracks.emplace_back(DNTSubtitle { .sid = 3 + i, .isTextformat = true, .language = {} });
        node->setSubtitleTracks(tracks);
    }
};

TEST_F(BuilderFrame, WritesTheFixedPartsInOrderAndRecordsTheOutput)
{
    const ArgumentBlockPtr block = build();
    ASSERT_NE(block, nullptr);
    const QString output = dir.filePath("my clip.mkv");
    EXPECT_EQ(block->arguments(),
        QStringList({ "encoder", "-d", "-y", "-i", "/media/my clip.mp4", "-b:v", "1500k", "-c:a",
            "aac", "-b:a", "128k", "-ar", "44100", "-ac", "2", "-sn", "-f", "matroska", output }));
    EXPECT_EQ(block->duration, 120);
    EXPECT_EQ(node->outputName(), output);

    node->profile()->videoAspect().setCurrentValue("16x9");
    EXPECT_TRUE(lineOf(build()).contains("-b:v 1500k -aspect 16:9 -c:a"));
}

struct TrimCase {
    const char* label;
    float duration;
    bool trim;
    float start;
    float end;
    bool subtitle;
    const char* expected; // neighbours in the line, or "" for no trim
    int blockDuration;
    bool chapters;
    // A trim that leaves nothing to convert: the build is refused for this reason.
    const char* refusal = nullptr;
};

TEST_F(BuilderFrame, TrimPlacementDurationAndChapters)
{
    const TrimCase cases[] = {
        { "whole", 120.0f, false, 0, 1, false, "", 120, false },
        { "fraction", 120.5f, false, 0, 1, false, "", 120, true },
        { "before input", 120.0f, true, 0.25f, 0.75f, false, "-y -ss 30 -t 60 -i /media", 60,
            true },
        { "after input with a subtitle", 120.0f, true, 0.25f, 0.75f, true,
            "my clip.mp4 -ss 30 -t 60 -b:v", 60, true },
        { "zero length track", 0.0f, true, 0.25f, 0.75f, false, "", 0, false },
        { "below one second", 0.4f, false, 0, 1, false, "", 0, false },
        { "below one second, kept whole", 0.4f, true, 0, 1, false, "", 0, false },
        { "end before start", 120.0f, true, 0.75f, 0.25f, false, "", 120, false,
            "the trim from 90 s to 30 s keeps 0 s of the 120 s source; a trim keeps at least a "
            "second" },
        { "end at start", 120.0f, true, 0.5f, 0.5f, false, "", 120, false,
            "the trim from 60 s to 60 s keeps 0 s" },
        { "less than a second", 120.0f, true, 0.5f, 0.505f, false, "", 120, false,
            "the trim from 60 s to 60.6 s keeps 0.6 s" },
        { "past the end", 120.0f, true, 1.25f, 1.5f, false, "", 120, false,
            "the trim starts at 150 s, outside the 120 s the source lasts" },
        // The times are kept to the millisecond: a trim to the end keeps the last frames.
        { "to the end of a fractional length", 3599.96f, true, 3528.0f / 3599.96f, 1.0f, false,
            "-y -ss 3528 -t 71.96 -i /media", 71, true },
        { "fractions of a second", 100.0f, true, 0.1234f, 0.5f, true,
            "my clip.mp4 -ss 12.34 -t 37.66 -b:v", 37, true },
    };
    for (const TrimCase& c : cases) {
        SCOPED_TRACE(c.label);
        node->videoTracks()[0].duration = c.duration;
        node->setting().setTrimEnable(c.trim);
        node->setting().setTrimStartPercent(c.start);
        node->setting().setTrimEndPercent(c.end);
        addEmbeddedSubtitles(c.subtitle ? 1 : 0);
        node->setting().setSubtitleIndex(c.subtitle ? 0 : -1);
        takeBuildRefusal();
        const ArgumentBlockPtr block = build();
        if (c.refusal) {
            EXPECT_EQ(block, nullptr);
            EXPECT_TRUE(takeBuildRefusal().startsWith(c.refusal));
            continue;
        }
        ASSERT_NE(block, nullptr);
        const QString line = lineOf(block);
        if (*c.expected)
            EXPECT_TRUE(line.contains(c.expected)) << qPrintable(line);
        else
            EXPECT_FALSE(line.contains(" -ss ")) << qPrintable(line); // not in a temporary name
        EXPECT_EQ(block->duration, c.blockDuration);
        EXPECT_EQ(line.contains("-map_chapters -1"), c.chapters) << qPrintable(line);
    }
}

// A subtitle drawn into the picture from text the build can move lets the
// engine seek the source to the trim instead of decoding everything before it.
TEST_F(BuilderFrame, ATrimBeforeTheInputWhereTheBurntCuesCanMove)
{
    VideoBuilderRow burning = kPlainRow;
    burning.burnSubtitles = true;
    const struct {
        const char* file;
        QByteArray text;
        const char* expected;
    } cases[] = {
        { "a.srt", "1\n00:00:40,000 --> 00:00:41,000\nHello\n", "-y -ss 30 -t 60 -i /media" },
        { "a.ass",
            "[Script Info]\nScriptType: v4.00+\n\n[Events]\nFormat: Layer, Start, End, Style, "
            "Text\nDialogue: 0,0:00:40.00,0:00:41.00,Default,Hi\n",
            "my clip.mp4 -ss 30 -t 60 -b:v" },
    };
    node->setting().setTrimEnable(true);
    node->setting().setTrimStartPercent(0.25f);
    node->setting().setTrimEndPercent(0.75f);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(writeFile(dir.filePath(c.file), c.text));
        node->setSubtitleTracks({ DNTExtSubtitle::extSubtitleTrack(dir.filePath(c.file)) });
        node->setting().setSubtitleIndex(0);
        const QString built = lineOf(build(burning));
        EXPECT_TRUE(built.contains(c.expected)) << qPrintable(built);
        EXPECT_TRUE(built.contains("subtitles=filename=")) << qPrintable(built);
    }
}

struct RateCase {
    const char* label;
    FrameRateRule rule;
    const char* profileRate;
    float fps;
    bool safeMode;
    const char* format; // the source's container
    const char* expected; // after "-r", or "" for none
};

TEST_F(BuilderFrame, FrameRateRules)
{
    using R = FrameRateRule;
    const RateCase cases[] = {
        { "profile rate", R::SourceRate, "29.970", 25, false, "MPEG-4", "30000/1001" },
        { "profile rate not in the table", R::FixedRate, "50", 25, false, "MPEG-4", "24000/1001" },
        { "source, safe mode", R::SourceRate, "keep origin", 29.97f, true, "MPEG-4", "30000/1001" },
        { "source, usual", R::SourceRate, "keep origin", 29.97f, false, "MPEG-4", "" },
        { "source 50, safe mode", R::SourceRate, "keep origin", 50, true, "MPEG-4", "24000/1001" },
        { "source, RealMedia", R::SourceRate, "keep origin", 25, false, "RealMedia", "25" },
        { "source too fast", R::SourceRate, "keep origin", 200, false, "MPEG-4", "24000/1001" },
        { "fixed, too fast", R::FixedRate, "keep origin", 200, false, "MPEG-4", "24000/1001" },
        { "fixed, negative", R::FixedRate, "keep origin", -1, false, "MPEG-4", "24000/1001" },
        { "fixed, at the bound", R::FixedRate, "keep origin", 150, true, "RealMedia", "" },
        { "fixed, not a number", R::FixedRate, "keep origin", NAN, false, "MPEG-4", "" },
        { "none", R::None, "25", 200, true, "MPEG-4", "" },
    };
    for (const RateCase& c : cases) {
        SCOPED_TRACE(c.label);
        node->profile()->videoFrameRate().setCurrentValue(c.profileRate);
        node->videoTracks()[0].fps = c.fps;
        node->setFileFormat(c.format);
        config.safeMode = c.safeMode;
        const ArgumentBlockPtr block
            = build(rowWith(StreamMapRule::TrackChoiceOrMismatch, ThreadsRule::None, c.rule));
        ASSERT_NE(block, nullptr);
        const QStringList args = block->arguments();
        const qsizetype at = args.indexOf("-r");
        EXPECT_EQ(at >= 0 ? args.value(at + 1) : QString(), QString(c.expected));
        // The graph changes the rate first, where frames keep their times.
        const qsizetype graph = args.indexOf("-filter_complex");
        const QString head = graph < 0
            ? QString()
            : args.value(graph + 1).section(']', 1).section(QRegularExpression("[,[]"), 0, 0);
        EXPECT_EQ(head, *c.expected ? "fps=" + QString(c.expected) : QString());
    }
}

TEST_F(BuilderFrame, ThreadsFollowTheInputPath)
{
    using T = ThreadsRule;
    const struct {
        T rule;
        int cpuCore;
        int processors;
        const char* expected;
    } cases[] = {
        { T::None, 2, 8, "" },
        { T::UnlessAllProcessors, 8, 8, "" },
        { T::UnlessAllProcessors, 2, 8, "my clip.mp4 -threads 2 -b:v" },
        { T::UnlessAllProcessors, 0, 8, "my clip.mp4 -threads 0 -b:v" },
        { T::Always, 8, 8, "my clip.mp4 -threads 8 -b:v" },
    };
    for (const auto& c : cases) {
        config.cpuCore = c.cpuCore;
        const QString line = lineOf(
            build(rowWith(StreamMapRule::TrackChoiceOrMismatch, c.rule, FrameRateRule::FixedRate),
                c.processors));
        if (*c.expected)
            EXPECT_TRUE(line.contains(c.expected)) << qPrintable(line);
        else
            EXPECT_FALSE(line.contains("-threads")) << qPrintable(line);
    }
}

struct MapCase {
    const char* label;
    StreamMapRule rule;
    int video;
    int audio;
    int subtitle;
    bool sameStreams;
    bool graph;
    const char* expected; // from the first "-map" (or "-an"/"-sn") up to "-f"
};

TEST_F(BuilderFrame, StreamMapsBySubtitleRuleAndGraph)
{
    using S = StreamMapRule;
    const MapCase cases[] = {
        { "S1 defaults", S::TrackChoiceOrMismatch, 0, 0, -1, true, false, "-sn" },
        { "S3 defaults", S::TrackChoiceOnly, 0, 0, -1, true, false, "-sn" },
        { "S2 defaults", S::SubtitleStream, 0, 0, -1, true, false, "-sn" },
        { "S1 mismatch", S::TrackChoiceOrMismatch, 0, 0, -1, false, false,
            "-map 0:#1 -map 0:#2 -sn" },
        { "S3 ignores mismatch", S::TrackChoiceOnly, 0, 0, -1, false, false, "-sn" },
        { "S2 mismatch", S::SubtitleStream, 0, 0, -1, false, false, "-map 0:#1 -map 0:#2 -sn" },
        { "S1 second audio", S::TrackChoiceOrMismatch, 0, 1, -1, true, false,
            "-map 0:#1 -map 0:#3 -sn" },
        { "S1 first subtitle", S::TrackChoiceOrMismatch, 0, 0, 0, true, false, "-sn" },
        { "S1 second subtitle", S::TrackChoiceOrMismatch, 0, 0, 1, true, false,
            "-map 0:#1 -map 0:#2 -sn" },
        { "S2 first subtitle", S::SubtitleStream, 0, 0, 0, true, false,
            "-map 0:#1 -map 0:#2 -map 0:#3" },
        { "S3 second subtitle", S::TrackChoiceOnly, 0, 0, 1, false, false,
            "-map 0:#1 -map 0:#2 -sn" },
        { "no audio with a graph", S::TrackChoiceOrMismatch, 0, -1, -1, true, true,
            "-map [video] -an -sn" },
        { "graph alone", S::SubtitleStream, 0, 0, -1, true, true, "-map [video] -map 0:#2 -sn" },
    };
    DNTAudio second;
    second.aid = 3;
    node->setAudioTracks({ node->audioTracks()[0], second });
    addEmbeddedSubtitles(2);
    for (const MapCase& c : cases) {
        SCOPED_TRACE(c.label);
        node->setting().setVideoIndex(c.video);
        node->setting().setAudioIndex(c.audio);
        node->setting().setSubtitleIndex(c.subtitle);
        node->setSameStreams(c.sameStreams);
        config.avSyncFix = c.graph;
        const QString line = lineOf(build(rowWith(c.rule, ThreadsRule::None, FrameRateRule::None)));
        const qsizetype start = line.indexOf(QRegularExpression(" -(map|an|sn) "));
        const QString maps = line.mid(start + 1, line.indexOf(" -f ") - start - 1);
        EXPECT_EQ(start < 0 ? QString() : maps, QString(c.expected)) << qPrintable(line);
    }
}

TEST_F(BuilderFrame, MetadataPairsOnlyForPresentValues)
{
    const struct {
        std::optional<QString> title, artist, genre;
        const char* expected;
    } cases[] = {
        { std::nullopt, std::nullopt, std::nullopt, "" },
        { "Song", std::nullopt, "Pop", "-metadata title=Song -metadata genre=Pop" },
        { "", "", std::nullopt, "-metadata title= -metadata artist=" },
        { "a \"quoted\" title", std::nullopt, std::nullopt, "-metadata title=a \"quoted\" title" },
    };
    for (const auto& c : cases) {
        DNNodeInfo info = node->nodeInfo();
        info.displayName = c.title;
        info.artist = c.artist;
        info.genre = c.genre;
        node->setNodeInfo(info);
        const QString line = lineOf(build());
        const qsizetype start = line.indexOf(" -metadata ");
        EXPECT_EQ(start < 0 ? QString() : line.mid(start + 1, line.indexOf(" -sn") - start - 1),
            QString(c.expected));
    }
}

TEST_F(BuilderFrame, HooksStandInTheirPlaces)
{
    VideoBuilderRow row = kPlainRow;
    const auto mark
        = [](const char* text) { return [text](VideoFrame& f) { f.writer.add(text); }; };
    row.afterInput = mark("AFTER_INPUT");
    row.aspect = mark("ASPECT");
    row.codecBlock = mark("CODEC");
    row.afterVolume = mark("AFTER_VOLUME");
    row.beforeContainer = mark("BEFORE_CONTAINER");
    row.afterContainer = mark("AFTER_CONTAINER");
    node->setting().setVolume(150);
    node->setting().setTrimEnable(true);
    node->setting().setTrimStartPercent(0.5f);
    const QString line = lineOf(build(row));
    EXPECT_TRUE(line.contains(QRegularExpression("my clip.mp4 AFTER_INPUT -b:v 1500k ASPECT "
                                                 "CODEC -c:a .* -filter:a \\S+ AFTER_VOLUME -sn "
                                                 "BEFORE_CONTAINER -f matroska AFTER_CONTAINER "
                                                 "-map_chapters")))
        << qPrintable(line);
}

TEST_F(BuilderFrame, UnsoundChoicesFailTheBuild)
{
    const struct {
        const char* label;
        std::function<void(DNFileNode&)> spoil;
    } cases[] = {
        { "video index past the list", [](DNFileNode& n) { n.setting().setVideoIndex(1); } },
        { "negative video index", [](DNFileNode& n) { n.setting().setVideoIndex(-1); } },
        { "audio index past the list", [](DNFileNode& n) { n.setting().setAudioIndex(1); } },
        { "subtitle index past the list",
            [](DNFileNode& n) {
                n.setSubtitleTracks({ DNTSubtitle {} });
                n.setting().setSubtitleIndex(1);
            } },
        { "no profile", [](DNFileNode& n) { n.setProfile(nullptr); } },
        { "metadata longer than a slot",
            [](DNFileNode& n) {
                DNNodeInfo info = n.nodeInfo();
                info.artist = QString(MaxCharLength, QLatin1Char('a'));
                n.setNodeInfo(info);
            } },
        { "a failing hook", nullptr },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        useProfile({});
        VideoBuilderRow row = kPlainRow;
        if (c.spoil)
            c.spoil(*node);
        else
            row.codecBlock = [](VideoFrame& f) { f.fail("refused"); };
        EXPECT_EQ(build(row), nullptr);
    }
    EXPECT_EQ(buildVideoFrame(kPlainRow, nullptr, 0, config), nullptr);
}

TEST_F(BuilderFrame, AMergeGroupIsHandedToTheJoiner)
{
    auto first = videoNode(videoProfile());
    auto second = videoNode(videoProfile());
    first->setOutputName(dir.filePath("a.mkv"));
    second->setOutputName(dir.filePath("b.mkv"));
    auto group = DNFileGroupNode::fileGroupNodeWithNodes({ first, second });
    group->setProfile(videoProfile());
    const ArgumentBlockPtr block = buildVideoFrame(kPlainRow, group, 0, config);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(lineOf(block).startsWith("encoder -d -y -f concat -i "))
        << qPrintable(lineOf(block));
    EXPECT_EQ(block->duration, 240);
    EXPECT_EQ(group->outputName(), block->arguments().last());
}

} // namespace

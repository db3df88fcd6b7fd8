// The Matroska builders' command lines run on the installed ffmpeg through
// the encoder bridge; the outputs are checked with ffprobe.
#include "builders/video/Matroska.h"

#include "core/engine/ProfileRunTest.h"
#include "model/DNFileGroupNode.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

class MatroskaEngine : public ProfileRunTest {
protected:
    // A 20 s clip of 160x120 with sound, made here: the fixtures are too
    // short to show a trim.
    QString longClip()
    {
        const QString path = dir.filePath("long.mp4");
        EXPECT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=20",
            "-f", "lavfi", "-i", "sine=duration=20", "-c:v", "libx264", "-pix_fmt", "yuv420p",
            "-c:a", "aac", "-shortest", path }));
        return path;
    }

    QString srtFile()
    {
        const QString path = dir.filePath("words.srt");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("1\n00:00:01,000 --> 00:00:03,000\nHello\n\n"
                   "2\n00:00:04,000 --> 00:00:12,000\nWorld\n");
        return path;
    }
};

TEST_F(MatroskaEngine, EveryProfileGivesItsCodecsAndSize)
{
    const struct {
        const char* profile;
        const char* videoCodec;
        int width;
        int height;
    } cases[] = {
        // The 4:3 source is fitted into the frame with its aspect kept.
        { "MKV Video (MPEG-4)", "mpeg4", 160, 120 },
        { "MKV Video (H.264)", "h264", 160, 120 },
        { "HD MKV Video (720p)", "h264", 960, 720 },
        { "HD MKV Video (1080p)", "h264", 1440, 1080 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profile);
        // The source's subtitle stays out: none was chosen.
        const auto node = load(TestMedia::path(TestMedia::kTwoAudioAndText), c.profile);
        ASSERT_NE(node, nullptr);
        const MediaFacts facts = convertAndProbe(node);
        ASSERT_TRUE(facts.ok) << qPrintable(facts.error);
        EXPECT_TRUE(facts.formatName.startsWith("matroska"));
        EXPECT_EQ(facts.stream("video").codecName, c.videoCodec);
        EXPECT_EQ(facts.stream("video").width, c.width);
        EXPECT_EQ(facts.stream("video").height, c.height);
        EXPECT_EQ(facts.stream("audio").codecName, "aac");
        EXPECT_EQ(facts.count("subtitle"), 0);
        EXPECT_NEAR(facts.duration, 2.0, kSlack);
    }
}

TEST_F(MatroskaEngine, SubtitlesArriveAsStreamsAndTrimCutsTheSource)
{
    const QString clip = longClip();
    const QString timedText = dir.filePath("timed_text.mp4");
    ASSERT_TRUE(runFfmpeg({ "-i", clip, "-i", srtFile(), "-map", "0", "-map", "1", "-c:v", "copy",
        "-c:a", "copy", "-c:s", "mov_text", timedText }));
    const QString textTrack = dir.filePath("text_track.mkv"); // converted with the top position
    ASSERT_TRUE(runFfmpeg({ "-i", clip, "-i", srtFile(), "-map", "0", "-map", "1", "-c", "copy",
        "-metadata:s:s:0", "language=fre", textTrack }));
    const struct {
        const char* label;
        QString source;
        bool external; // else the source's first subtitle stream
        bool trim;
        double duration;
    } cases[] = {
        { "embedded text", TestMedia::path(TestMedia::kTwoAudioAndText), false, false, 2.0 },
        { "MP4 timed text", timedText, false, false, 20.0 },
        { "external file", clip, true, false, 20.0 },
        { "external file and trim", clip, true, true, 10.0 },
        { "trim alone", clip, false, true, 10.0 },
        { "text stream, cut inside a cue", textTrack, false, true, 10.0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto node = load(c.source, "MKV Video (H.264)");
        ASSERT_NE(node, nullptr);
        node->setting().setSubtitleEnable(true);
        if (c.external)
            node->addExtraSubtitle(srtFile());
        const bool subtitle = c.external || !node->subtitleTracks().empty();
        node->selectSubtitleAtIndex(subtitle ? 0 : -1, c.external);
        node->setting().setTrimEnable(c.trim);
        node->setting().setTrimStartPercent(0.25f);
        node->setting().setTrimEndPercent(0.75f);
        if (c.source == textTrack)
            node->setSubtitlePos(DNBaseEditSetting::kSubtitleTop);
        const MediaFacts facts = convertAndProbe(node);
        ASSERT_TRUE(facts.ok) << qPrintable(facts.error);
        EXPECT_NEAR(facts.duration, c.duration, kSlack);
        EXPECT_EQ(facts.count("subtitle"), subtitle ? 1 : 0);
        if (subtitle) {
            EXPECT_EQ(facts.stream("subtitle").codecName, "subrip");
        }
        if (c.source == textTrack) {
            // The cue on screen at the cut at 5 s is kept from there, under
            // the top's tag, and the stream keeps the source's language.
            const QString cues = dir.filePath("cues.srt");
            ASSERT_TRUE(runFfmpeg({ "-i", node->outputName(), "-map", "0:s", cues }));
            QFile file(cues);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            EXPECT_TRUE(QString(file.readAll())
                            .contains(QRegularExpression(
                                R"(00:00:00,0\d\d --> 00:00:0[67],\d+\s+\{\\an8\}World)")));
            EXPECT_EQ(facts.stream("subtitle").language, "fre");
        }
    }
}

TEST_F(MatroskaEngine, AMergeGroupJoinsItsConvertedMembers)
{
    std::vector<NXBasicMediaNode::Ptr> members;
    for (const char* file : { TestMedia::kVideoWithAudio, TestMedia::kTransportStream }) {
        const auto member = load(TestMedia::path(file), "MKV Video (H.264)");
        ASSERT_NE(member, nullptr);
        const MediaFacts facts = convertAndProbe(member);
        ASSERT_TRUE(facts.ok) << qPrintable(facts.error);
        members.push_back(member);
    }
    const auto group = DNFileGroupNode::fileGroupNodeWithNodes(members);
    group->setProfile(shippedProfile("MKV Video (H.264)"));
    const MediaFacts joined = convertAndProbe(group);
    ASSERT_TRUE(joined.ok) << qPrintable(joined.error);
    EXPECT_TRUE(joined.formatName.startsWith("matroska"));
    EXPECT_NEAR(joined.duration, 4.0, 2 * kSlack);
}

} // namespace

// The phone, Flash, web, ASF and RealMedia profiles run on the installed
// ffmpeg through the encoder bridge; the outputs are checked with ffprobe.
#include "core/engine/ProfileRunTest.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace {

// The values that ffprobe prints with `options`, one a line, or an empty
// string.
QString probeValue(const QString& path, const QStringList& options)
{
    QProcess process;
    process.start("ffprobe",
        QStringList { "-v", "error", "-of", "default=noprint_wrappers=1:nokey=1" } + options
            + QStringList { path });
    if (!process.waitForFinished(60'000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The length of the video as decoded: SWF files carry no duration.
double decodedVideoSeconds(const QString& path)
{
    const QStringList values = probeValue(path,
        { "-count_frames", "-select_streams", "v:0", "-show_entries",
            "stream=nb_read_frames,r_frame_rate" })
                                   .split('\n');
    if (values.size() != 2)
        return 0;
    const QStringList rate = values[0].split('/');
    const double fps = rate.value(0).toDouble() / std::max(1.0, rate.value(1).toDouble());
    return fps > 0 ? values[1].toDouble() / fps : 0;
}

class VideoFormatsEngine : public ProfileRunTest { };

struct ProfileCase {
    const char* profile;
    const char* videoCodec; // the profile's codec choice, or null for its default
    const char* format; // ffprobe's format name
    const char* brand; // the file's major brand begins so (or "" for other containers)
    const char* videoOut;
    const char* audioOut;
    int width;
    int height;
};

TEST_F(VideoFormatsEngine, EveryProfileGivesItsContainerCodecsSizeAndLength)
{
    const char* const mp4Family = "mov,mp4,m4a,3gp,3g2,mj2";
    // The 160x120 source is fitted into the profile's frame with its aspect
    // kept; "keep origin" keeps its size.
    const ProfileCase cases[] = {
        { "3GP Video (MPEG-4)", nullptr, mp4Family, "3gp", "mpeg4", "aac", 176, 132 },
        { "3GP Video (H.264)", nullptr, mp4Family, "3gp", "h264", "aac", 176, 132 },
        { "3G2 Video (MPEG-4)", nullptr, mp4Family, "3g2", "mpeg4", "aac", 176, 132 },
        { "3G2 Video (H.264)", nullptr, mp4Family, "3g2", "h264", "aac", 176, 132 },
        { "FLV Video", nullptr, "flv", "", "h264", "mp3", 160, 120 },
        { "FLV Video", "h263", "flv", "", "flv1", "mp3", 160, 120 },
        { "F4V Video", nullptr, mp4Family, "f4v", "h264", "mp3", 160, 120 },
        { "WebM Video", nullptr, "matroska,webm", "", "vp8", "vorbis", 160, 120 },
        { "SWF Video", nullptr, "swf", "", "flv1", "mp3", 320, 240 },
        { "ASF Video", nullptr, "asf", "", "mpeg4", "wmav2", 160, 120 },
        { "RealMedia Video", nullptr, "rm", "", "rv20", "ac3", 320, 240 },
    };
    for (const ProfileCase& c : cases) {
        SCOPED_TRACE(QString("%1 %2").arg(c.profile, c.videoCodec).toStdString());
        const auto node = load(TestMedia::path(TestMedia::kVideoWithAudio), c.profile);
        ASSERT_NE(node, nullptr);
        if (c.videoCodec)
            node->profile()->videoCodec().setCurrentValue(c.videoCodec);
        ASSERT_TRUE(convert(node));
        const QString output = node->outputName();
        const MediaFacts facts = MediaFacts::probe(output);
        ASSERT_TRUE(facts.ok) << qPrintable(facts.error);
        EXPECT_EQ(facts.formatName, c.format);
        // The brand tells the files of the MP4 family apart.
        if (*c.brand) {
            EXPECT_TRUE(probeValue(output, { "-show_entries", "format_tags=major_brand" })
                            .startsWith(c.brand));
        }
        EXPECT_EQ(facts.stream("video").codecName, c.videoOut);
        EXPECT_EQ(facts.stream("audio").codecName, c.audioOut);
        EXPECT_EQ(facts.stream("video").width, c.width);
        EXPECT_EQ(facts.stream("video").height, c.height);
        EXPECT_NEAR(decodedVideoSeconds(output), 2.0, kSlack);
    }
}

// RealVideo 2 takes only sides in multiples of 4: 322x180 fitted into
// 320x240 would be 320x178.9 and refused at 320x178; the nearest multiple
// keeps its shape best.
TEST_F(VideoFormatsEngine, AnOddSourceFitsRealMediaInMultiplesOfFour)
{
    const auto node = load(TestMedia::path(TestMedia::kOddSize2997), "RealMedia Video");
    ASSERT_NE(node, nullptr);
    const MediaFacts facts = convertAndProbe(node);
    ASSERT_TRUE(facts.ok) << qPrintable(facts.error);
    EXPECT_EQ(facts.stream("video").width, 320);
    EXPECT_EQ(facts.stream("video").height, 180);
}

} // namespace

// The DVD, DV and ProRes builders' command lines run on the installed ffmpeg
// through the encoder bridge; the outputs are checked with ffprobe.
#include "core/engine/ProfileRunTest.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* kMov = "mov,mp4,m4a,3gp,3g2,mj2";

struct Expected {
    const char* profile;
    const char* format; // ffprobe's container name
    const char* videoCodec;
    int width;
    int height;
    const char* pixelFormat; // as the decoder reports it; "" when any
    const char* videoProfile; // "" when not checked
    const char* audioCodec;
    int sampleRate;
};

class VideoDvdEngine : public ProfileRunTest {
protected:
    // A 2 s QuickTime clip in packed 4:2:2 ("2vuy") with PCM sound.
    QString packedClip()
    {
        const QString path = dir.filePath("packed.mov");
        EXPECT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=2",
            "-f", "lavfi", "-i", "sine=duration=2", "-c:v", "rawvideo", "-pix_fmt", "uyvy422",
            "-tag:v", "2vuy", "-c:a", "pcm_s16le", "-shortest", path }));
        return path;
    }

    void convertAndCheck(const QString& source, const Expected& e, int bitrateModel = -1)
    {
        SCOPED_TRACE(e.profile);
        const auto node = load(source, e.profile);
        ASSERT_NE(node, nullptr);
        if (bitrateModel >= 0)
            node->profile()->videoQuality().setCurBitrateModel(bitrateModel);
        const MediaFacts facts = convertAndProbe(node);
        ASSERT_TRUE(facts.ok) << qPrintable(facts.error);
        EXPECT_EQ(facts.formatName, e.format);
        const StreamFacts video = facts.stream("video");
        EXPECT_EQ(video.codecName, e.videoCodec);
        EXPECT_EQ(video.width, e.width);
        EXPECT_EQ(video.height, e.height);
        if (*e.pixelFormat) {
            EXPECT_EQ(video.pixFmt, e.pixelFormat);
        }
        if (*e.videoProfile) {
            EXPECT_EQ(video.profile, e.videoProfile);
        }
        EXPECT_EQ(facts.stream("audio").codecName, e.audioCodec);
        EXPECT_EQ(facts.stream("audio").sampleRate, e.sampleRate);
        EXPECT_EQ(facts.count("subtitle"), 0);
        EXPECT_NEAR(facts.duration, 2.0, kSlack);
    }
};

// The DVD and DV targets fill their whole frame; VOB fits the 4:3 source
// into its 720x480 frame and stops there.
TEST_F(VideoDvdEngine, DvdAndDvProfilesGiveTheirStreamsAndFrames)
{
    const Expected vob { "VOB Video", "mpeg", "mpeg2video", 640, 480, "yuv420p", "", "mp2", 48000 };
    const Expected cases[] = {
        { "NTSC DVD Video", "mpeg", "mpeg2video", 720, 480, "yuv420p", "", "ac3", 48000 },
        { "PAL DVD Video", "mpeg", "mpeg2video", 720, 576, "yuv420p", "", "ac3", 48000 },
        { "NTSC DV Video", "dv", "dvvideo", 720, 480, "yuv411p", "", "pcm_s16le", 48000 },
        { "PAL DV Video", "dv", "dvvideo", 720, 576, "yuv420p", "", "pcm_s16le", 48000 },
    };
    const QString source = TestMedia::path(TestMedia::kVideoWithAudio);
    for (const int model : { NXVideoQuality::CBR, NXVideoQuality::VBR })
        convertAndCheck(source, vob, model);
    for (const Expected& e : cases)
        convertAndCheck(source, e);
    // Packed 4:2:2 sources are written in the planar format these targets carry.
    const QString packed = packedClip();
    convertAndCheck(packed, vob);
    convertAndCheck(packed, cases[1]);
}

// The DVD authoring tool's complaints about sound that jumps
// ("Discontinuity ... please remultiplex input"), or its failure.
QString authoringComplaints(const QString& output, const QString& standard, const QString& folder)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start("dvdauthor", { "-o", folder, "-t", "-v", standard, output });
    const bool authored = tool.waitForFinished(60'000) && tool.exitCode() == 0;
    const QStringList lines = QString::fromUtf8(tool.readAll()).split('\n');
    return authored ? lines.filter("Discontinuity").join('\n') : "failed: " + lines.join('\n');
}

// Downloads whose sound is not at 48 kHz or starts off the picture's clock:
// DV needs it resampled in step with the picture, and DVD authoring wants it
// without jumps.
TEST_F(VideoDvdEngine, SoundOfAnyRateFollowsThePictureOnDvAndDvd)
{
    const QString matroska = dir.filePath("aac44.mkv");
    const QString webm = dir.filePath("opus.webm");
    ASSERT_TRUE(
        runFfmpeg({ "-i", TestMedia::path(TestMedia::kVideoWithAudio), "-c", "copy", matroska }));
    ASSERT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=2", "-f",
        "lavfi", "-i", "sine=sample_rate=48000:duration=2", "-c:v", "libvpx", "-deadline",
        "realtime", "-c:a", "libopus", webm }));
    for (const QString& source : { matroska, webm }) {
        for (const char* profile : { "NTSC DV Video", "PAL DV Video" }) {
            SCOPED_TRACE(qPrintable(source + " " + profile));
            const auto node = load(source, profile);
            ASSERT_NE(node, nullptr);
            node->setting().setVolume(150); // the volume filter keeps its place
            const MediaFacts facts = convertAndProbe(node);
            ASSERT_TRUE(facts.ok) << qPrintable(facts.error);
            EXPECT_EQ(facts.stream("audio").sampleRate, 48000);
            EXPECT_NEAR(facts.stream("audio").duration, 2.0, kSlack);
        }
        for (const QString standard : { "NTSC", "PAL" }) {
            SCOPED_TRACE(qPrintable(source + " " + standard));
            const auto node = load(source, standard + " DVD Video");
            ASSERT_NE(node, nullptr);
            ASSERT_TRUE(convert(node));
            const QString disc = dir.filePath("disc-" + standard);
            EXPECT_EQ(authoringComplaints(node->outputName(), standard, disc), QString());
        }
    }
}

// ProRes 4444 is decoded to 12 bits, whatever the encoder was given.
TEST_F(VideoDvdEngine, EveryProResFlavourGivesItsProfileAndPixelFormat)
{
    const Expected cases[] = {
        { "ProRes 4444", kMov, "prores", 160, 120, "yuv444p12le", "4444", "aac", 48000 },
        { "ProRes 422 HQ", kMov, "prores", 160, 120, "yuv422p10le", "HQ", "aac", 48000 },
        { "ProRes 422", kMov, "prores", 160, 120, "yuv422p10le", "Standard", "aac", 48000 },
        { "ProRes 422 LT", kMov, "prores", 160, 120, "yuv422p10le", "LT", "aac", 48000 },
        { "ProRes 422 Proxy", kMov, "prores", 160, 120, "yuv422p10le", "Proxy", "aac", 48000 },
    };
    const QString source = TestMedia::path(TestMedia::kVideoWithAudio);
    for (const Expected& e : cases) {
        convertAndCheck(source, e, NXVideoQuality::CBR);
        convertAndCheck(source, e, NXVideoQuality::VBR);
    }
}

} // namespace

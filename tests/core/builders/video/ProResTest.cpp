#include "builders/video/ProRes.h"

#include "FrameTestSupport.h"
#include "platform/SystemInfo.h"

#include <gtest/gtest.h>

namespace {

class ProResBuilders : public VideoBuilderTest {
protected:
    QString build(ArgvAssembler builder, const char* model, int phase)
    {
        useProfile(
            { { "VideoQuality", qualityChoice(model, "4000", 8000) }, { "QualityPhase", phase },
                { "AudioCodec", choice("mp3") }, { "FileNameSuffix", "mov" } });
        return line(builder);
    }
};

TEST_F(ProResBuilders, FlavoursProfilesQuantisersAndPixelFormats)
{
    const struct {
        const char* label;
        ArgvAssembler builder;
        const char* model;
        int phase;
        const char* codec; // from "-c:v" to the audio codec
        const char* pixelFormat;
    } cases[] = {
        { "4444", Video_To_ProRes4444_With_AVEncoder, "CBR", 1, "prores", "yuv444p10le" },
        { "4444 quality", Video_To_ProRes4444_With_AVEncoder, "VBR", 2,
            "prores -qmin 2 -qmax 15 -qscale:v 1", "yuv444p10le" },
        { "HQ", Video_To_ProRes422HQ_With_AVEncoder, "CBR", 2, "prores -profile:v 3",
            "yuv422p10le" },
        { "422 quality", Video_To_ProRes422_With_AVEncoder, "VBR", 0,
            "prores -qmin 2 -qmax 41 -qscale:v 6 -profile:v 2", "yuv422p10le" },
        { "LT quality", Video_To_ProRes422LT_With_AVEncoder, "VBR", 2,
            "prores -qmin 2 -qmax 15 -qscale:v 1 -profile:v 1", "yuv422p10le" },
        { "Proxy quality", Video_To_ProRes422Poxy_With_AVEncoder, "VBR", 1,
            "prores -qmin 2 -qmax 28 -qscale:v 3 -profile:v 0", "yuv422p10le" },
    };
    config.cpuCore = SystemInfo::processorCount();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const QString text = build(c.builder, c.model, c.phase);
        EXPECT_EQ(text,
            QString("encoder -d -y -i /media/my clip.mp4 -c:v %1 -c:a libfdk_aac -b:a 128k -ar "
                    "44100 -ac 2 -sn -pix_fmt %2 -f mov %3")
                .arg(c.codec, c.pixelFormat, dir.filePath("my clip.mov")));
    }
}

TEST_F(ProResBuilders, ThreadsOnlyWhenTheCoreCountDiffers)
{
    config.cpuCore = 0;
    EXPECT_TRUE(build(Video_To_ProRes422_With_AVEncoder, "CBR", 1)
                    .contains("my clip.mp4 -threads 0 -c:v prores"));
}

} // namespace

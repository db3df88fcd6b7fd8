#include "builders/video/DV.h"
#include "builders/video/VOB.h"

#include "FrameTestSupport.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

class DvdAndDvBuilders : public VideoBuilderTest {
protected:
    // A title and an artist, which VOB and DV write and the DVD targets leave out.
    void useTitledProfile(const QVariantMap& overrides)
    {
        useProfile(overrides);
        DNNodeInfo info = node->nodeInfo();
        info.displayName = "Title";
        info.artist = "Artist";
        node->setNodeInfo(info);
    }
};

QVariantMap quality(const char* model)
{
    return qualityChoice(model, "4000", 8000);
}

const QString kMpeg2 = "-c:v mpeg2video -g 12 -mbd rd -trellis 1 -flags +mv0 -cmp 0 -subcmp 2 ";

TEST_F(DvdAndDvBuilders, VobRateControlModels)
{
    const struct {
        const char* model;
        int phase;
        QString rateControl;
    } cases[] = {
        { "CBR", 2, "-minrate 4000k -maxrate 4000k -bufsize 1835k" },
        { "VBR", 2, "-qscale:v 2 -qmin 2 -qmax 15 -maxrate 8000k -bufsize 1835k" },
        { "VBR", 0, "-qscale:v 10 -qmin 2 -qmax 41 -maxrate 8000k -bufsize 1835k" },
        { "VBR", 1, "-qscale:v 4 -qmin 2 -qmax 30 -maxrate 8000k -bufsize 1835k" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + std::to_string(c.phase));
        useTitledProfile({ { "VideoQuality", quality(c.model) }, { "QualityPhase", c.phase },
            { "AudioCodec", choice("aac") }, { "FileNameSuffix", "vob" } });
        EXPECT_EQ(line(Video_To_VOB_With_AVEncoder),
            "encoder -d -y -i /media/my clip.mp4 -b:v 4000k " + kMpeg2 + c.rateControl
                + " -c:a mp2 -b:a 128k -ar 44100 -ac 2 -metadata title=Title -metadata "
                  "artist=Artist -sn -pix_fmt yuv420p -f vob "
                + dir.filePath("my clip.vob"));
    }
}

// The source decoder wants the exact tag; the packed-format step ignores case.
// VOB is written in 4:2:0 whatever the source.
TEST_F(DvdAndDvBuilders, PackedSourcesGetAPlanarFormatBeforeTheContainer)
{
    const struct {
        const char* codec;
        bool decoder;
        bool planar;
    } cases[] = {
        { "2vuy", false, true },
        { "2VUY", false, true },
        { "mp2v", true, false },
        { "MP2V", false, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codec);
        node->videoTracks()[0].codec = c.codec;
        const QString vob = line(Video_To_VOB_With_AVEncoder);
        const QString dvd = line(Video_To_PALDVD_With_AVEncoder);
        EXPECT_TRUE(vob.contains("-sn -pix_fmt yuv420p -f vob")) << qPrintable(vob);
        EXPECT_EQ(dvd.contains("-sn -pix_fmt yuv420p -f dvd"), c.planar) << qPrintable(dvd);
        EXPECT_EQ(vob.startsWith("encoder -d -y -c:v mpeg2video -i"), c.decoder);
        EXPECT_EQ(dvd.startsWith("encoder -d -y -c:v mpeg2video -i"), c.decoder);
    }
}

// The DV and DVD targets stand for codecs, rates, audio and (for DVD)
// metadata, and both always fill their standard's frame without touching the
// node's own choice.
TEST_F(DvdAndDvBuilders, TargetsReplaceCodecOptionsAndTheFrameIsAlwaysFilled)
{
    // Scaled or padded to the whole frame.
    const QRegularExpression fills480(
        "(scale=720:480|pad=720:480:\\(ow-iw\\)/2:\\(oh-ih\\)/2)[,\\[]");
    const struct {
        const char* label;
        ArgvAssembler builder;
        const char* resolution;
        const char* expected; // the words after the source path
        bool metadata;
        const char* rate; // the standard's, which the graph converts to first
    } cases[] = {
        { "NTSC DVD", Video_To_NTSCDVD_With_AVEncoder, "720x480",
            "-filter_complex FILTER -map [video] -map 0:#2 -sn -f dvd -target ntsc-dvd", false,
            "30000/1001" },
        { "PAL DVD", Video_To_PALDVD_With_AVEncoder, "720x576",
            "-filter_complex FILTER -map [video] -map 0:#2 -sn -f dvd -target pal-dvd", false,
            "25" },
        { "NTSC DV", Video_To_DV_With_AVEncoder, "720x480",
            "-target ntsc-dv -filter_complex FILTER -metadata title=Title -metadata "
            "artist=Artist -map [video] -map 0:#2 -sn -f dv",
            true, "30000/1001" },
        { "DV upper-case X", Video_To_DV_With_AVEncoder, "720X480", "-target pal-dv", true, "25" },
        { "DV PAL", Video_To_DV_With_AVEncoder, "720x576", "-target pal-dv -filter_complex", true,
            "25" },
        // The target writes PAL's frame: the picture is fitted into it.
        { "DV keep origin", Video_To_DV_With_AVEncoder, "keep origin",
            "-target pal-dv -filter_complex [0:#1]fps=25,scale=720:576,setsar=64/45[video] "
            "-metadata",
            true, "25" },
    };
    for (const bool expand : { false, true }) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.label) + (expand ? ", expanding" : ""));
            useTitledProfile({ { "VideoResolution", choice(c.resolution) },
                { "VideoFrameRate", choice("25") }, { "VideoQuality", quality("VBR") } });
            node->setting().setAutoExpandToProfile(expand);
            const QString text = line(c.builder);
            const QString graph = text.section(" -filter_complex ", 1).section(' ', 0, 0);
            const QString expected = QString(c.expected).replace("FILTER", graph);
            EXPECT_TRUE(text.contains("my clip.mp4 " + expected)) << qPrintable(text);
            EXPECT_TRUE(graph.startsWith(QString("[0:#1]fps=") + c.rate)) << qPrintable(graph);
            if (QString(c.resolution) == "720x480") {
                EXPECT_TRUE(graph.contains(fills480)) << qPrintable(graph);
            }
            for (const char* absent : { "-r ", "-b:v", "-c:a", "-b:a", "-ar ", "-ac ", "-qscale" })
                EXPECT_FALSE(text.contains(absent)) << absent;
            EXPECT_EQ(text.contains("-metadata"), c.metadata);
            EXPECT_EQ(node->setting().autoExpandToProfile(), expand);
        }
    }
}

// Without forced expansion the VOB picture keeps its fitted size.
TEST_F(DvdAndDvBuilders, VobFillsTheFrameOnlyWhenTheNodeAsks)
{
    for (const bool expand : { false, true }) {
        useTitledProfile({ { "VideoResolution", choice("720x480") } });
        node->setting().setAutoExpandToProfile(expand);
        EXPECT_EQ(line(Video_To_VOB_With_AVEncoder).contains("pad=720:480"), expand);
    }
}

} // namespace

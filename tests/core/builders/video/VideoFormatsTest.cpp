// What the phone, Flash, web, ASF and RealMedia builders add to the frame:
// their codec blocks and rate control, audio codec, container, frame
// variants, the phone entries' choice of core and the AVI aspect.
#include "builders/video/ThreeGP.h"

#include "FrameTestSupport.h"
#include "platform/SystemInfo.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

class VideoFormats : public VideoBuilderTest {
protected:
    // The line of the builder registered as "Video_To_<format>_With_AVEncoder";
    // empty when the table lacks it or the build fails.
    QString build(const char* format)
    {
        const QByteArray name = QByteArray("Video_To_") + format + "_With_AVEncoder";
        const ArgvAssembler builder = findArgvAssembler(name.constData());
        EXPECT_NE(builder, nullptr) << name.constData();
        return builder ? line(builder) : QString();
    }
};

const QString kFlash
    = "-c:v libx264 -flags +loop -cmp chroma -partitions +parti4x4+partp8x8+partb8x8 -me_method "
      "hex -subq 6 -me_range 16 -g 250 -keyint_min 25 -sc_threshold 40 -i_qfactor 0.71 "
      "-b_strategy 1 -qcomp 0.6 -qdiff 4 -bf 3 -coder 1 -refs 3 -direct-pred 1 -trellis 1 "
      "-wpredp 2";
const QString kMpeg4Options
    = " -mbd 2 -flags +mv4+aic -trellis 2 -cmp 2 -subcmp 2 -bf 0 -g 250 -profile:v 1 -level 3";
const QString kXvid = "-c:v libxvid" + kMpeg4Options;
const QString kAsf = "-c:v mpeg4" + kMpeg4Options;
const QString kH264 = "-c:v libx264 -flags +loop -cmp chroma -deblock 0:0 -bt 256k -me_method "
                      "epzs -me_range 16 -subq 5 -partitions +parti4x4+parti8x8+partp8x8 -g 200 "
                      "-keyint_min 25 -trellis 0 -sc_threshold 40 -i_qfactor 0.71 -b_strategy 1 "
                      "-qcomp 0.6 -qdiff 4 -refs 2 -direct-pred 1 -wpredp 2 -rc_lookahead 30";
const QString kH264Tail = " -level 30 -bf 0 -coder 0";
const QString kBounds = " -minrate 1500k -maxrate 1500k -bufsize 1835k";
const QString kCeiling = " -maxrate 2000k -bufsize 1835k";

TEST_F(VideoFormats, CodecBlockAndRateControl)
{
    const struct {
        const char* builder;
        const char* codec;
        const char* model;
        int phase;
        const char* format;
        QString expected; // the words from "-c:v" up to the audio options
    } cases[] = {
        { "FLV", "libx264", "CBR", 1, "flv", kFlash + kBounds },
        { "FLV", "h263", "VBR", 2, "flv", "-c:v flv" },
        { "FLV", "H263", "VBR", 0, "flv", kFlash + " -crf 24 -qmin 2 -qmax 41 -maxrate 2000k" },
        { "F4V", "h263", "VBR", 2, "f4v", kFlash + " -crf 15 -qmin 2 -qmax 15 -maxrate 2000k" },
        { "3GP", "h264", "CBR", 1, "ipod", kH264 + " -profile:v baseline" + kH264Tail + kBounds },
        { "3G2", "h264", "VBR", 0, "iPod",
            kH264 + kH264Tail + " -crf 28 -qmin 10 -qmax 41" + kCeiling },
        { "3G2", "H264", "CBR", 1, "3g2", kXvid + kBounds },
        { "3GP", "mpeg4", "CBR", 1, "iPod", kXvid },
        { "WEBM", "vp8", "CBR", 1, "webm", "-c:v vp8" + kBounds },
        { "WEBM", "vp8", "VBR", 0, "webm", "-c:v vp8 -crf 30 -qmin 4 -qmax 63" },
        { "WEBM", "vp8", "VBR", 7, "webm", "-c:v vp8 -crf 10 -qmin 4 -qmax 30" },
        { "SWF", "flv1", "VBR", 2, "swf", "-c:v flv1" },
        { "ASF", "mpeg4", "CBR", 1, "IPOD", kAsf },
        { "ASF", "mpeg4", "VBR", 5, "asf", kAsf + " -qmin 2 -qmax 28 -qscale:v 3" + kCeiling },
        { "RM", "rv20", "VBR", 0, "rm", "-c:v rv20" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(
            QString("%1 %2 %3 %4").arg(c.builder, c.codec, c.model).arg(c.phase).toStdString());
        useProfile({ { "VideoCodec", choice(c.codec) }, { "VideoQuality", qualityChoice(c.model) },
            { "QualityPhase", c.phase }, { "FileFormat", c.format } });
        const QString line = build(c.builder);
        const qsizetype start = line.indexOf(" -c:v ");
        EXPECT_EQ(line.mid(start + 1, line.indexOf(" -c:a ") - start - 1), c.expected);
    }
}

TEST_F(VideoFormats, FrameVariantsAudioAndContainerPerBuilder)
{
    const int processors = SystemInfo::processorCount();
    const struct {
        const char* builder;
        const char* codec;
        bool threadsWhenAllCores;
        bool threadsWhenFewer;
        bool mapsOnMismatch;
        bool sourceRateForRealMedia;
        const char* tail; // from the audio codec to the container
    } cases[] = {
        { "3GP", "mpeg4", false, false, true, true,
            "libfdk_aac -b:a 128k -ar 44100 -ac 2 -sn -f 3gp" },
        { "3G2", "h264", false, true, false, false,
            "libfdk_aac -b:a 128k -ar 44100 -ac 2 -sn -pix_fmt yuv420p -f 3g2" },
        { "FLV", "libx264", false, false, true, false,
            "libmp3lame -b:a 128k -ar 44100 -ac 2 -sn -pix_fmt yuv420p -f flv" },
        { "F4V", "libx264", false, true, true, false,
            "libmp3lame -b:a 128k -ar 44100 -ac 2 -sn -pix_fmt yuv420p -f f4v" },
        { "WEBM", "vp8", true, true, true, false,
            "libvorbis -b:a 128k -ar 44100 -ac 2 -sn -f webm" },
        { "SWF", "flv1", false, false, true, false,
            "libmp3lame -b:a 128k -ar 44100 -ac 2 -sn -f swf" },
        { "ASF", "mpeg4", false, false, true, true, "wmav2 -b:a 128k -ar 44100 -ac 2 -sn -f asf" },
        { "RM", "rv20", false, false, true, false, "ac3 -b:a 128k -ar 44100 -ac 2 -sn -f rm" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.builder);
        useProfile({ { "VideoCodec", choice(c.codec) } });
        config.cpuCore = processors;
        const QString line = build(c.builder);
        EXPECT_TRUE(line.endsWith(QString(" -c:a %1 %2").arg(c.tail, node->outputName())))
            << qPrintable(line);
        EXPECT_EQ(
            line.contains(QString("mp4 -threads %1 -b:v").arg(processors)), c.threadsWhenAllCores);
        config.cpuCore = processors + 1;
        EXPECT_EQ(build(c.builder).contains(QString("mp4 -threads %1 -b:v").arg(processors + 1)),
            c.threadsWhenFewer);

        node->setSameStreams(false);
        EXPECT_EQ(build(c.builder).contains(" -map 0:#1 -map 0:#2 -sn -"), c.mapsOnMismatch);
        node->setSameStreams(true);
        node->setFileFormat("RealMedia");
        node->videoTracks()[0].fps = 29.97f;
        EXPECT_EQ(build(c.builder).contains(" -r 30000/1001 -b:v "), c.sourceRateForRealMedia);
    }
}

TEST_F(VideoFormats, PhoneEntriesChooseTheCoreByTheExactCodecName)
{
    const struct {
        const char* codec;
        const char* format;
        const char* profileAspect;
        const char* sourceAspect;
        const char* expected; // the "-aspect" value, or "none"
    } cases[] = {
        { "mpeg4", "AVI", "keep origin", "16x9", "16:9" },
        { "mpeg4", "avi", "keep origin", "2.35:1", "2.35" },
        { "mpeg4", "MPEG-4", "keep origin", "16x9", "none" },
        { "mpeg4", "AVI", "4x3", "16x9", "4:3" },
        // An unknown source aspect writes none rather than an empty value.
        { "mpeg4", "AVI", "keep origin", "", "none" },
        { "h264", "AVI", "keep origin", "16x9", "none" },
        { "h264", "AVI", "4x3", "16x9", "4:3" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QString("%1 %2 %3 %4")
                         .arg(c.codec, c.format, c.profileAspect, c.sourceAspect)
                         .toStdString());
        useProfile(
            { { "VideoCodec", choice(c.codec) }, { "VideoAspect", choice(c.profileAspect) } });
        node->setFileFormat(c.format);
        node->videoTracks()[0].aspectRatio = c.sourceAspect;
        const ArgumentBlockPtr block = Video_To_3GP_With_AVEncoder(node, 0, config);
        ASSERT_NE(block, nullptr);
        const QStringList args = block->arguments();
        const qsizetype at = args.indexOf("-aspect");
        EXPECT_EQ(at >= 0 ? args.value(at + 1) : QString("none"), QString(c.expected));
    }

    // The cores write a 3G2 file for kind 1 only.
    EXPECT_TRUE(lineOf(Video_To_GP_XVID_With_AVEncoder(7, node, 0, config)).contains("-f 3gp "));
    EXPECT_TRUE(lineOf(Video_To_GP_H264_With_AVEncoder(1, node, 0, config)).contains("-f 3g2 "));
    // Without a node there is no profile to read: the core refuses the build.
    EXPECT_EQ(Video_To_3G2_With_AVEncoder(nullptr, 0, config), nullptr);
}

} // namespace

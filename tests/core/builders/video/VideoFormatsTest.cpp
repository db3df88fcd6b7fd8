// What the phone, Flash, web, ASF and RealMedia builders add to the frame:
// their codec blocks and rate control, audio codec, container, frame
// variants, the phone entries' choice of core and the AVI aspect.
#include "builders/video/ThreeGP.h"

#include "FrameTestSupport.h"
#include "engine/ArgvAssemblerTables.h"
#include "platform/SystemInfo.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

QVariantMap quality(const char* model)
{
    QVariantMap map = choice("1500");
    map["MaxVideoBitrate"] = 2000;
    map["BitrateModel"] = model;
    return map;
}

class VideoFormats : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(setConfigPath(config.outputDir, dir.path()));
        useProfile({});
    }

    void useProfile(const QVariantMap& overrides)
    {
        node = videoNode(videoProfile(overrides));
        ASSERT_NE(node->profile(), nullptr);
    }

    // The line of the builder registered under `name`; empty when the name
    // is not in the table or the build fails.
    QString build(const char* name)
    {
        const ArgvAssembler builder = findArgvAssembler(name);
        EXPECT_NE(builder, nullptr) << name;
        return builder ? lineOf(builder(node, 0, config)) : QString();
    }

    QTemporaryDir dir;
    EncodeConfig config;
    std::shared_ptr<DNFileNode> node;
};

// The words from the codec block's "-c:v" up to the audio options.
QString codecPart(const QString& line)
{
    const qsizetype start = line.indexOf(" -c:v ");
    return line.mid(start + 1, line.indexOf(" -c:a ") - start - 1);
}

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

struct CodecCase {
    const char* builder;
    const char* codec;
    const char* model;
    int phase;
    const char* format;
    QString expected; // the codec part
    const char* audio;
    const char* container;
};

TEST_F(VideoFormats, CodecBlockAudioAndContainerPerBuilder)
{
    const char* const flv = "Video_To_FLV_With_AVEncoder";
    const char* const f4v = "Video_To_F4V_With_AVEncoder";
    const char* const gp = "Video_To_3GP_With_AVEncoder";
    const char* const g2 = "Video_To_3G2_With_AVEncoder";
    const char* const webm = "Video_To_WEBM_With_AVEncoder";
    const char* const swf = "Video_To_SWF_With_AVEncoder";
    const char* const asf = "Video_To_ASF_With_AVEncoder";
    const char* const rm = "Video_To_RM_With_AVEncoder";
    const char* const mp3 = "libmp3lame";
    const char* const aac = "libfdk_aac";
    const CodecCase cases[] = {
        { flv, "libx264", "CBR", 1, "flv", kFlash + kBounds, mp3, "flv" },
        { flv, "h263", "VBR", 2, "flv", "-c:v flv", mp3, "flv" },
        { flv, "H263", "CBR", 1, "flv", kFlash + kBounds, mp3, "flv" },
        { flv, "libx264", "VBR", 2, "flv", kFlash + " -crf 15 -qmin 2 -qmax 15 -maxrate 2000k", mp3,
            "flv" },
        { flv, "libx264", "VBR", 0, "flv", kFlash + " -crf 24 -qmin 2 -qmax 41 -maxrate 2000k", mp3,
            "flv" },
        { flv, "libx264", "VBR", 1, "flv", kFlash + " -crf 22 -qmin 2 -qmax 30 -maxrate 2000k", mp3,
            "flv" },
        { f4v, "h263", "CBR", 1, "f4v", kFlash + kBounds, mp3, "f4v" },
        { gp, "h264", "CBR", 1, "3gp", kH264 + kH264Tail + kBounds, aac, "3gp" },
        { gp, "h264", "CBR", 1, "ipod", kH264 + " -profile:v baseline" + kH264Tail + kBounds, aac,
            "3gp" },
        { gp, "h264", "VBR", 1, "iPod", kH264 + kH264Tail + " -crf 22 -qmin 5 -qmax 30" + kCeiling,
            aac, "3gp" },
        { g2, "h264", "VBR", 0, "3g2", kH264 + kH264Tail + " -crf 28 -qmin 10 -qmax 41" + kCeiling,
            aac, "3g2" },
        { g2, "H264", "CBR", 1, "3g2", kXvid + kBounds, aac, "3g2" },
        { gp, "mpeg4", "VBR", 2, "3gp", kXvid + " -qmin 2 -qmax 15 -qscale:v 1" + kCeiling, aac,
            "3gp" },
        { gp, "mpeg4", "CBR", 1, "iPod", kXvid, aac, "3gp" },
        { webm, "vp8", "CBR", 1, "webm", "-c:v vp8" + kBounds, "libvorbis", "webm" },
        { webm, "vp8", "VBR", 2, "webm", "-c:v vp8 -crf 5 -qmin 4 -qmax 15", "libvorbis", "webm" },
        { webm, "vp8", "VBR", 0, "webm", "-c:v vp8 -crf 30 -qmin 4 -qmax 63", "libvorbis", "webm" },
        { webm, "vp8", "VBR", 1, "webm", "-c:v vp8 -crf 10 -qmin 4 -qmax 30", "libvorbis", "webm" },
        { swf, "flv1", "VBR", 2, "swf", "-c:v flv1", mp3, "swf" },
        { swf, "flv1", "CBR", 1, "swf", "-c:v flv1", mp3, "swf" },
        { asf, "mpeg4", "CBR", 1, "asf", kAsf + kBounds, "wmav2", "asf" },
        { asf, "mpeg4", "CBR", 1, "IPOD", kAsf, "wmav2", "asf" },
        { asf, "mpeg4", "VBR", 5, "asf", kAsf + " -qmin 2 -qmax 28 -qscale:v 3" + kCeiling, "wmav2",
            "asf" },
        { rm, "rv20", "VBR", 0, "rm", "-c:v rv20", "ac3", "rm" },
        { rm, "rv20", "CBR", 2, "rm", "-c:v rv20", "ac3", "rm" },
    };
    for (const CodecCase& c : cases) {
        SCOPED_TRACE(QString("%1 %2 %3 %4 %5")
                         .arg(c.builder, c.codec, c.model)
                         .arg(c.phase)
                         .arg(c.format)
                         .toStdString());
        useProfile({ { "VideoCodec", choice(c.codec) }, { "VideoQuality", quality(c.model) },
            { "QualityPhase", c.phase }, { "FileFormat", c.format },
            { "AudioCodec", choice("aac") } });
        const QString line = build(c.builder);
        EXPECT_EQ(codecPart(line), c.expected);
        // The bitrate stands under every model, right before the codec block.
        EXPECT_TRUE(
            line.contains(QRegularExpression("my clip.mp4( -threads \\d+)? -b:v 1500k -c:v ")))
            << qPrintable(line);
        const QString tail
            = QString(" -c:a %1 -b:a 128k -ar 44100 -ac 2 -sn -f %2 ").arg(c.audio, c.container);
        EXPECT_TRUE(line.endsWith(tail + node->outputName())) << qPrintable(line);
    }
}

TEST_F(VideoFormats, FrameVariantsPerBuilder)
{
    const int processors = SystemInfo::processorCount();
    const struct {
        const char* builder;
        const char* codec;
        bool threadsWhenAllCores;
        bool threadsWhenFewer;
        bool mapsOnMismatch;
        bool sourceRateForRealMedia;
    } cases[] = {
        { "Video_To_3GP_With_AVEncoder", "mpeg4", false, false, true, true },
        { "Video_To_3G2_With_AVEncoder", "h264", false, true, false, false },
        { "Video_To_FLV_With_AVEncoder", "libx264", false, false, true, false },
        { "Video_To_F4V_With_AVEncoder", "libx264", false, true, true, false },
        { "Video_To_WEBM_With_AVEncoder", "vp8", true, true, true, false },
        { "Video_To_SWF_With_AVEncoder", "flv1", false, false, true, false },
        { "Video_To_ASF_With_AVEncoder", "mpeg4", false, false, true, true },
        { "Video_To_RM_With_AVEncoder", "rv20", false, false, true, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.builder);
        useProfile({ { "VideoCodec", choice(c.codec) } });
        config.cpuCore = processors;
        EXPECT_EQ(build(c.builder).contains(QString("my clip.mp4 -threads %1 ").arg(processors)),
            c.threadsWhenAllCores);
        config.cpuCore = processors + 1;
        EXPECT_EQ(
            build(c.builder).contains(QString("my clip.mp4 -threads %1 ").arg(processors + 1)),
            c.threadsWhenFewer);

        node->setSameStreams(false);
        EXPECT_EQ(build(c.builder).contains(" -map 0:#1 -map 0:#2 -sn -f "), c.mapsOnMismatch);

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
        const char* expected; // the "-aspect" value, or "" for none
    } cases[] = {
        { "mpeg4", "AVI", "keep origin", "16x9", "16:9" },
        { "mpeg4", "avi", "keep origin", "2.35:1", "2.35" },
        { "mpeg4", "MPEG-4", "keep origin", "16x9", "" },
        { "mpeg4", "AVI", "4x3", "16x9", "4:3" },
        // An unknown source aspect writes none rather than an empty value.
        { "mpeg4", "AVI", "keep origin", "", "" },
        { "h264", "AVI", "keep origin", "16x9", "" },
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
        EXPECT_EQ(at >= 0 ? args.value(at + 1) : QString(), QString(c.expected));
    }

    // The cores write a 3G2 file for kind 1 only.
    EXPECT_TRUE(lineOf(Video_To_GP_XVID_With_AVEncoder(7, node, 0, config)).contains("-f 3gp "));
    EXPECT_TRUE(lineOf(Video_To_GP_H264_With_AVEncoder(1, node, 0, config)).contains("-f 3g2 "));
    // Without a node there is no profile to read: the core refuses the build.
    EXPECT_EQ(Video_To_3G2_With_AVEncoder(nullptr, 0, config), nullptr);
}

} // namespace

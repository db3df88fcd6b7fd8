#include "builders/video/Matroska.h"

#include "FrameTestSupport.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class MatroskaBuilder : public VideoBuilderTest {
protected:
    // The words from "-c:v" up to the audio options.
    static QString codecPart(const QString& words)
    {
        const qsizetype start = words.indexOf(" -c:v ");
        return words.mid(start + 1, words.indexOf(" -c:a ") - start - 1);
    }

    QString subtitlePath()
    {
        const QString path = dir.filePath("words.srt");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        // Within the trims of the cases: a text without a cue in what is kept is left out.
        file.write("1\n00:00:40,000 --> 00:00:42,000\nHello\n");
        return path;
    }
};

const QString kXvid
    = "-c:v libxvid -mbd 2 -flags +mv4+aic -trellis 2 -cmp 2 -subcmp 2 -bf 0 -g 250 "
      "-profile:v 1 -level 3";
const QString kX264 = "-c:v libx264 -flags +loop -cmp chroma -deblock 0:0 -bt 256k -me_method "
                      "epzs -me_range 16 -subq 5 -partitions +parti4x4+parti8x8+partp8x8 -g 200 "
                      "-keyint_min 25 -trellis 0 -sc_threshold 40 -i_qfactor 0.71 -b_strategy 1 "
                      "-qcomp 0.6 -qdiff 4 -refs 2 -direct-pred 1 -wpredp 2 -rc_lookahead 30";
const QString kX264Tail = " -level 30 -bf 0 -coder 0";
const QString kBounds = " -minrate 1500k -maxrate 1500k -bufsize 1835k";
const QString kCeiling = " -maxrate 2000k -bufsize 1835k";

TEST_F(MatroskaBuilder, CodecSetsAndRateControl)
{
    const struct {
        const char* label;
        const char* codec;
        const char* format;
        const char* model;
        int phase;
        QString expected;
    } cases[] = {
        { "xvid CBR", "LibXvid", "matroska", "CBR", 1, kXvid + kBounds },
        { "xvid CBR ipod", "libxvid", "iPod", "CBR", 1, kXvid },
        { "xvid VBR best", "libxvid", "matroska", "VBR", 2,
            kXvid + " -qmin 2 -qmax 15 -qscale:v 1" + kCeiling },
        { "xvid VBR smallest", "libxvid", "ipod", "VBR", 0,
            kXvid + " -qmin 2 -qmax 41 -qscale:v 10" + kCeiling },
        { "xvid VBR usual", "libxvid", "matroska", "VBR", 3,
            kXvid + " -qmin 2 -qmax 28 -qscale:v 3" + kCeiling },
        { "x264 CBR", "libx264", "matroska", "CBR", 1, kX264 + kX264Tail + kBounds },
        { "x264 CBR iPod", "h264", "iPod", "CBR", 1, kX264 + kX264Tail + kBounds },
        { "x264 CBR ipod", "libx264", "ipod", "CBR", 1,
            kX264 + " -profile:v baseline" + kX264Tail + kBounds },
        { "x264 VBR best", "libx264", "matroska", "VBR", 2,
            kX264 + kX264Tail + " -crf 16 -qmin 5 -qmax 20" + kCeiling },
        { "x264 VBR smallest", "other", "matroska", "VBR", 0,
            kX264 + kX264Tail + " -crf 28 -qmin 10 -qmax 41" + kCeiling },
        { "x264 VBR usual", "libx264", "matroska", "VBR", 5,
            kX264 + kX264Tail + " -crf 22 -qmin 5 -qmax 30" + kCeiling },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        useProfile({ { "VideoCodec", choice(c.codec) }, { "FileFormat", c.format },
            { "VideoQuality", qualityChoice(c.model) }, { "QualityPhase", c.phase },
            { "AudioCodec", choice("libmp3lame") } });
        const QString text = line(Video_To_MKV_With_AVEncoder);
        EXPECT_EQ(codecPart(text), c.expected);
        EXPECT_TRUE(text.contains("-b:v 1500k -c:v")) << qPrintable(text);
        EXPECT_TRUE(
            text.contains("-c:a libmp3lame -b:a 128k -ar 44100 -ac 2 -sn -pix_fmt yuv420p -f"));
    }
}

TEST_F(MatroskaBuilder, HighDefinitionDiffersInCodecAudioAndRate)
{
    const struct {
        const char* model;
        const char* rate;
        float fps;
        const char* expected;
    } cases[] = {
        { "VBR", "keep origin", 200,
            "-r 24000/1001 -b:v 1500k -c:v libx264 -preset slow -crf 20 "
            "-qp 0 -filter_complex [0:v:0]fps=24000/1001[video] -c:a libfdk_aac -b:a 128k" },
        { "CBR", "keep origin", 29.97f, "-b:v 1500k -c:v libx264 -preset slow -c:a libfdk_aac" },
        { "CBR", "keep origin", 150, "-b:v 1500k -c:v libx264 -preset slow -c:a libfdk_aac" },
        { "CBR", "25", 29.97f, "-r 25 -b:v 1500k" },
    };
    for (const auto& c : cases) {
        useProfile({ { "VideoQuality", qualityChoice(c.model) },
            { "VideoFrameRate", choice(c.rate) }, { "AudioCodec", choice("libmp3lame") } });
        node->videoTracks()[0].fps = c.fps;
        config.safeMode = true;
        const QString text = line(Video_To_HD_MKV_With_AVEncoder);
        EXPECT_TRUE(text.contains(QString("my clip.mp4 ") + c.expected)) << qPrintable(text);
        EXPECT_TRUE(text.endsWith("-f matroska " + dir.filePath("my clip.mkv")));
    }
}

struct SubtitleCase {
    const char* label;
    bool external;
    bool readable;
    bool text;
    bool trim;
    const char* format;
    // Patterns on the whole line; "COPY" stands for the subtitle copy's path.
    std::vector<const char*> present;
    std::vector<const char*> absent;
    const char* unreadableFile = "missing.srt";
};

TEST_F(MatroskaBuilder, SubtitlesTravelAsStreams)
{
    const SubtitleCase cases[] = {
        { "external with trim", true, true, true, true, "MPEG-4",
            { "my clip.mp4 -i COPY -ss 30 -t 60 -b:v", "-filter:a \\S+ -c:s copy -map",
                "-map 0:#1 -map 0:#2 -map 1:0 -metadata:s:s:0 language=eng -pix_fmt yuv420p -f "
                "matroska" },
            { " -sn" } },
        { "external unreadable", true, false, true, false, "MPEG-4",
            { "my clip.mp4 -b:v", "-map 0:#1 -map 0:#2 -sn -pix_fmt yuv420p -f" },
            { "-c:s", "1:0", "-i .* -i " } },
        { "external link to a device", true, false, true, false, "MPEG-4",
            { "my clip.mp4 -b:v", "-map 0:#1 -map 0:#2 -sn -pix_fmt yuv420p -f" },
            { "-c:s", "1:0" }, "zero.srt" },
        { "external FIFO", true, false, true, false, "MPEG-4",
            { "my clip.mp4 -b:v", "-map 0:#1 -map 0:#2 -sn -pix_fmt yuv420p -f" },
            { "-c:s", "1:0" }, "fifo.srt" },
        { "embedded picture", false, true, false, false, "Matroska",
            { "-filter:a \\S+ -c:s copy", "-map 0:v:0 -map 0:a:0 -map 0:s:1 -pix_fmt yuv420p -f" },
            { " -sn" } },
        { "embedded timed text", false, true, true, false, "MPEG-4",
            { "-c:s srt", "-map 0:#1 -map 0:#2 -map 0:#4 -pix_fmt yuv420p -f" }, { "copy" } },
    };
    // A device and a FIFO beside the video: neither is waited on nor read without end.
    ASSERT_TRUE(QFile::link("/dev/zero", dir.filePath("zero.srt")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("fifo.srt")), 0600), 0);
    for (const SubtitleCase& c : cases) {
        SCOPED_TRACE(c.label);
        useProfile({});
        node->setFileFormat(c.format);
        node->setting().setVolume(50);
        node->setting().setTrimEnable(c.trim);
        node->setting().setTrimStartPercent(0.25f);
        node->setting().setTrimEndPercent(0.75f);
        std::vector<DNSubtitleTrack> tracks { DNTSubtitle { 3, true, {} } };
        if (c.external) {
            DNTExtSubtitle file = DNTExtSubtitle::extSubtitleTrack(
                c.readable ? subtitlePath() : dir.filePath(c.unreadableFile));
            file.codePage = "UTF-8";
            tracks.emplace_back(file);
        } else {
            tracks.emplace_back(DNTSubtitle { 4, c.text, {} });
        }
        node->setSubtitleTracks(tracks);
        node->setting().setSubtitleIndex(1);
        const QString text = line(Video_To_MKV_With_AVEncoder);
        const QString copy = text.section(" -i ", 2, 2).section(' ', 0, 0);
        for (const char* pattern : c.present) {
            const QString p = QString(pattern).replace("COPY", QRegularExpression::escape(copy));
            EXPECT_TRUE(text.contains(QRegularExpression(p))) << pattern << "\n"
                                                              << qPrintable(text);
        }
        for (const char* pattern : c.absent)
            EXPECT_FALSE(text.contains(QRegularExpression(pattern))) << pattern;
        if (c.external && c.readable) {
            EXPECT_TRUE(QFile::exists(copy)) << qPrintable(copy);
        }
    }
}

} // namespace

// The file encoder bridge on the installed ffmpeg: the adaptations it makes to
// builders' lists, its progress, its log, stop and subtitle extraction.
#include "engine/AVEncoder.h"
#include "support/EncodeWords.h"

#include "core/builders/BuilderTestSupport.h"
#include "fixtures/MediaFacts.h"
#include "fixtures/TestMedia.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <vector>

namespace {

// Counts the state reports of the runs, and can stop a run as soon as it starts.
struct StateRecorder {
    std::atomic<int> running { 0 };
    bool stopAtStart = false;

    StateRecorder() { AVEncoderSetStateCallback(&StateRecorder::report, this); }
    ~StateRecorder() { AVEncoderSetStateCallback(nullptr, nullptr); }
    StateRecorder(const StateRecorder&) = delete;
    StateRecorder& operator=(const StateRecorder&) = delete;

    static void report(int state, void* context)
    {
        auto* self = static_cast<StateRecorder*>(context);
        if (state == kAVEncoderStateRunning)
            ++self->running;
        if (self->stopAtStart)
            AVEncoderStop();
    }
};

// Our own ffmpeg children that are still there (zombies included).
int ffmpegChildren()
{
    int count = 0;
    const QString parent = QString::number(QCoreApplication::applicationPid());
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat("/proc/" + pid + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(stat.readAll());
        // "pid (comm) state ppid ..."
        const QStringList rest = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (text.contains("(ffmpeg)") && rest.value(1) == parent)
            ++count;
    }
    return count;
}

TEST(AVEncoder, AdaptsBuilderListsToTheInstalledEngine)
{
    const struct {
        QStringList builder;
        QStringList ran;
    } cases[] = {
        { { "encoder", "-d", "-y", "-i", "/in.mp4", "-c:a", "libfdk_aac", "/out.mp4" },
            { "-y", "-i", "/in.mp4", "-c:a", "aac", "/out.mp4" } },
        { { "encoder", "-acodec", "libfaac", "-me_method", "epzs", "-me_method", "hex" },
            { "-acodec", "aac", "-me_method", "hex" } },
        { { "encoder", "-flags", "+mv0", "-flags", "+loop", "-rc_lookahead", "30" },
            { "-mpv_flags", "+mv0", "-flags", "+loop", "-rc-lookahead", "30" } },
        { { "encoder", "-f", "concat", "-i", "/l.txt", "-f", "mp4", "/o.mp4" },
            { "-f", "concat", "-safe", "0", "-i", "/l.txt", "-f", "mp4", "/o.mp4" } },
        // DV and DVD outputs get their sound resampled in step with the
        // picture, joined to the volume filter; an input's format does not count.
        { { "encoder", "-i", "/in.mkv", "-target", "ntsc-dv", "-f", "dv", "/o.dv" },
            { "-i", "/in.mkv", "-target", "ntsc-dv", "-f", "dv", "-af",
                "aresample=48000:async=1000:first_pts=0:flags=res", "-rematrix_maxval", "1",
                "/o.dv" } },
        { { "encoder", "-i", "/in.mkv", "-filter:a", "volume=1.5[audio]", "-f", "dvd", "/o.mpg" },
            { "-i", "/in.mkv", "-filter:a",
                "volume=1.5,aresample=48000:async=1000:first_pts=0:flags=res[audio]", "-f", "dvd",
                "/o.mpg" } },
        { { "encoder", "-f", "dv", "-i", "/in.dv", "-f", "vob", "/o.vob" },
            { "-f", "dv", "-i", "/in.dv", "-f", "vob", "/o.vob" } },
        // SWF and RealMedia lose the encoder's priming at the encoder's rate;
        // ASF pads a frame ahead and keeps no floor under its rate.
        { { "encoder", "-i", "/in.mp4", "-ar", "22050", "-f", "swf", "/o.swf" },
            { "-i", "/in.mp4", "-ar", "22050", "-f", "swf", "-af",
                "aresample=22050,aresample=async=1000:first_pts=1105:flags=res", "/o.swf" } },
        { { "encoder", "-i", "/in.mp4", "-minrate", "1000k", "-maxrate", "1000k", "-f", "asf",
              "/o.asf" },
            { "-i", "/in.mp4", "-maxrate", "1000k", "-f", "asf", "-af",
                "aresample=async=1000:first_pts=-2048:flags=res", "/o.asf" } },
        // A join names its format by the output's suffix.
        { { "encoder", "-f", "concat", "-i", "/l", "-c:v", "rv20", "-c:a", "ac3", "/o.rm" },
            { "-f", "concat", "-safe", "0", "-i", "/l", "-c:v", "rv20", "-c:a", "ac3", "-af",
                "aresample=async=1000:first_pts=256:flags=res", "/o.rm" } },
        // Words only change where the whole run matches: a trailing option
        // stays, and a path is never taken for an option.
        { { "ffmpeg", "/-d/x.mp4", "-me_method" }, { "/-d/x.mp4", "-me_method" } },
        { { "encoder" }, {} },
    };
    for (const auto& c : cases)
        EXPECT_EQ(AVEncoderAdaptArguments(c.builder), c.ran) << c.builder.join(' ').toStdString();
}

TEST(AVEncoder, ReadsProgressAgainstTheDuration)
{
    const struct {
        int duration;
        QStringList lines;
        double time, fps, percent;
        qint64 frame;
    } cases[] = {
        { 10, { "frame=12", "fps=24.50", "out_time_us=2500000", "progress=continue" }, 2.5, 24.5,
            25, 12 },
        { 10, { "out_time_us=4000000", "out_time_us=N/A", "speed=N/A" }, 4, 0, 40, 0 },
        { 0, { "out_time_us=4000000" }, 4, 0, 0, 0 },
        { 2, { "out_time_us=2040000" }, 2.04, 0, 100, 0 },
        { 2, { "out_time_us=-23220", "bitrate=N/A", "garbage" }, 0, 0, 0, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines.join(' ').toStdString());
        ProgressInfo progress;
        for (const QString& line : c.lines)
            AVEncoderReadProgressLine(line, c.duration, progress);
        EXPECT_DOUBLE_EQ(progress.convertedTime, c.time);
        EXPECT_DOUBLE_EQ(progress.fps, c.fps);
        EXPECT_DOUBLE_EQ(progress.percent, c.percent);
        EXPECT_EQ(progress.frameNumber, c.frame);
    }
}

TEST(AVEncoder, RunsBuilderListsOnRealMedia)
{
    ASSERT_EQ(TestMedia::ensure(), QString());
    QTemporaryDir out;
    const QString video = TestMedia::path(TestMedia::kVideoWithAudio);
    const QString list = out.filePath("list.txt");
    QFile listFile(list);
    ASSERT_TRUE(listFile.open(QIODevice::WriteOnly));
    listFile.write(("file '" + video + "'\nfile '" + video + "'\n").toUtf8());
    listFile.close();

    const struct {
        QStringList list;
        int duration;
        const char *videoCodec, *audioCodec;
        double seconds;
    } cases[] = {
        { { "encoder", "-d", "-y", "-i", video, "-c:v", "libx264", "-preset", "ultrafast",
              "-me_method", "epzs", "-rc_lookahead", "10", "-c:a", "libfdk_aac", "-b:a", "64k",
              out.filePath("fdk.mp4") },
            2, "h264", "aac", 2 },
        { { "encoder", "-d", "-y", "-i", TestMedia::path(TestMedia::kTwoAudioAndText), "-map",
              "0:v", "-map", "0:a:1", "-c:v", "mpeg4", "-flags", "+mv0", "-c:a", "libfaac",
              out.filePath("faac.mkv") },
            2, "mpeg4", "aac", 2 },
        { { "encoder", "-d", "-y", "-f", "concat", "-i", list, "-c", "copy",
              out.filePath("joined.mp4") },
            4, "h264", "aac", 4 },
    };
    StateRecorder states;
    int runs = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list.last().toStdString());
        ASSERT_EQ(encodeWords(c.list, c.duration), 0) << sharedLogText().right(2000).toStdString();
        EXPECT_EQ(states.running, ++runs);
        const ProgressInfo progress = AVEncoderProgress();
        EXPECT_EQ(progress.percent, 100);
        EXPECT_NEAR(progress.convertedTime, c.seconds, 0.1);
        EXPECT_GT(progress.frameNumber, 0);
        const MediaFacts facts = MediaFacts::probe(c.list.last());
        ASSERT_TRUE(facts.ok) << facts.error.toStdString();
        EXPECT_EQ(facts.stream("video").codecName, c.videoCodec);
        EXPECT_EQ(facts.stream("audio").codecName, c.audioCodec);
        EXPECT_NEAR(facts.duration, c.seconds, 0.1);
        EXPECT_EQ(AVEncoderLastCommand().last(), c.list.last());
    }
    const QString log = sharedLogText();
    EXPECT_TRUE(log.contains("The encoder runs: ffmpeg -nostdin -hide_banner -nostats -progress "
                             "pipe:1 -y -i "
        + video
        + " -c:v libx264 -preset ultrafast "
          "-rc-lookahead 10 -c:a aac -b:a 64k "
        + out.filePath("fdk.mp4")));
    EXPECT_TRUE(log.contains("\tOutput #0, mp4, to '" + out.filePath("fdk.mp4") + "':"));
    EXPECT_FALSE(log.contains("\tframe="));
}

TEST(AVEncoder, FailuresAreLoggedAndReturned)
{
    QTemporaryDir out;
    const QString missing = out.filePath("no such file.mp4");
    const QStringList missingInput { "encoder", "-y", "-i", missing, out.filePath("o.mp4") };
    EXPECT_EQ(encodeWords(missingInput, 2), 1);
    const QString log = sharedLogText();
    EXPECT_TRUE(log.contains("\t" + missing + ": No such file or directory"));
    EXPECT_TRUE(log.contains(
        "The encoder failed with exit status 1: " + missing + ": No such file or directory"));
    EXPECT_FALSE(QFile::exists(out.filePath("o.mp4")));

    EXPECT_EQ(AVEncoderEncode(0, nullptr, 0), kAVEncoderFailed);
    const char* const withNull[] = { "encoder", nullptr };
    EXPECT_EQ(AVEncoderEncode(2, withNull, 0), kAVEncoderFailed);
    EXPECT_TRUE(sharedLogText().contains("The encoder was given no usable command line"));
}

TEST(AVEncoder, StopEndsALongEncodeAndReportsStopped)
{
    QTemporaryDir out;
    const QString output = out.filePath("long.mkv");
    const QStringList longRun { "encoder", "-d", "-y", "-re", "-f", "lavfi", "-i",
        "testsrc2=size=160x120:rate=25:duration=60", "-c:v", "libx264", "-preset", "ultrafast",
        output };
    auto run = std::async(std::launch::async, [&] { return encodeWords(longRun, 60); });
    ASSERT_TRUE(QTest::qWaitFor([] { return AVEncoderProgress().convertedTime >= 0.5; }, 10'000));
    EXPECT_EQ(ffmpegChildren(), 1);

    QElapsedTimer stopping;
    stopping.start();
    AVEncoderStop();
    ASSERT_EQ(run.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_LT(stopping.elapsed(), 2000);
    EXPECT_EQ(run.get(), kAVEncoderStopped);
    EXPECT_EQ(ffmpegChildren(), 0);
    EXPECT_LT(AVEncoderProgress().percent, 100);
    EXPECT_TRUE(sharedLogText().contains("The encoder was stopped before it finished."));
    // ffmpeg finished what it had: the partial output is a readable file.
    const MediaFacts partial = MediaFacts::probe(output);
    EXPECT_TRUE(partial.ok) << partial.error.toStdString();
    EXPECT_LT(partial.duration, 30);

    // A stop asked for as a run starts ends that run before ffmpeg is started;
    // a stop while nothing runs does not reach the next run.
    {
        StateRecorder states;
        states.stopAtStart = true;
        EXPECT_EQ(encodeWords(longRun, 60), kAVEncoderStopped);
    }
    AVEncoderStop();
    const QStringList shortRun { "encoder", "-y", "-f", "lavfi", "-i",
        "testsrc2=size=160x120:rate=25:duration=1", "-c:v", "mpeg4", out.filePath("short.mkv") };
    EXPECT_EQ(encodeWords(shortRun, 1), 0);
}

TEST(AVEncoder, ExtractsATextSubtitleAsSrt)
{
    ASSERT_EQ(TestMedia::ensure(), QString());
    QTemporaryDir out;
    const struct {
        const char* source;
        int index;
        bool extracted;
    } cases[] = {
        { TestMedia::kTwoAudioAndText, 0, true },
        { TestMedia::kTwoAudioAndText, 1, false }, // there is one subtitle stream
        { TestMedia::kPictureSubtitle, 0, false }, // a picture cannot become text
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " " + std::to_string(c.index));
        const QString output = out.filePath(QStringLiteral("sub %1.srt").arg(c.index));
        const int status = AVEncoderExtractSubFile(
            TestMedia::path(c.source).toUtf8().constData(), c.index, output.toUtf8().constData());
        EXPECT_EQ(status == 0, c.extracted) << status;
        if (!c.extracted)
            continue;
        QFile srt(output);
        ASSERT_TRUE(srt.open(QIODevice::ReadOnly));
        // The fixture's muxer shifts every stream by a few milliseconds.
        const QRegularExpression expected("^1\n00:00:00,0\\d\\d --> 00:00:01,0\\d\\d\nHello\n\n"
                                          "2\n00:00:01,0\\d\\d --> 00:00:02,0\\d\\d\nWorld\n\n$");
        const QString text = QString::fromUtf8(srt.readAll()).remove('\r');
        EXPECT_TRUE(expected.match(text).hasMatch()) << text.toStdString();
    }
}

} // namespace

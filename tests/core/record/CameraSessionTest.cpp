#include "record/CameraSession.h"

#include "fixtures/MediaFacts.h"
#include "platform/Fd.h"
#include "platform/ProcessRunner.h"
#include "support/PrivateSoundServer.h"
#include "support/StallLimit.h"
#include "support/StandInFfmpeg.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <future>

namespace {

// No camera exists on the test machines: lavfi pictures stand in, paced to the
// clock and stamped with the wall clock when taken, as a camera's driver does.
const QString kPicture = "testsrc2=size=640x480:rate=30";
const CameraDevice kCamera { "standin", "Stand-in",
    { "-use_wallclock_as_timestamps", "1", "-f", "lavfi", "-i", kPicture + ",realtime" } };
const CameraDevice kMuxedCamera { "muxed", "Muxed",
    { "-re", "-f", "lavfi", "-i", kPicture + "[out0];sine=frequency=880[out1]" }, true };

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// How much louder the sound is around `frequency` than away from it.
double toneOverRest(const QString& path, int frequency)
{
    const auto level = [&path, frequency](const QString& filter) {
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg",
            { "-hide_banner", "-i", path, "-vn", "-af",
                filter + QString("=f=%1:width_type=h:w=100,volumedetect").arg(frequency), "-f",
                "null", "-" });
        ffmpeg.waitForFinished(30000);
        static const QRegularExpression mean("mean_volume: (-?[0-9.]+) dB");
        return mean.match(ffmpeg.readAllStandardError()).captured(1).toDouble();
    };
    return level("bandpass") - level("bandreject");
}

// The first picture of an input, at 320x240.
QImage firstPicture(const QStringList& input)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
        input
            + QStringList { "-frames:v", "1", "-vf", "scale=320:240", "-f", "rawvideo", "-pix_fmt",
                "rgb24", "-" });
    ffmpeg.waitForFinished(30000);
    const QByteArray bytes = ffmpeg.readAllStandardOutput();
    if (bytes.size() != 320 * 240 * 3)
        return {};
    return QImage(
        reinterpret_cast<const uchar*>(bytes.constData()), 320, 240, QImage::Format_RGB888)
        .copy();
}

// Of 1200 points spread over two 320x240 pictures, those whose grey differs.
int differingPoints(const QImage& left, const QImage& right)
{
    int differing = 0;
    for (int y = 0; y < 240; y += 8)
        for (int x = 0; x < 320; x += 8)
            differing += qAbs(qGray(left.pixel(x, y)) - qGray(right.pixel(x, y))) > 24;
    return differing;
}

struct SessionRun {
    CameraSession session;
    std::vector<QImage> pictures;
    std::vector<double> levels;
    bool ended = false;
    QString reason;

    // Runs the plan until `seconds` of pictures are shown, then stops.
    void run(const CameraSessionPlan& plan, double seconds)
    {
        QObject::connect(&session, &CameraSession::previewFrameReady,
            [this, seconds, rate = plan.previewFrameRate](const QImage& picture) {
                pictures.push_back(picture);
                if (double(pictures.size()) >= seconds * rate)
                    session.stop();
            });
        QObject::connect(&session, &CameraSession::audioLevel,
            [this](double level) { levels.push_back(level); });
        QObject::connect(&session, &CameraSession::finished,
            [this](bool, int, const QString& why) { ended = true, reason = why; });
        ASSERT_TRUE(session.start(plan));
        ASSERT_TRUE(QTest::qWaitFor([this] { return ended; }, 30000));
    }
};

} // namespace

TEST(CameraDevices, OnlyPictureNodesAreListedInDeviceOrder)
{
    QTemporaryDir sysfs;
    for (const auto& [node, index, name] :
        std::vector<std::tuple<QString, QString, QString>> { { "video10", "0", "Tenth" },
            { "video2", "0", "" }, { "video3", "1", "Meta" }, { "video0", "0", "Built-in\n" } }) {
        QDir(sysfs.path()).mkdir(node);
        writeFile(sysfs.filePath(node + "/index"), index.toUtf8());
        writeFile(sysfs.filePath(node + "/name"), name.toUtf8());
    }
    QStringList listed;
    for (const CameraDevice& device : cameraDevicesIn(sysfs.path()))
        listed << device.localizedName + "=" + device.inputWords.join(' ');
    EXPECT_EQ(listed,
        QStringList({ "Built-in=-f v4l2 -ts abs -i /dev/video0",
            "video2=-f v4l2 -ts abs -i /dev/video2", "Tenth=-f v4l2 -ts abs -i /dev/video10" }));
}

TEST(CameraSession, PreviewIsMirrored)
{
    SessionRun run;
    run.run({ kCamera, {}, QSize(320, 240), 15, {}, {}, {} }, 0.5);
    ASSERT_FALSE(run.pictures.empty());
    EXPECT_LT(differingPoints(run.pictures.front(),
                  firstPicture({ "-f", "lavfi", "-i", kPicture }).mirrored(true, false)),
        60)
        << "of 1200 points";
}

// The recording, not the preview, takes the constant rate; the camera's
// uneven stamps would otherwise set it.
TEST(CameraSession, TheRecordingHasAConstantFrameRate)
{
    const QStringList words = cameraSessionArguments(
        { kCamera, {}, QSize(160, 120), 15, "/tmp/take.mov", std::nullopt, {} });
    const qsizetype recording = words.indexOf("[record]");
    ASSERT_GT(recording, words.indexOf("pipe:1"));
    const qsizetype rate = words.indexOf("-r", recording);
    ASSERT_GT(rate, 0);
    EXPECT_EQ(words.mid(rate, 4), QStringList({ "-r", "30", "-fps_mode", "cfr" }));
    EXPECT_EQ(words.indexOf("-r"), rate);
}

TEST(CameraSession, MuxedCameraRecordsItsOwnSoundWithinTheMaximumSize)
{
    QTemporaryDir folder;
    SessionRun run;
    run.run({ kMuxedCamera, "ignored", QSize(160, 120), 15, folder.filePath("take.mov"),
                QSize(320, 240), {} },
        2.0);
    const MediaFacts facts = MediaFacts::probe(folder.filePath("take.mov"));
    ASSERT_TRUE(facts.ok) << facts.error.toStdString() << run.reason.toStdString();
    EXPECT_EQ(facts.stream("video").codecName, "h264");
    EXPECT_EQ(facts.stream("audio").codecName, "aac");
    EXPECT_EQ(QSize(facts.stream("video").width, facts.stream("video").height), QSize(320, 240));
    EXPECT_NEAR(facts.stream("video").duration, 2.0, 0.5);
    EXPECT_GT(toneOverRest(folder.filePath("take.mov"), 880), 20);
    ASSERT_FALSE(run.levels.empty());
    EXPECT_GT(run.levels.back(), -20);
}

TEST(CameraSession, MeterShowsNothingForSilence)
{
    const CameraDevice silentCamera { "silent", "Silent",
        { "-re", "-f", "lavfi", "-i", kPicture + "[out0];anullsrc[out1]" }, true };
    SessionRun run;
    run.run({ silentCamera, {}, QSize(160, 120), 15, {}, {}, {} }, 0.5);
    ASSERT_FALSE(run.levels.empty()) << run.reason.toStdString();
    EXPECT_LT(*std::max_element(run.levels.begin(), run.levels.end()), -200);
}

TEST(CameraSession, MicrophoneIsMeteredAndRecordedAtTheCamerasSizeUnderALargerMaximum)
{
    PrivateSoundServer sound;
    ASSERT_EQ(sound.start(), "");
    ASSERT_EQ(sound.addSineMicrophone(440), "");
    QTemporaryDir folder;
    SessionRun run;
    run.run({ kCamera, "microphone", QSize(160, 120), 15, folder.filePath("take.mov"),
                QSize(1920, 1080), {} },
        2.0);
    const MediaFacts facts = MediaFacts::probe(folder.filePath("take.mov"));
    ASSERT_TRUE(facts.ok) << facts.error.toStdString() << run.reason.toStdString();
    EXPECT_EQ(QSize(facts.stream("video").width, facts.stream("video").height), QSize(640, 480));
    // The sound server hands out the sine two seconds at a time, so sound
    // from before the first picture and past the last one reaches ffmpeg.
    for (const double duration :
        { facts.duration, facts.stream("video").duration, facts.stream("audio").duration })
        EXPECT_NEAR(duration, 2.0, 0.5);
    EXPECT_GT(toneOverRest(folder.filePath("take.mov"), 440), 20);
    // Only the preview is mirrored.
    EXPECT_LT(differingPoints(firstPicture({ "-i", folder.filePath("take.mov") }),
                  firstPicture({ "-f", "lavfi", "-i", kPicture })),
        60);
    ASSERT_FALSE(run.levels.empty());
    EXPECT_GT(run.levels.back(), -20);
}

// A camera that hands out a few pictures and then nothing more (a driver that
// hangs), stood in for by a pipe that stays open: its session is ended once
// it has made no progress for the stall limit, and says so. The short limit
// holds from the first picture on, however long ffmpeg took to start.
TEST(CameraSession, ACameraThatStopsMovingIsEndedForIt)
{
    using namespace std::chrono_literals;
    const ScopedStallLimit stallLimit(60s);
    QTemporaryDir folder;
    const QString pipe = folder.filePath("camera");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const Fd feed(::open(QFile::encodeName(pipe).constData(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(feed.valid());
    const QByteArray pictures(15 * 32 * 24 * 3, '\x80');
    ASSERT_EQ(::write(feed.get(), pictures.constData(), size_t(pictures.size())), pictures.size());
    const CameraDevice hanging { "hanging", "Hanging",
        { "-f", "rawvideo", "-pixel_format", "rgb24", "-video_size", "32x24", "-framerate", "30",
            "-i", pipe } };
    SessionRun run;
    QObject::connect(
        &run.session, &CameraSession::previewFrameReady, [] { setEngineStallLimit(1s); });
    run.run(
        { hanging, {}, QSize(32, 24), 15, folder.filePath("take.mov"), std::nullopt, {} }, 3600.0);
    EXPECT_FALSE(run.pictures.empty());
    EXPECT_EQ(
        run.reason.toStdString(), ("ffmpeg " + stallReason(1s) + " and was ended").toStdString());
}

// What ffmpeg said went wrong is the reason, never a line of its progress
// report, whose values it pads ("speed=   1x"), nor of the sound's levels.
TEST(CameraSession, TheReasonIsWhatWentWrong)
{
    StandInFfmpeg ffmpeg;
    ASSERT_TRUE(ffmpeg.write(
        "echo '[video4linux2,v4l2 @ 0x5581] Cannot open video device /dev/video0' >&2\n"
        "printf 'frame=0\\nfps=0.00\\nbitrate=   0.0kbits/s\\nspeed=   1x\\n' >&2\n"
        "printf '[Parsed_ametadata_3 @ 0x5582] frame:3 pts:1234\\n' >&2\n"
        "printf 'lavfi.astats.Overall.Peak_level=-3.1\\nprogress=end\\n' >&2\n"
        "exit 1\n"));
    SessionRun run;
    run.run({ kCamera, {}, QSize(32, 24), 15, {}, {}, {} }, 3600.0);
    EXPECT_EQ(run.reason.toStdString(),
        "[video4linux2,v4l2 @ 0x5581] Cannot open video device /dev/video0");
}

// A recording to cut that never comes (its file system stopped answering,
// stood in for by a pipe no one writes): the cut is given up once it has made
// no progress for the stall limit, and the recording is left as it was.
TEST(CutRecording, ARecordingThatNeverComesIsGivenUp)
{
    using namespace std::chrono_literals;
    const ScopedStallLimit stallLimit(1s);
    QTemporaryDir folder;
    const QString pipe = folder.filePath("take.mov");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    std::future<void> cut = std::async(std::launch::async, [&pipe] { cutRecording(pipe, 1.0); });
    const bool givenUp = cut.wait_for(30s) == std::future_status::ready;
    // Otherwise the end of an empty recording lets ffmpeg go.
    if (!givenUp)
        Fd(::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_CLOEXEC));
    cut.wait();
    EXPECT_TRUE(givenUp);
    EXPECT_EQ(QDir(folder.path())
                  .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList { "take.mov" });
    struct stat recording { };
    ASSERT_EQ(::stat(QFile::encodeName(pipe).constData(), &recording), 0);
    EXPECT_TRUE(S_ISFIFO(recording.st_mode));
}

TEST(MoveRecording, NeverReplacesAndCrossesFileSystems)
{
    QTemporaryDir scratch;
    const QString tmpfs = scratch.filePath("tmpfs");
    QDir().mkpath(tmpfs);
    const bool mounted = ::mount("tmpfs", tmpfs.toUtf8().constData(), "tmpfs", 0, "size=1m") == 0;
    for (const QString& folder : { scratch.path(), tmpfs }) {
        writeFile(scratch.filePath("first"), "first");
        writeFile(scratch.filePath("second"), "second");
        QString error;
        EXPECT_EQ(moveRecording(scratch.filePath("first"), folder, "Take.mov", &error),
            folder + "/Take.mov");
        EXPECT_EQ(moveRecording(scratch.filePath("second"), folder, "Take.mov", &error),
            folder + "/Take (1).mov");
        QFile first(folder + "/Take.mov");
        ASSERT_TRUE(first.open(QIODevice::ReadOnly));
        EXPECT_EQ(first.readAll(), "first");
        EXPECT_FALSE(QFile::exists(scratch.filePath("second")));
    }
    const std::optional<QString> refused = moveRecording(
        scratch.filePath("missing"), scratch.filePath("nowhere"), "Take.mov", nullptr);
    EXPECT_FALSE(refused);
    if (mounted)
        ::umount2(tmpfs.toUtf8().constData(), MNT_DETACH);
    else
        GTEST_SKIP() << "another file system needs root to mount";
}

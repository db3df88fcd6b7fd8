#include "record/DNScreenRecorder.h"

#include "fixtures/MediaFacts.h"
#include "platform/Fd.h"
#include "platform/ProcessRunner.h"
#include "platform/UserDefaults.h"
#include "record/AudioDevice.h"
#include "record/PulseAudio.h"
#include "record/RecordedFile.h"
#include "services/OutputPublishing.h"
#include "support/RecordingStage.h"
#include "support/RunFfmpeg.h"
#include "support/SmallFileSystem.h"
#include "support/StallLimit.h"
#include "support/StandInFfmpeg.h"
#include "support/TestFiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <limits>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <poll.h>
#include <sched.h>
#include <unistd.h>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/syscall.h>

namespace {

const QString kRoutingKey = "DNScreenRecorderSoundRouting";

struct ResultKeeper : DNScreenRecorderDelegate {
    std::optional<DNRecordingResult> result;
    void screenRecorder(DNScreenRecorder&, const DNRecordingResult& finished) override
    {
        result = finished;
    }
};

// The mean level in dB of an input's sound through a filter.
double meanLevel(const QStringList& input, const QString& filter)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
        QStringList { "-hide_banner", "-nostats" } + input
            + QStringList { "-vn", "-af", filter + ",volumedetect", "-f", "null", "-" });
    ffmpeg.waitForFinished(30000);
    static const QRegularExpression mean("mean_volume: (-?[0-9.]+) dB");
    const QRegularExpressionMatch match = mean.match(ffmpeg.readAllStandardError());
    return match.hasMatch() ? match.captured(1).toDouble() : -1000.0;
}

// How much louder the sound is around `frequency` than away from it.
double toneOverRest(const QStringList& input, int frequency)
{
    const QString band = QString("f=%1:width_type=h:w=100").arg(frequency);
    return meanLevel(input, "bandpass=" + band) - meanLevel(input, "bandreject=" + band);
}

double toneOverRest(const QString& path, int frequency)
{
    return toneOverRest(QStringList { "-i", path }, frequency);
}

// Writes `bytes` into a new file at `path`, or as much as its file system takes.
void fillUp(const QString& path, qint64 bytes = std::numeric_limits<qint64>::max())
{
    QFile filler(path);
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(64 * 1024, 'x');
    for (qint64 size = 0; bytes > 0; bytes -= size) {
        size = std::min<qint64>(bytes, block.size());
        if (filler.write(block.constData(), size) != size)
            return;
    }
}

// `loops` busy loops on the core this thread runs on, and this thread, with
// what it starts from now on, kept to that core; all undone when it goes.
class BusyCore {
public:
    explicit BusyCore(int loops)
    {
        ::sched_getaffinity(0, sizeof m_before, &m_before);
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(::sched_getcpu(), &one);
        ::sched_setaffinity(0, sizeof one, &one);
        for (int loop = 0; loop < loops; ++loop) {
            m_loops.push_back(std::make_unique<QProcess>());
            m_loops.back()->start("sh", { "-c", "while :; do :; done" });
            m_loops.back()->waitForStarted();
        }
    }
    ~BusyCore()
    {
        for (const auto& loop : m_loops)
            stopByPid(*loop);
        ::sched_setaffinity(0, sizeof m_before, &m_before);
    }
    BusyCore(const BusyCore&) = delete;
    BusyCore& operator=(const BusyCore&) = delete;

private:
    cpu_set_t m_before {};
    std::vector<std::unique_ptr<QProcess>> m_loops;
};

class RecordingSession : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        startRecordingStage(display, sound);
        if (HasFatalFailure())
            return;
        bool installed = false;
        PrivateSoundServer::pactl(
            { "load-module", "module-null-sink", "sink_name=QuillonSysAudioCapture" }, &installed);
        ASSERT_TRUE(installed);
    }
    static void TearDownTestSuite()
    {
        display.reset();
        sound.reset();
    }
    void SetUp() override
    {
        sound->pointAtThisServer();
        ASSERT_TRUE(folder.isValid());
        QString error;
        recorder = DNScreenRecorder::create(&error);
        ASSERT_TRUE(recorder) << error.toStdString();
        recorder->setDelegate(&keeper);
    }

    // Records for `seconds` from the first picture by the clock (the time
    // left is set again at each report), stops, and waits for the result:
    // after the stop, for as long as the file grows, and then as long as the
    // recorder lets ffmpeg stand still. The time recorded goes to `recorded`,
    // by the same clock.
    DNRecordingResult record(const QString& path, double seconds, double* recorded = nullptr)
    {
        double reported = 0;
        QElapsedTimer sinceReport;
        double stoppedAt = 0;
        QDeadlineTimer deadline(kStartLimit);
        stopTimer.setSingleShot(true);
        bool stopped = false;
        QObject::connect(&stopTimer, &QTimer::timeout, recorder.get(), [&] {
            stoppedAt = reported + double(sinceReport.nsecsElapsed()) / 1e9;
            recorder->stopRecord();
            stopped = true;
            deadline.setRemainingTime(engineStallLimit() + kEndLimit);
        });
        QObject::connect(
            recorder.get(), &DNScreenRecorder::recordingProgress, &stopTimer, [&](double done) {
                reported = done;
                sinceReport.start();
                deadline.setRemainingTime(kStartLimit);
                stopTimer.start(int(std::max(0.0, seconds - done) * 1000));
            });
        EXPECT_TRUE(recorder->startRecord(path));
        qint64 written = 0;
        const auto endOrGrowth = [&] {
            const qint64 size = QFileInfo(path).size();
            if (stopped && size > written)
                deadline.setRemainingTime(engineStallLimit() + kEndLimit);
            written = size;
            return keeper.result.has_value() || deadline.hasExpired();
        };
        EXPECT_TRUE(QTest::qWaitFor(endOrGrowth, std::numeric_limits<int>::max()));
        EXPECT_TRUE(keeper.result.has_value());
        stopTimer.stop();
        stopTimer.disconnect();
        recorder->disconnect(&stopTimer);
        if (recorded)
            *recorded = stoppedAt;
        return keeper.result.value_or(DNRecordingResult {});
    }

    // How long ffmpeg may go without a report while it starts or records,
    // and take to end once the recorder has told it to.
    static constexpr std::chrono::seconds kStartLimit { 30 };
    static constexpr std::chrono::seconds kEndLimit { 15 };

    static QString defaultSink() { return PrivateSoundServer::pactl({ "get-default-sink" }); }
    static QString speakerVolumes()
    {
        return PrivateSoundServer::pactl({ "get-sink-volume", "speakers" }).section('\n', 0, 0);
    }
    static bool loopbackLoaded()
    {
        return PrivateSoundServer::pactl({ "list", "short", "modules" })
            .contains("module-loopback");
    }

    static std::unique_ptr<PrivateDisplay> display;
    static std::unique_ptr<PrivateSoundServer> sound;
    QTemporaryDir folder;
    QTimer stopTimer;
    ResultKeeper keeper;
    std::unique_ptr<DNScreenRecorder> recorder;
};

std::unique_ptr<PrivateDisplay> RecordingSession::display;
std::unique_ptr<PrivateSoundServer> RecordingSession::sound;

TEST_F(RecordingSession, SystemSoundIsRecordedHeardAndGivenBack)
{
    PrivateSoundServer::pactl({ "set-sink-volume", "speakers", "19661", "32768" });
    const QString volumesBefore = speakerVolumes();
    recorder->addDislayInputTocaptureSession(recorder->displayID(), QRect(101, 99, 641, 361));
    ASSERT_TRUE(recorder->setAudioDevice(kSystemAudioDeviceID));
    // Started once routed: a stream the server moves keeps its old delay for a while.
    QProcess* const tone = display->play({ "-nodisp", "-f", "lavfi", "-i", "sine=f=1000" });
    ASSERT_TRUE(tone);
    EXPECT_EQ(defaultSink(), "QuillonSysAudioCapture");
    const QString virtualVolume
        = PrivateSoundServer::pactl({ "get-sink-volume", "QuillonSysAudioCapture" });
    // 0.4 of the full volume, give or take the rounding of 0.3 and 0.5.
    EXPECT_TRUE(virtualVolume.contains(QRegularExpression("front-left: 2621[45] ")))
        << virtualVolume.toStdString();
    EXPECT_TRUE(UserDefaults::standard().contains(kRoutingKey));
    const double heard = toneOverRest({ "-f", "pulse", "-t", "1", "-i", "speakers.monitor" }, 1000);

    const QString path = folder.filePath("system sound ü.mov");
    const DNRecordingResult result = record(path, 3.0);
    stopByPid(*tone);

    EXPECT_TRUE(result.succeeded) << result.reason.toStdString();
    EXPECT_GT(heard, 10.0);
    const MediaFacts facts = MediaFacts::probe(path);
    ASSERT_TRUE(facts.ok) << facts.error.toStdString();
    EXPECT_EQ(facts.stream("video").codecName, "h264");
    EXPECT_EQ(QSize(facts.stream("video").width, facts.stream("video").height), QSize(640, 360));
    EXPECT_EQ(facts.stream("audio").codecName, "aac");
    // The stop comes once 3 s of pictures are encoded; on a loaded machine
    // the encoder trails the capture and a little more is written, but the
    // sound must always be as long as the picture.
    const double pictures = facts.stream("video").duration;
    EXPECT_GE(pictures, 2.7);
    EXPECT_LE(pictures, 4.0);
    EXPECT_NEAR(facts.stream("audio").duration, pictures, 0.3);
    EXPECT_GT(toneOverRest(path, 1000), 20.0);
    EXPECT_EQ(defaultSink(), "speakers");
    EXPECT_EQ(speakerVolumes(), volumesBefore);
    EXPECT_FALSE(loopbackLoaded());
    EXPECT_FALSE(UserDefaults::standard().contains(kRoutingKey));
}

TEST_F(RecordingSession, ARegionOffTheScreenIsRefusedAndTheSoundGivenBack)
{
    ASSERT_TRUE(recorder->setAudioDevice(kSystemAudioDeviceID));
    recorder->addDislayInputTocaptureSession(recorder->displayID(), QRect(1800, 1000, 400, 300));
    QString problem;
    EXPECT_FALSE(recorder->startRecord(folder.filePath("off.mov"), &problem));
    EXPECT_TRUE(problem.contains("does not lie on the 1920x1080 screen")) << problem.toStdString();
    EXPECT_EQ(defaultSink(), "speakers");
    EXPECT_FALSE(QFile::exists(folder.filePath("off.mov")));
}

TEST_F(RecordingSession, MicrophoneIsRecorded)
{
    recorder->addDislayInputTocaptureSession(recorder->displayID(), QRect(0, 0, 320, 240));
    ASSERT_TRUE(recorder->setAudioDevice("microphone"));
    const QString path = folder.filePath("microphone.mov");
    const DNRecordingResult result = record(path, 1.0);
    EXPECT_TRUE(result.succeeded) << result.reason.toStdString();
    EXPECT_GT(toneOverRest(path, 440), 20.0);
    EXPECT_EQ(defaultSink(), "speakers");
}

TEST_F(RecordingSession, WithoutADisplayThereIsNoRecorder)
{
    const QByteArray ours = qgetenv("DISPLAY");
    const struct {
        QByteArray display;
        QString reason;
    } cases[]
        = { { "", "DISPLAY is not set" }, { ":4711", "cannot open the X display \":4711\"" } };
    for (const auto& row : cases) {
        qputenv("DISPLAY", row.display);
        QString error;
        EXPECT_FALSE(DNScreenRecorder::create(&error));
        EXPECT_TRUE(error.contains(row.reason)) << error.toStdString();
    }
    qputenv("DISPLAY", ours);
}

TEST_F(RecordingSession, WithoutASoundServerVideoIsRecorded)
{
    PrivateSoundServer::pointAtNoServer();
    EXPECT_TRUE(audioCaptureDevices().empty());
    QString problem;
    EXPECT_FALSE(recorder->setAudioDevice(kSystemAudioDeviceID, &problem));
    EXPECT_EQ(problem, "No sound server found: recording video only.");
    recorder->addDislayInputTocaptureSession(recorder->displayID(), QRect(0, 0, 320, 240));
    const QString path = folder.filePath("video only.mov");
    const DNRecordingResult result = record(path, 0.5);
    EXPECT_TRUE(result.succeeded) << result.reason.toStdString();
    const MediaFacts facts = MediaFacts::probe(path);
    EXPECT_EQ(facts.count("video"), 1);
    EXPECT_EQ(facts.count("audio"), 0);
}

// Four busy loops on the core of the recorder's ffmpeg: its encoder trails
// the whole screen at 30 a second by a second or more, and its first pictures
// come bunched up. The file keeps the asked rate and holds all that was
// recorded up to the stop.
TEST_F(RecordingSession, ABusyMachineKeepsTheRateAndTheLength)
{
    std::vector<std::pair<DNRecordingResult, double>> takes;
    {
        const BusyCore busy(4);
        recorder->setMaxScreenInputFramerate(30);
        for (int take = 0; take < 2; ++take) {
            keeper.result.reset();
            double recorded = 0;
            const DNRecordingResult result
                = record(folder.filePath(QString("busy %1.mov").arg(take)), 4.0, &recorded);
            takes.emplace_back(result, recorded);
        }
    }
    for (const auto& [result, recorded] : takes) {
        EXPECT_TRUE(result.succeeded) << result.reason.toStdString();
        const MediaFacts facts = MediaFacts::probe(result.path);
        EXPECT_EQ(facts.stream("video").frameRate, "30/1") << result.path.toStdString();
        EXPECT_NEAR(facts.stream("video").duration, recorded, 0.2) << result.path.toStdString();
    }
}

// An ffmpeg that goes on recording for a while after it was told to stop
// (a stand-in that hands the stop on a second late, as a loaded machine may):
// the file ends at the stop all the same, and the recording is good.
TEST_F(RecordingSession, NothingAfterTheStopIsKept)
{
    StandInFfmpeg ffmpeg;
    ASSERT_TRUE(ffmpeg.write("trap 'sleep 1; kill -INT $engine' INT\n"
                             "'"
        + QFile::encodeName(QStandardPaths::findExecutable("ffmpeg"))
        + "' \"$@\" &\n"
          "engine=$!\n"
          "wait $engine\n"
          "wait $engine\n"));
    recorder->addDislayInputTocaptureSession(recorder->displayID(), QRect(0, 0, 320, 240));
    recorder->setMaxScreenInputFramerate(30);
    double recorded = 0;
    const DNRecordingResult result = record(folder.filePath("stop.mov"), 1.5, &recorded);
    EXPECT_TRUE(result.succeeded) << result.reason.toStdString();
    const MediaFacts facts = MediaFacts::probe(result.path);
    EXPECT_NEAR(facts.stream("video").duration, recorded, 0.2);
    EXPECT_EQ(decodeComplaints(result.path).toStdString(), "");
}

// A folder with no room left for the recording: from just before the stop,
// when ffmpeg still has its last fragment to write, or from the start. The
// recording fails with that reason, and the sound comes back to the speakers
// without a stop. What was written whole stays and plays, and the result
// says how much; a file with nothing whole in it is removed, which it says.
TEST_F(RecordingSession, AFullDiskFailsWithItsReasonAndGivesTheSoundBack)
{
    const struct {
        const char* name;
        const char* size;
        QRect region;
        bool withSound;
    } cases[] = {
        { "full at the stop", "size=16m", QRect(100, 100, 320, 240), false },
        { "full from the start", "size=1m", QRect(0, 0, 1920, 1080), true },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const QString mountPoint = folder.filePath(row.name);
        QDir().mkpath(mountPoint);
        if (::mount("tmpfs", mountPoint.toUtf8().constData(), "tmpfs", 0, row.size) != 0)
            GTEST_SKIP() << "cannot mount a small file system here (needs root)";
        keeper.result.reset();
        recorder->addDislayInputTocaptureSession(recorder->displayID(), row.region);
        recorder->setMaxScreenInputFramerate(30);
        QMetaObject::Connection filling;
        if (row.withSound) {
            fillUp(mountPoint + "/filler", 1000 * 1024);
            ASSERT_TRUE(recorder->setAudioDevice(kSystemAudioDeviceID));
        } else {
            // Once the first fragment is written; the last waits for the stop.
            filling = QObject::connect(recorder.get(), &DNScreenRecorder::recordingProgress,
                recorder.get(), [&](double seconds) {
                    if (seconds < 1.5)
                        return;
                    QObject::disconnect(filling);
                    fillUp(mountPoint + "/filler");
                    recorder->stopRecord();
                });
        }
        const DNRecordingResult result = record(mountPoint + "/full.mov", 20.0);
        QObject::disconnect(filling);
        if (QFile::exists(result.path)) {
            EXPECT_EQ(decodeComplaints(result.path).toStdString(), "");
            const QString kept
                = QString("\"full.mov\" keeps the first %1 s of it")
                      .arg(recordedPictureSeconds(result.path).value_or(0), 0, 'f', 1);
            EXPECT_TRUE(result.reason.endsWith(kept)) << result.reason.toStdString();
        } else {
            EXPECT_TRUE(result.reason.endsWith(
                "nothing of it could be played, and \"full.mov\" was removed"))
                << result.reason.toStdString();
        }
        ::umount2(mountPoint.toUtf8().constData(), MNT_DETACH);
        EXPECT_FALSE(result.succeeded);
        EXPECT_TRUE(result.reason.startsWith(
            "the disk is full: ffmpeg could not write all of its output into \"" + mountPoint
            + '"'))
            << result.reason.toStdString();
        EXPECT_TRUE(result.reason.contains("No space left on device"))
            << result.reason.toStdString();
        EXPECT_EQ(defaultSink(), "speakers");
        EXPECT_FALSE(loopbackLoaded());
    }
}

// An ffmpeg that ends well may have complained along the way: a complaint
// about the grab keeps the recording, one that says the file was not written
// whole fails it, in ffmpeg's words.
TEST_F(RecordingSession, OnlyAFailedWriteFailsARecordingThatEndedWell)
{
    StandInFfmpeg ffmpeg;
    const struct {
        QByteArray said;
        QString reason;
    } cases[] = {
        { "[x11grab @ 0x5610a8c3f2c0] Cannot get the image data event_error: response_type:0 "
          "error_code:8",
            "" },
        { "[mov @ 0x5610a8c3f2c0] Error writing trailer of file:take.mov: Input/output error",
            "Error writing trailer of file:take.mov: Input/output error" },
        { "av_interleaved_write_frame(): Input/output error",
            "av_interleaved_write_frame(): Input/output error" },
        { "[out#0/mov @ 0x55d1] Error submitting a packet to the muxer: File too large",
            "Error submitting a packet to the muxer: File too large" },
        { "[out#0/mov @ 0x55d1] Error muxing a packet", "Error muxing a packet" },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.said.toStdString());
        ASSERT_TRUE(ffmpeg.write("echo '" + row.said + "' >&2\n" + ffmpeg.real()));
        keeper.result.reset();
        const DNRecordingResult result = record(folder.filePath("take.mov"), 0.5);
        EXPECT_EQ(result.succeeded, row.reason.isEmpty());
        EXPECT_EQ(result.reason.section("; ", 0, 0).toStdString(), row.reason.toStdString());
    }
}

// An encoder that keeps moving but never writes what was recorded (a
// stand-in that drops every picture after its first) is told to finish once
// it has written nothing for the engines' stall limit after the stop, when
// that is shorter than the few seconds a catch-up may stand still.
TEST_F(RecordingSession, CatchingUpIsBoundByTheStallLimit)
{
    using namespace std::chrono_literals;
    const ScopedStallLimit stallLimit(3s);
    StandInFfmpeg ffmpeg;
    ASSERT_TRUE(ffmpeg.write("trap 'exit 255' INT\n"
                             "dropped=0\n"
                             "while :; do\n"
                             "  dropped=$((dropped + 1))\n"
                             "  printf 'frame=1\\ndrop_frames=%d\\nprogress=continue\\n' $dropped\n"
                             "  sleep 0.1\n"
                             "done\n"));
    const DNRecordingResult result = record(folder.filePath("behind.mov"), 0.5);
    EXPECT_FALSE(result.succeeded);
    EXPECT_TRUE(result.reason.contains(
        "pictures recorded up to the stop and encoded nothing more for 3.0 s, so it was told to "
        "finish the file)"))
        << result.reason.toStdString();
}

// After the stop an encoder is waited for only while it works, never for the
// engines' stall limit. One that encoded three pictures and then stands
// still (it waits for nothing, or is stopped by a signal) is told to finish
// the file once it has neither encoded a picture nor used the processor for
// five seconds; the result says so, what the file holds, and whether it had
// to be killed. One that catches up slowly, a picture every half second, or
// works for twelve seconds without a picture (a very busy machine), is let
// work until it has reached the stop.
TEST_F(RecordingSession, AStopWaitsOnlyForAnEncoderThatCatchesUp)
{
    using namespace std::chrono_literals;
    const ScopedStallLimit stallLimit(40s);
    const QString told = folder.filePath("told");
    const QByteArray answersStop
        = "trap 'echo $frame >\"" + QFile::encodeName(told) + "\"; exit 255' INT\n";
    const QByteArray standsStill = "frame=3\n"
                                   "printf 'frame=%d\\nprogress=continue\\n' $frame\n"
                                   "sleep 1000 &\n"
                                   "wait $!\n";
    const QByteArray catchesUp = "frame=1\n"
                                 "while :; do\n"
                                 "  printf 'frame=%d\\nprogress=continue\\n' $frame\n"
                                 "  tick=$((tick + 1))\n"
                                 "  [ $((tick % 5)) -eq 0 ] && frame=$((frame + 1))\n"
                                 "  sleep 0.1\n"
                                 "done\n";
    const QByteArray worksWithoutAPicture = "frame=1\n"
                                            "printf 'frame=%d\\nprogress=continue\\n' $frame\n"
                                            "end=$(($(date +%s) + 12))\n"
                                            "while [ $(date +%s) -lt $end ]; do :; done\n"
                                            "frame=1000\n"
                                            "printf 'frame=%d\\nprogress=continue\\n' $frame\n"
                                            "sleep 1000 &\n"
                                            "wait $!\n";
    const QByteArray isStopped = "printf 'frame=3\\nprogress=continue\\n'\n"
                                 "kill -STOP $$\n";
    const QString toldToFinish = "\\(ffmpeg had encoded 3 of the \\d+ pictures recorded up to the "
                                 "stop and then stood still for 5\\.0 s, encoding no picture and "
                                 "using no processor time, so it was told to finish the file";
    const QString nothingKept = "; nothing of it could be played, and \"still.mov\" was removed$";
    const struct {
        const char* name;
        QByteArray script;
        QString note; // a pattern; empty: no word on standing still
        QByteArray toldAt; // the picture the stand-in was told at, or empty
    } cases[] = {
        { "stands still, finishes when told", answersStop + standsStill,
            toldToFinish + "\\)" + nothingKept, "3\n" },
        { "stands still, deaf to the stop", "trap '' INT\n" + standsStill,
            toldToFinish + ", which it had not done 5 s later, and was killed\\)" + nothingKept,
            "" },
        { "stopped by a signal", isStopped,
            toldToFinish + ", which it had not done 5 s later, and was killed\\)" + nothingKept,
            "" },
        { "catches up slowly", answersStop + catchesUp, "", "" },
        { "works without a picture", answersStop + worksWithoutAPicture, "", "1000\n" },
    };
    StandInFfmpeg ffmpeg;
    recorder->setMaxScreenInputFramerate(10);
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(ffmpeg.write(row.script));
        QFile::remove(told);
        keeper.result.reset();
        const DNRecordingResult result = record(folder.filePath("still.mov"), 2.0);
        EXPECT_FALSE(result.succeeded);
        if (row.note.isEmpty()) {
            EXPECT_FALSE(result.reason.contains("told to finish")) << result.reason.toStdString();
            EXPECT_TRUE(QFile::exists(told)) << "the stop was never handed on";
            EXPECT_TRUE(row.toldAt.isEmpty() || readTestFile(told) == row.toldAt);
        } else {
            EXPECT_TRUE(result.reason.contains(QRegularExpression(row.note)))
                << result.reason.toStdString();
            EXPECT_EQ(readTestFile(told), row.toldAt);
        }
    }
}

// A real ffmpeg whose progress stops reaching us after its third picture (a
// stand-in swallows the rest) records on unseen, and freezes (stopped by a
// signal) ten pictures past where it was at the stop. It is told to finish a
// few seconds later, not at the engines' stall limit, by its own count of
// pictures when it was told; let go on, it finishes the file as a stop has it
// do, and the recording holds what was recorded up to the stop, and plays.
TEST_F(RecordingSession, AnEncoderToldAfterStandingStillKeepsWhatItWrote)
{
    using namespace std::chrono_literals;
    const ScopedStallLimit stallLimit(40s);
    const QString seen = folder.filePath("seen");
    const QString freezeAt = folder.filePath("freeze at");
    const QByteArray told = QFile::encodeName(folder.filePath("told"));
    StandInFfmpeg ffmpeg;
    ASSERT_TRUE(
        ffmpeg.write("trap 'stopped=1; tail -n 1 \"" + QFile::encodeName(seen) + "\" >\"" + told
            + "\"; kill -INT $engine; kill -CONT $engine' INT\n"
              "progress=$(mktemp -u) && mkfifo \"$progress\" || exit 1\n"
            + ffmpeg.realProgram()
            + " \"$@\" >\"$progress\" &\n"
              "engine=$!\n"
              "awk -v engine=$engine -v seen=\""
            + QFile::encodeName(seen) + "\" -v freezeAt=\"" + QFile::encodeName(freezeAt)
            + "\" '/^frame=/ { n = substr($0, 7) + 0; print n > seen; fflush(seen)\n"
              "    if (!frozen && (getline at < freezeAt) > 0 && n >= at + 0) {\n"
              "      system(\"kill -STOP \" engine); frozen = 1 }\n"
              "    close(freezeAt) }\n"
              "  n <= 3 { print; fflush() }' <\"$progress\" &\n"
              "wait $engine\n"
              "status=$?\n"
              "if [ -n \"$stopped\" ]; then wait $engine; status=$?; fi\n"
              "rm -f \"$progress\"\n"
              "exit $status\n"));
    QObject::connect(&stopTimer, &QTimer::timeout, [&] {
        const QByteArray atStop = readTestFile(seen).trimmed().split('\n').last();
        ASSERT_TRUE(writeTestFile(freezeAt, QByteArray::number(atStop.toInt() + 10) + '\n'));
    });
    recorder->addDislayInputTocaptureSession(recorder->displayID(), QRect(0, 0, 320, 240));
    recorder->setMaxScreenInputFramerate(10);
    double recorded = 0;
    const DNRecordingResult result = record(folder.filePath("unseen.mov"), 1.5, &recorded);
    EXPECT_TRUE(result.succeeded) << result.reason.toStdString();
    const MediaFacts facts = MediaFacts::probe(result.path);
    EXPECT_NEAR(facts.stream("video").duration, recorded, 0.2);
    EXPECT_EQ(decodeComplaints(result.path).toStdString(), "");
    const double toldAtSeconds = readTestFile(QFile::decodeName(told)).trimmed().toDouble() / 10;
    EXPECT_GT(toldAtSeconds, recorded);
    EXPECT_LT(
        toldAtSeconds, recorded + std::chrono::duration<double>(engineStallLimit()).count() / 2);
}

// An ffmpeg that fails by itself after the stop, before its progress
// reaches it: at once, or once it has written on for longer than the stall
// limit, a picture a second, far slower than it recorded. The interface is
// too busy to take the result until the stall limit has passed again: nobody
// ended the encoder, and the result does not say otherwise.
TEST_F(RecordingSession, AResultTakenLateDoesNotBlameAnEncoderThatCaughtUp)
{
    using namespace std::chrono_literals;
    const ScopedStallLimit stallLimit(3s);
    StandInFfmpeg ffmpeg;
    const QString failNow = folder.filePath("fail now");
    ASSERT_TRUE(ffmpeg.write("frame=1\n"
                             "while [ ! -e '"
        + QFile::encodeName(failNow)
        + "' ]; do\n"
          "  tick=$((tick + 1))\n"
          "  [ $((tick % 10)) -eq 0 ] && frame=$((frame + 1))\n"
          "  printf 'frame=%d\\nprogress=continue\\n' $frame\n"
          "  sleep 0.1\n"
          "done\n"
          "echo 'Error closing file file:late.mov: Input/output error' >&2\n"
          "exit 1\n"));
    for (const bool writesOn : { false, true }) {
        SCOPED_TRACE(writesOn ? "writes on past the limit" : "fails at once");
        QFile::remove(failNow);
        keeper.result.reset();
        double recorded = 0;
        const QMetaObject::Connection progress
            = QObject::connect(recorder.get(), &DNScreenRecorder::recordingProgress, recorder.get(),
                [&recorded](double seconds) { recorded = seconds; });
        ASSERT_TRUE(recorder->startRecord(folder.filePath("late.mov")));
        ASSERT_TRUE(QTest::qWaitFor([&recorded] { return recorded >= 0.5; }, 30000));
        QObject::disconnect(progress);
        const Fd engine(int(::syscall(SYS_pidfd_open, pid_t(recorder->enginePid()), 0)));
        ASSERT_TRUE(engine.valid());
        recorder->stopRecord();
        if (writesOn)
            std::this_thread::sleep_for(engineStallLimit() + 1s);
        ASSERT_TRUE(writeTestFile(failNow, "now"));
        pollfd ended { engine.get(), POLLIN, 0 };
        ASSERT_EQ(::poll(&ended, 1, 60000), 1);
        std::this_thread::sleep_for(engineStallLimit() + 1s);
        ASSERT_TRUE(QTest::qWaitFor([this] { return keeper.result.has_value(); }, 30000));
        EXPECT_EQ(keeper.result->reason.section("; ", 0, 0).toStdString(),
            "Error closing file file:late.mov: Input/output error");
        EXPECT_FALSE(keeper.result->reason.contains("was ended"))
            << keeper.result->reason.toStdString();
    }
}

// An ffmpeg that stops writing before the stop (here stopped by a signal) is
// ended once it has stood still for the stall limit; the file keeps what it
// wrote, which plays, and the result says why it falls short and how much
// was kept.
TEST_F(RecordingSession, AnEncoderThatNeverCatchesUpIsEndedAtItsLimit)
{
    using namespace std::chrono_literals;
    const ScopedStallLimit stallLimit(3s);
    recorder->addDislayInputTocaptureSession(recorder->displayID(), QRect(100, 100, 320, 240));
    const QString path = folder.filePath("frozen.mov");
    // Once its first fragment, a second of pictures, is written: on a busy
    // machine that may be well after the first second.
    QObject::connect(recorder.get(), &DNScreenRecorder::recordingProgress, recorder.get(), [&] {
        if (recorder->enginePid() > 0 && hasRecordedPictures(path))
            ::kill(pid_t(recorder->enginePid()), SIGSTOP);
    });
    const DNRecordingResult result = record(path, 3.0);
    EXPECT_FALSE(result.succeeded);
    EXPECT_TRUE(result.reason.contains("and was ended")) << result.reason.toStdString();
    EXPECT_TRUE(result.reason.contains("\"frozen.mov\" keeps the first "))
        << result.reason.toStdString();
    EXPECT_TRUE(hasRecordedPictures(path));
    EXPECT_EQ(decodeComplaints(path).toStdString(), "");
}

// An ffmpeg that stops while it records, with no stop asked for, is ended
// once it has made no progress for the engines' stall limit; the file keeps
// what it wrote, and the result says why the recording ended.
TEST_F(RecordingSession, AnEncoderThatStopsWhileRecordingIsEndedAsStalled)
{
    using namespace std::chrono_literals;
    const ScopedStallLimit stallLimit(2s);
    recorder->addDislayInputTocaptureSession(recorder->displayID(), QRect(100, 100, 320, 240));
    const QString path = folder.filePath("stalled.mov");
    QObject::connect(recorder.get(), &DNScreenRecorder::recordingProgress, recorder.get(), [&] {
        if (recorder->enginePid() > 0 && hasRecordedPictures(path))
            ::kill(pid_t(recorder->enginePid()), SIGSTOP);
    });
    ASSERT_TRUE(recorder->startRecord(path));
    ASSERT_TRUE(QTest::qWaitFor([this] { return keeper.result.has_value(); }, 60000));
    EXPECT_FALSE(keeper.result->succeeded);
    EXPECT_EQ(
        keeper.result->reason.section("; ", 0, 0), "ffmpeg " + stallReason(2s) + " and was ended");
    EXPECT_TRUE(hasRecordedPictures(path));
}

TEST_F(RecordingSession, AKilledRecordingStillPlays)
{
    recorder->addDislayInputTocaptureSession(recorder->displayID(), QRect(100, 100, 320, 240));
    const QString path = folder.filePath("killed.mov");
    // Killed as soon as the file holds a picture under the name it was
    // started for: what a crash of ours or of the engine leaves is the
    // user's recording, where they look for it, and it plays.
    QObject::connect(recorder.get(), &DNScreenRecorder::recordingProgress, recorder.get(), [&] {
        if (recorder->enginePid() > 0 && hasRecordedPictures(path))
            ::kill(pid_t(recorder->enginePid()), SIGKILL);
    });
    ASSERT_TRUE(recorder->startRecord(path));
    ASSERT_TRUE(QTest::qWaitFor([this] { return keeper.result.has_value(); }, 30000));
    EXPECT_FALSE(keeper.result->succeeded);
    EXPECT_TRUE(keeper.result->reason.contains("signal 9"));
    const MediaFacts facts = MediaFacts::probe(path);
    ASSERT_TRUE(facts.ok) << facts.error.toStdString();
    EXPECT_EQ(facts.stream("video").codecName, "h264");
    EXPECT_EQ(decodeComplaints(path).toStdString(), "");
}

// ffmpeg ends, and the recorder then has no descriptor left to read the
// recording back with (the stand-in takes them away as it ends, as a process
// that ran out of them): the recording is not taken for an empty one. It
// stays, whole, and the result says that it could not be checked.
TEST_F(RecordingSession, ARecordingThatCannotBeReadBackIsKept)
{
    StandInFfmpeg ffmpeg;
    ASSERT_TRUE(ffmpeg.write("trap 'stopped=1; kill -INT $engine' INT\n'"
        + QFile::encodeName(QStandardPaths::findExecutable("ffmpeg"))
        + "' \"$@\" &\n"
          "engine=$!\n"
          "wait $engine\n"
          "status=$?\n"
          "if [ -n \"$stopped\" ]; then wait $engine; status=$?; fi\n"
          "prlimit --pid $PPID --nofile=0:\n"
          "exit $status\n"));
    rlimit before {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    recorder->addDislayInputTocaptureSession(recorder->displayID(), QRect(0, 0, 320, 240));
    const DNRecordingResult result = record(folder.filePath("take.mov"), 1.0);
    ::setrlimit(RLIMIT_NOFILE, &before);
    EXPECT_FALSE(result.succeeded);
    EXPECT_EQ(result.reason.toStdString(),
        "the recording could not be checked; \"take.mov\" could not be read (Too many open "
        "files), and is kept as it was");
    EXPECT_GT(recordedPictureSeconds(result.path).value_or(0), 0.5);
}

// A full disk, and a file with nothing of use in it (64 KB of a stand-in's):
// the room is told as the recording left it, not as the file's removal did.
TEST_F(RecordingSession, AFullDiskIsToldWithTheRoomBeforeTheRemoval)
{
    const QString mountPoint = folder.filePath("small");
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    const SmallFileSystem disk(mountPoint, "256k");
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    StandInFfmpeg ffmpeg;
    ASSERT_TRUE(ffmpeg.write("for output; do :; done\n"
                             "head -c 65536 /dev/zero >\"${output#file:}\"\n"
                             "echo 'av_interleaved_write_frame(): No space left on device' >&2\n"
                             "exit 1\n"));
    const DNRecordingResult result = record(mountPoint + "/full.mov", 1.0);
    const qint64 roomNow = roomOfFolder(mountPoint).value_or(FolderRoom {}).bytes;
    EXPECT_EQ(result.reason.toStdString(),
        QString("the disk is full: ffmpeg could not write all of its output into \"%1\", which "
                "has %2 KB left; it said \"av_interleaved_write_frame(): No space left on "
                "device\"; nothing of it could be played, and \"full.mov\" was removed")
            .arg(mountPoint)
            .arg(roomNow / 1024 - 64)
            .toStdString());
}

TEST_F(RecordingSession, AFileThatIsThereIsLeftAlone)
{
    const QString path = folder.filePath("mine.mov");
    QFile mine(path);
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
    mine.write("not a movie");
    mine.close();
    const DNRecordingResult result = record(path, 0.5);
    EXPECT_TRUE(result.succeeded) << result.reason.toStdString();
    EXPECT_EQ(result.path, folder.filePath("mine (1).mov"));
    ASSERT_TRUE(mine.open(QIODevice::ReadOnly));
    EXPECT_EQ(mine.readAll(), "not a movie");
}

// Two recorders (two windows) that chose the same dated name at once each
// write a file of their own and report the name it got.
TEST_F(RecordingSession, TwoRecordingsOfOneNameMakeTwoWholeFiles)
{
    QString error;
    const std::unique_ptr<DNScreenRecorder> other = DNScreenRecorder::create(&error);
    ASSERT_TRUE(other) << error.toStdString();
    ResultKeeper otherKeeper;
    other->setDelegate(&otherKeeper);
    for (DNScreenRecorder* each : { recorder.get(), other.get() })
        each->addDislayInputTocaptureSession(each->displayID(), QRect(0, 0, 320, 240));
    const QString path = folder.filePath("Screen Recording 2026-12-07 at 09.15.02.mov");
    double otherRecorded = 0;
    QObject::connect(other.get(), &DNScreenRecorder::recordingProgress, other.get(),
        [&otherRecorded](double seconds) { otherRecorded = seconds; });
    ASSERT_TRUE(other->startRecord(path));
    const DNRecordingResult first = record(path, 1.0);
    // However late the other's ffmpeg got going on a loaded machine.
    ASSERT_TRUE(QTest::qWaitFor([&otherRecorded] { return otherRecorded >= 1.0; }, 30000));
    other->stopRecord();
    ASSERT_TRUE(QTest::qWaitFor([&otherKeeper] { return otherKeeper.result.has_value(); }, 30000));
    const DNRecordingResult second = *otherKeeper.result;
    EXPECT_TRUE(first.succeeded) << first.reason.toStdString();
    EXPECT_TRUE(second.succeeded) << second.reason.toStdString();
    EXPECT_NE(first.path, second.path);
    for (const QString& recorded : { first.path, second.path }) {
        EXPECT_TRUE(recorded == path
            || recorded == folder.filePath("Screen Recording 2026-12-07 at 09.15.02 (1).mov"))
            << recorded.toStdString();
        EXPECT_GT(recordedPictureSeconds(recorded).value_or(0.0), 0.5) << recorded.toStdString();
    }
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

// A sound server of the test's own, with the microphone and the virtual
// device, that PULSE_SERVER points at until the next test's start.
void startSoundServer(PrivateSoundServer& server)
{
    ASSERT_EQ(server.start(), "");
    ASSERT_EQ(server.addSineMicrophone(440), "");
    bool loaded = false;
    PrivateSoundServer::pactl(
        { "load-module", "module-null-sink", "sink_name=QuillonSysAudioCapture" }, &loaded);
    ASSERT_TRUE(loaded);
}

// The sound server killed two seconds into an eight-second recording that
// takes its sound from it (the microphone, whose sine the server hands out
// two seconds ahead, or the system's sound through the virtual device):
// ffmpeg records the screen on without sound. The recording fails
// with the time at which the sound stopped and ffmpeg's words, and keeps the
// whole picture.
TEST_F(RecordingSession, ASoundServerThatDiesIsSaid)
{
    recorder->addDislayInputTocaptureSession(recorder->displayID(), QRect(0, 0, 320, 240));
    for (const QString& device : { QString("microphone"), QString(kSystemAudioDeviceID) }) {
        SCOPED_TRACE(device.toStdString());
        PrivateSoundServer dying;
        startSoundServer(dying);
        ASSERT_TRUE(recorder->setAudioDevice(device));
        const QMetaObject::Connection kill = QObject::connect(recorder.get(),
            &DNScreenRecorder::recordingProgress, recorder.get(), [&dying](double seconds) {
                if (seconds >= 2.0)
                    dying.signal(SIGKILL);
            });
        keeper.result.reset();
        double recorded = 0;
        const DNRecordingResult result = record(folder.filePath("died.mov"), 8.0, &recorded);
        QObject::disconnect(kill);
        // The routing a dead server could not undo goes with it.
        UserDefaults::standard().remove(kRoutingKey);
        EXPECT_FALSE(result.succeeded);
        const QRegularExpressionMatch said
            = QRegularExpression("^the sound stopped at about ([0-9.]+) s of the ([0-9.]+) s of "
                                 "picture \\(ffmpeg said \"[^\"]+\"\\); \"died.mov\" keeps the "
                                 "first ([0-9.]+) s of it$")
                  .match(result.reason);
        ASSERT_TRUE(said.hasMatch()) << result.reason.toStdString();
        const MediaFacts facts = MediaFacts::probe(result.path);
        EXPECT_NEAR(said.captured(1).toDouble(), facts.stream("audio").duration, 0.05);
        EXPECT_NEAR(said.captured(2).toDouble(), facts.stream("video").duration, 0.05);
        EXPECT_NEAR(facts.stream("video").duration, recorded, 0.5);
        EXPECT_EQ(decodeComplaints(result.path).toStdString(), "");
        QFile::remove(result.path);
    }
}

// The sound server frozen (stopped by a signal) two seconds into a recording
// of the system's sound. The caller's thread never waits on it: its events
// keep coming through the Stop until the result, which comes a few seconds
// after the stop (ffmpeg, whose sound input waits on the server, is told to
// finish then). The routing the server could not undo is kept for the next
// recorder, which gives the sound back once the server answers again.
TEST_F(RecordingSession, AFrozenSoundServerNeverHoldsTheStop)
{
    using namespace std::chrono_literals;
    struct AnswerLimit {
        AnswerLimit() { PulseAudio::setAnswerLimit(10s); }
        ~AnswerLimit() { PulseAudio::setAnswerLimit(before); }
        const std::chrono::milliseconds before = PulseAudio::answerLimit();
    } const answerLimit;
    PrivateSoundServer frozen;
    startSoundServer(frozen);
    struct Thaw {
        const PrivateSoundServer& server;
        ~Thaw() { server.signal(SIGCONT); }
    } const thaw { frozen };
    recorder->addDislayInputTocaptureSession(recorder->displayID(), QRect(0, 0, 320, 240));
    ASSERT_TRUE(recorder->setAudioDevice(kSystemAudioDeviceID));
    ASSERT_EQ(defaultSink(), "QuillonSysAudioCapture");
    QObject::connect(recorder.get(), &DNScreenRecorder::recordingProgress, recorder.get(),
        [&frozen](double seconds) {
            if (seconds >= 2.0)
                frozen.signal(SIGSTOP);
        });
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticks;
    QObject::connect(
        &ticks, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    sinceTick.start();
    ticks.start(50);
    const QString path = folder.filePath("frozen server.mov");
    const DNRecordingResult result = record(path, 4.0);
    ticks.stop();
    EXPECT_LT(longestGap, PulseAudio::answerLimit().count() / 2);
    EXPECT_FALSE(result.succeeded);
    EXPECT_TRUE(result.reason.contains("while the sound server did not answer, so it was told to "
                                       "finish the file"))
        << result.reason.toStdString();
    EXPECT_TRUE(hasRecordedPictures(path));
    EXPECT_TRUE(UserDefaults::standard().contains(kRoutingKey));

    ASSERT_TRUE(frozen.signal(SIGCONT));
    recorder.reset();
    recorder = DNScreenRecorder::create();
    ASSERT_TRUE(recorder);
    EXPECT_EQ(defaultSink(), "speakers");
    EXPECT_FALSE(loopbackLoaded());
    EXPECT_FALSE(UserDefaults::standard().contains(kRoutingKey));
}

// A run that ended while routed (a crash) left its record; the next recorder
// undoes the routing it describes.
TEST_F(RecordingSession, ALeftoverRoutingIsUndoneByTheNextRecorder)
{
    const QString volumesBefore = speakerVolumes();
    ASSERT_TRUE(recorder->setAudioDevice(kSystemAudioDeviceID));
    const QVariant leftover = UserDefaults::standard().value(kRoutingKey);
    ASSERT_TRUE(leftover.isValid());
    recorder.reset();
    PrivateSoundServer::pactl({ "set-sink-volume", "speakers", "100" });
    // What the crashed run would have left: its record, the virtual device as
    // the default output and its pass-through.
    UserDefaults::standard().setValue(kRoutingKey, leftover);
    PrivateSoundServer::pactl({ "set-default-sink", "QuillonSysAudioCapture" });
    const QString module = PrivateSoundServer::pactl({ "load-module", "module-loopback",
        "source=QuillonSysAudioCapture.monitor", "sink=speakers" });
    QVariantMap record = leftover.toMap();
    record.insert("loopbackModule", module.toUInt());
    UserDefaults::standard().setValue(kRoutingKey, record);

    recorder = DNScreenRecorder::create();
    ASSERT_TRUE(recorder);
    EXPECT_EQ(defaultSink(), "speakers");
    EXPECT_EQ(speakerVolumes(), volumesBefore);
    EXPECT_FALSE(loopbackLoaded());
    EXPECT_FALSE(UserDefaults::standard().contains(kRoutingKey));
}

} // namespace

#include "record/ScreenCapture.h"
#include "record/AudioDevice.h"
#include "record/DNScreenRecorder.h"
#include "record/PulseAudio.h"
#include "record/SoundServerCalls.h"
#include "support/TestFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

namespace {

const QSize kScreen(1920, 1080);

TEST(ScreenCapture, AreasOffTheScreenAndSlipsOfTheFrameRateAreRefused)
{
    const struct {
        QRect area;
        float rate;
        QString problem; // the start of it; empty: recorded as captureArea() has it
    } cases[] = {
        { { 101, 99, 641, 361 }, 29.97f, {} },
        { { 0, 0, 1920, 1080 }, 60.0f, {} },
        { { 0, 0, 0, 0 }, 10.0f, "The region to record, 0x0, is smaller" },
        { { 5, 5, 1, 200 }, 10.0f, "The region to record, 1x200, is" },
        { { 1800, 1000, 400, 300 }, 10.0f, "The region 400x300 at 1800,1000 does not lie" },
        { { -1, 0, 200, 200 }, 10.0f, "The region 200x200 at -1,0 does not" },
        { { 0, 0, 3840, 2160 }, 10.0f, "The region 3840x2160 at 0,0 does not" },
        { { 0, 0, 320, 240 }, 100000.0f, "The frame rate must lie between 1 and 60" },
        { { 0, 0, 320, 240 }, 0.5f, "The frame rate" },
        { { 0, 0, 320, 240 }, std::nanf(""), "The frame rate" },
    };
    for (const auto& row : cases) {
        const QString problem = captureProblem(row.area, row.rate, kScreen);
        EXPECT_EQ(problem.left(row.problem.size()), row.problem) << problem.toStdString();
        EXPECT_EQ(problem.isEmpty(), row.problem.isEmpty()) << problem.toStdString();
    }
    EXPECT_EQ(captureArea({ 101, 99, 641, 361 }), QRect(101, 99, 640, 360));
}

TEST(ScreenCapture, PresetsAndFrameRates)
{
    EXPECT_EQ(sessionPresetAtIndex(0), CaptureSessionPreset::Low);
    EXPECT_EQ(sessionPresetAtIndex(1), CaptureSessionPreset::Preset960x540);
    EXPECT_EQ(sessionPresetAtIndex(7), CaptureSessionPreset::High);
    const struct {
        float requested;
        int expected;
    } rates[] = { { 29.97f, 29 }, { 60.9f, 60 }, { 61.0f, 0 }, { 0.5f, 0 }, { -4.0f, 0 } };
    for (const auto& row : rates)
        EXPECT_EQ(wholeFrameRate(row.requested), row.expected) << row.requested;
    const struct {
        QSize area;
        CaptureSessionPreset preset;
        QSize expected;
    } sizes[] = {
        { { 1280, 720 }, CaptureSessionPreset::Low, { 640, 360 } },
        { { 1000, 1000 }, CaptureSessionPreset::Low, { 360, 360 } },
        { { 1918, 1080 }, CaptureSessionPreset::Preset960x540, { 958, 540 } },
        { { 320, 240 }, CaptureSessionPreset::Low, { 320, 240 } },
        { { 1920, 1080 }, CaptureSessionPreset::High, { 1920, 1080 } },
    };
    for (const auto& row : sizes)
        EXPECT_EQ(outputSize(row.area, row.preset), row.expected) << row.area.width();
}

TEST(ScreenCapture, SoundInputComesFirstAndThePathIsAFile)
{
    CapturePlan plan;
    plan.display = ":7";
    plan.area = QRect(10, 20, 1280, 720);
    plan.frameRate = 29;
    plan.audioSource = "microphone";
    plan.preset = CaptureSessionPreset::Low;
    plan.outputPath = "/tmp/-a b:ü.mov";
    const QStringList words = captureArguments(plan);
    EXPECT_LT(words.indexOf("pulse"), words.indexOf("x11grab"));
    EXPECT_EQ(words.mid(words.indexOf("-map"), 4), QStringList({ "-map", "1:v", "-map", "0:a" }));
    EXPECT_TRUE(words.contains(":7+10,20"));
    EXPECT_TRUE(words.contains("scale=640:360"));
    EXPECT_EQ(words.last(), "file:/tmp/-a b:ü.mov");

    plan.audioSource.clear();
    plan.preset = CaptureSessionPreset::High;
    const QStringList silent = captureArguments(plan);
    EXPECT_FALSE(silent.contains("pulse"));
    EXPECT_FALSE(silent.contains("-c:a"));
    EXPECT_EQ(silent.mid(silent.indexOf("-map"), 2), QStringList({ "-map", "0:v" }));
    EXPECT_FALSE(silent.contains("-vf"));
}

// The output, not the screen input, is given the rate: ffmpeg otherwise
// guesses the output's rate from the first, bunched-up pictures.
TEST(ScreenCapture, TheOutputHasTheAskedRateConstant)
{
    CapturePlan plan;
    plan.display = ":7";
    plan.area = QRect(0, 0, 320, 240);
    plan.frameRate = 10;
    plan.outputPath = "/tmp/rate.mov";
    const QStringList words = captureArguments(plan);
    const qsizetype rate = words.indexOf("-r");
    EXPECT_GT(rate, words.indexOf("-i"));
    EXPECT_EQ(words.mid(rate, 4), QStringList({ "-r", "10", "-fps_mode", "cfr" }));
}

TEST(ScreenCapture, ARecordingShorterOrLongerThanTheTimeRecordedIsReported)
{
    const struct {
        double inFile;
        double recorded;
        int rate;
        bool reported;
    } cases[] = {
        { 3.0, 3.0, 10, false },
        { 3.1, 3.0, 10, false },
        { 2.45, 3.0, 10, false },
        { 1.5, 3.0, 10, true }, // 30 pictures played at 20 a second
        { 6.0, 3.0, 10, true },
        { 2.0, 3.0, 1, false }, // one picture a second: a frame of slack
        { 0.0, 3.0, 10, true },
    };
    for (const auto& row : cases) {
        const QString problem = recordedLengthProblem(row.inFile, row.recorded, row.rate);
        EXPECT_EQ(!problem.isEmpty(), row.reported) << row.inFile << ' ' << row.recorded;
    }
    EXPECT_EQ(recordedLengthProblem(1.5, 3.04, 10),
        "the recording holds 1.5 s of picture for the 3.0 s recorded");
}

TEST(ScreenCapture, VirtualDeviceVolume)
{
    const struct {
        float left;
        float right;
        float expected;
    } cases[] = { { 0.3f, 0.5f, 0.4f }, { 0.0f, 0.0f, 0.5f }, { 0.005f, 0.01f, 0.5f },
        { 1.0f, 1.0f, 1.0f } };
    for (const auto& row : cases)
        EXPECT_FLOAT_EQ(DNScreenRecorder::virtualDeviceVolume(row.left, row.right), row.expected);
}

TEST(ScreenCapture, DevicesAreReadFromTheServersLists)
{
    // Volumes in channel-map order, not in the sorted order of the keys.
    const QByteArray json = R"([
        {"name":"speakers.monitor","description":"Monitor of Speakers","channel_map":"front-left,front-right",
         "volume":{"front-left":{"value":65536},"front-right":{"value":65536}},
         "properties":{"device.class":"monitor"}},
        {"name":"QuillonSysAudioCapture.monitor","description":"Virtual","channel_map":"front-left,front-right",
         "volume":{},"properties":{"device.class":"monitor"}},
        {"name":"mic","description":"Microphone","channel_map":"rear-left,front-left,lfe",
         "volume":{"front-left":{"value":2},"lfe":{"value":3},"rear-left":{"value":1}},
         "properties":{"device.class":"sound"}}
    ])";
    const std::vector<PulseDevice> sources = PulseAudio::parseDevices(json);
    ASSERT_EQ(sources.size(), 3u);
    EXPECT_TRUE(sources[0].isMonitor);
    EXPECT_EQ(sources[2].channelVolumes, (std::vector<quint32> { 1, 2, 3 }));
    const std::vector<AudioCaptureDevice> devices = audioCaptureDevicesFrom(sources);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].uniqueID, kSystemAudioDeviceID);
    EXPECT_EQ(devices[0].source, "QuillonSysAudioCapture.monitor");
    EXPECT_EQ(devices[1].uniqueID, "mic");
}

// A server that answers "info" and then no more (a stand-in pactl that
// hangs): on the sound server's line, a piece of work makes no call after
// the first one left unanswered, so it costs one wait; elsewhere each call
// waits its own.
TEST(SoundServerCalls, APieceMakesNoCallAfterOneLeftUnanswered)
{
    using namespace std::chrono_literals;
    QTemporaryDir bin;
    const QString calls = bin.filePath("calls");
    ASSERT_TRUE(writeTestScript(bin.filePath("pactl"),
        "#!/bin/sh\n"
        "echo \"$*\" >> '"
            + QFile::encodeName(calls)
            + "'\n"
              "[ \"$1\" = info ] && exit 0\n"
              "exec sleep 600\n"));
    struct Guard {
        const QByteArray path = qgetenv("PATH");
        const std::chrono::milliseconds limit = PulseAudio::answerLimit();
        ~Guard()
        {
            qputenv("PATH", path);
            PulseAudio::setAnswerLimit(limit);
        }
    } const guard;
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + guard.path);
    PulseAudio::setAnswerLimit(2s);
    const auto work = [] {
        PulseAudio::serverReachable();
        PulseAudio::sinks();
        PulseAudio::sources();
    };
    const struct {
        const char* name;
        bool onTheLine;
        QByteArray calls;
    } cases[] = {
        { "on the line", true, "info\n-f json list sinks\n" },
        { "elsewhere", false, "info\n-f json list sinks\n-f json list sources\n" },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        QFile::remove(calls);
        if (row.onTheLine) {
            SoundServerCalls(nullptr).run(work);
            ASSERT_TRUE(SoundServerCalls::waitUntilDone(60s));
        } else {
            work();
        }
        EXPECT_EQ(readTestFile(calls), row.calls);
    }
}

} // namespace

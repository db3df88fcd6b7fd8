// The recorder window on a private X server with moving content and a
// private sound server, opened from the main window as a person would.
#include "gui/GuiTestSupport.h"

#include "controls/DNButton.h"
#include "fixtures/MediaFacts.h"
#include "platform/UserDefaults.h"
#include "record/AudioDevice.h"
#include "record/DNAreaSelectWindow.h"
#include "record/DNRecordFrame.h"
#include "record/DNSRSettingPanel.h"
#include "record/DNSRWindowController.h"
#include "services/DNScreenRecorderSetting.h"
#include "services/DNSetting.h"
#include "shell/NXAppController.h"
#include "shell/NXApplicationDelegate.h"
#include "support/RecordingStage.h"
#include "support/StallLimit.h"
#include "support/StandInFfmpeg.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>

#include <sys/mount.h>

namespace {

const QString kRefusal = "Please stop video recording before leaving screen recorder.";

class ScreenRecorderWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Only the recorder works on the X server; the windows stay offscreen.
        startRecordingStage(display, sound);
    }
    static void TearDownTestSuite()
    {
        display.reset();
        sound.reset();
        ::unsetenv("DISPLAY");
    }

    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        system = systemCalls.actions();
        delegate.emplace(dialogs, system);
        delegate->applicationDidFinishLaunching({});
        DNScreenRecorderSetting& setting = DNSetting::shareSetting().screenRecordSetting();
        setting.setTargetFolder(folder.path());
        setting.setCountDown(1);
        setting.setOpenRecordMovie(false);
        setting.setAddToConvertList(true);
    }
    void TearDown() override { delegate.reset(); }

    NXAppController& window() { return *delegate->controller(); }

    DNSRWindowController* openRecorder()
    {
        window().showScreenRecorder();
        DNSRWindowController* recorder = window().screenRecorderController();
        if (recorder) {
            // A fixed clock: recordings in a row get the same dated name.
            recorder->setTimings({ 60000, 0, [] { return QDateTime(QDate(2026, 1, 2), {}); } });
        }
        return recorder;
    }

    void chooseAudio(DNSRWindowController& recorder, const QString& uniqueID)
    {
        recorder.onSettingClick();
        QComboBox* menu = recorder.settingPannel()->audioDevices;
        const int index = menu->findData(uniqueID);
        ASSERT_GE(index, 0) << uniqueID.toStdString();
        emit menu->activated(index);
        recorder.settingPannel()->accept();
    }

    // Starts, lets the countdown end, records `seconds` of picture and stops.
    void record(DNSRWindowController& recorder, double seconds)
    {
        const std::size_t before
            = std::size_t(recorder.recordFiles().size()) + dialogs.alerts.size();
        double recorded = 0;
        const auto connection = QObject::connect(recorder.screenRecorder(),
            &DNScreenRecorder::recordingProgress, [&](double done) { recorded = done; });
        recorder.onStartRecord();
        ASSERT_EQ(recorder.recorderState(), DNSRWindowController::CountingDown);
        ASSERT_TRUE(recorder.countdown());
        recorder.countdown()->tick();
        ASSERT_TRUE(waitUntil([&] { return recorder.recorderState() != 1; }));
        EXPECT_FALSE(recorder.isVisible()) << "the window would be recorded";
        ASSERT_TRUE(waitUntil([&] { return recorded >= seconds; }));
        recorder.onStatusBarStopClicked();
        QObject::disconnect(connection);
        EXPECT_FALSE(recorder.startButton()->isEnabled()) << "the recording is still written";
        ASSERT_TRUE(waitUntil([&] {
            return std::size_t(recorder.recordFiles().size()) + dialogs.alerts.size() > before;
        }));
        EXPECT_TRUE(recorder.startButton()->isEnabled());
        EXPECT_EQ(recorder.recorderState(), DNSRWindowController::Idle);
        EXPECT_TRUE(recorder.isVisible());
    }

    static inline std::unique_ptr<PrivateDisplay> display;
    static inline std::unique_ptr<PrivateSoundServer> sound;
    QTemporaryDir folder;
    ScriptedDialogs dialogs;
    RecordingSystem systemCalls;
    NXSystemActions system;
    std::optional<NXApplicationDelegate> delegate;
};

TEST_F(ScreenRecorderWindowTest, RecordsNamesAndHandsOverEveryRecording)
{
    DNSRWindowController* recorder = openRecorder();
    ASSERT_TRUE(recorder && recorder->screenRecorder());
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(recorder->isVisible());
    chooseAudio(*recorder, "microphone");
    record(*recorder, 2.0);
    // "None" after a microphone recording: the user asked for no sound.
    chooseAudio(*recorder, QString());
    double recorded = 0;
    QObject::connect(recorder->screenRecorder(), &DNScreenRecorder::recordingProgress,
        [&](double done) { recorded = done; });
    const QImage idleImage = recorder->startButton()->normalImage().toImage();
    ASSERT_FALSE(idleImage.isNull());
    recorder->onStartRecord();
    EXPECT_NE(recorder->startButton()->normalImage().toImage(), idleImage) << "stop image";
    EXPECT_FALSE(recorder->startButton()->isEnabled());
    recorder->close();
    recorder->countdown()->tick();
    ASSERT_TRUE(waitUntil([&] { return recorder->recorderState() == 2; }));
    recorder->close();
    ASSERT_TRUE(waitUntil([&] { return recorded >= 1.0; }));
    EXPECT_FALSE(window().isVisible()) << "the recorder window did not close";
    EXPECT_EQ(dialogs.alertTitles(), QStringList({ kRefusal, kRefusal }));
    dialogs.alerts.clear();
    recorder->onStartRecord(); // Start while recording stops
    ASSERT_TRUE(waitUntil([&] { return recorder->recordFiles().size() == 2; }));

    const QStringList files = recorder->recordFiles();
    const QString name = folder.filePath("Quillon Screen Recorder 2026-01-02 at AM 00.00.00");
    EXPECT_EQ(files, QStringList({ name + ".mov", name + " (1).mov" }));
    const MediaFacts first = MediaFacts::probe(files[0]);
    ASSERT_TRUE(first.ok) << first.error.toStdString();
    EXPECT_NEAR(first.stream("video").duration, 2.0, 0.5);
    EXPECT_EQ(first.count("audio"), 1);
    const MediaFacts second = MediaFacts::probe(files[1]);
    ASSERT_TRUE(second.ok) << second.error.toStdString();
    EXPECT_EQ(second.count("audio"), 0);

    recorder->onOpenRecordLocation();
    EXPECT_EQ(systemCalls.openedFolders, QStringList(folder.path()));
    recorder->onAddToConvertListChanged(false);
    EXPECT_TRUE(recorder->fileListNeedToConvert().isEmpty());
    recorder->onAddToConvertListChanged(true);
    EXPECT_EQ(recorder->fileListNeedToConvert(), files);
    recorder->close();
    EXPECT_TRUE(window().isVisible());
    EXPECT_TRUE(waitUntil([&] { return window().mediaNodes().size() == 2; }));
    EXPECT_TRUE(waitUntil([&] { return !window().screenRecorderController(); }));
}

// Stop, then close, or quit, while ffmpeg still writes what was recorded (a
// stand-in that hands the stop on only once the window has answered an
// event): the window says that it is finishing the recording and keeps
// answering; a close waits for the file and then closes, a quit waits for it.
TEST_F(ScreenRecorderWindowTest, StopAndQuitWaitForTheFileAndSaySo)
{
    struct PathGuard {
        const QByteArray path = qgetenv("PATH");
        ~PathGuard() { qputenv("PATH", path); }
    } const guard;
    QTemporaryDir bin;
    const QString answered = folder.filePath("answered");
    ASSERT_TRUE(writeTestScript(bin.filePath("ffmpeg"),
        "#!/bin/sh\n"
        "trap 'for i in $(seq 600); do [ -e \""
            + QFile::encodeName(answered)
            + "\" ] && break; sleep 0.05; done; kill -INT $engine' INT\n'"
            + QFile::encodeName(QStandardPaths::findExecutable("ffmpeg"))
            + "' \"$@\" &\n"
              "engine=$!\n"
              "wait $engine\n"
              "wait $engine\n"));
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + guard.path);
    for (const bool quitting : { false, true }) {
        SCOPED_TRACE(quitting ? "quit" : "close");
        QFile::remove(answered);
        DNSRWindowController* recorder = openRecorder();
        ASSERT_TRUE(recorder && recorder->screenRecorder());
        double recorded = 0;
        QObject::connect(recorder->screenRecorder(), &DNScreenRecorder::recordingProgress,
            [&](double done) { recorded = done; });
        recorder->onStartRecord();
        recorder->countdown()->tick();
        ASSERT_TRUE(waitUntil([&] { return recorded >= 1.0; }));
        recorder->onStatusBarStopClicked();
        bool finishingShown = false;
        QTimer::singleShot(0, recorder, [&] {
            finishingShown = recorder->finishingNote()->isVisibleTo(recorder);
            writeTestFile(answered, "now");
        });
        if (quitting) {
            delegate->quitApplication();
        } else {
            recorder->close();
            EXPECT_TRUE(recorder->isVisible());
            EXPECT_TRUE(waitUntil([&] { return !window().screenRecorderController(); }, 60000));
            EXPECT_TRUE(waitUntil([&] { return window().mediaNodes().size() == 1; }));
        }
        EXPECT_TRUE(finishingShown);
        const QString name
            = folder.filePath(QString("Quillon Screen Recorder 2026-01-02 at AM 00.00.00%1.mov")
                                  .arg(quitting ? " (1)" : ""));
        EXPECT_EQ(MediaFacts::probe(name).stream("video").codecName, "h264");
    }
}

// Stop on a recording whose ffmpeg encoded three pictures and then stands
// still, while it lives on: the window has the result a few seconds after the stop,
// not at the engines' stall limit, and tells the user what happened.
TEST_F(ScreenRecorderWindowTest, StopOnAnEngineThatStoodStillEndsWithinSeconds)
{
    using namespace std::chrono_literals;
    const ScopedStallLimit stallLimit(40s);
    const StandInFfmpeg ffmpeg;
    ASSERT_TRUE(ffmpeg.write("trap 'exit 255' INT\n"
                             "printf 'frame=3\\nprogress=continue\\n'\n"
                             "sleep 1000 &\n"
                             "wait $!\n"));
    DNSRWindowController* recorder = openRecorder();
    ASSERT_TRUE(recorder && recorder->screenRecorder());
    bool reported = false;
    QObject::connect(recorder->screenRecorder(), &DNScreenRecorder::recordingProgress,
        [&reported] { reported = true; });
    recorder->onStartRecord();
    recorder->countdown()->tick();
    ASSERT_TRUE(waitUntil([&reported] { return reported; }));
    dialogs.alerts.clear();
    recorder->onStatusBarStopClicked();
    ASSERT_TRUE(waitUntil([this] { return !dialogs.alerts.empty(); }));
    EXPECT_EQ(dialogs.alertTitles(), QStringList("The screen recording failed."));
    EXPECT_TRUE(dialogs.alerts[0].text.contains(QRegularExpression(
        "\\(ffmpeg had encoded 3 (of the \\d+ pictures recorded up to the stop|pictures) and "
        "then stood still for 5\\.0 s, encoding no picture and using no processor time, so it "
        "was told to finish the file\\)")))
        << dialogs.alerts[0].text.toStdString();
    EXPECT_TRUE(recorder->startButton()->isEnabled());
    EXPECT_EQ(recorder->recorderState(), DNSRWindowController::Idle);
}

TEST_F(ScreenRecorderWindowTest, RecordsThePickedRegionAtItsSize)
{
    DNSRWindowController* recorder = openRecorder();
    ASSERT_TRUE(recorder && recorder->screenRecorder());
    recorder->onSetRecordRegion();
    DNAreaSelectWindow* picker = recorder->screenAreaSelector();
    ASSERT_TRUE(picker);
    picker->selectView()->setSelectionArea({ 150, 120, 301, 201 });
    recorder->onAreaSelectDidFinished(picker);
    const QSize screen = picker->size();
    EXPECT_EQ(recorder->recordRegion(), QRect(150, screen.height() - 321, 301, 201));
    record(*recorder, 1.0);
    ASSERT_TRUE(recorder->recordFrame());
    EXPECT_FALSE(recorder->recordFrame()->isVisible());
    const MediaFacts movie = MediaFacts::probe(recorder->recordFiles().value(0));
    ASSERT_TRUE(movie.ok) << movie.error.toStdString();
    EXPECT_EQ(movie.stream("video").width % 2, 0);
    EXPECT_EQ(movie.stream("video").height % 2, 0);
    EXPECT_NEAR(movie.stream("video").width, 301, 1);
    EXPECT_NEAR(movie.stream("video").height, 201, 1);

    // An empty selection means the whole screen again.
    picker->selectView()->setSelectionArea({});
    recorder->onAreaSelectDidFinished(picker);
    EXPECT_EQ(recorder->recordRegion(), QRect(QPoint(0, 0), screen));
}

TEST_F(ScreenRecorderWindowTest, SystemSoundNeedsTheAddOnAndAWarningOnce)
{
    DNSRWindowController* recorder = openRecorder();
    ASSERT_TRUE(recorder && recorder->screenRecorder());
    UserDefaults::standard().remove(DNSRWindowController::kNotRemindKey);
    DNSetting::shareSetting().screenRecordSetting().setSessionPresetIndex(5);
    recorder->onSettingClick();
    EXPECT_EQ(recorder->settingPannel()->sessionPreset->currentText(), "High");
    recorder->settingPannel()->reject();
    const QString systemSound = kSystemAudioDeviceID;
    dialogs.nextAnswer = { 1, false }; // Cancel
    chooseAudio(*recorder, systemSound);
    EXPECT_EQ(recorder->selectedAudioDevUniqueID(), QString());
    dialogs.nextAnswer = { 0, false }; // Install
    chooseAudio(*recorder, systemSound);
    EXPECT_EQ(recorder->selectedAudioDevUniqueID(), systemSound);
    EXPECT_FALSE(audioCaptureDevice(systemSound).source.isEmpty());
    EXPECT_EQ(dialogs.alertTitles(), QStringList(2, "Add-on required to record the system audio"));

    dialogs.alerts.clear();
    dialogs.nextAnswer = { 1, false }; // Cancel in the sound warning
    recorder->onStartRecord();
    EXPECT_EQ(recorder->recorderState(), DNSRWindowController::Idle);
    EXPECT_FALSE(recorder->countdown());
    UserDefaults::standard().setValue(DNSRWindowController::kNotRemindKey, true);
    recorder->onStartRecord();
    EXPECT_EQ(recorder->recorderState(), DNSRWindowController::CountingDown);
    EXPECT_EQ(dialogs.alerts.size(), 1u) << "the warning is skipped once suppressed";
    recorder->countdown()->tick();
    ASSERT_TRUE(waitUntil([&] { return recorder->recorderState() == 2; }));
    recorder->onStatusBarStopClicked();
    EXPECT_TRUE(waitUntil([&] { return !recorder->screenRecorder()->isRecording(); }));

    // The device goes with the recorder and comes back without a question.
    recorder->close();
    ASSERT_TRUE(waitUntil([&] { return !window().screenRecorderController(); }));
    EXPECT_TRUE(audioCaptureDevice(systemSound).source.isEmpty());
    dialogs.alerts.clear();
    recorder = openRecorder();
    chooseAudio(*recorder, systemSound);
    EXPECT_EQ(recorder->selectedAudioDevUniqueID(), systemSound);
    EXPECT_EQ(dialogs.alertTitles(), QStringList());
}

TEST_F(ScreenRecorderWindowTest, AFullTargetFolderIsReportedAndTheWindowComesBack)
{
    const QString mountPoint = folder.filePath("small");
    QDir().mkpath(mountPoint);
    if (::mount("tmpfs", mountPoint.toUtf8().constData(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    DNSetting::shareSetting().screenRecordSetting().setTargetFolder(mountPoint);
    QFile filler(mountPoint + "/filler");
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    filler.write(QByteArray(1024 * 1000, 'x'));
    filler.close();
    DNSRWindowController* recorder = openRecorder();
    ASSERT_TRUE(recorder && recorder->screenRecorder());
    dialogs.nextAnswer = { 0, false }; // Install the virtual device when asked
    chooseAudio(*recorder, kSystemAudioDeviceID);
    UserDefaults::standard().setValue(DNSRWindowController::kNotRemindKey, true);
    dialogs.alerts.clear();
    recorder->onStartRecord();
    recorder->countdown()->tick();
    ASSERT_TRUE(waitUntil([&] { return recorder->recorderState() == 2; }));
    EXPECT_NE(PrivateSoundServer::pactl({ "get-default-sink" }).trimmed(), "speakers");
    const bool reported = waitUntil([&] { return !dialogs.alerts.empty(); }, 30000);
    ::umount2(mountPoint.toUtf8().constData(), MNT_DETACH);
    ASSERT_TRUE(reported);
    EXPECT_TRUE(dialogs.alerts[0].text.contains("No space left on device"))
        << dialogs.alerts[0].text.toStdString();
    EXPECT_EQ(recorder->recorderState(), DNSRWindowController::Idle);
    EXPECT_TRUE(recorder->recordFiles().isEmpty());
    EXPECT_TRUE(recorder->isVisible());
    EXPECT_EQ(PrivateSoundServer::pactl({ "get-default-sink" }).trimmed(), "speakers");
}

TEST_F(ScreenRecorderWindowTest, NoDisplayIsReportedAndTheMainWindowTakesOver)
{
    const QByteArray saved = qgetenv("DISPLAY");
    ::unsetenv("DISPLAY");
    window().showScreenRecorder();
    ::setenv("DISPLAY", saved.constData(), 1);
    EXPECT_EQ(dialogs.alertTitles(), QStringList("Screen Record Unavailable!"));
    EXPECT_TRUE(waitUntil([&] { return window().isVisible(); }));
    EXPECT_TRUE(waitUntil([&] { return !window().screenRecorderController(); }));
}

} // namespace

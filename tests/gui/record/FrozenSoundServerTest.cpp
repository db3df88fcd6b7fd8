// The recorder windows while the sound server does not answer (stopped by a
// signal): recording with the system's sound or a microphone, stopping before
// the server has answered, the sound menus, the camera's sound checks and
// preview volume, closing. The window's thread never waits on the server:
// its events keep coming all the while, and each action ends in one known
// state, nothing routed once the server answers again.
#include "gui/GuiTestSupport.h"

#include "controls/DNButton.h"
#include "platform/UserDefaults.h"
#include "record/AudioDevice.h"
#include "record/DNSRSettingPanel.h"
#include "record/DNSRWindowController.h"
#include "record/NXCameraRecorderController.h"
#include "record/NXCameraViews.h"
#include "record/PulseAudio.h"
#include "record/SoundServerCalls.h"
#include "services/DNScreenRecorderSetting.h"
#include "services/DNSetting.h"
#include "shell/NXAppController.h"
#include "shell/NXApplicationDelegate.h"
#include "support/PrivateDisplay.h"
#include "support/PrivateSoundServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

namespace {

using namespace std::chrono_literals;

const QString kNoSoundServer = "No sound server found: recording video only.";
const CameraDevice kCamera { "standin", "Stand-in",
    { "-use_wallclock_as_timestamps", "1", "-f", "lavfi", "-i",
        "testsrc2=size=640x480:rate=30,realtime" } };

// The longest time the event loop went without answering a timer, from now.
class EventGaps {
public:
    EventGaps()
    {
        QObject::connect(&m_ticks, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, m_sinceTick.restart());
            ++m_count;
        });
        m_sinceTick.start();
        m_ticks.start(50);
    }
    // After two more ticks: a wait that just ended shows in the next one.
    qint64 longest()
    {
        const int count = m_count;
        waitUntil([&] { return m_count >= count + 2; });
        return m_longest;
    }

private:
    QTimer m_ticks;
    QElapsedTimer m_sinceTick;
    qint64 m_longest = 0;
    int m_count = 0;
};

// The rows of the table below drive the windows through it.
class FrozenSoundServerTest : public ::testing::Test {
public:
    static void SetUpTestSuite()
    {
        display = std::make_unique<PrivateDisplay>();
        ASSERT_EQ(display->start(), "");
        ::setenv("DISPLAY", display->display().toUtf8().constData(), 1);
        ASSERT_EQ(display->showMovingPicture(), "");
    }
    static void TearDownTestSuite()
    {
        display.reset();
        ::unsetenv("DISPLAY");
    }

    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        system = systemCalls.actions();
    }

    // The main window, launched with the recorders' settings.
    void launch()
    {
        delegate.emplace(dialogs, system);
        delegate->applicationDidFinishLaunching({});
        DNScreenRecorderSetting& setting = DNSetting::shareSetting().screenRecordSetting();
        setting.setTargetFolder(folder.path());
        setting.setCountDown(1);
        setting.setOpenRecordMovie(false);
        DNSetting::shareSetting().cameraSetting().setDefaultTargetPlace(folder.path());
        UserDefaults::standard().setValue(DNSRWindowController::kNotRemindKey, true);
    }

    NXAppController& window() { return *delegate->controller(); }
    static int failures()
    {
        return ::testing::UnitTest::GetInstance()
            ->current_test_info()
            ->result()
            ->total_part_count();
    }

    DNSRWindowController& openScreenRecorder()
    {
        window().showScreenRecorder();
        DNSRWindowController* recorder = window().screenRecorderController();
        recorder->setTimings({ 60000, 0, [] { return QDateTime(QDate(2026, 1, 2), {}); } });
        return *recorder;
    }

    NXCameraRecorderController& openCameraRecorder()
    {
        NXCameraDeviceSource devices;
        devices.cameras = [] { return std::vector<CameraDevice> { kCamera }; };
        devices.watchDevices = false;
        window().showCameraRecorder(devices);
        return *window().cameraRecorderController();
    }

    // With the server answering: the camera previews with the microphone's sound.
    NXCameraRecorderController& openCameraWithSound()
    {
        NXCameraRecorderController& recorder = openCameraRecorder();
        EXPECT_TRUE(waitUntil([&] { return recorder.audioLevelView()->fill() > 0.5; }));
        return recorder;
    }

    void chooseAudio(DNSRWindowController& recorder, const QString& uniqueID)
    {
        recorder.onSettingClick();
        QComboBox* menu = recorder.settingPannel()->audioDevices;
        ASSERT_TRUE(waitUntil([&] { return menu->findData(uniqueID) >= 0; }));
        dialogs.nextAnswer = { 0, false }; // Install the virtual device when asked
        emit menu->activated(menu->findData(uniqueID));
        ASSERT_TRUE(waitUntil([&] { return recorder.selectedAudioDevUniqueID() == uniqueID; }));
        recorder.settingPannel()->accept();
    }

    // Starts a recording and stops it once it has recorded `seconds`, at
    // once when none; waits for its end.
    void record(DNSRWindowController& recorder, double seconds)
    {
        double recorded = 0;
        QObject::connect(recorder.screenRecorder(), &DNScreenRecorder::recordingProgress,
            [&recorded](double done) { recorded = done; });
        recorder.onStartRecord();
        ASSERT_TRUE(recorder.countdown());
        recorder.countdown()->tick();
        ASSERT_TRUE(waitUntil([&] { return recorder.recorderState() == 2; }));
        ASSERT_TRUE(waitUntil([&] { return recorded >= seconds; }));
        recorder.onStatusBarStopClicked();
        ASSERT_TRUE(waitUntil([&] {
            return recorder.recordFiles().size() + qsizetype(dialogs.alerts.size()) > 0
                && !recorder.isFinishing();
        }));
        EXPECT_EQ(recorder.recorderState(), DNSRWindowController::Idle);
        EXPECT_TRUE(recorder.startButton()->isEnabled());
    }

    static inline std::unique_ptr<PrivateDisplay> display;
    QTemporaryDir folder;
    ScriptedDialogs dialogs;
    RecordingSystem systemCalls;
    NXSystemActions system;
    std::optional<NXApplicationDelegate> delegate;
};

TEST_F(FrozenSoundServerTest, NoWindowActionWaitsOnIt)
{
    using Self = FrozenSoundServerTest;
    const struct {
        const char* name;
        std::function<void(Self&)> answered; // while the server answers
        std::function<void(Self&)> frozen; // the action, to its end
    } cases[] = {
        { "record with the system's sound",
            [](Self& test) { test.chooseAudio(test.openScreenRecorder(), kSystemAudioDeviceID); },
            [](Self& test) {
                DNSRWindowController& recorder = *test.window().screenRecorderController();
                test.record(recorder, 1.0);
                EXPECT_EQ(test.dialogs.alertTitles(), QStringList());
                EXPECT_EQ(recorder.recordFiles().size(), 1);
            } },
        { "record with a microphone",
            [](Self& test) { test.chooseAudio(test.openScreenRecorder(), "microphone"); },
            [](Self& test) {
                DNSRWindowController& recorder = *test.window().screenRecorderController();
                test.record(recorder, 1.0);
                EXPECT_EQ(recorder.recordFiles().size(), 1);
            } },
        { "stop before the server answered",
            [](Self& test) { test.chooseAudio(test.openScreenRecorder(), kSystemAudioDeviceID); },
            [](Self& test) {
                const QDir target(test.folder.path());
                const QStringList before = target.entryList(QDir::Files);
                test.record(*test.window().screenRecorderController(), 0.0);
                EXPECT_EQ(target.entryList(QDir::Files), before);
                ASSERT_EQ(test.dialogs.alertTitles(), QStringList("The screen recording failed."));
                EXPECT_TRUE(test.dialogs.alerts[0].text.startsWith(
                    "it was stopped before it began, while the sound server had not yet answered"))
                    << test.dialogs.alerts[0].text.toStdString();
            } },
        { "open the sound menu", [](Self& test) { test.openScreenRecorder(); },
            [](Self& test) {
                DNSRWindowController& recorder = *test.window().screenRecorderController();
                recorder.onSettingClick();
                EXPECT_GE(
                    recorder.settingPannel()->audioDevices->findData(kSystemAudioDeviceID), 0);
                recorder.settingPannel()->reject();
            } },
        { "choose the system's sound",
            [](Self& test) { test.openScreenRecorder().onSettingClick(); },
            [](Self& test) {
                DNSRWindowController& recorder = *test.window().screenRecorderController();
                QComboBox* menu = recorder.settingPannel()->audioDevices;
                test.dialogs.nextAnswer = { 0, false };
                emit menu->activated(menu->findData(kSystemAudioDeviceID));
                ASSERT_TRUE(waitUntil([&] { return !test.dialogs.alerts.empty(); }));
                EXPECT_EQ(test.dialogs.alertTitles().last(), kNoSoundServer);
                EXPECT_EQ(recorder.selectedAudioDevUniqueID(), "");
            } },
        { "close the screen recorder",
            [](Self& test) { test.chooseAudio(test.openScreenRecorder(), kSystemAudioDeviceID); },
            [](Self& test) {
                test.window().screenRecorderController()->close();
                EXPECT_TRUE(waitUntil([&] { return !test.window().screenRecorderController(); }));
            } },
        { "open the camera recorder", [](Self&) {},
            [](Self& test) {
                NXCameraRecorderController& recorder = test.openCameraRecorder();
                EXPECT_TRUE(waitUntil([&] {
                    return recorder.statusField()->text() == kNoSoundServer
                        && recorder.session().isRunning();
                }));
            } },
        { "choose the camera's microphone",
            [](Self& test) {
                NXCameraRecorderController& recorder = test.openCameraWithSound();
                recorder.setSelectedAudioDevice(std::nullopt);
                EXPECT_TRUE(waitUntil([&] { return recorder.session().isRunning(); }));
            },
            [](Self& test) {
                NXCameraRecorderController& recorder = *test.window().cameraRecorderController();
                recorder.setSelectedAudioDevice(recorder.audioDevices().front());
                EXPECT_TRUE(waitUntil([&] {
                    return recorder.session().isRunning()
                        && recorder.session().plan().microphoneSource == "microphone";
                }));
            } },
        { "set the preview volume", [](Self& test) { test.openCameraWithSound(); },
            [](Self& test) {
                test.window().cameraRecorderController()->findChild<QSlider*>()->setValue(25);
            } },
        { "close the camera recorder", [](Self& test) { test.openCameraWithSound(); },
            [](Self& test) {
                test.window().cameraRecorderController()->close();
                EXPECT_TRUE(waitUntil([&] { return !test.window().cameraRecorderController(); }));
            } },
    };
    struct AnswerLimit {
        AnswerLimit() { PulseAudio::setAnswerLimit(6s); }
        ~AnswerLimit() { PulseAudio::setAnswerLimit(before); }
        const std::chrono::milliseconds before = PulseAudio::answerLimit();
    } const answerLimit;
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        PrivateSoundServer server;
        ASSERT_EQ(server.start(), "");
        ASSERT_EQ(server.addSineMicrophone(440), "");
        launch();
        const int failuresBefore = failures();
        row.answered(*this);
        ASSERT_EQ(failures(), failuresBefore);
        dialogs.alerts.clear();
        {
            ASSERT_TRUE(server.signal(SIGSTOP));
            struct Thaw {
                const PrivateSoundServer& server;
                ~Thaw() { server.signal(SIGCONT); }
            } const thaw { server };
            EventGaps gaps;
            row.frozen(*this);
            EXPECT_LT(gaps.longest(), PulseAudio::answerLimit().count() / 2);
        }
        delegate.reset();
        // What the windows left to the server is done once it answers:
        // nothing stays routed.
        ASSERT_TRUE(SoundServerCalls::waitUntilDone(3 * PulseAudio::answerLimit()));
        EXPECT_EQ(PrivateSoundServer::pactl({ "get-default-sink" }), "speakers");
        EXPECT_FALSE(
            PrivateSoundServer::pactl({ "list", "short", "modules" }).contains("module-loopback"));
    }
}

} // namespace

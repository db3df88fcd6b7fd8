// The camera recorder window opened from the main window, with a lavfi
// stand-in camera (no camera exists on the test machines) and a private
// sound server's sine source as the microphone.
#include "gui/GuiTestSupport.h"

#include "fixtures/MediaFacts.h"
#include "model/DNFileNode.h"
#include "platform/ProcessRunner.h"
#include "record/NXCameraRecorderController.h"
#include "record/NXCameraViews.h"
#include "record/NXResolutionTransformer.h"
#include "record/PulseAudio.h"
#include "services/DNSetting.h"
#include "shell/NXAppController.h"
#include "shell/NXApplicationDelegate.h"
#include "support/PrivateSoundServer.h"
#include "support/RunFfmpeg.h"
#include "support/StallLimit.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>

namespace {

// Paced to the clock and stamped with the wall clock when taken, as a
// camera's driver does.
const QString kPicture = "testsrc2=size=640x480:rate=30";
const CameraDevice kCamera { "standin", "Stand-in",
    { "-use_wallclock_as_timestamps", "1", "-f", "lavfi", "-i", kPicture + ",realtime" } };
const CameraDevice kMuxedCamera { "muxed", "Muxed",
    { "-re", "-f", "lavfi", "-i", kPicture + "[out0];sine=frequency=880[out1]" }, true };
const QString kFirstName = "Quillon Camera Recorder 2026-01-02 at AM 00.00.00.mov";

class CameraRecorderWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(sound.start(), "");
        ASSERT_EQ(sound.addSineMicrophone(440), "");
        system = systemCalls.actions();
        delegate.emplace(dialogs, system);
        delegate->applicationDidFinishLaunching({});
        NXCameraRecorderSetting& setting = DNSetting::shareSetting().cameraSetting();
        setting.setDefaultTargetPlace(folder.path());
        setting.setIsFinishedOpenIt(false);
        setting.setIsAutoAdd2ConvertList(true);
    }
    void TearDown() override { delegate.reset(); }

    NXCameraRecorderController& open(std::vector<CameraDevice> cameras)
    {
        NXCameraDeviceSource devices;
        devices.cameras = [cameras] { return cameras; };
        devices.watchDevices = false;
        devices.now = [] { return QDateTime(QDate(2026, 1, 2), {}); };
        delegate->controller()->showCameraRecorder(devices);
        return *delegate->controller()->cameraRecorderController();
    }

    // Stops once `seconds` of pictures have been shown, and waits for the file.
    void record(NXCameraRecorderController& recorder, double seconds,
        const std::function<void()>& whileRecording = {})
    {
        const auto connection = QObject::connect(&recorder.session(),
            &CameraSession::previewFrameReady, [&recorder, seconds, shown = 0]() mutable {
                const int rate = recorder.session().plan().previewFrameRate;
                if (++shown < seconds * rate || !recorder.isRecording())
                    return;
                const QString before = recorder.lastRecordedFile();
                recorder.setRecording();
                // The window goes on while the file is finished; no new
                // recording starts meanwhile.
                EXPECT_TRUE(recorder.isFinishing());
                EXPECT_EQ(recorder.lastRecordedFile(), before);
                recorder.setRecording();
                EXPECT_FALSE(recorder.isRecording() || recorder.startAndStop()->isEnabled());
            });
        recorder.setRecording();
        ASSERT_TRUE(recorder.isRecording());
        if (whileRecording)
            whileRecording();
        EXPECT_TRUE(waitUntil([&] { return !recorder.isRecording() && !recorder.isFinishing(); }));
        QObject::disconnect(connection);
    }

    PrivateSoundServer sound;
    QTemporaryDir folder;
    ScriptedDialogs dialogs;
    RecordingSystem systemCalls;
    NXSystemActions system;
    std::optional<NXApplicationDelegate> delegate;
};

TEST(CameraRecorderParts, TimeAndSizesShowAsTheyShould)
{
    NXTimerRemaidView view;
    for (const auto& [seconds, shown] : std::vector<std::pair<quint32, QString>> {
             { 3725, "01:02:05" }, { 36000, "10:00:00" }, { 360000, "100:00:00" } }) {
        view.setTimeSeconds(seconds);
        EXPECT_EQ(view.hoursText() + ':' + view.minutesText() + ':' + view.secondsText(), shown);
    }
    EXPECT_EQ(NXResolutionTransformer::transformedValue(QSize(800, 600)), "Default");
    EXPECT_EQ(NXResolutionTransformer::transformedValue(QSize(1920, 1080)), "HD");
    EXPECT_EQ(NXResolutionTransformer::reverseTransformedValue("Default"), QSize(0, 0));
    EXPECT_EQ(NXResolutionTransformer::reverseTransformedValue("352x288"), QSize(352, 288));
    EXPECT_EQ(NXRArrayTransformer::transformedValue({ QSize(1, 1) }).value(6), "HD");
    EXPECT_EQ(NXRArrayTransformer::transformedValue({ "x" }).value(1), QSize(320, 240));
    EXPECT_TRUE(NXRArrayTransformer::transformedValue({}).isEmpty());
    EXPECT_TRUE(NXRArrayTransformer::transformedValue({ 3 }).isEmpty());
}

TEST(CameraRecorderParts, DraggingThePictureMovesItsWindow)
{
    QWidget window;
    NXMovableImageView picture(&window);
    picture.resize(100, 100);
    window.move(200, 200);
    window.show();
    const QPoint start = window.pos();
    QTest::mousePress(&picture, Qt::LeftButton, {}, QPoint(10, 10));
    QMouseEvent drag(QEvent::MouseMove, QPointF(40, 30), picture.mapToGlobal(QPointF(40, 30)),
        Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(&picture, &drag);
    EXPECT_EQ(window.pos() - start, QPoint(30, 20));
}

TEST_F(CameraRecorderWindowTest, RecordingsAreDatedNeverReplacedAndHandedOver)
{
    NXCameraRecorderController& recorder = open({ kCamera });
    ASSERT_TRUE(recorder.selectedAudioDevice());
    EXPECT_TRUE(waitUntil([&] {
        return recorder.audioLevelView()->fill() > 0.5
            && !recorder.previewView()->pixmap().isNull();
    }));
    record(recorder, 2.0);
    record(recorder, 1.0);
    EXPECT_TRUE(dialogs.alerts.empty()) << dialogs.alerts.front().text.toStdString();
    const MediaFacts first = MediaFacts::probe(folder.filePath(kFirstName));
    for (const double duration :
        { first.duration, first.stream("video").duration, first.stream("audio").duration })
        EXPECT_NEAR(duration, 2.0, 0.5);
    EXPECT_EQ(first.stream("video").codecName, "h264");
    EXPECT_EQ(first.stream("audio").codecName, "aac");
    const QString second = QString(kFirstName).replace(".mov", " (1).mov");
    EXPECT_EQ(recorder.lastRecordedFile(), folder.filePath(second));

    // Refused while recording; while finishing, the window closes once the
    // file is in place, and every recording joins the list.
    recorder.setRecording();
    recorder.close();
    EXPECT_EQ(dialogs.alertTitles(),
        QStringList("Please stop video recording before leaving screen recorder."));
    EXPECT_TRUE(waitUntil([&] { return recorder.timeRecordView()->secondsText() == "01"; }));
    recorder.setRecording();
    recorder.close();
    EXPECT_TRUE(waitUntil([&] { return !delegate->controller()->cameraRecorderController(); }));
    ASSERT_TRUE(waitUntil([&] { return delegate->controller()->mediaNodes().size() == 3; }));
    QStringList handedOver;
    for (const auto& node : delegate->controller()->mediaNodes())
        handedOver << QFileInfo(std::dynamic_pointer_cast<DNFileNode>(node)->path()).fileName();
    handedOver.sort();
    EXPECT_EQ(handedOver,
        QStringList({ QString(kFirstName).replace(".mov", " (1).mov"),
            QString(kFirstName).replace(".mov", " (2).mov"), kFirstName }));
}

TEST_F(CameraRecorderWindowTest, CameraWithItsOwnSoundRefusesTheMicrophone)
{
    NXCameraRecorderController& recorder = open({ kCamera, kMuxedCamera });
    ASSERT_EQ(recorder.selectedVideoDevice()->uniqueID, "muxed");
    EXPECT_FALSE(recorder.selectedAudioDevice());
    recorder.setSelectedAudioDevice(recorder.audioDevices().front());
    EXPECT_FALSE(recorder.selectedAudioDevice());
    DNSetting::shareSetting().cameraSetting().setIsAutoAdd2ConvertList(false);
    record(recorder, 1.0);
    EXPECT_TRUE(recorder.fileListNeedToConvert().isEmpty());

    // Quitting while recording keeps the recording.
    recorder.setRecording();
    EXPECT_TRUE(waitUntil([&] { return recorder.timeRecordView()->secondsText() == "01"; }));
    delegate.reset();
    const QString second = QString(kFirstName).replace(".mov", " (1).mov");
    EXPECT_EQ(MediaFacts::probe(folder.filePath(second)).stream("video").codecName, "h264");
}

// The raw volume of the first channel of the sound server's stream of that
// name, as pactl lists it; -1 when no such stream plays.
qint64 streamVolume(const QString& streamName)
{
    const QJsonArray streams = QJsonDocument::fromJson(
        PrivateSoundServer::pactl({ "-f", "json", "list", "sink-inputs" }).toUtf8())
                                   .array();
    for (const QJsonValue& stream : streams)
        if (stream["properties"]["media.name"].toString() == streamName)
            return stream["volume"].toObject().begin()->toObject()["value"].toInteger();
    return -1;
}

TEST_F(CameraRecorderWindowTest, PreviewSoundPlaysAtTheSetVolume)
{
    NXCameraRecorderController& recorder = open({ kCamera });
    const QString stream = recorder.session().plan().soundPreviewStream;
    ASSERT_FALSE(stream.isEmpty());
    recorder.findChild<QSlider*>()->setValue(25);
    EXPECT_TRUE(waitUntil([&] { return streamVolume(stream) == PulseAudio::kNormalVolume / 4; }));
}

TEST_F(CameraRecorderWindowTest, WithoutSoundServerRecordsVideoOnly)
{
    PrivateSoundServer::pointAtNoServer();
    NXCameraRecorderController& recorder = open({ kCamera });
    EXPECT_EQ(recorder.statusField()->text(), "No sound server found: recording video only.");
    EXPECT_FALSE(recorder.selectedAudioDevice());
    record(recorder, 1.0);
    sound.pointAtThisServer();
    const MediaFacts facts = MediaFacts::probe(folder.filePath(kFirstName));
    EXPECT_EQ(facts.stream("video").codecName, "h264");
    EXPECT_TRUE(facts.stream("audio").codecName.isEmpty());
}

// The recording's cut at its last picture ends, and the window then has no
// descriptor left to read the recording back with (the stand-in ffmpeg that
// cuts takes them away as it ends, as a process that ran out of them): the
// recording is not taken for an empty one. It is kept, and the alert says
// where and that it could not be checked.
TEST_F(CameraRecorderWindowTest, ARecordingThatCannotBeReadBackIsKept)
{
    struct PathGuard {
        const QByteArray path = qgetenv("PATH");
        ~PathGuard() { qputenv("PATH", path); }
    } const guard;
    QTemporaryDir bin;
    const QByteArray real = QFile::encodeName(QStandardPaths::findExecutable("ffmpeg"));
    ASSERT_TRUE(writeTestScript(bin.filePath("ffmpeg"),
        "#!/bin/sh\n"
        "case \" $* \" in *\" -c copy \"*) ;; *) exec '"
            + real + "' \"$@\" ;; esac\n'" + real
            + "' \"$@\"\n"
              "status=$?\n"
              "prlimit --pid $PPID --nofile=0:\n"
              "exit $status\n"));
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + guard.path);
    NXCameraRecorderController& recorder = open({ kMuxedCamera });
    rlimit before {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    record(recorder, 1.0);
    ::setrlimit(RLIMIT_NOFILE, &before);
    ASSERT_EQ(dialogs.alertTitles(), QStringList("The camera recording failed."));
    const QString said = dialogs.alerts.front().text;
    EXPECT_TRUE(said.startsWith("The recording could not be checked.\nIt could not be read (Too "
                                "many open files) and is kept at \""))
        << said.toStdString();
    const QString kept = said.section('"', 1, 1);
    EXPECT_EQ(MediaFacts::probe(kept).stream("video").codecName, "h264") << kept.toStdString();
    QFile::remove(kept);
}

// An ffmpeg that freezes while it records (stopped by a signal two seconds
// in) is killed: after a Stop that it cannot act on, or at the
// stall limit. What it wrote before it froze goes to the target folder and
// plays, and the alert says why and where, in words of its own.
TEST_F(CameraRecorderWindowTest, AFrozenRecordingKeepsWhatItWrote)
{
    using namespace std::chrono_literals;
    const ScopedStallLimit stallLimit(60s);
    NXCameraRecorderController& recorder = open({ kCamera });
    const struct {
        const char* name;
        bool stopped; // else left to the stall limit
        QString reason;
        QString kept;
    } cases[] = {
        { "stopped", true,
            "ffmpeg had not finished the recording 5 s after it was told to, and was killed",
            kFirstName },
        { "left", false, "ffmpeg " + stallReason(1s) + " and was ended",
            QString(kFirstName).replace(".mov", " (1).mov") },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        dialogs.alerts.clear();
        recorder.setRecording();
        ASSERT_TRUE(recorder.isRecording());
        const QString recording = recorder.session().plan().outputPath;
        ASSERT_TRUE(waitUntil([&] { return recorder.timeRecordView()->secondsText() == "02"; }));
        ASSERT_EQ(::kill(pid_t(recorder.session().enginePid()), SIGSTOP), 0);
        if (row.stopped)
            recorder.setRecording();
        else
            setEngineStallLimit(1s);
        ASSERT_TRUE(waitUntil([&] { return !recorder.isRecording() && !recorder.isFinishing(); }));
        setEngineStallLimit(60s);
        ASSERT_EQ(dialogs.alertTitles(), QStringList("The camera recording failed."));
        const QString said = dialogs.alerts.front().text;
        EXPECT_TRUE(said.startsWith(row.reason + "\nThe ")) << said.toStdString();
        EXPECT_TRUE(said.endsWith(
            " s of pictures recorded are kept at \"" + folder.filePath(row.kept) + "\"."))
            << said.toStdString();
        const MediaFacts facts = MediaFacts::probe(folder.filePath(row.kept));
        EXPECT_EQ(facts.stream("video").codecName, "h264");
        EXPECT_GE(facts.stream("video").duration, 1.0);
        EXPECT_EQ(decodeComplaints(folder.filePath(row.kept)).toStdString(), "");
        EXPECT_FALSE(QFile::exists(recording));
    }
}

// The sound server killed two seconds into an eight-second recording with the
// microphone: the picture goes on without sound. The recording is kept in
// the target folder, and the alert says when the sound stopped.
TEST_F(CameraRecorderWindowTest, ASoundServerThatDiesIsSaid)
{
    NXCameraRecorderController& recorder = open({ kCamera });
    ASSERT_TRUE(recorder.selectedAudioDevice());
    record(recorder, 8.0, [&] {
        ASSERT_TRUE(waitUntil([&] { return recorder.timeRecordView()->secondsText() == "02"; }));
        ASSERT_TRUE(sound.signal(SIGKILL));
    });
    ASSERT_EQ(dialogs.alertTitles(), QStringList("The camera recording failed."));
    const QString said = dialogs.alerts.front().text;
    const QRegularExpressionMatch stopped
        = QRegularExpression("^the sound stopped at about ([0-9.]+) s of the ([0-9.]+) s of "
                             "picture\n")
              .match(said);
    ASSERT_TRUE(stopped.hasMatch()) << said.toStdString();
    EXPECT_TRUE(said.endsWith("kept at \"" + folder.filePath(kFirstName) + "\"."))
        << said.toStdString();
    const MediaFacts facts = MediaFacts::probe(folder.filePath(kFirstName));
    EXPECT_NEAR(stopped.captured(1).toDouble(), facts.stream("audio").duration, 0.05);
    EXPECT_NEAR(stopped.captured(2).toDouble(), facts.stream("video").duration, 0.05);
    EXPECT_NEAR(facts.stream("video").duration, 8.0, 0.5);
}

TEST_F(CameraRecorderWindowTest, WithoutDevicesNothingStarts)
{
    PrivateSoundServer::pointAtNoServer();
    NXCameraRecorderController& recorder = open({});
    EXPECT_EQ(recorder.statusField()->text(), "No camera and no microphone found.");
    EXPECT_FALSE(recorder.startAndStop()->isEnabled());
    EXPECT_FALSE(recorder.session().isRunning());
    sound.pointAtThisServer();
}

} // namespace

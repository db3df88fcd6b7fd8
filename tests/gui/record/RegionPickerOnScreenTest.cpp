// The region picker and a region recording on a real X server (Xvfb): the
// picker is shown full screen, dragged with the mouse, and what the recorder
// takes of the region is compared with a direct grab of the same spot.
#include "gui/GuiTestSupport.h"

#include "fixtures/MediaFacts.h"
#include "platform/UserDefaults.h"
#include "record/DNAreaSelectWindow.h"
#include "record/DNSRWindowController.h"
#include "services/DNScreenRecorderSetting.h"
#include "services/DNSetting.h"
#include "support/PrivateDisplay.h"

#include <QImage>
#include <QPalette>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const char* const kInsideX = "RegionPickerOnScreen.DISABLED_InsideX";
// A backdrop of one colour makes the recorded pixel comparable with a grab.
const QColor kBackdrop(40, 170, 90);

// One picture from ffmpeg with these input arguments, as an image.
QImage firstPicture(const QStringList& input, const QString& picture)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
        QStringList { "-v", "error", "-y" } + input + QStringList { "-frames:v", "1", picture });
    ffmpeg.waitForFinished(10'000);
    return QImage(picture);
}

bool nearlyEqual(QRgb recorded, QRgb grabbed)
{
    // The movie's colours went through a YUV encoding.
    return std::abs(qRed(recorded) - qRed(grabbed)) <= 12
        && std::abs(qGreen(recorded) - qGreen(grabbed)) <= 12
        && std::abs(qBlue(recorded) - qBlue(grabbed)) <= 12;
}

// Presses at `from`, moves to `to` and releases there, in the view's pixels.
void drag(QWidget* view, QPoint from, QPoint to)
{
    QTest::mousePress(view, Qt::LeftButton, {}, from);
    QTest::mouseMove(view, to);
    QTest::mouseRelease(view, Qt::LeftButton, {}, to);
}

} // namespace

TEST(RegionPickerOnScreen, PicksClipsAndRecordsTheRegionUnderX)
{
    const TestUnderX run = runTestUnderPrivateDisplay(kInsideX);
    if (!run.skipped.isEmpty())
        GTEST_SKIP() << run.skipped.toStdString();
    EXPECT_TRUE(run.passed()) << run.output.toStdString();
}

TEST(RegionPickerOnScreen, DISABLED_InsideX)
{
    QTemporaryDir folder;
    DNScreenRecorderSetting& setting = DNSetting::shareSetting().screenRecordSetting();
    setting.setTargetFolder(folder.path());
    setting.setCountDown(1);
    setting.setOpenRecordMovie(false);
    setting.setAddToConvertList(false);
    UserDefaults defaults(folder.filePath("defaults.conf"));
    ScriptedDialogs dialogs;
    RecordingSystem systemCalls;
    const NXSystemActions system = systemCalls.actions();
    QWidget backdrop(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint);
    backdrop.setPalette(QPalette(kBackdrop));
    backdrop.setAutoFillBackground(true);
    backdrop.setGeometry(0, 0, 1920, 1080);
    backdrop.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&backdrop));
    DNSRWindowController recorder(setting, defaults, dialogs, system, { 60000, 0 });
    ASSERT_TRUE(recorder.createCaptureRecorder());
    const QRect screen(0, 0, 1920, 1080);

    recorder.onSetRecordRegion();
    DNAreaSelectWindow* picker = recorder.screenAreaSelector();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(picker));
    EXPECT_EQ(picker->geometry(), screen);
    EXPECT_EQ(picker->selectionArea(), QRectF(560, 240, 800, 600));
    // The view's y grows upward: the top of the screen is at 1080.
    struct Drag {
        const char* what;
        QPoint from, to;
        QRectF selection;
    };
    const Drag drags[] = {
        { "a tiny drag takes the lower limit, centred", { 100, 100 }, { 104, 103 },
            { 910, 500, 100, 80 } },
        { "a drag past the top right is clipped", { 1700, 100 }, { 2100, -200 },
            { 1700, 980, 220, 100 } },
    };
    for (const Drag& step : drags) {
        SCOPED_TRACE(step.what);
        drag(picker->selectView(), step.from, step.to);
        EXPECT_EQ(picker->selectionArea(), step.selection);
    }
    QTest::keyClick(picker, Qt::Key_Escape);
    EXPECT_FALSE(picker->isVisible());
    EXPECT_EQ(recorder.recordRegion(), screen) << "Escape changes nothing";

    recorder.onSetRecordRegion();
    picker = recorder.screenAreaSelector();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(picker));
    QTest::mouseClick(picker->selectView()->doneButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !picker->isVisible(); }));
    ASSERT_EQ(recorder.recordRegion(), QRect(560, 240, 800, 600));

    double recorded = 0;
    QObject::connect(recorder.screenRecorder(), &DNScreenRecorder::recordingProgress,
        [&](double done) { recorded = done; });
    recorder.onStartRecord();
    ASSERT_TRUE(recorder.countdown());
    recorder.countdown()->tick();
    ASSERT_TRUE(waitUntil([&] { return recorded >= 1.0; }));
    recorder.onStatusBarStopClicked();
    ASSERT_TRUE(
        waitUntil([&] { return !recorder.recordFiles().isEmpty() || !dialogs.alerts.empty(); }));
    ASSERT_EQ(recorder.recordFiles().size(), 1) << dialogs.alertTitles().join(", ").toStdString();

    const QString movie = recorder.recordFiles().front();
    const MediaFacts facts = MediaFacts::probe(movie);
    ASSERT_TRUE(facts.ok) << facts.error.toStdString();
    EXPECT_EQ(facts.stream("video").width, 800);
    EXPECT_EQ(facts.stream("video").height, 600);
    // The last picture: the countdown has long gone by then. The spot is away
    // from the pointer, which both grabs draw at the centre of the screen.
    const QImage recordedPicture
        = firstPicture({ "-sseof", "-0.3", "-i", movie }, folder.filePath("recorded.png"));
    const QImage grabbed = firstPicture({ "-f", "x11grab", "-video_size", "16x16", "-i",
                                            qEnvironmentVariable("DISPLAY") + "+652,332" },
        folder.filePath("grabbed.png"));
    ASSERT_FALSE(recordedPicture.isNull());
    ASSERT_FALSE(grabbed.isNull());
    const QRgb spot = recordedPicture.pixel(100, 100);
    EXPECT_TRUE(nearlyEqual(spot, grabbed.pixel(8, 8)))
        << QColor(spot).name().toStdString() << " recorded, grabbed "
        << QColor(grabbed.pixel(8, 8)).name().toStdString();
    EXPECT_TRUE(nearlyEqual(spot, kBackdrop.rgb()))
        << "the frame window does not show: " << QColor(spot).name().toStdString();
}

// The region picker and the recordings on a real X server (Xvfb) of a desktop
// at scale 2, where Qt's pixels are two of the screen's: the picker is shown
// full screen and dragged with the mouse, and what the recorder takes of a
// region and of the full screen is compared with the windows below.
#include "gui/GuiTestSupport.h"

#include "platform/UserDefaults.h"
#include "record/ClickRings.h"
#include "record/DNAreaSelectWindow.h"
#include "record/DNRecordStatusItem.h"
#include "record/DNSRWindowController.h"
#include "services/DNScreenRecorderSetting.h"
#include "services/DNSetting.h"
#include "support/PrivateDisplay.h"

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QPalette>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <functional>

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <dlfcn.h>
#include <sys/uio.h>

namespace {

const char* const kInsideX = "RegionPickerOnScreen.DISABLED_InsideX";
// A backdrop of one colour, and a window of another on it: (150,250) and
// 100x100 in Qt's pixels, (300,500) and 200x200 in the screen's.
const QColor kBackdrop(40, 170, 90);
const QColor kKnown(200, 60, 40);

// One picture from ffmpeg with these input arguments, as an image.
QImage firstPicture(const QStringList& input, const QString& picture)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
        QStringList { "-v", "error", "-y" } + input + QStringList { "-frames:v", "1", picture });
    ffmpeg.waitForFinished(10'000);
    return QImage(picture);
}

// The colour of one pixel of the screen (the X root's pixels).
QColor screenPixel(const QPoint& point, const QString& folder)
{
    const QString input = QStringLiteral("%1+%2,%3")
                              .arg(qEnvironmentVariable("DISPLAY"))
                              .arg(point.x())
                              .arg(point.y());
    return firstPicture(
        { "-f", "x11grab", "-video_size", "2x2", "-i", input }, folder + "/pixel.png")
        .pixel(0, 0);
}

// Presses and releases the first mouse button through the X test extension,
// as a person's click reaches the X server.
void clickOnX()
{
    static xcb_extension_t xtest { "XTEST", 0 };
    const auto send
        = reinterpret_cast<decltype(&xcb_send_request)>(::dlsym(RTLD_DEFAULT, "xcb_send_request"));
    xcb_connection_t* const x
        = qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    for (const quint8 type : { XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE }) {
        std::array<quint8, 36> request {}; // XTestFakeInput: type, button, the rest unused
        request[4] = type;
        request[5] = 1;
        iovec parts[3] { {}, {}, { request.data(), request.size() } };
        const xcb_protocol_request_t fakeInput { 1, &xtest, 2, 1 };
        send(x, 0, parts + 2, &fakeInput);
    }
    reinterpret_cast<decltype(&xcb_flush)>(::dlsym(RTLD_DEFAULT, "xcb_flush"))(x);
}

bool nearlyEqual(QRgb recorded, QColor grabbed)
{
    // The movie's colours went through a YUV encoding.
    return std::abs(qRed(recorded) - grabbed.red()) <= 12
        && std::abs(qGreen(recorded) - grabbed.green()) <= 12
        && std::abs(qBlue(recorded) - grabbed.blue()) <= 12;
}

// Presses at `from`, moves to `to` and releases there, in the view's pixels.
void drag(QWidget* view, QPoint from, QPoint to)
{
    QTest::mousePress(view, Qt::LeftButton, {}, from);
    QTest::mouseMove(view, to);
    QTest::mouseRelease(view, Qt::LeftButton, {}, to);
}

std::unique_ptr<QWidget> plainWindow(const QColor& colour, const QRect& geometry)
{
    auto window = std::make_unique<QWidget>(
        nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint);
    window->setPalette(QPalette(colour));
    window->setAutoFillBackground(true);
    window->setGeometry(geometry);
    window->show();
    return window;
}

// Records a second and answers the last picture; `whileRecording` runs before the stop.
QImage recordASecond(DNSRWindowController& recorder, const QString& folder,
    const std::function<void()>& whileRecording)
{
    double recorded = 0;
    const auto connection = QObject::connect(recorder.screenRecorder(),
        &DNScreenRecorder::recordingProgress, [&](double done) { recorded = done; });
    const qsizetype before = recorder.recordFiles().size();
    recorder.onStartRecord();
    recorder.countdown()->tick();
    EXPECT_TRUE(waitUntil([&] { return recorded >= 1.0; }));
    whileRecording();
    recorder.onStatusBarStopClicked();
    QObject::disconnect(connection);
    EXPECT_TRUE(waitUntil([&] { return recorder.recordFiles().size() > before; }));
    // The last picture: the countdown has long gone by then.
    return firstPicture(
        { "-sseof", "-0.3", "-i", recorder.recordFiles().value(before) }, folder + "/last.png");
}

} // namespace

TEST(RegionPickerOnScreen, PicksClipsAndRecordsTheRegionUnderXAtScale2)
{
    const TestUnderX run = runTestUnderPrivateDisplay(kInsideX, { "QT_SCALE_FACTOR=2" });
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
    setting.setCaptureMouse(false); // no click rings: the pointer is recorded all the same
    UserDefaults defaults(folder.filePath("defaults.conf"));
    ScriptedDialogs dialogs;
    RecordingSystem systemCalls;
    const NXSystemActions system = systemCalls.actions();
    const QRect screen(0, 0, 960, 540);
    const auto backdrop = plainWindow(kBackdrop, screen);
    const auto known = plainWindow(kKnown, { 150, 250, 100, 100 });
    ASSERT_TRUE(QTest::qWaitForWindowExposed(known.get()));
    QCursor::setPos(120, 220); // (240,440) on the screen
    DNSRWindowController recorder(setting, defaults, dialogs, system, { 60000, 0 });
    ASSERT_TRUE(recorder.createCaptureRecorder());
    const QRect wholeScreen(0, 0, 1920, 1080);
    EXPECT_EQ(recorder.screenRecorder()->captureRegion(), wholeScreen);

    recorder.onSetRecordRegion();
    DNAreaSelectWindow* picker = recorder.screenAreaSelector();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(picker));
    EXPECT_EQ(picker->geometry(), screen);
    EXPECT_EQ(picker->selectionArea(), QRectF(80, 0, 800, 540));
    // The view's y grows upward: the top of the screen is at 540.
    struct Drag {
        const char* what;
        QPoint from, to;
        QRectF selection;
    };
    const Drag drags[] = {
        { "a tiny drag takes the lower limit, centred", { 20, 100 }, { 24, 103 },
            { 430, 230, 100, 80 } },
        { "a drag past the top right is clipped", { 850, 100 }, { 1100, -200 },
            { 850, 440, 110, 100 } },
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
    picker->selectView()->setSelectionArea({ 100, 140, 300, 200 });
    QTest::mouseClick(picker->selectView()->doneButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !picker->isVisible(); }));
    ASSERT_EQ(recorder.recordRegion(), QRect(100, 200, 300, 200));
    EXPECT_EQ(recorder.screenRecorder()->captureRegion(), QRect(200, 400, 600, 400));
    QImage preview;
    QObject::connect(recorder.screenRecorder(), &DNScreenRecorder::previewFrameReady,
        [&](const QImage& picture) { preview = picture; });
    // The first pictures can come before the X server has painted the known window on a busy
    // machine: the preview has to show it soon, not in its first picture.
    const auto showsTheRegion = [&] {
        return preview.size() == QSize(600, 400) && nearlyEqual(preview.pixel(200, 200), kKnown);
    };
    EXPECT_TRUE(waitUntil(showsTheRegion)) << "the preview shows the region";

    QColor stopWindow;
    const QImage region = recordASecond(recorder, folder.path(), [&] {
        // The Stop window lies above the frame's dimming.
        const QRect stop = recorder.statusBarItem()->statusItemView()->geometry();
        stopWindow = screenPixel(stop.topLeft() * 2 + QPoint(5, 5), folder.path());
        EXPECT_FALSE(recorder.clickRings());
    });
    EXPECT_EQ(dialogs.alertTitles(), QStringList());
    ASSERT_EQ(region.size(), QSize(600, 400));
    EXPECT_TRUE(nearlyEqual(region.pixel(200, 200), kKnown)) << "the known window";
    EXPECT_TRUE(nearlyEqual(region.pixel(500, 300), kBackdrop)) << "the frame shows";
    EXPECT_TRUE(nearlyEqual(stopWindow.rgb(), QGuiApplication::palette().color(QPalette::Window)))
        << stopWindow.name().toStdString();
    int pointer = 0; // the pointer's pixels, at (40,40) of the region
    for (int y = 40; y < 64; ++y)
        for (int x = 40; x < 64; ++x)
            pointer += !nearlyEqual(region.pixel(x, y), kBackdrop);
    EXPECT_GT(pointer, 20);

    recorder.onKeepFullScreen();
    EXPECT_EQ(recorder.screenRecorder()->captureRegion(), wholeScreen);
    setting.setCaptureMouse(true);
    QColor ring;
    const QImage full = recordASecond(recorder, folder.path(), [&] {
        ASSERT_TRUE(recorder.clickRings());
        clickOnX();
        ASSERT_TRUE(waitUntil([&] { return recorder.clickRings()->ring(); }));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(recorder.clickRings()->ring()));
        ring = screenPixel({ 200, 439 }, folder.path()); // on the ring, left of the pointer
    });
    ASSERT_EQ(full.size(), wholeScreen.size());
    EXPECT_TRUE(nearlyEqual(full.pixel(400, 600), kKnown));
    EXPECT_TRUE(nearlyEqual(ring.rgb(), QColor(255, 200, 0))) << ring.name().toStdString();
}

// The recorder's small windows without a recording: the region picker's
// arithmetic, the countdown and the dated file names.
#include "record/DNAreaSelectWindow.h"
#include "record/DNCountDown.h"
#include "record/DNRecordFrame.h"
#include "record/DNRecordStatusItem.h"
#include "record/RecordingName.h"

#include <QGuiApplication>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const QRect kScreen(0, 0, 1280, 800);
const QRectF kFreshArea(240, 100, 800, 600);

std::unique_ptr<DNWindowSelectView> freshView()
{
    auto view = std::make_unique<DNWindowSelectView>(kScreen);
    view->setLowerLimitSize(DNAreaSelectWindow::kLowerLimit);
    view->setSelectionArea(kFreshArea);
    view->refresh();
    return view;
}

TEST(RegionPickerTest, HandlesSitOnTheSelectionsEdgesAndTheButtonInItsMiddle)
{
    const auto view = freshView();
    const QPointF expected[] = { { 240, 700 }, { 640, 700 }, { 1040, 700 }, { 240, 400 },
        { 1040, 400 }, { 240, 100 }, { 640, 100 }, { 1040, 100 } };
    const auto& cells = view->controlCells();
    for (std::size_t index = 0; index < std::size(expected); ++index) {
        SCOPED_TRACE(index + 1);
        EXPECT_EQ(cells[index]->frame().center(), expected[index]);
        EXPECT_EQ(cells[index]->frame().size(), QSizeF(12, 12));
    }
    EXPECT_EQ(cells[8]->frame(), kFreshArea);
    // Widget coordinates: the selection's centre is (640, 400) either way up.
    EXPECT_EQ(view->doneButton()->geometry().center(), QPoint(639, 399));
}

TEST(RegionPickerTest, NewRectanglesAreClippedAndHeldToTheLowerLimit)
{
    struct Case {
        const char* name;
        QPointF press, drag;
        QRectF expected;
    };
    const Case cases[] = {
        { "ordinary drag", { 100, 100 }, { 400, 300 }, { 100, 100, 300, 200 } },
        { "drag towards the origin", { 400, 300 }, { 100, 100 }, { 100, 100, 300, 200 } },
        { "a few points: the limit, centred", { 20, 20 }, { 23, 22 }, { 590, 360, 100, 80 } },
        { "past the right and top edge", { 1000, 700 }, { 1500, 900 }, { 1000, 700, 280, 100 } },
        { "narrow only", { 10, 10 }, { 50, 400 }, { 590, 10, 100, 390 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto view = freshView();
        view->updateCreateDragArea(c.press, c.drag);
        view->checkSelectionArea();
        EXPECT_EQ(view->selectionArea(), c.expected);
    }
}

TEST(RegionPickerTest, AClickOutsideWithoutADragKeepsTheSelection)
{
    const auto view = freshView();
    view->show();
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_EQ(view->selectionArea(), kFreshArea);
    QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(50, 50));
    QTest::mouseMove(view.get(), QPoint(53, 52));
    QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(53, 52));
    EXPECT_EQ(view->selectionArea(), QRectF(590, 360, 100, 80));
}

TEST(RegionPickerTest, ButtonReportsTheSelectionAndEscapeHidesWithoutAReport)
{
    DNAreaSelectWindow picker({ 0, 0, 1280, 700 });
    EXPECT_EQ(picker.selectionArea(), QRectF(240, 50, 800, 600));
    const QPushButton* button = picker.selectView()->doneButton();
    EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()) + 4, button->width());
    EXPECT_EQ(DNAreaSelectWindow({ 0, 0, 960, 540 }).selectionArea(), QRectF(80, 0, 800, 540));
    QSignalSpy reports(&picker, &DNAreaSelectWindow::areaSelectDidFinished);
    picker.show();
    QTest::keyClick(&picker, Qt::Key_A);
    EXPECT_TRUE(picker.isVisible()) << "other keys are ignored";
    QTest::keyClick(&picker, Qt::Key_Escape);
    EXPECT_FALSE(picker.isVisible());
    EXPECT_EQ(reports.count(), 0);
    picker.show();
    picker.selectView()->doneButton()->click();
    EXPECT_EQ(reports.count(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !picker.isVisible(); }, 2000));
}

TEST(RegionPickerTest, SelectionBecomesTopLeftScreenPixels)
{
    struct Case {
        QRectF selection;
        QRect screen, expected;
    };
    const Case cases[] = {
        { { 240, 100, 800, 600 }, { 0, 0, 1280, 800 }, { 240, 100, 800, 600 } },
        { { 0, 0, 100, 80 }, { 0, 0, 1280, 800 }, { 0, 720, 100, 80 } },
        { { 0, 700, 100, 100 }, { 1920, 0, 1280, 800 }, { 1920, 0, 100, 100 } },
        { { 80, -30, 800, 600 }, { 0, 0, 960, 540 }, { 80, 0, 800, 540 } },
    };
    for (const auto& c : cases)
        EXPECT_EQ(screenRegionFromSelection(c.selection, c.screen), c.expected);
}

TEST(CountDownTest, CountsOncePerTickAndCallsItsActionAtTheEnd)
{
    struct Case {
        int start;
        int ticks;
        int shown;
        bool called;
    };
    const Case cases[]
        = { { 3, 1, 2, false }, { 3, 3, 0, true }, { 1, 1, 0, true }, { 0, 1, 0, true } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        QPointer<DNCountDown> countdown = new DNCountDown(60000);
        countdown->setCountDownNumber(c.start);
        int calls = 0;
        countdown->setAction([&] { ++calls; });
        countdown->displayCountdown();
        EXPECT_EQ(countdown->countDownNumber(), c.start);
        for (int tick = 0; tick < c.ticks; ++tick)
            countdown->tick();
        EXPECT_EQ(countdown->countDownNumber(), c.shown);
        EXPECT_EQ(calls, c.called ? 1 : 0);
        EXPECT_EQ(countdown->isVisible(), !c.called);
        if (c.called)
            EXPECT_TRUE(QTest::qWaitFor([&] { return countdown.isNull(); }, 2000));
        else
            delete countdown;
    }
}

TEST(RecordFrameTest, TheRegionIsAHoleInTheWindowAndClicksPassThrough)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect region(100, 50, 200, 120);
    const DNRecordFrame frame(region.translated(screen.topLeft()), screen);
    EXPECT_EQ(frame.geometry(), screen);
    EXPECT_EQ(frame.frameView()->clearFrame(), region);
    EXPECT_TRUE(frame.windowFlags().testFlag(Qt::WindowTransparentForInput));
    struct Case {
        QPoint point;
        bool covered;
    };
    const Case cases[] = { { { 100, 50 }, false }, { { 299, 169 }, false }, { { 99, 50 }, true },
        { { 300, 169 }, true }, { { 0, 0 }, true } };
    for (const auto& c : cases)
        EXPECT_EQ(frame.mask().contains(c.point), c.covered) << c.point.x() << "," << c.point.y();
}

TEST(RecordStatusItemTest, TheStopWindowStaysWhollyOnItsScreen)
{
    const QRect screen(1280, 0, 960, 540);
    DNRecordStatusItem item(screen);
    ASSERT_TRUE(item.statusItemView());
    for (const char* elapsed : { "00:00:00", "00:10:00", "100:00:00" }) {
        item.setElapsedText(elapsed);
        QCoreApplication::processEvents();
        EXPECT_TRUE(screen.contains(item.statusItemView()->frameGeometry())) << elapsed;
        EXPECT_EQ(item.statusItemView()->frameGeometry().topRight(), screen.topRight());
    }
}

TEST(RecordingNameTest, HalfDayHourAndMeridiemInEveryLanguage)
{
    QLocale::setDefault(QLocale(QLocale::Arabic, QLocale::Egypt));
    struct Case {
        QTime time;
        const char* expected;
    };
    const Case cases[] = {
        { { 21, 5, 7 }, "Quillon Screen Recorder 2026-12-06 at PM 09.05.07.mov" },
        { { 0, 30, 0 }, "Quillon Screen Recorder 2026-12-06 at AM 00.30.00.mov" },
        { { 12, 0, 59 }, "Quillon Screen Recorder 2026-12-06 at PM 00.00.59.mov" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            recordingFileName("Quillon Screen Recorder", QDateTime(QDate(2026, 12, 6), c.time)),
            c.expected);
    }
    QLocale::setDefault(QLocale::c());
}

} // namespace

// The area selector's drag arithmetic and drawing, and the crop rectangle's
// ratio lock and presets. Rectangles are in the views' own coordinates, with
// the origin at the bottom left.
#include "controls/DNAreaSelector.h"
#include "editor/DNAreaSelectView.h"
#include "gui/editor/BlackPicture.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>

namespace {

void mouse(DNAreaSelector& view, QEvent::Type type, QPointF viewPoint)
{
    const QPointF point(viewPoint.x(), view.height() - viewPoint.y());
    const Qt::MouseButtons held
        = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, point, view.mapToGlobal(point), Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &event);
}

void dragStep(DNAreaSelector& view, int tag, QPointF delta)
{
    view.updateAreaSelection(delta, view.controlCells().at(std::size_t(tag - 1)).get());
}

TEST(DNAreaSelector, StartsAtAThirdWithItsHandlesInsideTheSelection)
{
    DNAreaSelector view(QRect(0, 0, 300, 150));
    EXPECT_EQ(view.selectionArea(), QRectF(0, 0, 100, 50));
    EXPECT_EQ(view.lowerLimitSize(), QSizeF(30, 30));
    const auto& cells = view.controlCells();
    EXPECT_EQ(cells.front()->frame(), QRectF(0, 38, 12, 12));
    EXPECT_EQ(cells.back()->frame(), view.selectionArea());
    EXPECT_EQ(view.hitCellTest({ 6, 44 }), cells.front().get());
    EXPECT_EQ(view.hitCellTest({ 50, 25 }), cells.back().get());
}

TEST(DNAreaSelector, EachHandleMovesItsOwnEdgesAndEachAxisIsCheckedAlone)
{
    const QRectF middle(100, 50, 100, 50);
    const struct {
        const char* name;
        QRectF start;
        int tag;
        QPointF delta;
        QRectF expected;
    } cases[] = {
        { "top-left", middle, 1, { 10, 5 }, { 110, 50, 90, 55 } },
        { "top", middle, 2, { 10, 5 }, { 100, 50, 100, 55 } },
        { "top-right", middle, 3, { 10, 5 }, { 100, 50, 110, 55 } },
        { "left", middle, 4, { 10, 5 }, { 110, 50, 90, 50 } },
        { "right", middle, 5, { 10, 5 }, { 100, 50, 110, 50 } },
        { "bottom-left", middle, 6, { 10, 5 }, { 110, 55, 90, 45 } },
        { "bottom", middle, 7, { 10, 5 }, { 100, 55, 100, 45 } },
        { "bottom-right", middle, 8, { 10, 5 }, { 100, 55, 110, 45 } },
        { "centre", middle, 9, { 10, 5 }, { 110, 55, 100, 50 } },
        { "fast centre past the left edge", { 10, 50, 100, 50 }, 9, { -20, 10 },
            { 10, 60, 100, 50 } },
        { "centre past the top", middle, 9, { 10, 60 }, { 110, 50, 100, 50 } },
        { "bottom edge below the lower limit", middle, 7, { 0, 30 }, middle },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        DNAreaSelector view(QRect(0, 0, 300, 150));
        QSignalSpy changes(&view, &DNAreaSelector::areaSelectDidChanged);
        view.setSelectionArea(row.start);
        view.refreshDragCellPosition();
        dragStep(view, row.tag, row.delta);
        EXPECT_EQ(view.selectionArea(), row.expected);
        EXPECT_EQ(view.controlCells().back()->frame(), row.expected);
        EXPECT_EQ(changes.count(), 1);
    }
}

TEST(DNAreaSelector, RefusedStepsAreLostSoTheHandleLagsAndMissedPressesDoNothing)
{
    DNAreaSelector view(QRect(0, 0, 300, 150));
    view.setSelectionArea({ 100, 50, 100, 50 });
    view.refreshDragCellPosition();
    mouse(view, QEvent::MouseButtonPress, { 106, 75 }); // the left edge handle
    EXPECT_NE(QGuiApplication::overrideCursor(), nullptr);
    mouse(view, QEvent::MouseMove, { 176, 75 });
    EXPECT_EQ(view.selectionArea(), QRectF(170, 50, 30, 50));
    mouse(view, QEvent::MouseMove, { 186, 75 });
    EXPECT_EQ(view.selectionArea(), QRectF(170, 50, 30, 50));
    mouse(view, QEvent::MouseMove, { 176, 75 });
    EXPECT_EQ(view.selectionArea(), QRectF(160, 50, 40, 50));
    mouse(view, QEvent::MouseButtonRelease, { 176, 75 });
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    QSignalSpy changes(&view, &DNAreaSelector::areaSelectDidChanged);
    mouse(view, QEvent::MouseButtonPress, { 20, 140 });
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    mouse(view, QEvent::MouseMove, { 40, 120 });
    mouse(view, QEvent::MouseButtonRelease, { 40, 120 });
    view.setEditabled(false);
    mouse(view, QEvent::MouseButtonPress, { 180, 75 });
    mouse(view, QEvent::MouseMove, { 150, 75 });
    mouse(view, QEvent::MouseButtonRelease, { 150, 75 });
    EXPECT_EQ(view.selectionArea(), QRectF(160, 50, 40, 50));
    EXPECT_EQ(changes.count(), 0);
}

TEST(DNAreaSelector, ShadesOnlyOutsideTheSelectionAndHidesHandlesWhenNotEditable)
{
    BlackPicture picture({ 300, 150 });
    auto* view = new DNAreaSelector(QRect(0, 0, 300, 150), &picture.picture);
    view->setSelectionArea({ 100, 50, 100, 50 });
    view->refreshDragCellPosition();
    picture.picture.show();
    const QPoint outside(20, 20), inside(150, 75), topLeftHandle(106, 56);
    EXPECT_NEAR(picture.redAt(outside), 51, 2); // 0.25 grey at 0.8 over black
    EXPECT_EQ(picture.redAt(inside), 0);
    EXPECT_EQ(picture.redAt(topLeftHandle), 255);

    view->setEditabled(false);
    EXPECT_NEAR(picture.redAt(outside), 51, 2);
    EXPECT_EQ(picture.redAt(topLeftHandle), 0);

    view->setSelectionArea({ 0, 0, 300, 150 });
    view->refreshDragCellPosition();
    EXPECT_EQ(picture.redAt(outside), 0);
}

TEST(DNAreaSelectView, PresetsFitAndLockTheRatioThatDragsThenKeep)
{
    const struct {
        const char* name;
        QSize bounds;
        QRectF start;
        int row; // -1: lock by hand to `lock`
        QSizeF lock;
        int tag; // 0: no drag
        QPointF delta;
        QRectF expected;
    } cases[] = {
        { "16:9 in 4:3", { 400, 300 }, { 0, 0, 100, 50 }, 4, {}, 0, {}, { 0, 37.5, 400, 225 } },
        { "4:3 in 16:9", { 400, 225 }, { 0, 0, 100, 50 }, 5, {}, 0, {}, { 50, 0, 300, 225 } },
        { "whole picture, then the left edge", { 400, 300 }, { 0, 0, 100, 50 }, 3, {}, 4, { 40, 0 },
            { 40, 0, 360, 270 } },
        { "current 3:2, then the right edge", { 400, 300 }, { 0, 0, 120, 80 }, 2, {}, 5, { 30, 0 },
            { 0, 0, 150, 100 } },
        { "16:9 top edge up 9 widens by 16", { 400, 300 }, { 0, 0, 160, 90 }, -1, { 16, 9 }, 2,
            { 0, 9 }, { 0, 0, 176, 99 } },
        { "16:9 widening past the right edge", { 400, 300 }, { 300, 0, 96, 54 }, -1, { 16, 9 }, 2,
            { 0, 9 }, { 300, 0, 96, 54 } },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        DNAreaSelectView view(QRect(QPoint(0, 0), row.bounds));
        view.setSelectionArea(row.start);
        if (row.row >= 0)
            view.setSelectedAspect(row.row);
        else
            view.setAspect(row.lock);
        if (row.tag > 0)
            dragStep(view, row.tag, row.delta);
        EXPECT_EQ(view.selectionArea(), row.expected);
    }
}

struct BlackBorders : DNAreaSelectViewDelegate {
    bool canCropBlackRegion() override { return decoded; }
    QRectF rectByCoppingBlackRegion() override { return { 0, 0, 320, 180 }; }
    bool decoded = false;
};

TEST(DNAreaSelectView, RowsApplyOnceExceptTheBlackBorderRowAndUnknownRowsAreOnlyStored)
{
    DNAreaSelectView view(QRect(0, 0, 400, 300));
    BlackBorders delegate;
    view.setDelegate(&delegate);
    QSignalSpy changes(&view, &DNAreaSelector::areaSelectDidChanged);
    const QRectF start(10, 10, 50, 50);
    view.setSelectionArea(start);

    view.setSelectedAspect(1);
    QCoreApplication::processEvents();
    EXPECT_EQ(view.selectedAspect(), 1);
    EXPECT_EQ(view.selectionArea(), start);
    delegate.decoded = true;
    view.setSelectedAspect(1);
    EXPECT_EQ(changes.count(), 0); // told on the next turn of the event loop
    QCoreApplication::processEvents();
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(view.selectionArea(), QRectF(0, 37.5, 400, 225));
    EXPECT_EQ(view.aspect(), QSizeF(0, 0));

    view.setSelectedAspect(3);
    view.setSelectionArea(start);
    view.setSelectedAspect(3);
    EXPECT_EQ(view.selectionArea(), start);
    EXPECT_EQ(changes.count(), 2);

    view.setSelectedAspect(9);
    EXPECT_EQ(view.selectedAspect(), 9);
    EXPECT_EQ(view.selectionArea(), start);
    DNAreaSelectView withoutPresets(QRect(0, 0, 400, 300), QStringLiteral("/nonexistent.plist"));
    EXPECT_TRUE(withoutPresets.cropConfigItems().empty());
    withoutPresets.setSelectedAspect(4);
    EXPECT_EQ(withoutPresets.selectedAspect(), 4);

    DNAreaSelectView wide(QRect(0, 0, 400, 200));
    wide.setSelectionArea({ 100, 50, 200, 100 });
    EXPECT_EQ(wide.selectionAreaPercentage(), QRectF(0.25, 0.25, 0.5, 0.5));
}

TEST(DNAreaSelectView, EveryShippedPresetLoadsAndNamesAKnownCode)
{
    QStringList problems;
    const auto rows = readCropConfigure(cropConfigurePath(), &problems);
    EXPECT_TRUE(problems.isEmpty()) << qPrintable(problems.join('\n'));
    ASSERT_GE(rows.size(), 2U);
    EXPECT_EQ(rows[1].code, 100); // the editor's black-border row
    const std::set<int> known { 0, 1, 2, 3, 100 };
    for (const auto& row : rows) {
        SCOPED_TRACE(qPrintable(row.name));
        EXPECT_TRUE(known.count(row.code));
        EXPECT_FALSE(row.name.isEmpty());
        if (row.code == 1) {
            EXPECT_GT(row.width, 0);
            EXPECT_GT(row.height, 0);
        }
    }
    EXPECT_EQ(NXCropCfgValueTransform::transformedValue(rows).size(), qsizetype(rows.size()));
}

TEST(DNAreaSelectView, ADamagedPresetFileIsReportedNotFatal)
{
    QFile shipped(cropConfigurePath());
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    QByteArray damaged = shipped.readAll();
    // A zero byte inside the first row's name.
    damaged.insert(damaged.indexOf("<string>", damaged.indexOf("NXCropCfgName")) + 9, '\0');
    QTemporaryDir folder;
    QFile copy(folder.filePath("cropConfigure.plist"));
    ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
    copy.write(damaged);
    copy.close();
    QStringList problems;
    const auto rows = readCropConfigure(copy.fileName(), &problems);
    ASSERT_FALSE(rows.empty());
    EXPECT_TRUE(rows[0].name.isEmpty());
    EXPECT_TRUE(problems.join('\n').contains("row 0: \"NXCropCfgName\" is not a text"))
        << qPrintable(problems.join('\n'));
}

} // namespace

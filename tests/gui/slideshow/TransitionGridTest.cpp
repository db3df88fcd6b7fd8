// The transition strip on its own, and the editor as the main window opens it.
#include "../MainWindowTest.h"
#include "SlideshowTestSupport.h"

#include "controls/DNButton.h"
#include "list/NXMediaListModel.h"
#include "list/NXMediaTableView.h"
#include "platform/NotificationCenter.h"
#include "shell/DNFileLoader.h"
#include "shell/NXAppController.h"
#include "shell/NXApplicationDelegate.h"
#include "slideshow/DNImageBrowser.h"
#include "slideshow/DNImageEditor.h"
#include "slideshow/NXEffectManager.h"

#include <QMouseEvent>

#include <gtest/gtest.h>

namespace {

QList<int> animatingCells(const DNEffectPreview& strip)
{
    QList<int> animating;
    for (int index = 0; index < strip.cells().size(); ++index)
        if (strip.cells().at(index)->effectView()->isAnimating())
            animating << index;
    return animating;
}

void drag(DNEffectPreview& strip, int dx)
{
    const QPointF start(260, 50);
    const QPointF end = start + QPointF(dx, 0);
    QMouseEvent press(QEvent::MouseButtonPress, start, start, Qt::LeftButton, Qt::LeftButton, {});
    QMouseEvent move(QEvent::MouseMove, end, end, Qt::NoButton, Qt::LeftButton, {});
    QMouseEvent release(QEvent::MouseButtonRelease, end, end, Qt::LeftButton, {}, {});
    for (QMouseEvent* event : { &press, &move, &release })
        QCoreApplication::sendEvent(&strip, event);
    settle(strip);
}

TEST(TransitionGrid, PagesTurnByButtonsAndDragsAndOnlyTheCellsInViewAnimate)
{
    ManualClock time;
    DNEffectPreview strip(QPoint(0, 0));
    strip.setClock(time.clock());
    std::vector<std::unique_ptr<NXTransitionFilter>> filters;
    for (qint64 number = 0; number < 18; ++number)
        filters.push_back(NXEffectManager::independentFilterWithType(number));
    strip.setPrevieFilters(std::move(filters), {});
    QImage demo(100, 75, QImage::Format_RGB32);
    demo.fill(Qt::red);
    strip.setDemoImages({ demo, demo.mirrored() });
    strip.startPreview();
    ASSERT_EQ(strip.width(), 520);
    EXPECT_EQ(strip.contentView()->width(), 2080);

    struct Step {
        std::function<void()> act;
        int contentX;
        QList<int> animating;
        bool leftShown;
        bool rightShown;
    };
    const auto turn = [&](int tag) {
        return [&strip, tag] {
            strip.pageButton(tag)->click();
            settle(strip);
        };
    };
    const int left = DNEffectPreview::kLeftButtonTag;
    const int right = DNEffectPreview::kRightButtonTag;
    const std::vector<Step> steps {
        { [] {}, 0, { 0, 1, 2, 3, 4 }, false, true },
        { turn(left), 0, { 0, 1, 2, 3, 4 }, false, true },
        { turn(right), -520, { 5, 6, 7, 8, 9 }, true, true },
        { [&] { drag(strip, -30); }, -1040, { 10, 11, 12, 13, 14 }, true, true },
        { turn(right), -1560, { 15, 16, 17 }, true, false },
        { turn(right), -1560, { 15, 16, 17 }, true, false },
        { [&] { drag(strip, -30); }, -1560, { 15, 16, 17 }, true, false },
        { [&] { drag(strip, 8); }, -1040, { 10, 11, 12, 13, 14 }, true, true },
    };
    for (std::size_t index = 0; index < steps.size(); ++index) {
        steps[index].act();
        EXPECT_EQ(strip.contentView()->x(), steps[index].contentX) << "step " << index;
        EXPECT_EQ(animatingCells(strip), steps[index].animating) << "step " << index;
        EXPECT_EQ(!strip.pageButton(left)->isHidden(), steps[index].leftShown) << "step " << index;
        EXPECT_EQ(!strip.pageButton(right)->isHidden(), steps[index].rightShown)
            << "step " << index;
    }

    // A cell plays its filter forth and back: half a leg in, the frame is the
    // filter's at eased time 0.5; one leg later it runs back.
    EffectPreview& cell = *strip.cells().at(11)->effectView();
    const QImage forth = cell.imageAtTime(0.5f);
    EXPECT_EQ(forth, cell.transition()->render(demo, demo.mirrored(), 0.5));
    EXPECT_EQ(cell.imageAtTime(1.5f), cell.transition()->render(demo.mirrored(), demo, 0.5));
    strip.stopPreview();
    EXPECT_EQ(strip.contentView(), nullptr);
}

TEST(TransitionGrid, AMissingBackgroundGivesAPlainStripOfOnePage)
{
    QTemporaryDir noResources;
    qputenv("QUILLON_RESOURCES", noResources.path().toUtf8());
    DNEffectPreview strip(QPoint(0, 0));
    qunsetenv("QUILLON_RESOURCES");
    EXPECT_EQ(strip.size(), QSize(520, 100));
    const QImage drawn = strip.grab().toImage();
    EXPECT_EQ(drawn.pixel(0, 0), drawn.pixel(0, 99)); // the installed one darkens upwards
}

TEST(TransitionGrid, DoneRefreshesTheAlbumRowWithTheNewCount)
{
    TestAlbum photos;
    LaunchedWindow launched;
    NXAppController& window = launched.window();
    emit window.tableView()->filesDropped({ photos.path("Trip"), photos.path("Home") });
    ASSERT_TRUE(waitUntil([&] { return window.mediaNodes().size() == 1; }));
    const QModelIndex row = window.listModel()->index(0, NXMediaListModel::NameColumn);
    int refreshes = 0;
    NotificationCenter::defaultCenter().addObserver(NXMediaTableView::kRefreshAllCells, nullptr,
        &window, [&](const Notification&) { ++refreshes; });

    // Removing the first folder, then the other: the album may end empty.
    for (const auto& [count, duration] :
        { std::pair { "(2 photos", "00:00:06" }, { "(0 photos", "00:00:00" } }) {
        window.editNode(window.mediaNodes().front());
        DNImageEditor& editor = *window.imageEditor();
        ASSERT_TRUE(editor.isVisible());
        EXPECT_EQ(editor.parentWidget(), &window);
        editor.imageBrowserView()->selectionModel()->select(
            editor.imageBrowserView()->model()->index(0, 0), QItemSelectionModel::Select);
        editor.onRemove();
        editor.onDone();
        EXPECT_FALSE(editor.isVisible());
        EXPECT_TRUE(row.data(Qt::DisplayRole).toString().contains(count)) << count;
        EXPECT_EQ(NXMediaDurationText(*window.mediaNodes().front()), duration);
    }
    EXPECT_EQ(refreshes, 2);
    launched.delegate.applicationWillTerminate();
}

} // namespace

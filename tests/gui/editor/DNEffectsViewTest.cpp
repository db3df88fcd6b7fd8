// The effects strip's pages and selection, and the editor tabs' lamps.
#include "editor/DNEffectsView.h"
#include "editor/DNTabViewItem.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

struct EffectSource : DNEffectsViewProtocol {
    explicit EffectSource(int entries)
        : count(entries)
    { }
    int countOfEffectPreview() override { return count; }
    QImage effectImageAtIndex(int) override { return {}; }
    void effectSelectedAtIndex(int index) override { told.push_back(index); }
    int count;
    std::vector<int> told;
};

class EffectsStrip : public ::testing::Test {
protected:
    void make(int entries, int width)
    {
        source = std::make_unique<EffectSource>(entries);
        view.resize(width, 100);
        view.setDelegate(source.get());
        view.setPageLabel(&label);
        view.show();
        view.createEffectViews();
    }
    // Lets a page turn end where it is going instead of waiting 0.2 s.
    void finishPageTurn()
    {
        auto* animation = view.findChild<QPropertyAnimation*>();
        if (animation->state() == QAbstractAnimation::Running)
            animation->setCurrentTime(animation->duration());
    }
    void clickCell(int index)
    {
        QWidget* cell = view.effectViews().at(std::size_t(index));
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(50, 30),
            cell->mapToGlobal(QPointF(50, 30)), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(cell, &press);
    }
    std::vector<int> selectedTags() const
    {
        std::vector<int> tags;
        for (const auto* cell : view.effectViews())
            if (cell->state())
                tags.push_back(cell->tag());
        return tags;
    }

    std::unique_ptr<EffectSource> source;
    QLabel label;
    DNEffectsView view;
};

TEST_F(EffectsStrip, FourteenEntriesMakeFourPagesTurnedOneAtATime)
{
    make(14, 444);
    EXPECT_EQ(view.docView()->width(), 1543);
    EXPECT_EQ(view.docView()->x(), 8);
    EXPECT_EQ(view.indexOfSelectedPage(), 0);
    EXPECT_EQ(label.text(), QStringLiteral("1 of 4"));
    EXPECT_FALSE(label.isHidden());

    view.previousPage();
    finishPageTurn();
    EXPECT_EQ(view.docView()->x(), 8);
    for (int page = 1; page <= 4; ++page) {
        view.nextPage();
        finishPageTurn();
    }
    EXPECT_EQ(view.indexOfSelectedPage(), 3);
    EXPECT_EQ(view.docView()->x(), 8 - 3 * 444);
    EXPECT_EQ(label.text(), QStringLiteral("4 of 4"));

    view.setEnabled(false);
    view.previousPage();
    finishPageTurn();
    EXPECT_EQ(view.indexOfSelectedPage(), 3);
}

TEST_F(EffectsStrip, OnePageHidesTheLabel)
{
    make(3, 444);
    EXPECT_EQ(view.countOfPages(), 1);
    EXPECT_TRUE(label.isHidden());
}

TEST_F(EffectsStrip, CodeSelectsSilentlyAndOnlyANewClickedEntryIsTold)
{
    make(6, 444);
    view.setIndexOfSelectedEffect(3);
    EXPECT_EQ(selectedTags(), std::vector<int> { 3 });
    EXPECT_TRUE(source->told.empty());

    clickCell(5);
    clickCell(5);
    EXPECT_EQ(selectedTags(), std::vector<int> { 5 });
    EXPECT_EQ(source->told, std::vector<int> { 5 });
    EXPECT_EQ(view.indexOfSelectedEffect(), 5);

    view.setEnabled(false);
    clickCell(1);
    EXPECT_EQ(view.indexOfSelectedEffect(), 5);
    EXPECT_EQ(source->told.size(), 1U);
}

// Counts the paint events a widget receives.
struct PaintCounter : QObject {
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
    int paints = 0;
};

TEST(DNTabViewItem, NewTabIsLitAndAnUnchangedStateDoesNotRepaint)
{
    QTabWidget tabs;
    auto* item = new DNTabViewItem(new QWidget, QStringLiteral("Trim"), &tabs);
    const qint64 litIcon = tabs.tabIcon(0).cacheKey();
    tabs.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tabs));
    EXPECT_TRUE(item->imageState());

    PaintCounter counter;
    tabs.tabBar()->installEventFilter(&counter);
    item->setImageState(false);
    QCoreApplication::processEvents();
    EXPECT_NE(tabs.tabIcon(0).cacheKey(), litIcon);
    EXPECT_GT(counter.paints, 0);

    counter.paints = 0;
    item->setImageState(false);
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);
    item->setImageState(true);
    EXPECT_EQ(tabs.tabIcon(0).cacheKey(), litIcon);
}

} // namespace

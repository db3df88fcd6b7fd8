// The download list's rows as their nodes change, and the list's layout as
// rows come and go. Offscreen.
#include "gui/GuiTestSupport.h"

#include "controls/DNButton.h"
#include "controls/NXProgressBar.h"
#include "download/DNYoutubeCell.h"
#include "download/NXYTView.h"
#include "download/NXYoutubeView.h"

#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;

DNYoutubeVideoSegment variant(const QString& container, double bytes, bool selected)
{
    DNYoutubeVideoSegment segment;
    segment.containerFormat = container;
    segment.resolution = 480;
    segment.videoSize = bytes;
    segment.isSelected = selected;
    return segment;
}

std::shared_ptr<DNYoutubeNode> nodeWith(const QList<DNYoutubeVideoSegment>& variants)
{
    auto node = DNYoutubeNode::youtubeNode();
    DNYoutubeLinkNode link;
    link.sourceURL = "http://127.0.0.1/watch?v=a";
    link.videosSegments = variants;
    node->setYoutubeLink(link);
    return node;
}

QAction* menuAction(DNYoutubeCell& cell, const QString& text)
{
    for (QAction* action : cell.optionMenu()->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

struct RecordingList : NXYoutubeViewDelegate {
    QStringList requests;
    void selectYoutubeNode(const Node&) override { requests << "select"; }
    void playYoutubeNode(const Node&) override { requests << "play"; }
    void removeYoutubeNode(const Node&) override { requests << "remove"; }
    void skippedYoutubeNode(const Node&) override { requests << "skip"; }
};

} // namespace

TEST(DNYoutubeCell, EachStateSetsItsTextColourAndControls)
{
    using State = DNYoutubeNodeState;
    const struct {
        State state;
        QString text;
        QColor colour;
        bool popUp, skip, remove, finishedMenu;
    } cases[] = {
        { State::New, "0.00/2.00 M", Qt::black, true, true, true, false },
        { State::Waiting, "Wait for download", Qt::black, true, true, true, false },
        { State::Downloading, "", Qt::black, false, true, false, false },
        { State::Finished, "Finished", Qt::darkGreen, true, false, true, true },
        { State::Failed, "Failed", Qt::red, true, false, true, false },
        { State::Skipped, "Skipped", Qt::red, true, false, true, false },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(static_cast<int>(row.state));
        const auto node = nodeWith({ variant("mp4", 2 * 1048576.0, true) });
        RecordingSystem system;
        DNYoutubeCell cell;
        cell.setSystemActions(system.actions());
        cell.setData(node);
        // New is where a node begins: it is reached again from Skipped.
        if (row.state == State::New)
            node->setState(State::Skipped);
        node->setState(row.state);
        EXPECT_EQ(cell.stateField()->text(), row.text);
        EXPECT_EQ(cell.stateField()->palette().color(QPalette::WindowText), row.colour);
        EXPECT_EQ(cell.variantPopUp()->isEnabled(), row.popUp);
        EXPECT_EQ(cell.skipButton()->isEnabled(), row.skip);
        EXPECT_EQ(cell.removeButton()->isEnabled(), row.remove);
        EXPECT_TRUE(menuAction(cell, "Open Source URL")->isEnabled());
        EXPECT_EQ(menuAction(cell, "Show in Finder")->isEnabled(), row.finishedMenu);
        EXPECT_EQ(menuAction(cell, "Open")->isEnabled(), row.finishedMenu);
    }
}

TEST(DNYoutubeCell, ByteCountShowsAgainstTheChosenVariantBeyondTwoGibibytes)
{
    const struct {
        double variantBytes; // 0: no variant chosen
        qint64 bytes;
        QString text;
        double bar;
    } cases[] = {
        { 6 * kGiB, qint64(3 * kGiB), "3072.00/6144.00 Mb", 0.5 },
        { 0, 1048576, "1.00/10.00 Mb", 1048576.0 / (10 * 1048576.0 + 1) },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.text.toStdString());
        const auto node = nodeWith({ variant("mp4", row.variantBytes, row.variantBytes > 0) });
        DNYoutubeCell cell;
        cell.setData(node);
        node->setDownloadSize(row.bytes);
        EXPECT_EQ(cell.stateField()->text(), row.text);
        EXPECT_NEAR(cell.progressBar()->doubleValue(), row.bar, 1e-6);
    }
}

TEST(DNYoutubeCell, ChoosingAnotherVariantMarksItAloneAndShowsItsSize)
{
    const auto node
        = nodeWith({ variant("mp4", 3 * 1048576.0, true), variant("webm", 5 * 1048576.0, false) });
    DNYoutubeCell cell;
    cell.setData(node);
    ASSERT_TRUE(waitUntil([&] { return cell.stateField()->text() == "0.00/3.00 Mb"; }, 2000));
    EXPECT_EQ(cell.variantPopUp()->currentIndex(), 0);
    EXPECT_EQ(cell.variantPopUp()->itemText(1), "Format:webm\tResolution:480P     \tSize:5.0Mb");
    cell.variantPopUp()->setCurrentIndex(1);
    emit cell.variantPopUp()->activated(1);
    EXPECT_EQ(cell.stateField()->text(), "0.00/5.00 Mb");
    EXPECT_FALSE(node->youtubeLink().videosSegments[0].isSelected);
    EXPECT_TRUE(node->youtubeLink().videosSegments[1].isSelected);
}

TEST(DNYoutubeCell, AFinishedRowShowsAndOpensItsFileThroughTheDesktop)
{
    const auto node = nodeWith({ variant("mp4", 1048576.0, true) });
    node->setOutputFile("/home/a b/clip é.mp4");
    RecordingSystem system;
    DNYoutubeCell cell;
    cell.setSystemActions(system.actions());
    cell.setData(node);
    node->setState(DNYoutubeNodeState::Finished);
    menuAction(cell, "Show in Finder")->trigger();
    menuAction(cell, "Open")->trigger();
    EXPECT_EQ(system.openedFolders, QStringList { "/home/a b" });
    EXPECT_EQ(system.openedFiles, QStringList { "/home/a b/clip é.mp4" });
}

TEST(NXYoutubeView, ItsRowsOpenThroughTheListsSystemActions)
{
    RecordingSystem system;
    NXYoutubeView list;
    list.setSystemActions(system.actions());
    const auto node = nodeWith({ variant("mp4", 1048576.0, true) });
    node->setOutputFile("/videos/clip.mp4");
    list.addYoutubeVideo(node);
    node->setState(DNYoutubeNodeState::Finished);
    menuAction(*qobject_cast<DNYoutubeCell*>(node->cell()), "Open")->trigger();
    EXPECT_EQ(system.openedFiles, QStringList { "/videos/clip.mp4" });
}

TEST(NXYoutubeView, RowsLieInOrderAndTheOnlyRowRemovedLeavesTheDocumentAsHighAsTheList)
{
    RecordingList delegate;
    NXYoutubeView list;
    list.setDelegate(&delegate);
    list.resize(600, 300);
    list.show();
    const auto first = nodeWith({});
    const auto second = nodeWith({});
    list.addYoutubeVideo(first);
    list.addYoutubeVideo(second);
    list.reloadData();
    const int viewportHeight = list.viewport()->height();
    EXPECT_EQ(list.documentView()->height(), viewportHeight);
    auto* secondRow = qobject_cast<DNYoutubeCell*>(second->cell());
    ASSERT_TRUE(waitUntil([&] { return secondRow->geometry() == QRect(0, 85, 590, 85); }, 3000));

    QTest::mouseClick(secondRow, Qt::LeftButton, {}, QPoint(200, 40));
    EXPECT_EQ(list.selelectedNode(), second);
    list.removeVideo(first);
    QTest::mouseClick(secondRow->removeButton(), Qt::LeftButton);
    EXPECT_EQ(delegate.requests, QStringList({ "select", "remove" }));
    EXPECT_TRUE(list.dataSource().isEmpty());
    EXPECT_EQ(list.documentView()->height(), viewportHeight);
    EXPECT_TRUE(waitUntil([&] { return second->cell() == nullptr; }, 3000)) << "the row fades away";
}

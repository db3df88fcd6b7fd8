// A list row's edit requests open the editor sheet on their tabs.
#include "editor/DNVideoEditorController.h"
#include "gui/player/PreviewTestSupport.h"
#include "list/NXMediaListModel.h"
#include "list/NXMediaTableView.h"
#include "model/DNFileNode.h"
#include "shell/NXAppController.h"

#include <QMenu>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

TEST(NXMediaTableView, RowRequestsOpenTheEditorOnTheirTabs)
{
    const struct {
        QString action;
        QString tab;
    } cases[] = {
        { QStringLiteral("Crop..."), EditorTab::kCrop },
        { QStringLiteral("Edit..."), EditorTab::kGeneral },
        { QStringLiteral("Trim..."), EditorTab::kTrimming },
        { QStringLiteral("Volume..."), EditorTab::kGeneral },
    };
    PreviewWindow main;
    DNTVideo track;
    track.duration = 30;
    track.width = 720;
    track.height = 576;
    auto node = std::make_shared<DNFileNode>(QStringLiteral("clip.mp4"));
    node->setVideoTracks({ track });
    main.window->addMediaNode(node);
    auto* table = main.window->tableView();
    ASSERT_EQ(table->rowRequestMenu(QModelIndex()), nullptr);
    const std::unique_ptr<QMenu> menu(table->rowRequestMenu(table->model()->index(0, 0)));
    ASSERT_TRUE(menu);
    for (const auto& example : cases) {
        QAction* request = nullptr;
        for (QAction* action : menu->actions())
            if (action->text() == example.action)
                request = action;
        ASSERT_TRUE(request) << example.action.toStdString();
        request->trigger();
        auto* editor = main.window->videoEditor();
        ASSERT_TRUE(editor);
        EXPECT_TRUE(editor->isVisible());
        EXPECT_EQ(editor->mediaNode(), node);
        EXPECT_EQ(editor->editorTabView()->currentIndex(),
            editor->indexOfTabViewItemWithIdentifier(example.tab))
            << example.action.toStdString();
        QTest::keyClick(editor, Qt::Key_Escape);
        EXPECT_FALSE(editor->isVisible());
    }
}

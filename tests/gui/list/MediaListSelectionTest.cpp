// The list acts on the rows the user selected: playing an entry, choosing a
// profile and the player's end redraw the rows without losing the selection,
// so Profile..., Edit... and Remove take the selected row, not every row.
#include "gui/player/PreviewTestSupport.h"

#include "editor/DNVideoEditorController.h"
#include "list/NXMediaListModel.h"
#include "list/NXMediaTableView.h"
#include "model/DNFileNode.h"
#include "player/NXMPlayerControl.h"
#include "profiles/DNProfile.h"
#include "shell/NXProfileChooser.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr int k3GPVideo = 2202; // "3GP Video (H.264)"

int profileIDOf(const NXBasicMediaNode::Ptr& node)
{
    const auto* file = dynamic_cast<const DNFileNode*>(node.get());
    return file && file->profile() ? file->profile()->GlobalID() : -1;
}

// The file names of `nodes`, in order, for a readable failure.
std::string namesOf(const std::vector<NXBasicMediaNode::Ptr>& nodes)
{
    QStringList names;
    for (const auto& node : nodes)
        names << NXMediaDisplayName(*node);
    return names.join(", ").toStdString();
}

QAction* toolbarAction(const NXAppController& window, const QString& text)
{
    for (QAction* action : window.findChildren<QAction*>())
        if (action->text() == text)
            return action;
    return nullptr;
}

} // namespace

TEST(MediaListSelection, PlayAndAProfileChoiceKeepTheRowThatProfileEditAndRemoveActOn)
{
    QTemporaryDir folder;
    QStringList clips;
    for (const char* name : { "first.mp4", "second.mp4", "third.mp4" }) {
        clips << folder.filePath(name);
        ASSERT_TRUE(PreviewClips::makeShades(clips.last(), 1));
    }
    PreviewWindow main;
    NXAppController& window = *main.window;
    window.addOpenedFiles(clips);
    if (window.profileChooser())
        window.profileChooser()->reject(); // the first batch's own question
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.profileChooser(); }));
    const std::vector<NXBasicMediaNode::Ptr> nodes = window.mediaNodes();
    ASSERT_EQ(nodes.size(), 3U);
    const int firstProfile = profileIDOf(nodes[0]);
    const int thirdProfile = profileIDOf(nodes[2]);
    ASSERT_NE(firstProfile, k3GPVideo);
    ASSERT_NE(thirdProfile, k3GPVideo);
    NXMediaTableView& view = *window.tableView();
    view.selectionModel()->select(window.listModel()->index(1, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);

    window.playOrStop();
    ASSERT_TRUE(main.waitFor(NXMPlayerControl::kPlaybackDidStart));
    EXPECT_TRUE(nodes[1]->isPlaying());
    EXPECT_EQ(namesOf(view.selectedNodes()), "second.mp4") << "after Play";

    window.chooseProfile();
    ASSERT_TRUE(window.profileChooser());
    ASSERT_TRUE(window.profileChooser()->selectProfile(k3GPVideo));
    window.profileChooser()->setApplyToAll(false);
    window.profileChooser()->accept();
    EXPECT_EQ(profileIDOf(nodes[0]), firstProfile);
    EXPECT_EQ(profileIDOf(nodes[1]), k3GPVideo);
    EXPECT_EQ(profileIDOf(nodes[2]), thirdProfile);
    EXPECT_EQ(namesOf(view.selectedNodes()), "second.mp4") << "after a profile choice";

    window.playerControl()->stopPlay();
    ASSERT_TRUE(main.waitFor(NXMPlayerControl::kPlaybackDidEnd));
    EXPECT_EQ(namesOf(view.selectedNodes()), "second.mp4") << "after the player's end";

    QAction* edit = toolbarAction(window, QStringLiteral("Edit..."));
    ASSERT_TRUE(edit);
    edit->trigger();
    ASSERT_TRUE(window.videoEditor());
    EXPECT_EQ(window.videoEditor()->mediaNode(), nodes[1]);
    window.videoEditor()->reject();
    EXPECT_EQ(namesOf(view.selectedNodes()), "second.mp4") << "after the editor";

    window.removeSelected();
    EXPECT_EQ(namesOf(window.mediaNodes()), "first.mp4, third.mp4");
}

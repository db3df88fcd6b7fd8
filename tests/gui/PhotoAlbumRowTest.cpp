// Photo folders dropped on the list become album rows through the photo loader.
#include "MainWindowTest.h"

#include "list/NXMediaListModel.h"
#include "list/NXMediaTableView.h"
#include "profiles/DNProfileManager.h"
#include "shell/DNFileLoader.h"
#include "shell/NXAppController.h"
#include "shell/NXApplicationDelegate.h"
#include "shell/NXProfileChooser.h"
#include "slideshow/DNGraphicsNode.h"
#include "support/TestFiles.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(PhotoAlbumRow, ADroppedFolderBecomesAnAlbumRowOrAnAlert)
{
    QTemporaryDir folder;
    ASSERT_TRUE(QDir().mkpath(folder.filePath("Holiday/day two")));
    ASSERT_TRUE(QDir().mkpath(folder.filePath("Empty")));
    QImage photo(400, 300, QImage::Format_RGB32);
    photo.fill(Qt::darkCyan);
    ASSERT_TRUE(photo.save(folder.filePath("Holiday/one.jpg")));
    ASSERT_TRUE(photo.save(folder.filePath("Holiday/day two/two.png")));
    ASSERT_TRUE(writeTestFile(folder.filePath("Holiday/broken.jpg"), {}));
    LaunchedWindow launched;
    NXAppController& window = launched.window();

    emit window.tableView()->filesDropped({ folder.filePath("Holiday") });
    ASSERT_TRUE(waitUntil([&] { return window.mediaNodes().size() == 1; }));
    const NXBasicMediaNode& album = *window.mediaNodes().front();
    EXPECT_EQ(album.mediaType(), NXMediaType::PhotoAlbum);
    EXPECT_TRUE(NXMediaDisplayName(album).startsWith("Holiday (2 photos, "));
    EXPECT_EQ(NXMediaDurationText(album), "00:00:06");
    const QModelIndex row = window.listModel()->index(0, NXMediaListModel::NameColumn);
    EXPECT_TRUE(waitUntil([&] { return !row.data(Qt::DecorationRole).isNull(); }));
    // A photo left out is said, as a file the list could not load is.
    ASSERT_TRUE(waitUntil([&] { return launched.dialogs.alerts.size() == 1; }));
    EXPECT_EQ(launched.dialogs.alerts.back().title, "Some photos were left out.");
    EXPECT_EQ(launched.dialogs.alerts.back().text,
        folder.filePath("Holiday/broken.jpg") + ": an empty file");

    // The profile chooser reaches an album as it reaches a file.
    const auto* albumNode = dynamic_cast<const DNGraphicsNode*>(&album);
    ASSERT_TRUE(albumNode);
    const int before = albumNode->profile() ? albumNode->profile()->GlobalID() : -1;
    int other = -1;
    for (const auto& category :
        DNProfileManager::profileManager().categoriesOfType(DNProfileTypeVideo))
        for (const auto& profile : category.profiles)
            if (other < 0 && profile->GlobalID() != before)
                other = profile->GlobalID();
    window.chooseProfile();
    ASSERT_TRUE(window.profileChooser());
    ASSERT_TRUE(window.profileChooser()->selectProfile(other));
    window.profileChooser()->accept();
    ASSERT_TRUE(albumNode->profile());
    EXPECT_EQ(albumNode->profile()->GlobalID(), other);
    EXPECT_EQ(row.siblingAtColumn(NXMediaListModel::OutputColumn).data(),
        "Holiday." + albumNode->profile()->fileNameSuffix());

    emit window.tableView()->filesDropped({ folder.filePath("Empty") });
    ASSERT_TRUE(waitUntil([&] { return launched.dialogs.alerts.size() == 2; }));
    EXPECT_EQ(launched.dialogs.alerts.back().title, "Load Photo Failed!");
    EXPECT_TRUE(launched.dialogs.alerts.back().text.startsWith("There is no photo found at"));
    EXPECT_EQ(window.mediaNodes().size(), 1U);
    launched.delegate.applicationWillTerminate();
}

// Cancel stops the walk at the next entry: what was found by then becomes the
// album, nothing found the alert. Either way far fewer than the folder holds.
TEST(PhotoAlbumRow, CancelEndsALongWalk)
{
    constexpr int kPhotos = 300;
    QTemporaryDir folder;
    ASSERT_TRUE(QDir().mkpath(folder.filePath("Many")));
    ASSERT_TRUE(QImage(2, 2, QImage::Format_RGB32).save(folder.filePath("Many/0.jpg")));
    for (int index = 1; index < kPhotos; ++index)
        ASSERT_TRUE(QFile::copy(folder.filePath("Many/0.jpg"),
            folder.filePath(QStringLiteral("Many/%1.jpg").arg(index))));
    LaunchedWindow launched;
    NXAppController& window = launched.window();
    DNFileLoader& loader = *window.photoLoader();

    emit window.tableView()->filesDropped({ folder.filePath("Many") });
    ASSERT_TRUE(loader.isLoading());
    loader.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    ASSERT_TRUE(waitUntil(
        [&] { return !window.mediaNodes().empty() || !launched.dialogs.alerts.empty(); }));
    EXPECT_FALSE(loader.isLoading());
    const qint64 found = window.mediaNodes().empty()
        ? 0
        : static_cast<const DNGraphicsNode&>(*window.mediaNodes().front()).countOfPhotos();
    EXPECT_LT(found, kPhotos / 2);
    launched.delegate.applicationWillTerminate();
}

} // namespace

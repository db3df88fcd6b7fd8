// A new user's first run: the profiles entries get before any was picked, a
// profile that cannot work on a source refused before the run, the panels'
// start folders and filters, and the order of an album's photos.
#include "MainWindowTest.h"

#include "fixtures/TestDisc.h"
#include "fixtures/TestMedia.h"
#include "list/NXMediaListModel.h"
#include "list/NXMediaTableView.h"
#include "model/DNDVDNode.h"
#include "model/DNFileNode.h"
#include "platform/AppPaths.h"
#include "platform/UserDefaults.h"
#include "profiles/DNProfileManager.h"
#include "shell/DNFileLoader.h"
#include "shell/NXAppController.h"
#include "shell/NXDVDSourceChooser.h"
#include "shell/NXMediaLoader.h"
#include "shell/NXProfileChooser.h"
#include "slideshow/AlbumConversion.h"
#include "slideshow/DNGraphicsNode.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr int kMP3Audio = 6010;

int profileIDOf(const NXBasicMediaNode& node)
{
    std::shared_ptr<DNProfile> profile;
    if (const auto* file = dynamic_cast<const DNFileNode*>(&node))
        profile = file->profile();
    else if (const auto* album = dynamic_cast<const DNGraphicsNode*>(&node))
        profile = album->profile();
    else if (const auto* dvd = dynamic_cast<const DNDVDNode*>(&node))
        profile = dvd->profile();
    return profile ? profile->GlobalID() : -1;
}

// A folder of photos as a camera leaves them: `count` shots within one
// second, none with a position, named IMG_1.jpg to IMG_<count>.jpg.
void shootPhotos(const QString& folder, int count)
{
    QImage photo(64, 48, QImage::Format_RGB32);
    for (int shot = 1; shot <= count; ++shot) {
        photo.fill(QColor::fromHsv(shot * 25 % 360, 200, 200));
        const QString path = QStringLiteral("%1/IMG_%2.jpg").arg(folder).arg(shot);
        ASSERT_TRUE(photo.save(path));
        QProcess exiv2;
        exiv2.start("exiv2", { "-M", "set Exif.Photo.DateTimeOriginal 2026:07:14 10:30:00", path });
        ASSERT_TRUE(exiv2.waitForFinished(10000));
        ASSERT_EQ(exiv2.exitCode(), 0);
    }
}

class FirstRun : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        launch();
        window().loader()->setPause(std::chrono::milliseconds(0));
        window().photoLoader()->setPause(std::chrono::milliseconds(0));
    }

    // The window's new entry of `add`, with the list cleared before.
    const NXBasicMediaNode& added(const std::function<void()>& add)
    {
        window().clearList();
        add();
        EXPECT_TRUE(waitUntil([&] { return window().mediaNodes().size() == 1; }));
        return *window().mediaNodes().front();
    }

    void addFile(const char* name) { window().addOpenedFiles({ TestMedia::path(name) }); }

    void addAlbum() { emit window().tableView()->filesDropped({ photos.path() }); }

    void addDisc()
    {
        dialogs.folder = TestDisc::folder();
        openDiscChooserAndClick("VIDEO_TS Folder...");
    }

    void openDiscChooserAndClick(const QString& button)
    {
        window().addDVDWithChooser();
        for (auto* each : window().dvdSourceChooser()->findChildren<QPushButton*>())
            if (each->text().startsWith(button))
                each->click();
    }

    QTemporaryDir photos;
};

TEST_F(FirstRun, EntriesGetAGeneralVideoProfileAndSoundlessOnesNeverAnAudioOne)
{
    // The shared catalogue keeps what an earlier test of this process picked; ctest runs each
    // test in a process of its own, where this is a first run.
    if (!DNProfileManager::profileManager().recentProfilesOfType(DNProfileTypeVideo).empty())
        GTEST_SKIP() << "an earlier test of this process picked a profile: no first run here";
    const QString discError = TestDisc::ensure();
    ASSERT_TRUE(discError.isEmpty()) << discError.toStdString();
    shootPhotos(photos.path(), 2);
    const struct {
        const char* name;
        std::function<void()> add;
        int firstRun; // nothing picked yet
        int afterAudioPicked; // "MP3 Audio" picked for a file with sound
    } cases[] = {
        { "video with sound", [&] { addFile(TestMedia::kVideoWithAudio); },
            DNProfileManager::kFirstVideoProfileID, kMP3Audio },
        { "video without sound", [&] { addFile(TestMedia::kRate50); },
            DNProfileManager::kFirstVideoProfileID, DNProfileManager::kFirstVideoProfileID },
        { "photo album", [&] { addAlbum(); }, DNProfileManager::kFirstVideoProfileID,
            DNProfileManager::kFirstVideoProfileID },
        { "DVD", [&] { addDisc(); }, DNProfileManager::kFirstDVDProfileID,
            DNProfileManager::kFirstDVDProfileID },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(profileIDOf(added(c.add)), c.firstRun);
    }
    for (const auto& [id, name] :
        { std::pair { DNProfileManager::kFirstVideoProfileID, "MKV Video (H.264)" },
            std::pair { DNProfileManager::kFirstDVDProfileID, "AVC (H.264)" } })
        EXPECT_EQ(DNProfileManager::profileManager().profileWithGlobalID(id)->profileName(), name);

    // The chooser opens on the entry's profile; the user picks an audio one.
    added(cases[0].add);
    window().chooseProfile();
    ASSERT_TRUE(window().profileChooser());
    EXPECT_EQ(window().profileChooser()->chosenProfile()->GlobalID(), cases[0].firstRun);
    ASSERT_TRUE(window().profileChooser()->selectProfile(kMP3Audio));
    window().profileChooser()->accept();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " after an audio profile was picked");
        EXPECT_EQ(profileIDOf(added(c.add)), c.afterAudioPicked);
    }
    delegate->applicationWillTerminate();
}

TEST_F(FirstRun, AnAudioProfilePickedForASoundlessFileIsRefusedBeforeTheRun)
{
    added([&] { addFile(TestMedia::kRate50); });
    const auto audio = DNProfileManager::profileManager().profileWithGlobalID(kMP3Audio);
    ASSERT_TRUE(audio);
    window().applyProfile(*audio, true);

    EXPECT_FALSE(window().startConversion());
    EXPECT_FALSE(window().isConverting());
    EXPECT_EQ(window().progressSheet(), nullptr);
    ASSERT_EQ(dialogs.alerts.size(), 1u);
    EXPECT_EQ(dialogs.alerts[0].title, "Could not convert \"rate_50.mkv\".");
    EXPECT_EQ(dialogs.alerts[0].text,
        "\"rate_50.mkv\" has no sound, and the profile \"MP3 Audio\" writes only sound. Choose a "
        "video profile for it.");
    const QModelIndex row = window().listModel()->index(0, 0);
    EXPECT_TRUE(row.data(NXMediaListModel::FailureRole).toString().contains("has no sound"));
    EXPECT_TRUE(QDir(output.path()).isEmpty());

    // Merged with a file that has sound, it has sound to give.
    window().clearList();
    window().setMergeMode(true);
    window().addOpenedFiles(
        { TestMedia::path(TestMedia::kRate50), TestMedia::path(TestMedia::kVideoWithAudio) });
    ASSERT_EQ(window().mediaNodes().size(), 1u);
    window().applyProfile(*audio, true);
    EXPECT_TRUE(window().startConversion());
    window().stopConversionAndWait();
    EXPECT_EQ(dialogs.alerts.size(), 1u);
    delegate->applicationWillTerminate();
}

TEST_F(FirstRun, PanelsStartInTheLastFolderUsedElseTheUsersOwnWithTheListsTypesFirst)
{
    // A first run: no folder chosen yet, whatever earlier tests of this process chose.
    for (const NXPanelKind kind :
        { NXPanelKind::Videos, NXPanelKind::Pictures, NXPanelKind::Music })
        UserDefaults::standard().remove(QString("NXPanelFolder_%1").arg(int(kind)));
    QTemporaryDir chosen;
    const QString picked = chosen.filePath("holiday.mp4");
    const struct {
        const char* name;
        std::function<void()> open;
        QString userFolder;
    } panels[] = {
        { "Add Files", [&] { window().addFilesWithPanel(); }, AppPaths::moviesFolder() },
        { "Add DVD image",
            [&] {
                openDiscChooserAndClick("ISO Image");
                window().dvdSourceChooser()->close();
            },
            AppPaths::moviesFolder() },
        { "Add Photos",
            [&] {
                for (QAction* action : window().findChildren<QAction*>())
                    if (action->text() == "Add Photos")
                        action->trigger();
            },
            AppPaths::picturesFolder() },
    };
    for (const auto& panel : panels) {
        SCOPED_TRACE(panel.name);
        dialogs.askedStart.clear();
        dialogs.filesToOpen.clear();
        dialogs.fileToOpen.clear();
        panel.open();
        EXPECT_EQ(dialogs.askedStart, panel.userFolder);
    }
    dialogs.filesToOpen = QStringList { picked };
    window().addFilesWithPanel();
    EXPECT_EQ(dialogs.askedTypes, NXMediaLoader::mediaFileTypes());
    for (const char* type : { "mp4", "mkv", "avi", "mov", "iso" })
        EXPECT_TRUE(dialogs.askedTypes.contains(type)) << type;
    dialogs.filesToOpen.clear();
    window().addFilesWithPanel();
    EXPECT_EQ(dialogs.askedStart, chosen.path()) << "the last folder used";
    delegate->applicationWillTerminate();
}

TEST_F(FirstRun, PhotosOfOneSecondWithoutPositionsComeInNameOrder)
{
    shootPhotos(photos.path(), 12);
    const auto& album = dynamic_cast<const DNGraphicsNode&>(added([&] { addAlbum(); }));
    QStringList names;
    for (const QString& path : AlbumConversion::photoPaths(album))
        names << QFileInfo(path).completeBaseName();
    QStringList expected;
    for (int shot = 1; shot <= 12; ++shot)
        expected << QStringLiteral("IMG_%1").arg(shot);
    EXPECT_EQ(names, expected);
    delegate->applicationWillTerminate();
}

} // namespace

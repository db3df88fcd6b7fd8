// DVD sources in the main window: the disc read into an entry with its title
// rows, its titles converted alone or merged, and the sources and starts
// that must be refused with the list left as it was.
#include "MainWindowTest.h"

#include "engine/DNVideoConverter.h"
#include "fixtures/MediaFacts.h"
#include "fixtures/TestDisc.h"
#include "fixtures/TestMedia.h"
#include "list/NXDVDRows.h"
#include "list/NXMediaListModel.h"
#include "list/NXMediaTableView.h"
#include "model/DNDVDNode.h"
#include "platform/AppPaths.h"
#include "platform/NotificationCenter.h"
#include "profiles/DNProfileManager.h"
#include "services/DNSetting.h"
#include "shell/NXAppController.h"
#include "shell/NXApplicationDelegate.h"
#include "shell/NXDVDSourceChooser.h"
#include "shell/NXProfileChooser.h"
#include "shell/NXProgressController.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace {

// A DVD H.264 profile writing MP4 at a small bit rate: the quickest real run.
constexpr int kH264Profile = 1101010;
constexpr int kMP3Profile = 1105018;
constexpr double kLengthSlack = 0.6;

void clickButton(QWidget& parent, const QString& text)
{
    for (auto* button : parent.findChildren<QPushButton*>())
        if (button->text() == text)
            return button->click();
    FAIL() << "no button " << text.toStdString();
}

class DVDWindowTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        const QString discError = TestDisc::ensure();
        ASSERT_TRUE(discError.isEmpty()) << discError.toStdString();
        MainWindowTest::SetUp();
        if (!HasFatalFailure())
            launch();
    }

    NXMediaListModel& model() { return *window().listModel(); }
    DNDVDNode& dvd() { return static_cast<DNDVDNode&>(*window().mediaNodes().front()); }

    // A cell of the DVD entry's row, or of one of its title rows.
    QModelIndex cell(int column, int titleRow = -1)
    {
        const QModelIndex entry = model().index(0, 0);
        return titleRow < 0 ? entry.siblingAtColumn(column)
                            : model().index(titleRow, column, entry);
    }

    // A row's cells as one text, a check box as "[x] " or "[ ] ".
    QString rowText(int titleRow = -1)
    {
        QStringList cells;
        for (int column = 0; column < NXMediaListModel::ColumnCount; ++column) {
            const QModelIndex index = cell(column, titleRow);
            const QVariant check = index.data(Qt::CheckStateRole);
            const QString box = !check.isValid() ? ""
                : check.toInt() == Qt::Checked   ? "[x] "
                                                 : "[ ] ";
            cells << box + index.data().toString();
        }
        return cells.join('|');
    }

    // Picks a profile in the chooser the window opened for the new entry.
    void chooseProfile(int globalID)
    {
        ASSERT_TRUE(waitUntil([&] { return window().profileChooser() != nullptr; }));
        auto* chooser = window().profileChooser();
        ASSERT_TRUE(chooser->selectProfile(globalID)) << "not among the DVD profiles";
        chooser->accept();
    }

    void applyProfile(int globalID)
    {
        const auto profile = DNProfileManager::profileManager().profileWithGlobalID(globalID);
        ASSERT_TRUE(profile);
        window().applyProfile(*profile, true);
    }

    void convert()
    {
        const int before = ends;
        ASSERT_TRUE(window().startConversion());
        ASSERT_TRUE(waitUntil([&] { return ends > before; }, 120'000));
    }

    QStringList outputFiles() const { return QDir(output.path()).entryList(QDir::Files); }
    QStringList titleFilesInTemporaryFolder() const
    {
        return QDir(AppPaths::temporaryFolder()).entryList({ "Movie_T*" }, QDir::Files);
    }
    void emptyOutputFolder()
    {
        for (const QString& name : outputFiles())
            QFile::remove(output.filePath(name));
    }
};

TEST_F(DVDWindowTest, DiscFolderBecomesAnEntryWhoseTitlesConvertAloneOrMerged)
{
    dialogs.folder = TestDisc::folder();
    window().addDVDWithChooser();
    clickButton(*window().dvdSourceChooser(), "VIDEO_TS Folder...");
    ASSERT_TRUE(waitUntil([&] { return window().mediaNodes().size() == 1; }));
    chooseProfile(kH264Profile);
    EXPECT_EQ(DNProfileManager::profileManager().lastProfileOfType(DNProfileTypeDVD)->GlobalID(),
        kH264Profile);
    ASSERT_EQ(model().rowCount(cell(0)), 2);
    EXPECT_EQ(rowText(), "Garden Été|00:00:12|iPod classic (H.264)|||") << "one title: no merge";
    EXPECT_EQ(
        rowText(0), "[x] Title 1 (4:3)|00:00:12||Garden Été_T1.m4v|English (2 ch)|No Subtitle");
    EXPECT_EQ(
        rowText(1), "[ ] Title 2 (16:9)|00:00:11||Garden Été_T2.m4v|English (2 ch)|No Subtitle");

    DNNodeInfo info = dvd().nodeInfo();
    info.outputName = QStringLiteral("Movie");
    dvd().setNodeInfo(info);
    ASSERT_TRUE(model().setData(cell(0, 1), Qt::Checked, Qt::CheckStateRole));
    ASSERT_TRUE(model().setData(cell(NXMediaListModel::AudioColumn, 0), 1, Qt::EditRole));
    EXPECT_EQ(rowText(), "Garden Été|00:00:23|iPod classic (H.264)|[ ] Merge into one||");
    EXPECT_EQ(rowText(0), "[x] Title 1 (4:3)|00:00:12||Movie_T1.m4v|French (2 ch)|No Subtitle");

    convert();
    ASSERT_EQ(outputFiles(), QStringList({ "Movie_T1.m4v", "Movie_T2.m4v" }));
    EXPECT_EQ(window().convertedOutputs().size(), 2);
    EXPECT_NEAR(MediaFacts::probe(output.filePath("Movie_T1.m4v")).duration, 12, kLengthSlack);
    EXPECT_NEAR(MediaFacts::probe(output.filePath("Movie_T2.m4v")).duration, 11, kLengthSlack);
    EXPECT_NEAR(firstSecondTone(output.filePath("Movie_T1.m4v")), 880, 20)
        << "the second sound track";

    // A profile that cannot join titles turns the merge off, and the row shows it.
    const QModelIndex merge = cell(NXMediaListModel::OutputColumn);
    ASSERT_TRUE(model().setData(merge, Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(rowText(), "Garden Été|00:00:23|iPod classic (H.264)|[x] Movie.m4v||");
    EXPECT_EQ(rowText(0), "[x] Title 1 (4:3)|00:00:12|||French (2 ch)|No Subtitle");
    applyProfile(kMP3Profile);
    EXPECT_FALSE(dvd().mergeIntoOne());
    EXPECT_EQ(rowText(), "Garden Été|00:00:23|MP3 Sound|||");
    applyProfile(kH264Profile);
    ASSERT_TRUE(model().setData(merge, Qt::Checked, Qt::CheckStateRole));

    emptyOutputFolder();
    convert();
    ASSERT_EQ(outputFiles(), QStringList { "Movie.m4v" });
    EXPECT_EQ(window().convertedOutputs().size(), 1);
    EXPECT_NEAR(MediaFacts::probe(output.filePath("Movie.m4v")).duration, 23, kLengthSlack);
    EXPECT_TRUE(titleFilesInTemporaryFolder().isEmpty());

    // Stopped while the first title runs: no title file, no output named.
    emptyOutputFolder();
    ASSERT_TRUE(window().startConversion());
    ASSERT_TRUE(waitUntil([&] {
        auto* sheet = window().progressSheet();
        return sheet && sheet->statusText() == QStringLiteral("Converting...");
    }));
    const int before = ends;
    window().progressSheet()->stopButton()->click();
    ASSERT_TRUE(waitUntil([&] { return ends > before; }));
    EXPECT_TRUE(window().convertedOutputs().isEmpty());
    EXPECT_TRUE(outputFiles().isEmpty());
    EXPECT_TRUE(titleFilesInTemporaryFolder().isEmpty());

    // The subtitle is chosen in the row's own list of the title's tracks.
    const QModelIndex subtitle = cell(NXMediaListModel::SubtitleColumn, 0);
    auto* view = window().tableView();
    const std::unique_ptr<QWidget> editor(
        view->itemDelegateForIndex(subtitle)->createEditor(view, {}, subtitle));
    auto* tracks = qobject_cast<QComboBox*>(editor.get());
    ASSERT_TRUE(tracks);
    EXPECT_EQ(tracks->count(), 3) << "none, English, German";
    tracks->setCurrentIndex(2);
    view->itemDelegateForIndex(subtitle)->setModelData(tracks, &model(), subtitle);
    EXPECT_EQ(subtitle.data().toString(), "German");
    EXPECT_EQ(dvd().titleAt(0)->setting().subtitleIndex(), 1);
    EXPECT_TRUE(dvd().titleAt(0)->setting().subtitleEnable());

    for (int row = 0; row < 2; ++row)
        ASSERT_TRUE(model().setData(cell(0, row), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_FALSE(dvd().mergeIntoOne()) << "no title left to merge";
    EXPECT_FALSE(window().startConversion());
    EXPECT_EQ(dialogs.alerts.back().title, "No DVD Title Selected!");
    EXPECT_EQ(
        dialogs.alerts.back().text, "Please select a title of the DVD \"Garden Été\" to rip.");
    EXPECT_FALSE(window().isConverting());
}

TEST_F(DVDWindowTest, SourcesThatHoldNoDVDAreRefusedAndTheListStaysAsItWas)
{
    dialogs.fileToOpen = TestDisc::image();
    window().addDVDWithChooser();
    clickButton(*window().dvdSourceChooser(), "ISO Image...");
    ASSERT_TRUE(waitUntil([&] { return window().mediaNodes().size() == 1; }));
    ASSERT_TRUE(waitUntil([&] { return window().profileChooser() != nullptr; }));
    EXPECT_TRUE(window().profileChooser()->selectProfile(kH264Profile)) << "DVD profiles";
    window().profileChooser()->reject();
    ASSERT_TRUE(dvd().profile());
    EXPECT_EQ(dvd().profile()->profileType(), DNProfileTypeDVD);
    const auto entry = window().mediaNodes().front();

    QTemporaryDir sources;
    ASSERT_TRUE(QDir().mkpath(sources.filePath("No Disc/VIDEO_TS")));
    ASSERT_TRUE(QDir().mkpath(sources.filePath("Plain Folder")));
    QFile(sources.filePath("Empty.iso")).open(QIODevice::WriteOnly);
    const struct {
        const char* source;
        const char* alert;
    } refusals[] = {
        { "No Disc", "Could not read the DVD" },
        { "Empty.iso", "Could not read the DVD" },
        { "Plain Folder", "Load Photo Failed!" },
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.source);
        const std::size_t asked = dialogs.alerts.size();
        emit window().tableView()->filesDropped({ sources.filePath(refusal.source) });
        ASSERT_TRUE(waitUntil([&] { return dialogs.alerts.size() > asked; }));
        EXPECT_EQ(dialogs.alerts.back().title, refusal.alert);
        if (QString(refusal.alert) != "Load Photo Failed!") {
            EXPECT_TRUE(dialogs.alerts.back().text.contains(sources.filePath(refusal.source)));
        }
        ASSERT_EQ(window().mediaNodes().size(), 1u);
        EXPECT_EQ(window().mediaNodes().front(), entry);
    }

    // A media file on a DVD list: the question, and the list as it was on Cancel.
    const QString file = TestMedia::path(TestMedia::kVideoWithAudio);
    dialogs.nextAnswer.button = 1;
    window().addOpenedFiles({ file });
    EXPECT_EQ(dialogs.alerts.back().title, "Conflict between two media!");
    ASSERT_EQ(window().mediaNodes().size(), 1u);
    EXPECT_EQ(window().mediaNodes().front(), entry);
    dialogs.nextAnswer.button = 0;
    window().addOpenedFiles({ file });
    ASSERT_EQ(window().mediaNodes().size(), 1u);
    EXPECT_EQ(window().mediaNodes().front()->mediaType(), NXMediaType::VideoFile);
}

// The DVD profiles whose builders take one title at a time never offer a merge.
TEST(DVDMergeChoice, OnlyProfilesWhoseBuildersJoinTitlesOfferIt)
{
    const struct {
        int globalID;
        bool merges;
    } profiles[] = { { kH264Profile, true }, { 1105021, true } /* main title to MPEG-2 */,
        { kMP3Profile, false }, { 1105020, false } /* AC-3 sound */,
        { kGlobalIDPlayerStreamDump, false }, { kGlobalIDDiscBackupTool, false },
        { kGlobalIDDVDToMKV, false }, { 1105022, false } /* MP4 through HandBrakeCLI */ };
    for (const auto& each : profiles) {
        const auto profile = DNProfileManager::profileManager().profileWithGlobalID(each.globalID);
        ASSERT_TRUE(profile) << each.globalID;
        EXPECT_EQ(NXProfileCanMergeTitles(*profile), each.merges) << each.globalID;
    }
}

} // namespace

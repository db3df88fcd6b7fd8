// The downloader window against the loopback video site: opened from the
// main window, a page through the sheet to a finished file handed over, the
// end of a run, Clean all, and closing.
#include "TestRelease.h"
#include "VideoSite.h"
#include "gui/GuiTestSupport.h"

#include "controls/NXPreloadSlider.h"
#include "download/DNYoutubeCell.h"
#include "download/DNYoutubeDownloadManager.h"
#include "download/DNYoutubeNode.h"
#include "download/DNYoutubeParseController.h"
#include "download/DNYoutubeParser.h"
#include "download/NXYoutubeControlller.h"
#include "download/NXYoutubeView.h"
#include "fixtures/MediaFacts.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "services/DNSetting.h"
#include "services/NXVideoDownloadSetting.h"
#include "shell/NXAppController.h"
#include "shell/NXApplicationDelegate.h"
#include "support/ChildProcesses.h"
#include "support/TestFiles.h"

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace {

// Takes what the desktop would open in a browser.
class BrowserStandIn : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

using Manager = DNYoutubeDownloadManager;
using State = DNYoutubeNodeState;

class DownloaderWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString problem = site.start();
        ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
        ASSERT_TRUE(output.isValid());
        setting().resetToDefaults();
        setting().setDownloadTarget(output.path());
        system = systemCalls.actions();
    }
    void TearDown() override { Manager::cancelAll(), setting().resetToDefaults(); }

    static NXVideoDownloadSetting& setting() { return DNSetting::shareSetting().downloadSetting(); }

    // A window of its own, with the engine check answering `outdated` and the
    // close delay run when the test says.
    std::unique_ptr<NXYoutubeControlller> makeWindow(bool outdated = false)
    {
        auto window = std::make_unique<NXYoutubeControlller>(
            setting(), dialogs, system, [outdated](const std::stop_token&) { return outdated; });
        window->setTimer([this](std::chrono::milliseconds, std::function<void()> work) {
            pendingClose = std::move(work);
        });
        NotificationCenter::defaultCenter().addObserver(
            NXYoutubeControlller::kWillCloseNotification, window.get(), window.get(),
            [this](const Notification&) { ++willCloseCount; });
        window->show();
        return window;
    }

    // A row for one file of the site, in `state`.
    std::shared_ptr<DNYoutubeNode> addRow(
        NXYoutubeControlller& window, const QString& media, State state = State::New)
    {
        DNYoutubeVideoSegment segment;
        segment.videoURLs = { site.url("/media/" + media).toString() };
        segment.isSelected = true;
        DNYoutubeLinkNode link;
        link.videosSegments = { segment };
        auto node = DNYoutubeNode::youtubeNode();
        node->setYoutubeLink(link);
        node->setState(state);
        window.youtubeTable()->addYoutubeVideo(node);
        return node;
    }

    VideoSite site;
    QTemporaryDir output;
    ScriptedDialogs dialogs;
    RecordingSystem systemCalls;
    NXSystemActions system;
    std::function<void()> pendingClose;
    int willCloseCount = 0;
};

TEST_F(DownloaderWindowTest, PageFromTheSheetDownloadsMergedAndIsHandedOverOnlyWithTheBox)
{
    for (const bool handOver : { true, false }) {
        SCOPED_TRACE(handOver);
        QTemporaryDir folder;
        std::optional<NXApplicationDelegate> application;
        application.emplace(dialogs, system);
        application->applicationDidFinishLaunching({});
        // After the launch, which reads the stored settings.
        setting().setDownloadTarget(folder.path());
        setting().setIsAdd2ListOrCopy2iTunes(handOver);
        NXAppController& main = *application->controller();
        main.showDownloader();
        QPointer<NXYoutubeControlller> window = main.youtubeController();
        ASSERT_TRUE(window && !main.isVisible());

        window->userWantAddNew();
        DNYoutubeParseController& sheet = *window->youtubeParseController();
        sheet.youtubeURLAddress()->setText(site.url("/youtu/dash.html").toString());
        sheet.userWantAnalyzeURL();
        ASSERT_TRUE(waitUntil([&] { return sheet.isReady2ClickOK(); }));
        sheet.onOK();
        ASSERT_TRUE(waitUntil([&] { return window->youtubeTable()->dataSource().size() == 1; }));

        const auto node = window->youtubeTable()->dataSource().first();
        QList<State> states;
        QObject::connect(node.get(), &DNYoutubeNode::stateChanged, window,
            [&](State state) { states << state; });
        window->userStartDownload();
        EXPECT_EQ(window->downloadNowButton()->text(), "Stop All");
        ASSERT_TRUE(waitUntil([&] { return !Manager::isYoutubeDownloaderDownloading(); }, 60000));
        EXPECT_EQ(states, QList<State>({ State::Waiting, State::Downloading, State::Finished }));
        EXPECT_EQ(window->downloadNowButton()->text(), "Download Now");

        const QStringList files = QDir(folder.path()).entryList(QDir::Files);
        ASSERT_EQ(files.size(), 1) << files.join(" | ").toStdString();
        const MediaFacts facts = MediaFacts::probe(folder.filePath(files.first()));
        EXPECT_EQ(facts.stream("video").codecName, "h264");
        EXPECT_EQ(facts.stream("audio").codecName, "aac");

        // The finished row plays in the preview until the window closes.
        window->selectYoutubeNode(node);
        EXPECT_TRUE(window->isCanPlayback());
        window->playAndStopYTVideo();
        EXPECT_TRUE(node->isPlaying());
        // The player takes about 10 s to start on the site's media route.
        ASSERT_TRUE(waitUntil([&] { return window->ytDurationControl()->isEnabled(); }, 60000));

        // Only finished rows: the window closes at once.
        window->close();
        EXPECT_TRUE(dialogs.alerts.empty());
        EXPECT_TRUE(waitUntil([] { return childProcesses().isEmpty(); }))
            << childProcesses().join(' ').toStdString();
        EXPECT_TRUE(main.isVisible());
        if (handOver) {
            ASSERT_TRUE(waitUntil([&] { return main.mediaNodes().size() == 1; }));
        } else {
            ASSERT_TRUE(waitUntil([&] { return !window; }));
            EXPECT_TRUE(main.mediaNodes().empty());
        }
        application.reset();
    }
}

// A stream the player cannot play: the preview stops and says so where the
// picture was, until the next preview.
TEST_F(DownloaderWindowTest, APreviewWhosePlayerFailsSaysTheStreamCouldNotBePlayed)
{
    auto window = makeWindow();
    const auto row = addRow(*window, "missing.mp4", State::Finished);
    window->selectYoutubeNode(row);
    window->playAndStopYTVideo();
    const auto said = [&] {
        const auto* label = qobject_cast<QLabel*>(window->previewPane()->currentWidget());
        return label ? label->text() : QString();
    };
    ASSERT_TRUE(waitUntil([&] { return said() == "The stream could not be played."; }, 30000))
        << said().toStdString();
    EXPECT_FALSE(row->isPlaying());
    EXPECT_TRUE(waitUntil([] { return childProcesses().isEmpty(); }));
}

TEST_F(DownloaderWindowTest, EndOfARunPutsFailedAndSkippedRowsBackAndShutsDownOnlyWhenAsked)
{
    struct Case {
        bool afterDownloadBox, shutDownOption;
        int shutDowns;
    };
    for (const Case& test :
        { Case { true, true, 1 }, Case { true, false, 0 }, Case { false, true, 0 } }) {
        SCOPED_TRACE(testing::Message() << test.afterDownloadBox << test.shutDownOption);
        systemCalls.shutDowns = 0;
        setting().setIsAdd2ListOrCopy2iTunes(test.afterDownloadBox);
        setting().setIsFinishedShutdown(test.shutDownOption);
        auto window = makeWindow();
        const auto finished = addRow(*window, "v240.mp4", State::Finished);
        window->userStartDownload(); // only finished rows: nothing to queue
        EXPECT_EQ(window->downloadNowButton()->text(), "Download Now");
        const auto missing = addRow(*window, "missing.mp4");
        const auto skipped = addRow(*window, "v480.mp4");

        window->userStartDownload();
        ASSERT_TRUE(Manager::shareManager().downloadJobs().contains(skipped));
        window->skippedYoutubeNode(skipped);
        ASSERT_TRUE(waitUntil([&] { return !Manager::isYoutubeDownloaderDownloading(); }, 60000));
        EXPECT_EQ(missing->state(), State::New);
        EXPECT_EQ(skipped->state(), State::New);
        EXPECT_EQ(finished->state(), State::Finished);
        EXPECT_EQ(window->downloadNowButton()->text(), "Download Now");
        EXPECT_EQ(systemCalls.shutDowns, test.shutDowns);
    }
}

TEST_F(DownloaderWindowTest, RowsThatLeaveTheListTakeTheirJobsAlong)
{
    setting().setIsAdd2ListOrCopy2iTunes(true);
    for (const bool cleanAll : { true, false }) {
        SCOPED_TRACE(cleanAll ? "Clean all" : "remove a waiting row");
        dialogs.alerts.clear();
        auto window = makeWindow();
        site.stallAfter("av480.mp4", 2000);
        const auto downloading = addRow(*window, "av480.mp4");
        const auto waiting = addRow(*window, "v240.mp4");
        window->userStartDownload();
        ASSERT_TRUE(waitUntil([&] { return downloading->state() == State::Downloading; }));
        if (cleanAll) {
            window->userWantCleanAll();
            EXPECT_EQ(dialogs.alerts.size(), 1u);
            EXPECT_TRUE(window->youtubeTable()->dataSource().isEmpty());
            // Nothing is left to start a transfer or to finish one.
            EXPECT_FALSE(Manager::isYoutubeDownloaderDownloading());
            EXPECT_TRUE(Manager::shareManager().downloadJobs().isEmpty());
        } else {
            window->youtubeTable()->youtubeCellRemove(
                qobject_cast<DNYoutubeCell*>(waiting->cell()));
            EXPECT_FALSE(Manager::shareManager().downloadJobs().contains(waiting));
            Manager::cancelAll();
        }
        EXPECT_TRUE(window->fileListNeedToConvert().isEmpty());
    }
}

TEST_F(DownloaderWindowTest, ClosingAsksOnlyWithUnfinishedRowsAndOKClosesAQuarterSecondLater)
{
    struct Case {
        State row;
        bool suppressedBefore;
        int answer; // 0 OK, 1 Cancel
        bool asked, closedAtOnce, closedAfterDelay;
    };
    for (const Case& test : {
             Case { State::Finished, false, 0, false, true, false },
             Case { State::Failed, true, 0, false, true, false },
             Case { State::Waiting, false, 1, true, false, false },
             Case { State::New, false, 0, true, false, true },
         }) {
        SCOPED_TRACE(int(test.row));
        dialogs.alerts.clear();
        dialogs.nextAnswer = { test.answer, true };
        willCloseCount = 0;
        pendingClose = nullptr;
        setting().setDonotShowQuitWarningAgain(test.suppressedBefore);
        auto window = makeWindow();
        addRow(*window, "v240.mp4", test.row);

        window->close();
        EXPECT_EQ(dialogs.alerts.size(), test.asked ? 1u : 0u);
        EXPECT_EQ(willCloseCount, test.closedAtOnce ? 1 : 0);
        EXPECT_EQ(bool(pendingClose), test.closedAfterDelay);
        if (pendingClose) {
            EXPECT_TRUE(window->isVisible());
            EXPECT_TRUE(setting().donotShowQuitWarningAgain());
            pendingClose();
            EXPECT_EQ(willCloseCount, 1);
            EXPECT_FALSE(window->isVisible());
        }
        window->close();
        EXPECT_LE(willCloseCount, 1);
    }
}

TEST_F(DownloaderWindowTest, AnOutdatedEngineIsToldWithWhatToDo)
{
    auto window = makeWindow(true);
    ASSERT_TRUE(waitUntil([&] {
        return dialogs.alertTitles() == QStringList({ "YouTube Download Engine Outdated" });
    }));
    // The window has no link to a web site.
    const QString text = dialogs.alerts.front().text;
    EXPECT_FALSE(text.contains("website")) << text.toStdString();
    EXPECT_TRUE(text.contains("package manager")) << text.toStdString();
}

TEST_F(DownloaderWindowTest, TwoWindowsOpenedOnOneDayFetchTheNewestYtDlpOnce)
{
    TestRelease release;
    const QString keys = release.start(site.server());
    ASSERT_TRUE(keys.isEmpty()) << keys.toStdString();
    release.publish("2099.01.02");
    UserDefaults& defaults = UserDefaults::standard();
    const QVariant closedPort = defaults.value(ParserRelease::kAddressKey);
    defaults.setValue(ParserRelease::kAddressKey, release.programUrl().toString());
    defaults.remove(DNYoutubeParser::kCheckDateKey);
    DNYoutubeParseLibrary::setReleaseKeyFile(release.keyFile());

    int answers = 0;
    std::vector<std::unique_ptr<NXYoutubeControlller>> windows;
    for (int window = 0; window < 2; ++window) {
        windows.push_back(std::make_unique<NXYoutubeControlller>(setting(), dialogs, system));
        QObject::connect(windows.back().get(), &NXYoutubeControlller::engineChecked,
            [&answers](bool outdated) { answers += outdated ? 100 : 1; });
    }
    const bool answered = waitUntil([&] { return answers >= 2; }, 60000);
    defaults.setValue(ParserRelease::kAddressKey, closedPort);
    DNYoutubeParseLibrary::setReleaseKeyFile({});
    const QByteArray copy = readTestFile(DNYoutubeParseLibrary::copyPlace());
    QFile::remove(DNYoutubeParseLibrary::copyPlace());
    ASSERT_TRUE(answered);
    EXPECT_EQ(answers, 2);
    int fetches = 0;
    for (const TestRequest& request : site.server().requests())
        fetches += request.target == "/release/yt-dlp" ? 1 : 0;
    EXPECT_EQ(fetches, 1);
    EXPECT_EQ(copy, release.programBytes);
    EXPECT_TRUE(dialogs.alerts.empty());
}

TEST_F(DownloaderWindowTest, AWindowClosedWhileTheDailyCheckWaitsCancelsItAndEnds)
{
    QTcpServer silent; // takes the request and never answers it
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    UserDefaults& defaults = UserDefaults::standard();
    const QVariant closedPort = defaults.value(ParserRelease::kAddressKey);
    defaults.setValue(ParserRelease::kAddressKey,
        QString("http://127.0.0.1:%1/release/yt-dlp").arg(silent.serverPort()));
    defaults.remove(DNYoutubeParser::kCheckDateKey);
    auto window = std::make_unique<NXYoutubeControlller>(setting(), dialogs, system);
    const bool asked = waitUntil([&] { return silent.hasPendingConnections(); }, 30000);
    QTcpSocket* request = silent.nextPendingConnection();
    QElapsedTimer closing;
    closing.start();
    window.reset();
    const qint64 closeTime = closing.elapsed();
    const bool cancelled = request
        && (request->state() == QAbstractSocket::UnconnectedState
            || request->waitForDisconnected(10000));
    defaults.setValue(ParserRelease::kAddressKey, closedPort);
    ASSERT_TRUE(asked);
    EXPECT_TRUE(cancelled);
    // The fetch's own limit is minutes.
    EXPECT_LT(closeTime, 20000);
    // A check cut short is no check: the next window's does it again.
    EXPECT_FALSE(defaults.contains(DNYoutubeParser::kCheckDateKey));
}

TEST_F(DownloaderWindowTest, TheSiteButtonOpensTheSiteInTheBrowser)
{
    BrowserStandIn browser;
    QDesktopServices::setUrlHandler("https", &browser, "open");
    auto window = makeWindow();
    window->onOpenYoutube();
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_EQ(browser.opened, QList<QUrl> { QUrl("https://www.youtube.com/") });
}

} // namespace

#include "DownloaderWindowTest.moc"

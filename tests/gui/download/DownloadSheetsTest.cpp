// The URL sheet against the loopback video site with the real yt-dlp, and
// the download options panel.
#include "TestRelease.h"
#include "VideoSite.h"
#include "gui/GuiTestSupport.h"
#include "server/TestProxy.h"

#include "controls/NXPathField.h"
#include "core/download/DownloadTestSupport.h"
#include "download/DNYoutubeParseController.h"
#include "download/DNYoutubeParser.h"
#include "download/DNYoutubeSegmentModel.h"
#include "download/NXVideoDownloadOption.h"
#include "download/NXYoutubeControlller.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/UserDefaults.h"
#include "services/DNSetting.h"
#include "shell/NXPreferencesController.h"

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <thread>

#include <sys/stat.h>

namespace {

TEST(DNYoutubeParseController, TakesOnlyWebAddressesOfTheSite)
{
    QWidget window;
    DNYoutubeParseController sheet;
    sheet.displayPanelWithWindow(&window);
    const QList<QPair<QString, bool>> cases
        = { { "http://www.youtube.com/watch?v=a", true }, { "  https://youtu.be/a\n", true },
              { "HTTPS://YOUTU.BE/a", true }, { "ftp://youtu.be/a", false },
              { "http://example.com/video", false }, { "youtube.com/watch?v=a", false } };
    for (const auto& [text, accepted] : cases) {
        sheet.youtubeURLAddress()->setText(text);
        EXPECT_EQ(sheet.isURLAddressRight(), accepted) << text.toStdString();
        EXPECT_EQ(sheet.analyzeButton()->isEnabled(), accepted) << text.toStdString();
        // A refused address is told why.
        EXPECT_EQ(sheet.problemLabel()->text().isEmpty(), accepted) << text.toStdString();
    }
}

class SheetOnSite : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString problem = site.start();
        ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
        window.resize(640, 480);
        window.show();
        sheet.displayPanelWithWindow(&window);
    }

    bool analyse(const QString& url)
    {
        sheet.youtubeURLAddress()->setText(url);
        sheet.userWantAnalyzeURL();
        return waitUntil([this] { return !sheet.isInAnalyzingURL(); });
    }

    // A page of one stream whose cover is the site's poster, shown once fetched.
    DNYoutubeLinkNode showPageWithPoster()
    {
        DNYoutubeLinkNode page;
        page.videosSegments = { { "mp4", "h264", { site.url("/media/v240.mp4").toString() }, 1e6,
            240, false, {} } };
        page.covers = { site.url("/media/poster.jpg").toString(), {} };
        sheet.finishedAnalysis(page);
        const QImage poster(VideoSite::mediaPath("poster.jpg"));
        EXPECT_TRUE(waitUntil([&] { return sheet.needDownloadNodeAndCover().cover == poster; }));
        return page;
    }

    QString cell(int row, int column) const
    {
        return sheet.videoList()->model()->index(row, column).data().toString();
    }

    VideoSite site;
    QWidget window;
    DNYoutubeParseController sheet { &window };
};

TEST_F(SheetOnSite, PastedDashPageListsTheVariantsAndHandsOnTheChoice)
{
    QApplication::clipboard()->setText(site.url("/youtu/dash.html").toString());
    sheet.userWantPasteURL();
    ASSERT_TRUE(waitUntil([this] { return !sheet.isInAnalyzingURL(); }));
    ASSERT_EQ(sheet.videoList()->model()->rowCount(), 2);
    const double audio = site.mediaSize("audio.m4a");
    for (const auto& [row, resolution, file] :
        { std::tuple { 0, "480P", "v480.mp4" }, std::tuple { 1, "240P", "v240.mp4" } }) {
        EXPECT_EQ(cell(row, 1), resolution);
        EXPECT_EQ(cell(row, 2),
            QString::number((site.mediaSize(file) + audio) / 1048576.0, 'f', 2) + " M");
        EXPECT_EQ(cell(row, 3), "h264");
        EXPECT_EQ(cell(row, 4), "mp4");
    }
    EXPECT_EQ(sheet.indexOfSelect(), 0);
    EXPECT_TRUE(sheet.okButton()->isEnabled());
    const QImage poster(VideoSite::mediaPath("poster.jpg"));
    ASSERT_TRUE(waitUntil([&] { return sheet.needDownloadNodeAndCover().cover == poster; }));

    // A click below the rows keeps the chosen row.
    QTest::mouseClick(sheet.videoList()->viewport(), Qt::LeftButton, {},
        QPoint(5, sheet.videoList()->viewport()->height() - 3));
    EXPECT_EQ(sheet.videoList()->selectionModel()->selectedRows().value(0).row(), 0);
    sheet.videoList()->selectRow(1);

    bool handedOn = false;
    QObject::connect(
        &sheet, &DNYoutubeParseController::userHaveChoosedWhatHeWant, [&] { handedOn = true; });
    sheet.onOK();
    ASSERT_TRUE(waitUntil([&] { return handedOn; }));
    const DNYoutubeLinkNode chosen = sheet.needDownloadNodeAndCover().linkNode;
    EXPECT_EQ(chosen.videosSegments.size(), 2);
    ASSERT_NE(chosen.selectedSgmt(), nullptr);
    EXPECT_EQ(chosen.selectedSgmt()->resolution, 240);
    EXPECT_EQ(std::count_if(chosen.videosSegments.begin(), chosen.videosSegments.end(),
                  [](const DNYoutubeVideoSegment& segment) { return segment.isSelected; }),
        1);
}

TEST_F(SheetOnSite, FailingSecondAnalysisEmptiesTheListAndTurnsOKOff)
{
    // An earlier test of the same process may have closed the log (ctest runs
    // each test alone, so there it is open).
    DNLog("log probe");
    const bool logOpen = logText().contains("log probe");
    ASSERT_TRUE(analyse(site.url("/youtu/two.html").toString()));
    EXPECT_EQ(sheet.videoList()->model()->rowCount(), 2);
    EXPECT_TRUE(sheet.okButton()->isEnabled());
    ASSERT_TRUE(analyse(site.url("/youtu/nomedia.html").toString()));
    EXPECT_EQ(sheet.videoList()->model()->rowCount(), 0);
    EXPECT_FALSE(sheet.okButton()->isEnabled());
    // What failed is said in our words; yt-dlp's own lines wait behind Show Log.
    EXPECT_EQ(sheet.problemLabel()->text().toStdString(),
        "No video to download: the site is not supported, or the page holds no video");
    EXPECT_FALSE(sheet.toolLinesView()->isVisible());
    ASSERT_TRUE(sheet.showLogButton()->isVisible());
    sheet.showLogButton()->click();
    EXPECT_TRUE(sheet.toolLinesView()->isVisible());
    EXPECT_TRUE(sheet.toolLinesView()->toPlainText().contains("ERROR: Unsupported URL: "))
        << sheet.toolLinesView()->toPlainText().toStdString();
    // A new address hides them again.
    sheet.youtubeURLAddress()->setText("ftp://youtu.be/a");
    EXPECT_FALSE(sheet.showLogButton()->isVisible());
    EXPECT_FALSE(sheet.toolLinesView()->isVisible());
    const QString log = logText();
    if (!logOpen)
        return;
    EXPECT_TRUE(log.contains("Parse failed, try again"));
    EXPECT_TRUE(log.contains("Warning: Parse youtube website failed"));
    EXPECT_FALSE(log.contains("Again: "));
}

TEST_F(SheetOnSite, AFailedAnalysisIsRetriedOnceWithTheNewestYtDlp)
{
    DNLog("log probe");
    const bool logOpen = logText().contains("log probe");
    TestRelease release;
    const QString keys = release.start(site.server());
    ASSERT_TRUE(keys.isEmpty()) << keys.toStdString();
    release.publish("2099.01.02",
        TestRelease::pageRecord(
            "From The Release", site.url("/media/av240.mp4"), site.mediaSize("av240.mp4")));
    UserDefaults& defaults = UserDefaults::standard();
    const QVariant closedPort = defaults.value(ParserRelease::kAddressKey);
    defaults.setValue(ParserRelease::kAddressKey, release.programUrl().toString());
    DNYoutubeParseLibrary::setReleaseKeyFile(release.keyFile());
    const qsizetype retriesBefore = logText().count("Parse failed, try again");

    // The system's yt-dlp reads nothing there; the release's reads it.
    const bool analysed = analyse(site.url("/youtu/nomedia.html").toString());
    defaults.setValue(ParserRelease::kAddressKey, closedPort);
    DNYoutubeParseLibrary::setReleaseKeyFile({});
    const QString copy = DNYoutubeParseLibrary::copyPlace();
    const bool copied = QFile::exists(copy);
    QFile::remove(copy);
    ASSERT_TRUE(analysed);
    EXPECT_TRUE(copied);
    EXPECT_EQ(sheet.videoList()->model()->rowCount(), 1);
    EXPECT_EQ(sheet.needDownloadNodeAndCover().linkNode.title, "From The Release");
    if (!logOpen)
        return;
    const QString log = logText();
    EXPECT_EQ(log.count("Parse failed, try again"), retriesBefore + 1);
    EXPECT_TRUE(log.contains("Again: " + copy));
    EXPECT_GT(log.lastIndexOf("will finish youtube website parse"), log.lastIndexOf("Again: "));
}

TEST_F(SheetOnSite, CancelEndsTheRetrysFetchOfTheNewestYtDlp)
{
    QTcpServer silent; // takes the fetch's request and never answers it
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    UserDefaults& defaults = UserDefaults::standard();
    const QVariant closedPort = defaults.value(ParserRelease::kAddressKey);
    defaults.setValue(
        ParserRelease::kAddressKey, QString("http://127.0.0.1:%1/yt-dlp").arg(silent.serverPort()));
    const auto restore = qScopeGuard(
        [&defaults, closedPort] { defaults.setValue(ParserRelease::kAddressKey, closedPort); });
    // The system's yt-dlp reads nothing there, so the sheet fetches a newer one.
    sheet.youtubeURLAddress()->setText(site.url("/youtu/nomedia.html").toString());
    sheet.userWantAnalyzeURL();
    ASSERT_TRUE(waitUntil([&] { return silent.hasPendingConnections(); }, 60000));
    QTcpSocket* fetch = silent.nextPendingConnection();
    sheet.onCancel();
    // The fetch's own limit is minutes away.
    EXPECT_TRUE(
        fetch->state() == QAbstractSocket::UnconnectedState || fetch->waitForDisconnected(5000));
}

TEST_F(SheetOnSite, APageWithoutACoverNeverKeepsTheCoverOfTheOneBefore)
{
    DNYoutubeLinkNode page = showPageWithPoster();
    page.covers = { {}, {} };
    sheet.finishedAnalysis(page);
    EXPECT_EQ(sheet.needDownloadNodeAndCover().cover, DNYoutubeParseController::defaultCover());
}

TEST_F(SheetOnSite, TheCoverComesThroughTheProxy)
{
    TestProxy proxy(TestProxy::Kind::Http);
    ASSERT_TRUE(proxy.start());
    const DownloadProxySetting proxied("127.0.0.1", QString::number(proxy.port()));
    DNYoutubeLinkNode page = showPageWithPoster();
    EXPECT_EQ(proxy.log(), QStringList { "GET " + page.covers[0] });
}

TEST_F(SheetOnSite, AnOversizedCoverIsCutOffAndNotShown)
{
    DNLog("log probe"); // see FailingSecondAnalysisEmptiesTheListAndTurnsOKOff
    const bool logOpen = logText().contains("log probe");
    // A real picture followed by more than the cap: decoded whole, it would show.
    QFile poster(VideoSite::mediaPath("poster.jpg"));
    ASSERT_TRUE(poster.open(QIODevice::ReadOnly));
    TestReply reply = TestReply::text(poster.readAll() + QByteArray(9 * 1024 * 1024, '\0'));
    reply.framing = TestReply::Framing::Chunked;
    site.server().route("/media/huge.jpg", reply);
    DNYoutubeLinkNode page;
    page.videosSegments
        = { { "mp4", "h264", { site.url("/media/v240.mp4").toString() }, 1e6, 240, false, {} } };
    page.covers = { site.url("/media/huge.jpg").toString(), {} };
    sheet.finishedAnalysis(page);
    // The fetch is cut off at the cap, which the log tells; however slow the machine, only a
    // hang keeps the line away. A log closed by an earlier test of this process tells nothing.
    if (!logOpen)
        GTEST_SKIP() << "the log was closed by an earlier test of this process";
    ASSERT_TRUE(waitUntil([] { return logText().contains("The cover is larger than"); }, kHangMs));
    QCoreApplication::processEvents();
    EXPECT_EQ(sheet.needDownloadNodeAndCover().cover, DNYoutubeParseController::defaultCover());
}

TEST_F(SheetOnSite, ShortLinkIsAnalysedAsTheWatchPage)
{
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setValue(
        DNYoutubeParseController::kMainHostKey, QString("127.0.0.1:%1").arg(site.url("/").port()));
    defaults.setValue(
        DNYoutubeParseController::kShortHostKey, QString("localhost:%1").arg(site.url("/").port()));
    const bool analysed
        = analyse(QString("http://localhost:%1/youtu/abc123").arg(site.url("/").port()));
    defaults.remove(DNYoutubeParseController::kMainHostKey);
    defaults.remove(DNYoutubeParseController::kShortHostKey);
    ASSERT_TRUE(analysed);
    EXPECT_EQ(sheet.videoList()->model()->rowCount(), 2);
    QStringList targets;
    for (const TestRequest& request : site.server().requests())
        targets << QString::fromLatin1(request.target);
    EXPECT_TRUE(targets.contains("/watch?v=abc123")) << targets.join(' ').toStdString();
}

TEST(DNYoutubeParseController, EndingTheSheetStopsTheAnalysisAndKeepsWhatWasShown)
{
    QTemporaryDir folder;
    const QString fifo = folder.filePath("pid");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    writeFakeYtDlp(folder.path(), "2023.03.04", "echo $$ > '" + fifo + "'; exec sleep 30");
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(folder.path()) + ":" + path);
    DNYoutubeLinkNode shown;
    shown.title = "Shown";
    shown.videosSegments = { { "mp4", "h264", { "http://127.0.0.1:1/v" }, 1e6, 240, false, {} } };
    const struct {
        const char* what;
        void (DNYoutubeParseController::*end)();
        const char* handedOn; // the title
    } cases[] = { { "Cancel", &DNYoutubeParseController::onCancel, "" },
        { "OK", &DNYoutubeParseController::onOK, "Shown" } };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        QWidget window;
        DNYoutubeParseController sheet;
        sheet.displayPanelWithWindow(&window);
        sheet.finishedAnalysis(shown);
        sheet.youtubeURLAddress()->setText("http://127.0.0.1:1/youtu/slow");
        sheet.userWantAnalyzeURL();
        QFile pipe(fifo);
        ASSERT_TRUE(pipe.open(QIODevice::ReadOnly)); // returns once the fake runs
        const pid_t pid = pipe.readLine().trimmed().toInt();
        (sheet.*test.end)();
        EXPECT_TRUE(waitUntil([pid] { return ::kill(pid, 0) != 0 && errno == ESRCH; }, 5000));
        QCoreApplication::processEvents();
        EXPECT_EQ(sheet.needDownloadNodeAndCover().linkNode.title, test.handedOn);
        EXPECT_FALSE(sheet.isInAnalyzingURL());
        EXPECT_EQ(sheet.okButton()->isEnabled(), *test.handedOn != 0);
    }
    qputenv("PATH", path);
}

TEST(DNYoutubeParseController, ASheetThatGoesCancelsTheCoverLoadItWaitsFor)
{
    QTcpServer silent; // takes the request and never answers it
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    DNYoutubeLinkNode page;
    page.videosSegments = { { "mp4", "h264", { "http://127.0.0.1:1/v" }, 1e6, 240, false, {} } };
    page.covers = { QString("http://127.0.0.1:%1/cover.jpg").arg(silent.serverPort()), {} };
    QWidget window;
    auto sheet = std::make_unique<DNYoutubeParseController>();
    sheet->displayPanelWithWindow(&window);
    sheet->finishedAnalysis(page);
    ASSERT_TRUE(waitUntil([&] { return silent.hasPendingConnections(); }));
    QTcpSocket* request = silent.nextPendingConnection();
    sheet.reset();
    // The cover's own time-out is 15 s.
    EXPECT_TRUE(request->state() == QAbstractSocket::UnconnectedState
        || request->waitForDisconnected(5000));
}

struct OptionsPanel {
    QWidget window;
    ScriptedDialogs dialogs;
    NXVideoDownloadSetting setting;
    NXVideoDownloadOption panel { setting, dialogs, &window };
    std::function<void()> firstApply;

    OptionsPanel()
    {
        window.setGeometry(100, 100, 640, 480);
        window.show();
        panel.setTimer([this](std::chrono::milliseconds delay, std::function<void()> work) {
            EXPECT_EQ(delay.count(), 500);
            firstApply = std::move(work);
        });
    }
};

TEST(PathFields, ShowTheEndOfALongFolderWithItsLabelAndTheWholePathAsTooltip)
{
    const QString folder = "/home/an.example.user/Videos/Family and Friends/Summer Holidays 2026/"
                           "The Lake House, Second Week/Quillon Downloads";
    OptionsPanel options;
    options.panel.displayPanelWithWindow(&options.window);
    NXPreferencesController preferences(DNSetting::shareSetting(), options.dialogs);
    preferences.show();
    const NXSystemActions system;
    NXYoutubeControlller downloader(
        options.setting, options.dialogs, system, [](const std::stop_token&) { return false; });
    downloader.show();
    options.dialogs.folder = folder;
    const struct {
        const char* name;
        QWidget* window;
        NXPathField* field;
        const char* chooseButton;
    } cases[] = {
        { "download options", &options.panel, options.panel.targetFolderField(), "Browse..." },
        { "preferences", &preferences, preferences.outputFolderEdit(), "Choose..." },
        { "downloader", &downloader, downloader.destFolderField(), "Browse…" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (auto* button : c.window->findChildren<QPushButton*>())
            if (button->text() == c.chooseButton)
                button->click();
        EXPECT_EQ(c.field->path(), folder);
        EXPECT_EQ(c.field->toolTip(), folder);
        const QString shown = c.field->text();
        EXPECT_TRUE(shown.startsWith(QChar(0x2026))) << shown.toStdString();
        EXPECT_TRUE(folder.endsWith(shown.mid(1))) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith("/Quillon Downloads")) << "the folder's name whole";
        EXPECT_LE(c.field->fontMetrics().horizontalAdvance(shown), c.field->width());
        const auto labels = c.window->findChildren<QLabel*>();
        EXPECT_TRUE(std::any_of(labels.begin(), labels.end(),
            [&](const QLabel* label) { return label->buddy() == c.field; }));
    }
}

TEST(NXVideoDownloadOption, ProxyEntriesAreCheckedOnlyWithTheProxyOn)
{
    struct ProxyCase {
        bool proxyOn;
        const char* address;
        const char* port;
        bool accepted;
    };
    const ProxyCase cases[] = {
        { true, "127.0.0.1", "0", false },
        { true, "127.0.0.1", "65536", false },
        { true, "", "8080", false },
        { true, "   ", "8080", false },
        { true, "127.0.0.1", "8080", true },
        { false, "", "0", true },
    };
    for (const ProxyCase& test : cases) {
        OptionsPanel options;
        options.setting.setIsProxyEnabled(test.proxyOn);
        options.panel.displayPanelWithWindow(&options.window);
        options.panel.proxyAddress()->setText(test.address);
        options.panel.proxyPort()->setText(test.port);
        options.panel.doneSetting();
        SCOPED_TRACE(std::string(test.address) + ":" + test.port);
        EXPECT_EQ(options.panel.isVisible(), !test.accepted);
        EXPECT_EQ(options.panel.wrongNotice()->isVisible(), !test.accepted);
        EXPECT_EQ(options.setting.proxyAddress(), test.accepted ? test.address : "");
        EXPECT_EQ(options.setting.proxyPort(), test.accepted ? test.port : "8080");
    }
}

TEST(NXVideoDownloadOption, FirstApplyGivesThePanelItsHeightBelowTheWindowTop)
{
    OptionsPanel options;
    options.panel.displayPanelWithWindow(&options.window);
    EXPECT_EQ(options.panel.targetFolderField()->path(), AppPaths::moviesFolder() + "/Quillon");
    ASSERT_TRUE(options.firstApply);
    options.firstApply();
    ASSERT_TRUE(waitUntil(
        [&] { return options.panel.height() == NXVideoDownloadOption::kHeightWithoutProxy; },
        3000));
    EXPECT_EQ(options.panel.geometry().top(), options.window.geometry().top() + 22);
    EXPECT_FALSE(options.panel.optionalBox()->isVisible());
    options.panel.enableProxyChanged(0);
    ASSERT_TRUE(waitUntil(
        [&] { return options.panel.height() == NXVideoDownloadOption::kHeightWithProxy; }, 3000));
    EXPECT_TRUE(options.setting.isProxyEnabled());
    EXPECT_TRUE(options.panel.optionalBox()->isVisible());
}

TEST(NXVideoDownloadOption, ValuesSurviveASettingsSaveAndLoad)
{
    OptionsPanel options;
    DNSetting& settings = DNSetting::shareSetting();
    NXVideoDownloadOption panel(settings.downloadSetting(), options.dialogs, &options.window);
    options.dialogs.folder = "/tmp/Clips";
    panel.displayPanelWithWindow(&options.window);
    panel.setSelectedFormat("webm");
    panel.setSelectedResolution("720P");
    panel.brower2Selected();
    panel.enableProxyChanged(0);
    panel.proxyAddress()->setText("proxy.example");
    panel.proxyPort()->setText("3128");
    panel.doneSetting();
    QTemporaryDir folder;
    UserDefaults defaults(folder.filePath("defaults.conf"));
    settings.save(defaults);
    DNSetting restored;
    restored.restore(defaults);
    settings.resetToDefaults();
    const NXVideoDownloadSetting& loaded = restored.downloadSetting();
    EXPECT_EQ(loaded.favFormat(), "webm");
    EXPECT_EQ(loaded.favResolution(), "720P");
    EXPECT_EQ(loaded.downloadTarget(), "/tmp/Clips");
    EXPECT_TRUE(loaded.isProxyEnabled());
    EXPECT_EQ(loaded.proxyAddress(), "proxy.example");
    EXPECT_EQ(loaded.proxyPort(), "3128");
}

} // namespace

// The analysis with the real yt-dlp against the loopback video site.
#include "VideoSite.h"

#include "download/DNYoutubeParser.h"

#include "RequestTestSupport.h"
#include "core/download/DownloadTestSupport.h"
#include "server/TestProxy.h"

#include "support/ChildProcesses.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace {

class PageAnalysis : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString problem = m_site.start();
        ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
        m_program = DNYoutubeParseLibrary::youtubeParseDylibPath();
        ASSERT_FALSE(m_program.isEmpty()) << "yt-dlp is not installed (scripts/install-deps)";
    }

    std::optional<DNYoutubeLinkNode> analyse(const QString& path)
    {
        return DNYoutubeParser::analysisYoutubeWebSource(m_site.url(path).toString(), m_program);
    }

    QString media(const QString& name) const { return m_site.url("/media/" + name).toString(); }

    VideoSite m_site;
    QString m_program;
};

QList<qint64> resolutions(const DNYoutubeLinkNode& node)
{
    QList<qint64> heights;
    for (const DNYoutubeVideoSegment& segment : node.videosSegments)
        heights << segment.resolution;
    return heights;
}

TEST_F(PageAnalysis, TwoSourcesGiveBothSizesTheCoverAndThePageTitle)
{
    const std::optional<DNYoutubeLinkNode> node = analyse("/two.html");
    ASSERT_TRUE(node);
    EXPECT_EQ(node->title, "Two Sources");
    EXPECT_EQ(node->covers.value(0), media("poster.jpg"));
    ASSERT_EQ(resolutions(*node), (QList<qint64> { 480, 240 }));
    EXPECT_EQ(node->videosSegments[0].videoURLs, QStringList { media("av480.mp4") });
    EXPECT_EQ(node->videosSegments[0].videoSize, m_site.mediaSize("av480.mp4"));
    EXPECT_EQ(node->videosSegments[1].videoSize, m_site.mediaSize("av240.mp4"));
    EXPECT_EQ(
        node->videosSegments[0].httpHeaders.value("Referer"), m_site.url("/two.html").toString());
}

TEST_F(PageAnalysis, DashPageGivesTheH264VariantsWithTheAudioAdded)
{
    const std::optional<DNYoutubeLinkNode> node = analyse("/dash.html");
    ASSERT_TRUE(node);
    ASSERT_EQ(resolutions(*node), (QList<qint64> { 480, 240 }));
    const qint64 audio = m_site.mediaSize("audio.m4a");
    EXPECT_EQ(node->biggestSizeOfAudioStream, QStringList { media("audio.m4a") });
    EXPECT_EQ(node->audioStreamSize, audio);
    for (const DNYoutubeVideoSegment& segment : node->videosSegments) {
        const QString file = QString("v%1.mp4").arg(segment.resolution);
        EXPECT_EQ(segment.containerFormat, "mp4");
        EXPECT_EQ(segment.videoFormat, "h264");
        EXPECT_EQ(segment.videoSize, m_site.mediaSize(file) + audio) << file.toStdString();
    }
}

TEST_F(PageAnalysis, JsonLdGivesTheDuration)
{
    const std::optional<DNYoutubeLinkNode> node = analyse("/jsonld.html");
    ASSERT_TRUE(node);
    EXPECT_EQ(node->duration, 130);
    EXPECT_EQ(node->videosSegments.value(0).videoURLs, QStringList { media("av480.mp4") });
}

TEST_F(PageAnalysis, PagesWithoutADownloadableVideoGiveNothing)
{
    for (const char* path : { "/nomedia.html", "/hls.html", "/missing.html" }) {
        EXPECT_FALSE(analyse(path)) << path;
        EXPECT_TRUE(logText().contains("no downloadable stream on " + m_site.url(path).toString()))
            << path;
    }
    EXPECT_TRUE(logText().contains("HTTP Error 404"));
    EXPECT_TRUE(logText().contains("left out: delivered as m3u8"));
}

TEST_F(PageAnalysis, ProxyCarriesTheAnalysisAndTheSizeRequests)
{
    TestProxy proxy(TestProxy::Kind::Http);
    ASSERT_TRUE(proxy.start());
    {
        const DownloadProxySetting proxied("127.0.0.1", QString::number(proxy.port()));
        EXPECT_TRUE(analyse("/two.html").has_value());
    }
    const QStringList log = proxy.log();
    EXPECT_TRUE(log.contains("GET " + m_site.url("/two.html").toString()))
        << log.join('\n').toStdString();
    EXPECT_TRUE(log.contains("HEAD " + media("av480.mp4"))) << log.join('\n').toStdString();
}

// The size requests of a fake analysis: a redirect is followed as HEAD (a GET
// would read the whole body), and a trickling answer ends with the time limit.
TEST(SizeRequests, ARedirectedHeadStaysHeadAndTheLimitHolds)
{
    VideoSite site;
    ASSERT_TRUE(site.start().isEmpty());
    site.server().route("/moved.mp4", redirect(302, "/big.mp4"));
    site.server().route("/big.mp4", TestReply::text(QByteArray(4 << 20, 'x')));
    TestReply trickle = TestReply::text("x");
    trickle.trickleMs = 100;
    site.server().route("/slow.mp4", trickle);
    QTemporaryDir folder;
    for (const char* path : { "/moved.mp4", "/slow.mp4" }) {
        SCOPED_TRACE(path);
        const QJsonObject format { { "format_id", "f" }, { "ext", "mp4" }, { "vcodec", "avc1" },
            { "acodec", "mp4a.40.2" }, { "height", 360 }, { "url", site.url(path).toString() } };
        QFile json(folder.filePath("page.json"));
        ASSERT_TRUE(json.open(QIODevice::WriteOnly | QIODevice::Truncate));
        json.write(
            QJsonDocument(QJsonObject { { "title", "Clip" }, { "formats", QJsonArray { format } } })
                .toJson());
        json.close();
        const QString program
            = writeFakeYtDlp(folder.path(), "2023.03.04", "cat '" + json.fileName() + "'");
        QElapsedTimer clock;
        clock.start();
        const auto node = DNYoutubeParser::analysisYoutubeWebSource(
            "http://site/v", program, {}, std::chrono::milliseconds(1500));
        EXPECT_LT(clock.elapsed(), 5000);
        if (QByteArray(path) == "/moved.mp4") {
            ASSERT_TRUE(node);
            EXPECT_EQ(node->videosSegments.value(0).videoSize, 4 << 20);
            EXPECT_TRUE(node->videosSegments.value(0).sizeIsExact);
            EXPECT_EQ(site.server().requests().last().method, "HEAD");
        }
    }
}

// The analysis in a program that is killed: yt-dlp's own children go too.
TEST(AnalysisProcesses, YtDlpsChildrenEndWithTheApplication)
{
    const QString tool = QCoreApplication::applicationDirPath() + "/tools/download-one";
    if (!QFileInfo(tool).isExecutable())
        GTEST_SKIP() << "download-one is not built";
    QTemporaryDir folder;
    const QString groupFile = folder.filePath("group");
    writeFakeYtDlp(folder.path(), "2023.03.04",
        "sleep 300 &\necho $$ >'" + groupFile + ".new'\nmv '" + groupFile + ".new' '" + groupFile
            + "'\nwait");
    const QTemporaryDir data;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", folder.path() + ":" + environment.value("PATH"));
    environment.insert("XDG_DATA_HOME", data.path());
    QProcess application;
    application.setProcessEnvironment(environment);
    application.start(tool, { "http://127.0.0.1:9/watch" });
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(groupFile); }, 20000));
    QFile file(groupFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const int group = file.readAll().trimmed().toInt();
    ASSERT_GT(group, 0);
    // yt-dlp, its child and the keeper, once the mv that wrote the file is gone.
    EXPECT_TRUE(QTest::qWaitFor([&] { return processGroupMembers(group).size() == 3; }, 5000))
        << processGroupMembers(group).join(' ').toStdString();
    ::kill(pid_t(application.processId()), SIGKILL);
    application.waitForFinished();
    const bool ended = QTest::qWaitFor([&] { return processGroupMembers(group).isEmpty(); }, 5000);
    EXPECT_TRUE(ended) << processGroupMembers(group).join(' ').toStdString();
    // An ended group's number may already be someone else's.
    if (!ended)
        ::kill(-group, SIGKILL);
}

} // namespace

// The download manager against the loopback video site: real transfers,
// resume, failures, the queue, the proxy, and ffmpeg merging the streams.
#include "VideoSite.h"

#include "core/download/DownloadTestSupport.h"
#include "download/DNYoutubeDownloadManager.h"
#include "fixtures/MediaFacts.h"
#include "http/NXHTTPRequest.h"
#include "platform/AppPaths.h"
#include "platform/NotificationCenter.h"

#include "server/TestProxy.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Manager = DNYoutubeDownloadManager;

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// Lists compared as text, so that a failure shows them.
std::string joined(const QStringList& list)
{
    return list.join(" | ").toStdString();
}

class DownloadManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString problem = m_site.start();
        ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
        m_manager.setNextJobScheduler([this](std::chrono::milliseconds delay, auto work) {
            m_delays.append(delay);
            QTimer::singleShot(0, &m_manager, std::move(work));
        });
        NotificationCenter::defaultCenter().addObserver(
            {}, nullptr, &m_context, [this](const Notification& notification) {
                if (notification.name == Manager::kDownloadFinishedNotification) {
                    const QString output = notification.userInfo.value("outputFile").toString();
                    m_events << "finished " + QFileInfo(output).fileName();
                    m_outputs << output;
                    // The merge is over when this is heard: the file is whole.
                    EXPECT_GT(QFileInfo(output).size(), 0);
                } else if (notification.name == Manager::kFinishedDownloadProcessNotification) {
                    m_events << "end";
                }
            });
    }

    // A page with one variant (and audio when given) at the site's media.
    std::shared_ptr<DNYoutubeNode> node(const QString& page, const QString& media,
        const QString& container = "mp4", const QString& audio = {})
    {
        DNYoutubeVideoSegment segment;
        segment.containerFormat = container;
        segment.videoFormat = "h264";
        segment.videoURLs = { m_site.url("/media/" + media).toString() };
        segment.videoSize = double(m_site.mediaSize(media));
        segment.resolution = 240;
        segment.isSelected = true;
        DNYoutubeLinkNode link;
        link.sourceURL = m_site.url(page).toString();
        link.title = "Clip";
        if (!audio.isEmpty()) {
            link.biggestSizeOfAudioStream = { m_site.url("/media/" + audio).toString() };
            link.audioStreamSize = double(m_site.mediaSize(audio));
            segment.videoSize += link.audioStreamSize;
        }
        link.videosSegments = { segment };
        auto result = DNYoutubeNode::youtubeNode();
        result->setYoutubeLink(link);
        QObject::connect(result.get(), &DNYoutubeNode::stateChanged, &m_context,
            [this](DNYoutubeNodeState state) { m_events << QString("state %1").arg(int(state)); });
        return result;
    }

    // Queues the nodes and waits for the end of the run.
    void run(const QList<std::shared_ptr<DNYoutubeNode>>& nodes, const QString& folder = {})
    {
        m_events.clear();
        for (const auto& job : nodes)
            ASSERT_TRUE(m_manager.addJob(job, folder.isEmpty() ? m_output.path() : folder));
        ASSERT_TRUE(QTest::qWaitFor([this] { return m_events.contains("end"); }, 30000));
    }

    QStringList rangesAsked(const QString& media)
    {
        QStringList ranges;
        for (const TestRequest& request : m_site.server().requests()) {
            if (request.target == "/media/" + media.toUtf8())
                ranges << QString::fromLatin1(request.header("Range"));
        }
        return ranges;
    }

    static QString partial(const QString& name) { return AppPaths::downloadsFolder() + "/" + name; }

    VideoSite m_site;
    QTemporaryDir m_output;
    QStringList m_events;
    QStringList m_outputs;
    QList<std::chrono::milliseconds> m_delays;
    QObject m_context;
    Manager m_manager;
};

TEST_F(DownloadManagerTest, SingleStreamEndsByteIdenticalAfterStatesOneTwoThree)
{
    run({ node("/one", "av240.mp4") });
    EXPECT_EQ(
        joined(m_events), joined({ "state 1", "state 2", "state 3", "finished Clip.mp4", "end" }));
    EXPECT_EQ(bytesOf(m_output.filePath("Clip.mp4")), bytesOf(VideoSite::mediaPath("av240.mp4")));
    EXPECT_EQ(QDir(m_output.path()).entryList(QDir::Files), QStringList { "Clip.mp4" });
    EXPECT_FALSE(QFile::exists(partial("Clip.mp4.tolvadownload.record")));
}

TEST_F(DownloadManagerTest, SeparateAudioIsFetchedAfterTheVideoAndMergedBeforeTheNotification)
{
    // ffmpeg must not read "AC:" as a protocol.
    const auto job = node("/dash", "v480.mp4", "mp4", "audio.m4a");
    job->youtubeLink().title = "AC:DC Live";
    run({ job });
    EXPECT_EQ(joined(m_events),
        joined({ "state 1", "state 2", "state 3", "finished AC:DC Live.mp4", "end" }));
    const QStringList targets = [&] {
        QStringList list;
        for (const TestRequest& request : m_site.server().requests())
            list << QString::fromLatin1(request.target);
        return list;
    }();
    EXPECT_EQ(joined(targets), joined({ "/media/v480.mp4", "/media/audio.m4a" }));
    const MediaFacts facts = MediaFacts::probe(m_output.filePath("AC:DC Live.mp4"));
    ASSERT_TRUE(facts.ok) << facts.error.toStdString();
    EXPECT_EQ(facts.stream("video").codecName, "h264");
    EXPECT_EQ(facts.stream("audio").codecName, "aac");
    EXPECT_EQ(QDir(m_output.path()).entryList(QDir::Files), QStringList { "AC:DC Live.mp4" });
}

TEST_F(DownloadManagerTest, ACutTransferIsResumedFromItsPartialByTheNextJob)
{
    // Every answer is cut: the client's own retry on a lost connection
    // continues once, then the job fails with the partial file kept.
    m_site.cutAfter("v240.mp4", 3000);
    run({ node("/cut", "v240.mp4") });
    EXPECT_EQ(joined(m_events.filter(QRegularExpression("state 4|finished|end"))),
        joined({ "state 4", "end" }));
    const qint64 kept = QFileInfo(partial("Clip.mp4.tolvadownload")).size();
    EXPECT_GE(kept, 3000);
    m_site.cutAfter("v240.mp4", -1);
    run({ node("/cut", "v240.mp4") });
    EXPECT_EQ(rangesAsked("v240.mp4").last(), QString("bytes=%1-").arg(kept));
    EXPECT_EQ(bytesOf(m_output.filePath("Clip.mp4")), bytesOf(VideoSite::mediaPath("v240.mp4")));
}

TEST_F(DownloadManagerTest, AStalledTransferFailsAfterTheTimeOutAndKeepsItsPartial)
{
    m_site.stallAfter("v240.mp4", 2000);
    const double timeOut = NXHTTPRequest::defaultTimeOutSeconds();
    const auto interval = NXHTTPRequest::statusTimerInterval();
    NXHTTPRequest::setDefaultTimeOutSeconds(0.3);
    NXHTTPRequest::setStatusTimerInterval(20ms);
    run({ node("/stall", "v240.mp4") });
    NXHTTPRequest::setDefaultTimeOutSeconds(timeOut);
    NXHTTPRequest::setStatusTimerInterval(interval);
    EXPECT_EQ(joined(m_events), joined({ "state 1", "state 2", "state 4", "end" }));
    EXPECT_EQ(QFileInfo(partial("Clip.mp4.tolvadownload")).size(), 2000);
}

TEST_F(DownloadManagerTest, APartialIsResumedOnlyWhenItsRecordNamesTheSamePageAndStream)
{
    const QByteArray media = bytesOf(VideoSite::mediaPath("av240.mp4"));
    const QString stream
        = QString("stream: video 240P mp4 h264 part 1\nsize: %1\n").arg(media.size());
    struct Case {
        QString page; // in the record
        QByteArray partial;
        QString range; // asked for
        QString jobPage = "/mine";
    };
    // A stranger's bytes are dropped, also when our page's address holds a
    // "%2"; our own whole stream needs no byte more.
    const QList<Case> cases { { "http://elsewhere/", QByteArray(500, 'x'), "" },
        { m_site.url("/mine240F").toString(), QByteArray(500, 'x'), "", "/mine%2F" },
        { m_site.url("/mine").toString(), media, QString("bytes=%1-").arg(media.size()) } };
    QDir().mkpath(AppPaths::downloadsFolder());
    for (const Case& c : cases) {
        QFile partialFile(partial("Clip.mp4.tolvadownload"));
        QFile record(partial("Clip.mp4.tolvadownload.record"));
        ASSERT_TRUE(partialFile.open(QIODevice::WriteOnly) && record.open(QIODevice::WriteOnly));
        partialFile.write(c.partial);
        record.write(("page: " + c.page + "\n" + stream).toUtf8());
        partialFile.close();
        record.close();
        run({ node(c.jobPage, "av240.mp4") });
        EXPECT_EQ(rangesAsked("av240.mp4").last(), c.range);
        EXPECT_EQ(bytesOf(m_output.filePath("Clip.mp4")), media) << c.range.toStdString();
        QFile::remove(m_output.filePath("Clip.mp4"));
    }
}

TEST_F(DownloadManagerTest, PartsComeInOrderEachToItsOwnFile)
{
    const auto job = node("/parts", "av240.mp4");
    job->youtubeLink().videosSegments[0].videoURLs << m_site.url("/media/v240.mp4").toString();
    run({ job });
    EXPECT_EQ(joined(m_events),
        joined({ "state 1", "state 2", "state 3", "finished Clip.mp4", "state 1", "state 2",
            "state 3", "finished Clip2.mp4", "end" }));
    EXPECT_EQ(bytesOf(m_output.filePath("Clip2.mp4")), bytesOf(VideoSite::mediaPath("v240.mp4")));
}

TEST_F(DownloadManagerTest, FailuresGiveStateFourLoseNothingAndNotifyNothing)
{
    QFile blocker(m_output.filePath("a-file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    struct Case {
        const char* name;
        std::shared_ptr<DNYoutubeNode> job;
        QString folder;
        QStringList filesLeft; // in the output folder
        const char* reason;
    };
    const QList<Case> cases {
        { "404", node("/gone", "missing.mp4"), {}, { "a-file" }, "answered HTTP/1.1 404" },
        // ffmpeg will not put AAC into WebM: both streams stay for another try.
        { "webm+aac", node("/webm", "vp9.webm", "webm", "audio.m4a"), {},
            { "Clip[AudioStream].data", "Clip[VideoStream].webm", "a-file" },
            "ffmpeg could not merge" },
        { "folder", node("/folder", "av240.mp4"), m_output.filePath("a-file/sub"), { "a-file" },
            "Cannot create the folder" },
    };
    QString reason;
    QObject::connect(&m_manager, &Manager::downloadFailed, &m_context,
        [&reason](DNYoutubeNode*, const QString& text) { reason = text; });
    for (const Case& c : cases) {
        run({ c.job }, c.folder);
        EXPECT_TRUE(reason.contains(c.reason)) << reason.toStdString();
        EXPECT_EQ(m_events.filter("state").last(), "state 4") << c.name;
        EXPECT_EQ(joined(m_events.filter("finished")), "") << c.name;
        EXPECT_EQ(QDir(m_output.path()).entryList(QDir::Files, QDir::Name), c.filesLeft) << c.name;
        for (const QString& name : QDir(m_output.path()).entryList({ "Clip*" }, QDir::Files))
            QFile::remove(m_output.filePath(name));
    }
}

TEST_F(DownloadManagerTest, StopAllFromTheFailureReportLeavesAnEmptyQueue)
{
    // A failure shown in a dialog runs an event loop in which Stop All can be pressed.
    QObject::connect(&m_manager, &Manager::downloadFailed, &m_context,
        [this](DNYoutubeNode*, const QString&) { m_manager.stopAllDownload(); });
    const auto failing = node("/gone", "missing.mp4");
    const auto queued = node("/next", "v240.mp4");
    ASSERT_TRUE(m_manager.addJob(failing, m_output.path()));
    ASSERT_TRUE(m_manager.addJob(queued, m_output.path()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return failing->state() == DNYoutubeNodeState::Failed; }));
    QTest::qWait(200);
    EXPECT_EQ(queued->state(), DNYoutubeNodeState::New);
    EXPECT_TRUE(m_manager.downloadJobs().isEmpty());
    EXPECT_FALSE(m_manager.isDownloading());
}

TEST_F(DownloadManagerTest, SkipStopAllAndTheDelayBeforeTheNextJob)
{
    // Two quick jobs: the second starts one delay after the first ended.
    run({ node("/a", "av240.mp4"), node("/b", "v240.mp4") });
    EXPECT_EQ(m_delays, QList<std::chrono::milliseconds> { Manager::kNextJobDelay });
    EXPECT_EQ(joined(m_events.filter("finished")),
        joined({ "finished Clip.mp4", "finished Clip (1).mp4" }));
    EXPECT_EQ(m_events.indexOf("state 1", 1), m_events.indexOf("finished Clip.mp4") + 1);

    // A stalled transfer, a queued job skipped, then Stop All.
    m_events.clear();
    m_site.stallAfter("av480.mp4", 1000);
    const auto running = node("/c", "av480.mp4");
    const auto skipped = node("/d", "v240.mp4");
    const auto queued = node("/e", "v240.mp4");
    for (const auto& job : { running, skipped, queued })
        ASSERT_TRUE(m_manager.addJob(job, m_output.path()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return running->downloadSize() >= 1000; }, 10000));
    m_manager.stopDownload(skipped);
    EXPECT_EQ(skipped->state(), DNYoutubeNodeState::Skipped);
    EXPECT_EQ(running->state(), DNYoutubeNodeState::Downloading);
    m_manager.stopAllDownload();
    EXPECT_EQ(running->state(), DNYoutubeNodeState::New);
    EXPECT_EQ(queued->state(), DNYoutubeNodeState::New);
    EXPECT_FALSE(m_manager.isDownloading());
    EXPECT_EQ(joined(m_events.filter(QRegularExpression("finished|end"))), "");
    EXPECT_EQ(rangesAsked("v240.mp4").size(), 1); // only the first run's
}

TEST_F(DownloadManagerTest, TheProxySettingCarriesTheStreamRequests)
{
    TestProxy proxy(TestProxy::Kind::Http);
    ASSERT_TRUE(proxy.start());
    {
        const DownloadProxySetting proxied("127.0.0.1", QString::number(proxy.port()));
        run({ node("/proxied", "v480.mp4") });
    }
    EXPECT_EQ(joined(proxy.log()), "GET " + m_site.url("/media/v480.mp4").toString().toStdString());
    EXPECT_EQ(m_events.filter("finished").size(), 1);
}

TEST_F(DownloadManagerTest, DownloadOneMergesTheDashPage)
{
    const QString tool = QCoreApplication::applicationDirPath() + "/tools/download-one";
    if (!QFileInfo(tool).isExecutable())
        GTEST_SKIP() << "download-one is not built";
    QProcess process;
    // A data folder of its own: the tool starts its log over there, and this
    // process's log stays where the later tests read it.
    const QTemporaryDir data;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", data.path());
    process.setProcessEnvironment(environment);
    process.start(tool, { m_site.url("/dash.html").toString(), "--output", m_output.path() });
    ASSERT_TRUE(process.waitForFinished(60000));
    const QString printed = QString::fromUtf8(process.readAllStandardOutput());
    EXPECT_EQ(process.exitCode(), 0) << printed.toStdString();
    EXPECT_TRUE(printed.contains("title: Dash Page\n")) << printed.toStdString();
    const QString output = printed.section("output: ", 1).section('\n', 0, 0);
    const MediaFacts facts = MediaFacts::probe(output);
    EXPECT_EQ(facts.stream("video").codecName, "h264") << printed.toStdString();
    EXPECT_EQ(facts.stream("audio").codecName, "aac");
}

} // namespace

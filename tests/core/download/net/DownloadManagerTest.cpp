// The download manager against the loopback video site: real transfers,
// resume, failures, the queue, the proxy, and ffmpeg merging the streams.
#include "RequestTestSupport.h"
#include "VideoSite.h"

#include "core/download/DownloadTestSupport.h"
#include "download/DNYoutubeDownloadManager.h"
#include "download/DNYoutubeDownloader.h"
#include "download/DNYoutubeParser.h"
#include "download/NXStreamMergeOperation.h"
#include "fixtures/MediaFacts.h"
#include "http/NXHTTPRequest.h"
#include "http/PartialFileOrigin.h"
#include "platform/AppPaths.h"
#include "platform/NotificationCenter.h"
#include "platform/ProcessRunner.h"

#include "server/TestProxy.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Manager = DNYoutubeDownloadManager;

// A stream request stopped where a body written afresh is about to take the
// partial's name.
struct ReplacingRequest : DNYoutubeDownloader {
    using DNYoutubeDownloader::DNYoutubeDownloader;
    using DNYoutubeStreamRequest::willReplacePartialFile;
};

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
        return nodeAt(page, "/media/" + media, double(m_site.mediaSize(media)), container, audio);
    }

    // A page whose variant is at `path` on the site, announced with `size`
    // (exact, unless told otherwise).
    std::shared_ptr<DNYoutubeNode> nodeAt(const QString& page, const QString& path, double size,
        const QString& container = "mp4", const QString& audio = {}, bool exact = true)
    {
        DNYoutubeVideoSegment segment;
        segment.containerFormat = container;
        segment.videoFormat = "h264";
        segment.videoURLs = { m_site.url(path).toString() };
        segment.videoSize = size;
        segment.sizeIsExact = exact;
        segment.resolution = 240;
        segment.isSelected = true;
        DNYoutubeLinkNode link;
        link.sourceURL = m_site.url(page).toString();
        link.title = "Clip";
        if (!audio.isEmpty()) {
            link.biggestSizeOfAudioStream = { m_site.url("/media/" + audio).toString() };
            link.audioStreamSize = double(m_site.mediaSize(audio));
            link.audioSizeIsExact = true;
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

    // Where the first part of a job's video is kept while it downloads.
    static QString partialOf(const std::shared_ptr<DNYoutubeNode>& job)
    {
        const auto request = DNYoutubeDownloader::initWithYoutubeNode(job);
        request->setTempFileDownloadDir(AppPaths::downloadsFolder());
        return request->partialFilePath();
    }

    // Where the first part of a job's video lands whole before it is published.
    static QString streamFileOf(const std::shared_ptr<DNYoutubeNode>& job)
    {
        DNYoutubeDownloader::initWithYoutubeNode(job)->setOutPutDir(AppPaths::downloadsFolder());
        return job->tempVideoFile();
    }

    // The file at `path` holds the start of `media` as the site served it.
    static void keepSiteVersion(const QString& path, const QByteArray& media)
    {
        PartialFileOrigin { QString::fromLatin1(VideoSite::entityTag(media)), {}, std::nullopt }
            .writeTo(path);
    }

    QStringList outputFiles() const
    {
        return QDir(m_output.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

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
    EXPECT_EQ(outputFiles(), QStringList { "Clip.mp4" });
    // The stream kept its version while it could go back to a partial; the output does not.
    EXPECT_FALSE(PartialFileOrigin::readFrom(m_output.filePath("Clip.mp4")));
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
    EXPECT_EQ(outputFiles(), QStringList { "AC:DC Live.mp4" });
}

TEST_F(DownloadManagerTest, ACutTransferIsResumedFromItsPartialByTheNextJob)
{
    // Every answer is cut: the client's own retry on a lost connection
    // continues once, then the job fails with the partial file kept.
    m_site.cutAfter("v240.mp4", 3000);
    run({ node("/cut", "v240.mp4") });
    EXPECT_EQ(joined(m_events.filter(QRegularExpression("state 4|finished|end"))),
        joined({ "state 4", "end" }));
    const qint64 kept = QFileInfo(partialOf(node("/cut", "v240.mp4"))).size();
    EXPECT_GE(kept, 3000);
    m_site.cutAfter("v240.mp4", -1);
    run({ node("/cut", "v240.mp4") });
    EXPECT_EQ(rangesAsked("v240.mp4").last(), QString("bytes=%1-").arg(kept));
    EXPECT_EQ(bytesOf(m_output.filePath("Clip.mp4")), bytesOf(VideoSite::mediaPath("v240.mp4")));
}

TEST_F(DownloadManagerTest, APartialOfAnotherSizeOfTheStreamGoesOnceTheStreamIsWhole)
{
    // The analysis gives the stream another size: it is fetched under a key
    // of its own, and the partial of the old size is of no more use.
    const QByteArray media = bytesOf(VideoSite::mediaPath("v240.mp4"));
    const auto sized = [&](const QString& page, qint64 size) {
        return nodeAt(page, "/media/v240.mp4", double(size), "mp4", {}, false);
    };
    m_site.cutAfter("v240.mp4", 3000);
    run({ sized("/resized", media.size() - 100), sized("/stranger", media.size() - 100) });
    const QString old = partialOf(sized("/resized", media.size() - 100));
    const QString stranger = partialOf(sized("/stranger", media.size() - 100));
    ASSERT_GE(QFileInfo(old).size(), 3000);
    ASSERT_GE(QFileInfo(stranger).size(), 3000);
    m_site.cutAfter("v240.mp4", -1);
    run({ sized("/resized", media.size()) });
    EXPECT_EQ(bytesOf(m_output.filePath("Clip.mp4")), media);
    EXPECT_FALSE(QFile::exists(old));
    EXPECT_GE(QFileInfo(stranger).size(), 3000);
}

TEST_F(DownloadManagerTest, AStreamWhoseTagNamesAnotherLengthLeavesTheOldPartial)
{
    // The server's tag is the same, its length another: the analysis takes
    // the new length for another version of the stream, the server names the
    // same bytes. Which answer is wrong is unknown: the good partial stays.
    const QByteArray media = bytesOf(VideoSite::mediaPath("v480.mp4"));
    const QByteArray retold = media.left(media.size() * 2 / 3);
    std::atomic<bool> first { true }; // read on the server's thread
    m_site.server().route("/retold.mp4", [&](const TestRequest&) {
        TestReply reply = withHeader(TestReply::text(first ? media : retold), "ETag", "\"v1\"");
        reply.cutAfter = first ? 30000 : -1;
        return reply;
    });
    const auto sized = [&](qint64 size) {
        return nodeAt("/retold", "/retold.mp4", double(size), "mp4", {}, false);
    };
    run({ sized(media.size()) });
    const QString old = partialOf(sized(media.size()));
    ASSERT_EQ(bytesOf(old), media.left(30000));
    first = false;
    QString reason;
    QObject::connect(&m_manager, &Manager::downloadFailed, &m_context,
        [&reason](DNYoutubeNode*, const QString& text) { reason = text; });
    run({ sized(retold.size()) });
    EXPECT_EQ(m_events.filter("state").last(), "state 4");
    EXPECT_TRUE(reason.contains(QString("a length of %1 bytes").arg(retold.size())))
        << reason.toStdString();
    EXPECT_EQ(outputFiles(), QStringList());
    EXPECT_EQ(bytesOf(old), media.left(30000));
}

TEST_F(DownloadManagerTest, ARefusedAnswerLeavesTheGoodPartialForTheNextTry)
{
    const QByteArray media = bytesOf(VideoSite::mediaPath("v240.mp4"));
    const qsizetype size = media.size();
    const qsizetype kept = size / 3;
    const auto fromOf = [](const TestRequest& asked) {
        const QByteArray range = asked.header("Range"); // "bytes=N-"
        return range.isEmpty() ? 0 : range.mid(6).chopped(1).toLongLong();
    };
    const auto piece = [&](qsizetype from, const QByteArray& body, const QByteArray& total) {
        return withHeader(TestReply::text(body, 206), "Content-Range",
            "bytes " + QByteArray::number(from) + '-' + QByteArray::number(from + body.size() - 1)
                + '/' + total);
    };
    const auto gzip = [](TestReply reply, const QByteArray& body) {
        reply.body = body;
        return withHeader(reply, "Content-Encoding", "gzip");
    };
    // The partial began under this tag, and every piece of the stream has it.
    const QByteArray tag = "\"stream\"";
    const auto tagged = [&](TestReply reply) {
        return reply.status == 206 ? withHeader(reply, "ETag", tag) : reply;
    };
    struct Case {
        const char* name;
        std::function<TestReply(const TestRequest&)> refused;
        qsizetype partialAfter; // a good start of the stream at least this long
    };
    const Case cases[] = {
        { "coded piece",
            [&](const TestRequest& asked) {
                const qsizetype from = fromOf(asked);
                return gzip(piece(from, media.mid(from), QByteArray::number(size)),
                    deflated(media.mid(from), 31));
            },
            kept },
        { "fresh body that does not decode",
            [&](const TestRequest&) { return gzip(TestReply::text({}), "not gzip at all"); },
            kept },
        { "bytes past the range's end",
            [&](const TestRequest& asked) {
                const qsizetype from = fromOf(asked);
                TestReply reply = piece(from, media.mid(from), QByteArray::number(size));
                reply.body += QByteArray(10000, 'x');
                return reply;
            },
            size },
        { "short piece of unknown length, then an error",
            [&](const TestRequest& asked) {
                const qsizetype from = fromOf(asked);
                return from == kept ? piece(from, media.mid(from, 1000), "*")
                                    : TestReply::text("busy", 503);
            },
            kept + 1000 },
        { "page longer than the partial",
            [&](const TestRequest&) {
                return withHeader(TestReply::text("<html>Please log in" + QByteArray(kept, ' ')),
                    "Content-Type", "text/html");
            },
            kept },
        { "whole body of 60%",
            [&](const TestRequest&) { return TestReply::text(media.left(size * 6 / 10)); }, kept },
        { "416 at the partial's size",
            [&](const TestRequest&) {
                return withHeader(TestReply::text("", 416), "Content-Range",
                    "bytes */" + QByteArray::number(kept));
            },
            kept },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = "/refused/" + QString::fromLatin1(c.name).replace(' ', '-');
        const auto job = [&] { return nodeAt("/page" + path, path, double(size)); };
        m_site.server().route(
            path, [&](const TestRequest& asked) { return tagged(c.refused(asked)); });
        const QString partial = partialOf(job());
        QDir().mkpath(AppPaths::downloadsFolder());
        writeFile(partial, media.left(kept));
        PartialFileOrigin { QString::fromLatin1(tag), {}, std::nullopt }.writeTo(partial);
        run({ job() });
        EXPECT_EQ(m_events.filter("state").last(), "state 4");
        const QByteArray after = bytesOf(partial);
        EXPECT_GE(after.size(), c.partialAfter);
        EXPECT_EQ(after, media.left(after.size()));
        // The next try resumes from what is there, from a server that gives
        // no length: it asks till a 416, and ends whole.
        m_site.server().route(path, [&](const TestRequest& asked) {
            const qsizetype from = fromOf(asked);
            return tagged(from >= size ? TestReply::text("", 416)
                    : from == 0        ? TestReply::text(media)
                                       : piece(from, media.mid(from), "*"));
        });
        const int before = int(m_site.server().requests().size());
        run({ job() });
        EXPECT_EQ(m_site.server().requests().at(before).header("Range"),
            "bytes=" + QByteArray::number(after.size()) + '-');
        EXPECT_EQ(bytesOf(m_output.filePath("Clip.mp4")), media);
        QFile::remove(m_output.filePath("Clip.mp4"));
    }
}

TEST_F(DownloadManagerTest, AStreamPutBackAsPartialResumesOnlyTheVersionItBeganWith)
{
    // The video changes between two runs, to a longer file; the first run's
    // whole stream went back to its partial when the audio failed.
    const QByteArray first = bytesOf(VideoSite::mediaPath("v240.mp4"));
    const QByteArray second = bytesOf(VideoSite::mediaPath("v480.mp4"));
    ASSERT_GT(second.size(), first.size());
    std::atomic<int> version { 1 }; // read on the server's thread
    // Ranges and If-Range as a server keeps them: a range of another version
    // is answered with the whole of the current one.
    m_site.server().route("/versioned.mp4", [&](const TestRequest& asked) {
        const QByteArray& current = version == 1 ? first : second;
        const QByteArray tag = "\"v" + QByteArray::number(version) + '"';
        const QByteArray range = asked.header("Range");
        const QByteArray ifRange = asked.header("If-Range");
        const qsizetype from = range.isEmpty() ? 0 : range.mid(6).chopped(1).toLongLong();
        const bool whole = range.isEmpty() || (!ifRange.isEmpty() && ifRange != tag);
        TestReply reply
            = whole ? TestReply::text(current) : TestReply::text(current.mid(from), 206);
        if (!whole)
            reply = withHeader(reply, "Content-Range",
                "bytes " + QByteArray::number(from) + '-' + QByteArray::number(current.size() - 1)
                    + '/' + QByteArray::number(current.size()));
        return withHeader(reply, "ETag", tag);
    });
    m_site.server().route("/media/audio.m4a", TestReply::text("busy", 503));
    const auto job = [&] {
        return nodeAt(
            "/versioned", "/versioned.mp4", double(first.size()), "mp4", "audio.m4a", false);
    };
    run({ job() });
    EXPECT_EQ(m_events.filter("state").last(), "state 4");
    ASSERT_EQ(bytesOf(partialOf(job())), first);

    version = 2;
    m_site.cutAfter("audio.m4a", -1);
    const int before = int(m_site.server().requests().size());
    run({ job() });
    EXPECT_EQ(m_site.server().requests().at(before).header("If-Range"), "\"v1\"");
    const MediaFacts facts = MediaFacts::probe(m_output.filePath("Clip.mp4"));
    ASSERT_TRUE(facts.ok) << facts.error.toStdString();
    EXPECT_EQ(facts.stream("video").height, 480);
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
    EXPECT_EQ(QFileInfo(partialOf(node("/stall", "v240.mp4"))).size(), 2000);
}

TEST_F(DownloadManagerTest, PartialsArePrivateToTheirStream)
{
    // A stranger's partial of the same title stays as it is; our own whole
    // stream needs no byte more.
    const QByteArray media = bytesOf(VideoSite::mediaPath("av240.mp4"));
    const auto mine = node("/mine", "av240.mp4");
    const QString stranger = partialOf(node("/other", "av240.mp4"));
    QDir().mkpath(AppPaths::downloadsFolder());
    writeFile(stranger, QByteArray(500, 'x'));
    writeFile(partialOf(mine), media);
    keepSiteVersion(partialOf(mine), media);
    run({ mine });
    EXPECT_EQ(rangesAsked("av240.mp4").last(), QString("bytes=%1-").arg(media.size()));
    EXPECT_EQ(bytesOf(m_output.filePath("Clip.mp4")), media);
    EXPECT_EQ(bytesOf(stranger), QByteArray(500, 'x'));

    // One stream is fetched by one job at a time, also while a body fetched
    // afresh takes the partial's name.
    const auto first = std::make_shared<ReplacingRequest>(mine, 0);
    const auto second = DNYoutubeDownloader::initWithYoutubeNode(mine);
    first->setTempFileDownloadDir(AppPaths::downloadsFolder());
    second->setTempFileDownloadDir(AppPaths::downloadsFolder());
    QString reason;
    EXPECT_TRUE(first->claimPartialFile(&reason));
    // A plain request takes the same lock on its own.
    const auto plain = NXHTTPRequest::requestWithURL(m_site.url("/media/av240.mp4"));
    plain->setDownloadDestinationPath(m_output.filePath("plain.mp4"));
    plain->setTemporaryFileDownloadPath(partialOf(mine));
    plain->setAllowResumeForFileDownloads(true);
    plain->startAsynchronous();
    ASSERT_TRUE(QTest::qWaitFor([&] { return plain->isFinished(); }, 20000));
    EXPECT_TRUE(plain->error().localizedDescription().startsWith("Another download is fetching"))
        << plain->error().localizedDescription().toStdString();
    EXPECT_FALSE(QFile::exists(m_output.filePath("plain.mp4")));
    const QString replacement = partialOf(mine) + ".afresh";
    writeFile(replacement, media.left(2000));
    for (const bool replacing : { false, true }) {
        SCOPED_TRACE(replacing);
        if (replacing)
            first->willReplacePartialFile(replacement);
        EXPECT_FALSE(second->claimPartialFile(&reason));
        EXPECT_TRUE(reason.contains("Another download is fetching this stream"))
            << reason.toStdString();
    }
    first->releasePartialFile();
    QFile::remove(replacement);

    // Two videos of one title at once, from two managers: each gets its own.
    QTemporaryDir otherOutput;
    Manager other;
    const auto a = node("/a", "av240.mp4");
    const auto b = node("/b", "v240.mp4");
    ASSERT_TRUE(m_manager.addJob(a, m_output.path()) && other.addJob(b, otherOutput.path()));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return a->state() == DNYoutubeNodeState::Finished
                && b->state() == DNYoutubeNodeState::Finished;
        },
        20000));
    EXPECT_EQ(bytesOf(a->outputFile()), media);
    EXPECT_EQ(bytesOf(b->outputFile()), bytesOf(VideoSite::mediaPath("v240.mp4")));
}

TEST_F(DownloadManagerTest, AStreamFetchedAfreshBesideItsPartialStaysLocked)
{
    // The server sends all of the stream to the range: it is written beside
    // the partial, which stays locked, and takes its name only once whole.
    const QByteArray media = bytesOf(VideoSite::mediaPath("v240.mp4"));
    TestReply whole = TestReply::text(media);
    whole.stallAfter = media.size() / 2;
    m_site.server().route("/whole.mp4", whole);
    const auto job = nodeAt("/afresh", "/whole.mp4", double(media.size()));
    QDir().mkpath(AppPaths::downloadsFolder());
    writeFile(partialOf(job), media.left(1000));
    ASSERT_TRUE(m_manager.addJob(job, m_output.path()));
    // The largest body written beside a partial, or -1.
    const auto besideSize = [] {
        const QDir downloads(AppPaths::downloadsFolder());
        qint64 largest = -1;
        for (const QString& name :
            downloads.entryList({ "*.download" }, QDir::Files | QDir::Hidden))
            largest = std::max(largest, QFileInfo(downloads.filePath(name)).size());
        return largest;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return besideSize() > 1000; }, 20000));
    EXPECT_EQ(bytesOf(partialOf(job)), media.left(1000));
    const auto second = DNYoutubeDownloader::initWithYoutubeNode(job);
    second->setTempFileDownloadDir(AppPaths::downloadsFolder());
    QString reason;
    EXPECT_FALSE(second->claimPartialFile(&reason));
    EXPECT_TRUE(reason.contains("Another download is fetching this stream"))
        << reason.toStdString();
    m_manager.stopAllDownload();
    EXPECT_EQ(bytesOf(partialOf(job)), media.left(1000));
    // The cancel reaches the transfer on its own thread.
    EXPECT_TRUE(QTest::qWaitFor([&] { return besideSize() == -1; }, 20000));
}

TEST_F(DownloadManagerTest, AStreamFileLeftByAnEndedRunIsResumedOrRemoved)
{
    // The program ended during the audio or the merge: the whole stream is resumed.
    const QByteArray media = bytesOf(VideoSite::mediaPath("av240.mp4"));
    const auto job = node("/left", "av240.mp4");
    QDir().mkpath(AppPaths::downloadsFolder());
    writeFile(streamFileOf(job), media);
    keepSiteVersion(streamFileOf(job), media);
    run({ job });
    EXPECT_EQ(joined(rangesAsked("av240.mp4")), joined({ QString("bytes=%1-").arg(media.size()) }));
    EXPECT_EQ(bytesOf(m_output.filePath("Clip.mp4")), media);
    // Beside a partial it goes.
    const auto again = node("/left", "av240.mp4");
    writeFile(streamFileOf(again), "stale");
    writeFile(partialOf(again), media.left(1000));
    run({ again });
    EXPECT_EQ(bytesOf(m_output.filePath("Clip (1).mp4")), media);
}

TEST_F(DownloadManagerTest, AWholePartialIsTakenOnlyWhenTheSizeAnswerNamesItsVersion)
{
    // A run whose final move failed left all of "m1" as the partial. The
    // analysis asks the size with HEAD, which now names "m2" of the same
    // length, and the range is answered with a 416 that names no version.
    const QByteArray m1 = pattern(100000, 3);
    const QByteArray m2 = pattern(100000, 4);
    m_site.server().route("/changed.mp4", [&](const TestRequest& asked) {
        const TestReply whole = withHeader(TestReply::text(m2), "ETag", "\"m2\"");
        return asked.header("Range").isEmpty()
            ? whole
            : withHeader(TestReply::text("", 416), "Content-Range", "bytes */100000");
    });
    const QTemporaryDir folder;
    QFile json(folder.filePath("page.json"));
    ASSERT_TRUE(json.open(QIODevice::WriteOnly));
    const QJsonObject format { { "format_id", "f" }, { "ext", "mp4" }, { "vcodec", "avc1" },
        { "acodec", "mp4a.40.2" }, { "height", 360 },
        { "url", m_site.url("/changed.mp4").toString() } };
    json.write(
        QJsonDocument(QJsonObject { { "title", "Clip" }, { "formats", QJsonArray { format } } })
            .toJson());
    json.close();
    const QString program
        = writeFakeYtDlp(folder.path(), "2023.03.04", "cat '" + json.fileName() + "'");
    const std::optional<DNYoutubeLinkNode> link
        = DNYoutubeParser::analysisYoutubeWebSource(m_site.url("/changed").toString(), program);
    ASSERT_TRUE(link && link->videosSegments.size() == 1);
    const auto job = [&] {
        DNYoutubeLinkNode chosen = *link;
        chosen.videosSegments[0].isSelected = true;
        auto made = DNYoutubeNode::youtubeNode();
        made->setYoutubeLink(chosen);
        return made;
    };
    QDir().mkpath(AppPaths::downloadsFolder());
    writeFile(partialOf(job()), m1);
    PartialFileOrigin { "\"m1\"", {}, 100000 }.writeTo(partialOf(job()));
    run({ job() });
    QStringList asked;
    for (const TestRequest& request : m_site.server().requests())
        asked << QString::fromLatin1(request.method + ' ' + request.header("Range"));
    EXPECT_EQ(joined(asked), joined({ "HEAD ", "GET bytes=100000-", "GET " }));
    EXPECT_EQ(bytesOf(m_output.filePath("Clip.mp4")), m2);
}

TEST_F(DownloadManagerTest, ASecondRunOfThePageLeavesTheFirstRunsStreamAlone)
{
    // The first run has its video whole and waits for the audio, however
    // long this takes on a busy machine; a gzip-coded video reaches its
    // stream file as a new, inflated file.
    m_site.stallAfter("audio.m4a", 100);
    const double timeOut = NXHTTPRequest::defaultTimeOutSeconds();
    NXHTTPRequest::setDefaultTimeOutSeconds(600);
    const std::shared_ptr<void> restore(
        nullptr, [timeOut](void*) { NXHTTPRequest::setDefaultTimeOutSeconds(timeOut); });
    const QByteArray media = bytesOf(VideoSite::mediaPath("v480.mp4"));
    m_site.server().route("/gzipped.mp4",
        withHeader(TestReply::text(deflated(media, 31)), "Content-Encoding", "gzip"));
    for (const char* path : { "/media/v480.mp4", "/gzipped.mp4" }) {
        SCOPED_TRACE(path);
        const QString page = QStringLiteral("/twice") + path;
        const auto job
            = [&] { return nodeAt(page, path, double(media.size()), "mp4", "audio.m4a"); };
        const auto first = job();
        const QString stream = streamFileOf(job());
        Manager one;
        const qsizetype audioAsked = rangesAsked("audio.m4a").size();
        ASSERT_TRUE(one.addJob(first, m_output.path()));
        // Its audio is asked for once the video is whole and heard of.
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return rangesAsked("audio.m4a").size() > audioAsked; }, 20000));
        Manager other;
        QString reason;
        QObject::connect(&other, &Manager::downloadFailed, &m_context,
            [&reason](DNYoutubeNode*, const QString& text) { reason = text; });
        ASSERT_TRUE(other.addJob(job(), m_output.path()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !reason.isEmpty(); }, 20000));
        EXPECT_TRUE(reason.contains("Another download holds the finished stream"))
            << reason.toStdString();
        EXPECT_EQ(bytesOf(stream), media);
        EXPECT_FALSE(QFile::exists(partialOf(first)));
        // Stopped, the first run puts its stream back for the next to resume.
        one.stopAllDownload();
        EXPECT_EQ(bytesOf(partialOf(first)), media);
    }
}

TEST_F(DownloadManagerTest, AWholeStreamIsKeptWhenTheJobStopsWhateverItsState)
{
    const QByteArray media = bytesOf(VideoSite::mediaPath("v480.mp4"));
    m_site.stallAfter("audio.m4a", 100);
    m_site.server().route("/gzipped.mp4",
        withHeader(TestReply::text(deflated(media, 31)), "Content-Encoding", "gzip"));
    // Busy on this thread alone: what the requests post here stays unheard.
    const auto unheardUntil = [](const std::function<bool()>& done) {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < 20000)
            QThread::yieldCurrentThread();
        return done();
    };
    const auto lockable = [](const QString& path) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        const bool locked = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (fd >= 0)
            ::close(fd);
        return locked;
    };
    struct Case {
        const char* name;
        const char* path;
        QString audio;
        bool heard; // the manager heard the video finish before the stop
        QByteArray partialAfter;
        QByteArray streamAfter;
    };
    const Case cases[] = {
        { "finished, not yet heard", "/media/v480.mp4", {}, false, media, "(missing)" },
        { "inflated, not yet heard", "/gzipped.mp4", {}, false, media, "(missing)" },
        // Another run made the partial anew: the stream stays whole beside it.
        { "heard, its partial made anew", "/media/v480.mp4", "audio.m4a", true, "anew", media },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto job = [&] {
            return nodeAt(QString("/stop/") + c.name, c.path, double(media.size()), "mp4", c.audio);
        };
        const QString stream = streamFileOf(job());
        const QString partial = partialOf(job());
        ASSERT_TRUE(m_manager.addJob(job(), m_output.path()));
        if (c.heard) {
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return !rangesAsked("audio.m4a").isEmpty(); }, 20000));
            writeFile(partial, "anew");
        } else {
            ASSERT_TRUE(unheardUntil([&] { return QFile::exists(stream); }));
            // No other run can take it meanwhile.
            EXPECT_FALSE(lockable(stream));
        }
        m_manager.stopAllDownload();
        EXPECT_EQ(bytesOf(partial), c.partialAfter);
        EXPECT_EQ(bytesOf(stream), c.streamAfter);
        QFile::remove(partial);
        QFile::remove(stream);
    }
}

TEST_F(DownloadManagerTest, AStopOrAFailedMoveAtTheEndOfAMergeKeepsBothStreams)
{
    // Heard after ffmpeg succeeded, before the manager hears of it.
    std::function<void()> atMergeEnd;
    NotificationCenter::defaultCenter().addObserver(NXStreamMergeOperation::kMergeDoneNotification,
        nullptr, &m_context, [&](const Notification&) { atMergeEnd(); });
    const auto job = node("/late", "v480.mp4", "mp4", "audio.m4a");
    const auto audio = NXYoutubeAudioDownloader::downloaderWithNode(job);
    audio->setTempFileDownloadDir(AppPaths::downloadsFolder());
    const auto streamsKept = [&] {
        EXPECT_EQ(QFileInfo(partialOf(job)).size(), m_site.mediaSize("v480.mp4"));
        EXPECT_EQ(QFileInfo(audio->partialFilePath()).size(), m_site.mediaSize("audio.m4a"));
        EXPECT_EQ(joined(QDir(AppPaths::downloadsFolder()).entryList().filter("[Merged]")), "");
    };
    bool stopped = false;
    atMergeEnd = [&] { m_manager.stopAllDownload(), stopped = true; };
    ASSERT_TRUE(m_manager.addJob(job, m_output.path()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stopped; }, 20000));
    QTest::qWait(100);
    streamsKept();
    // The output folder is gone when the merged file is to move there.
    const QString gone = m_output.filePath("gone");
    atMergeEnd = [&] { QDir(gone).removeRecursively(); };
    QString reason;
    QObject::connect(&m_manager, &Manager::downloadFailed, &m_context,
        [&reason](DNYoutubeNode*, const QString& text) { reason = text; });
    run({ job }, gone);
    EXPECT_TRUE(reason.startsWith("Cannot move")) << reason.toStdString();
    streamsKept();
    EXPECT_EQ(
        rangesAsked("audio.m4a").last(), QString("bytes=%1-").arg(m_site.mediaSize("audio.m4a")));
    // Once the output is in its place, the streams go.
    const auto done = node("/late", "v480.mp4", "mp4", "audio.m4a");
    atMergeEnd = [] {};
    run({ done });
    EXPECT_EQ(joined(m_events.filter("finished")), "finished Clip.mp4");
    EXPECT_FALSE(QFile::exists(done->tempVideoFile()) || QFile::exists(done->tempAudioFile()));
}

TEST_F(DownloadManagerTest, FilesMadeAtTheTargetNamesDuringADownloadSurvive)
{
    const auto job = node("/race", "av240.mp4");
    QObject::connect(job.get(), &DNYoutubeNode::downloadSizeChanged, &m_context, [this] {
        for (const char* name : { "Clip.mp4", "Clip[VideoStream].mp4" })
            if (!QFile::exists(m_output.filePath(name)))
                writeFile(m_output.filePath(name), "mine");
    });
    run({ job });
    EXPECT_EQ(
        joined(outputFiles()), joined({ "Clip (1).mp4", "Clip.mp4", "Clip[VideoStream].mp4" }));
    EXPECT_EQ(bytesOf(m_output.filePath("Clip.mp4")), "mine");
    EXPECT_EQ(bytesOf(m_output.filePath("Clip[VideoStream].mp4")), "mine");
    EXPECT_EQ(
        bytesOf(m_output.filePath("Clip (1).mp4")), bytesOf(VideoSite::mediaPath("av240.mp4")));
}

TEST_F(DownloadManagerTest, OurStaleMoveFragmentsGoWhenADownloadStarts)
{
    // Left by a copy onto this folder that was killed halfway, or not ours,
    // or still being written.
    struct Fragment {
        const char* name;
        std::chrono::minutes age;
        bool removed;
    };
    const Fragment fragments[] = {
        { ".moving-quillon-a1B2c3", 90min, true },
        { ".moving-quillon-d4E5f6", 5min, false },
        { ".moving-a1B2c3", 90min, false },
        { ".moving-quillon-a1B2c3.mp4", 90min, false },
    };
    for (const Fragment& fragment : fragments) {
        const QString path = m_output.filePath(fragment.name);
        writeFile(path, "half a video");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(
            file.setFileTime(QDateTime::currentDateTime().addSecs(-60 * fragment.age.count()),
                QFileDevice::FileModificationTime));
    }
    run({ node("/fragments", "av240.mp4") });
    for (const Fragment& fragment : fragments)
        EXPECT_EQ(QFile::exists(m_output.filePath(fragment.name)), !fragment.removed)
            << fragment.name;
    EXPECT_TRUE(QFile::exists(m_output.filePath("Clip.mp4")));
}

TEST_F(DownloadManagerTest, AnEndedRequestRemovesOnlyItsOwnPartial)
{
    // Its file has moved on and another run has made the name anew, empty.
    const auto request = DNYoutubeDownloader::initWithYoutubeNode(node("/own", "av240.mp4"));
    request->setOutPutDir(m_output.path());
    request->setTempFileDownloadDir(AppPaths::downloadsFolder());
    QDir().mkpath(AppPaths::downloadsFolder());
    QString reason;
    ASSERT_TRUE(request->claimPartialFile(&reason)) << reason.toStdString();
    const QString partial = request->partialFilePath();
    ASSERT_TRUE(QFile::rename(partial, partial + ".moved"));
    writeFile(partial, "");
    request->releasePartialFile();
    EXPECT_TRUE(QFile::exists(partial));
    QFile::remove(partial);
    QFile::remove(partial + ".moved");
}

TEST_F(DownloadManagerTest, APipeAtThePartialsNameIsRefused)
{
    const auto job = node("/pipe", "av240.mp4");
    QDir().mkpath(AppPaths::downloadsFolder());
    const QByteArray pipe = QFile::encodeName(partialOf(job));
    ASSERT_EQ(::mkfifo(pipe.constData(), 0600), 0);
    QString reason;
    QObject::connect(&m_manager, &Manager::downloadFailed, &m_context,
        [&reason](DNYoutubeNode*, const QString& text) { reason = text; });
    run({ job });
    EXPECT_TRUE(reason.startsWith("The partial file ") && reason.endsWith(" is not a regular file"))
        << reason.toStdString();
    EXPECT_EQ(outputFiles(), QStringList());
    ::unlink(pipe.constData());
}

TEST_F(DownloadManagerTest, ALongCjkTitleDownloadsGzippedOntoAnotherFileSystem)
{
    QTemporaryDir mountPoint;
    const QByteArray point = QFile::encodeName(mountPoint.path());
    if (::geteuid() != 0 || ::mount("tmpfs", point.constData(), "tmpfs", 0, "size=16m") != 0)
        GTEST_SKIP() << "a second file system needs root and a tmpfs mount";
    const std::shared_ptr<void> unmount(
        nullptr, [&point](void*) { ::umount2(point.constData(), MNT_DETACH); });
    const QByteArray media = bytesOf(VideoSite::mediaPath("av240.mp4"));
    m_site.server().route("/gzipped.mp4",
        withHeader(withHeader(TestReply::text(deflated(media, 31)), "Content-Encoding", "gzip"),
            "Content-Type", "video/mp4"));
    const auto job = nodeAt("/cjk", "/gzipped.mp4", double(media.size()));
    job->youtubeLink().title = QString(70, QChar(0x6620));
    // The name is taken while the stream comes: the copy goes to the next one.
    QString taken;
    QObject::connect(job.get(), &DNYoutubeNode::downloadSizeChanged, &m_context, [&] {
        if (taken.isEmpty())
            writeFile(taken = job->outputFile(), "mine");
    });
    run({ job }, mountPoint.path());
    const QStringList written = QDir(mountPoint.path()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(written.size(), 2) << joined(written);
    EXPECT_EQ(bytesOf(taken), "mine");
    EXPECT_EQ(bytesOf(job->outputFile()), media);
    EXPECT_TRUE(job->outputFile().startsWith(mountPoint.path()));
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

TEST_F(DownloadManagerTest, FailuresGiveStateFourLeaveNothingAndNotifyNothing)
{
    QFile blocker(m_output.filePath("a-file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QByteArray media = bytesOf(VideoSite::mediaPath("av240.mp4"));
    const double size = double(media.size());
    const auto route = [this](const char* path, TestReply reply) {
        m_site.server().route(path, reply);
        return QString(path);
    };
    TestReply cut = TestReply::text(media.left(5000));
    cut.framing = TestReply::Framing::UntilClose;
    // Four times the stream is plenty: framed in 7-byte chunks, megabytes
    // would keep a loaded machine's server past the client's idle limit.
    TestReply endless = TestReply::text(QByteArray(media.size() * 4, '\0'));
    endless.framing = TestReply::Framing::Chunked;
    const TestReply inflating = withHeader(
        TestReply::text(deflated(QByteArray(8 << 20, '\0'), 31)), "Content-Encoding", "gzip");
    TestReply bigPage = TestReply::text("<html>" + QByteArray(media.size() * 2, ' '));
    bigPage.headers[0].second = "text/html; charset=utf-8";
    const auto ranged = nodeAt("/ranged", "/media/av240.mp4", size);
    ranged->youtubeLink().videosSegments[0].httpHeaders.insert("Range", "bytes=0-5676");
    struct Case {
        const char* name;
        std::shared_ptr<DNYoutubeNode> job;
        QString reason;
        QString folder = {};
    };
    const QList<Case> cases {
        { "404", node("/gone", "missing.mp4"), "answered HTTP/1.1 404" },
        { "204", nodeAt("/204", route("/204", TestReply::text("", 204)), size), "carries no file" },
        { "empty 200", nodeAt("/empty", route("/empty", TestReply::text("")), size),
            "sent nothing" },
        { "cut, no length", nodeAt("/cut", route("/cut", cut), size),
            "not the " + QString::number(media.size()) },
        { "web page",
            nodeAt("/page", route("/page", TestReply::text("\n<!DOCTYPE html><p>Sign in</p>")),
                size, "mp4", {}, false),
            "sent a web page" },
        { "playlist", node("/hls", "hls/index.m3u8"), "sent a playlist" },
        { "range in the record", ranged, "asks for a piece of the stream (Range: bytes=0-5676)" },
        { "endless", nodeAt("/endless", route("/endless", endless), size), "larger than" },
        { "inflating", nodeAt("/inflating", route("/inflating", inflating), size),
            "inflates to more than" },
        { "redirect to a file",
            nodeAt("/file", route("/file", redirect(302, "file:///etc/passwd")), size),
            "not a web address" },
        { "3xx without an address",
            nodeAt("/nowhere", route("/nowhere", TestReply::text("x", 302)), size),
            "without an address" },
        // ffmpeg will not put AAC into WebM: both streams go back to Downloads.
        { "webm+aac", node("/webm", "vp9.webm", "webm", "audio.m4a"), "ffmpeg could not merge" },
        { "folder", node("/folder", "av240.mp4"), "Cannot create the folder",
            m_output.filePath("a-file/sub") },
        { "web page larger than the stream", nodeAt("/big", route("/big", bigPage), size),
            "A web page came instead of the video" },
    };
    QString reason;
    QObject::connect(&m_manager, &Manager::downloadFailed, &m_context,
        [&reason](DNYoutubeNode*, const QString& text) { reason = text; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        run({ c.job }, c.folder);
        EXPECT_TRUE(reason.contains(c.reason)) << reason.toStdString();
        EXPECT_EQ(m_events.filter("state").last(), "state 4");
        EXPECT_EQ(joined(m_events.filter("finished")), "");
        EXPECT_EQ(outputFiles(), QStringList { "a-file" });
    }
    // What can be resumed stays in Downloads: the merge's streams, whole.
    EXPECT_EQ(QFileInfo(partialOf(cases[11].job)).size(), m_site.mediaSize("vp9.webm"));
    // The endless one keeps the start it had when it overflowed.
    EXPECT_GT(QFileInfo(partialOf(cases[7].job)).size(), 0);
}

TEST(NXStreamMergeOperation, APlaylistIsRefusedNotFollowed)
{
    QTemporaryDir folder;
    const QString secret = folder.filePath("secret.ts");
    QFile::copy(VideoSite::mediaPath("hls/index0.ts"), secret);
    // A playlist that names a local file, and a transport stream saved as .mp4.
    const QByteArray playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n"
        + QFile::encodeName(secret) + "\n#EXT-X-ENDLIST\n";
    const std::pair<QByteArray, const char*> cases[] = {
        { playlist, "is a playlist or a list of other files" },
        { bytesOf(secret), "is an MPEG-TS stream" },
    };
    for (const auto& [video, named] : cases) {
        SCOPED_TRACE(named);
        writeFile(folder.filePath("video.mp4"), video);
        ProcessRunner runner;
        const StreamMergeResult result = AVEncoderAVSynthetize(folder.filePath("video.mp4"),
            VideoSite::mediaPath("audio.m4a"), folder.filePath("out.mp4"), runner);
        EXPECT_FALSE(result.succeeded);
        EXPECT_TRUE(result.reason.contains(named)) << result.reason.toStdString();
        EXPECT_FALSE(QFile::exists(folder.filePath("out.mp4")));
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

#include "http/NXHTTPRequest.h"
#include "http/NXDataCompressor.h"
#include "http/PartialFileOrigin.h"

#include "RequestTestSupport.h"
#include "server/TestCertificates.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <atomic>
#include <iostream>
#include <thread>

#include <sys/utsname.h>

namespace {

// Hears every message a delegate, queue or progress target can get, and
// writes down what came, in order, and whether it came on the main thread.
class Recorder : public QObject {
    Q_OBJECT
public:
    QStringList events;
    qint64 bytesReceived = 0;
    qint64 downloadSize = 0;
    double lastFraction = -1;
    bool offMainThread = false;

    int count(const QString& event) const { return int(events.count(event)); }
    bool waitFor(const char* event, int times = 1) const
    {
        return QTest::qWaitFor([&] { return count(QString::fromLatin1(event)) >= times; }, 15000);
    }

public slots:
    void requestStarted(NXHTTPRequest*) { note(QStringLiteral("started")); }
    void requestDidReceiveResponseHeaders(NXHTTPRequest*, NXHeaderDictionary)
    {
        note(QStringLiteral("headers"));
    }
    void requestFinished(NXHTTPRequest*) { note(QStringLiteral("finished")); }
    void requestFailed(NXHTTPRequest*) { note(QStringLiteral("failed")); }
    void requestDidReceiveBytes(NXHTTPRequest*, qint64 amount)
    {
        checkThread();
        bytesReceived += amount;
    }
    void requestIncrementDownloadSizeBy(NXHTTPRequest*, qint64 amount)
    {
        checkThread();
        downloadSize += amount;
    }
    void setDoubleValue(double fraction)
    {
        checkThread();
        lastFraction = fraction;
    }

private:
    void checkThread()
    {
        offMainThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
    }
    void note(const QString& event)
    {
        checkThread();
        events.append(event);
    }
};

// The longest silence between the bytes of a trickled answer, as a plain
// socket on this thread hears them now: what the machine adds to the pace.
std::chrono::milliseconds longestSilence(const QUrl& url)
{
    QTcpSocket socket;
    socket.connectToHost(url.host(), quint16(url.port()));
    EXPECT_TRUE(socket.waitForConnected(10000));
    socket.write("GET " + url.path().toLatin1() + " HTTP/1.1\r\nHost: probe\r\n\r\n");
    QElapsedTimer clock;
    clock.start();
    qint64 longest = 0;
    QByteArray received;
    while (!received.contains("\r\n\r\n") && socket.waitForReadyRead(30000)) {
        received += socket.readAll();
        longest = std::max(longest, clock.restart());
    }
    EXPECT_TRUE(received.contains("\r\n\r\n"));
    return std::chrono::milliseconds(longest);
}

class RequestTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start());
        NXHTTPRequest::setStatusTimerInterval(std::chrono::milliseconds(20));
    }
    void TearDown() override
    {
        NXHTTPRequest::setStatusTimerInterval(std::chrono::milliseconds(250));
    }

    std::shared_ptr<NXHTTPRequest> request(const QString& path, Recorder* recorder)
    {
        auto made = NXHTTPRequest::requestWithURL(server.url(path));
        made->setDelegate(recorder);
        made->setQueue(recorder);
        made->setDownloadProgressDelegate(recorder);
        return made;
    }

    TestHttpServer server;
};

} // namespace

TEST_F(RequestTest, AsynchronousGetReportsInOrderOnTheMainThread)
{
    struct Case {
        const char* path;
        QByteArray served;
        QByteArray expected;
        QList<QPair<QByteArray, QByteArray>> headers;
    };
    const QByteArray large = pattern(700000);
    const QByteArray packed = NXDataCompressor::compressData(large, nullptr).value_or(QByteArray());
    const Case cases[] = {
        { "/plain", large, large, {} },
        { "/empty", {}, {}, {} },
        { "/gzip", packed, large, { { "Content-Encoding", "gzip" } } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        TestReply reply = TestReply::text(c.served);
        reply.headers += c.headers;
        server.route(QString::fromLatin1(c.path), reply);
        Recorder recorder;
        const auto get = request(QString::fromLatin1(c.path), &recorder);
        get->startAsynchronous();
        ASSERT_TRUE(recorder.waitFor("finished"));
        settle();
        // Delegate and queue are the same object here: each message twice.
        EXPECT_EQ(recorder.events.join(QLatin1Char(' ')),
            QStringLiteral("started started headers headers finished finished"));
        EXPECT_FALSE(recorder.offMainThread);
        EXPECT_EQ(get->responseData(), c.expected);
        EXPECT_EQ(get->responseStatusCode(), 200);
        EXPECT_TRUE(get->isFinished());
        EXPECT_FALSE(get->isExecuting());
        // Queue and download target each hear every amount once.
        EXPECT_EQ(recorder.bytesReceived, 2 * std::max<qint64>(c.served.size(), 1));
        EXPECT_EQ(recorder.downloadSize, 2 * c.served.size());
        EXPECT_DOUBLE_EQ(recorder.lastFraction, c.served.isEmpty() ? 0.0 : 1.0);
    }
    // One after the other, the requests shared one kept-alive connection.
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_FALSE(NXHTTPRequest::isNetworkInUse());
}

TEST_F(RequestTest, StallFailsWithCode2AfterItsRetriesResumingFromTheFileOnDisk)
{
    const QByteArray whole = pattern(10000);
    server.route(QStringLiteral("/stall"), [whole](const TestRequest& asked) {
        const QByteArray range = asked.header("Range");
        TestReply reply = TestReply::text(
            range.isEmpty() ? whole : whole.mid(5000), range.isEmpty() ? 200 : 206);
        reply.stallAfter = range.isEmpty() ? 5000 : 0;
        return withHeader(reply, "ETag", "\"s\"");
    });
    QTemporaryDir dir;
    Recorder recorder;
    const auto get = request(QStringLiteral("/stall"), &recorder);
    get->setDownloadDestinationPath(dir.filePath(QStringLiteral("file")));
    get->setTemporaryFileDownloadPath(dir.filePath(QStringLiteral("file.part")));
    get->setAllowResumeForFileDownloads(true);
    get->setTimeOutSeconds(0.3);
    get->setNumberOfTimesToRetryOnTimeout(2);
    const int poolBefore = NXHTTPRequest::connectionPoolSize();
    get->startAsynchronous();
    ASSERT_TRUE(recorder.waitFor("failed"));
    settle();

    EXPECT_EQ(get->error().code(), 2);
    EXPECT_EQ(get->error().localizedDescription(), QStringLiteral("The request timed out"));
    EXPECT_EQ(get->retryCount(), 2);
    QList<QByteArray> ranges;
    for (const TestRequest& asked : server.requests())
        ranges.append(asked.header("Range"));
    EXPECT_EQ(ranges, QList<QByteArray>({ QByteArray(), "bytes=5000-", "bytes=5000-" }));
    EXPECT_EQ(QFileInfo(dir.filePath(QStringLiteral("file.part"))).size(), 5000);
    EXPECT_EQ(recorder.count(QStringLiteral("started")), 2 * 3);
    EXPECT_EQ(recorder.count(QStringLiteral("failed")), 2);
    // The 5000 bytes on disk are told once, not again at each retry.
    EXPECT_EQ(recorder.bytesReceived, 2 * 5000);
    // The dead connections left the pool with their streams.
    EXPECT_EQ(NXHTTPRequest::connectionPoolSize(), poolBefore);
    EXPECT_TRUE(get->isFinished());
}

TEST_F(RequestTest, CancelFailsWithCode4Once)
{
    TestReply silent = TestReply::text(pattern(1000));
    silent.stallAfter = 10;
    server.route(QStringLiteral("/silent"), silent);
    Recorder recorder;
    const auto get = request(QStringLiteral("/silent"), &recorder);
    get->startAsynchronous();
    ASSERT_TRUE(recorder.waitFor("headers"));
    get->cancel();
    get->cancel();
    ASSERT_TRUE(recorder.waitFor("failed"));
    get->cancel();
    settle();
    settle();
    EXPECT_EQ(recorder.count(QStringLiteral("failed")), 2); // delegate and queue
    EXPECT_EQ(recorder.count(QStringLiteral("finished")), 0);
    EXPECT_EQ(get->error().code(), 4);
    EXPECT_EQ(get->error().localizedDescription(), QStringLiteral("The request was cancelled"));
    EXPECT_TRUE(get->isCancelled());
    EXPECT_TRUE(get->isFinished());
}

TEST_F(RequestTest, PartialFilesSurviveACancelAndAreNeverTakenFromTheOwner)
{
    TestReply silent = TestReply::text(pattern(1000));
    silent.stallAfter = 300;
    server.route(QStringLiteral("/file"), silent);
    QTemporaryDir dir;
    for (const bool resume : { false, true }) {
        SCOPED_TRACE(resume);
        const QString partial = dir.filePath(QStringLiteral("part%1").arg(resume));
        Recorder recorder;
        auto get = request(QStringLiteral("/file"), &recorder);
        get->setDownloadDestinationPath(dir.filePath(QStringLiteral("file")));
        get->setTemporaryFileDownloadPath(partial);
        get->setAllowResumeForFileDownloads(resume);
        get->startAsynchronous();
        ASSERT_TRUE(QTest::qWaitFor([&] { return get->totalBytesRead() == 300; }, 10000));
        get->cancel();
        ASSERT_TRUE(QTest::qWaitFor([&] { return get->isFinished(); }, 10000));
        settle();
        get.reset();
        EXPECT_EQ(QFileInfo(partial).size(), 300);
    }
    // A request released before it ever wrote leaves a file at its path alone.
    const QString owners = dir.filePath(QStringLiteral("owners"));
    writeFile(owners, "mine");
    {
        const auto unused = NXHTTPRequest::requestWithURL(server.url(QStringLiteral("/file")));
        unused->setDownloadDestinationPath(dir.filePath(QStringLiteral("file")));
        unused->setTemporaryFileDownloadPath(owners);
    }
    EXPECT_TRUE(QFile::exists(owners));
}

TEST_F(RequestTest, ATargetClearedBeforeDeliveryHearsNothing)
{
    server.route(QStringLiteral("/quick"), TestReply::text("quick"));
    Recorder delegate;
    Recorder queue;
    const auto get = NXHTTPRequest::requestWithURL(server.url(QStringLiteral("/quick")));
    get->setDelegate(&delegate);
    get->setQueue(&queue);
    get->startAsynchronous();
    // Wait without running the main thread's events, so that the finish
    // message is still waiting there when the delegate goes.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!get->isFinished() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_TRUE(get->isFinished());
    get->setDelegate(nullptr);
    settle();
    EXPECT_TRUE(delegate.events.isEmpty());
    EXPECT_EQ(queue.events.join(QLatin1Char(' ')), QStringLiteral("started headers finished"));
}

TEST_F(RequestTest, TheSharedQueueRunsAtMostFourAtATime)
{
    TestReply silent = TestReply::text(pattern(100));
    silent.stallAfter = 0;
    server.route(QStringLiteral("/held"), silent);
    std::atomic<int> executing { 0 };
    std::atomic<int> mostExecuting { 0 };
    Recorder recorder;
    std::vector<std::shared_ptr<NXHTTPRequest>> requests;
    for (int i = 0; i < 5; ++i) {
        auto held = request(QStringLiteral("/held"), &recorder);
        held->setTimeOutSeconds(0.3);
        held->addObserver([&](Operation& operation, Operation::State state) {
            if (state != Operation::State::Executing)
                return;
            const int now = operation.isExecuting() ? ++executing : --executing;
            mostExecuting = std::max(mostExecuting.load(), now);
        });
        requests.push_back(held);
    }
    for (const auto& held : requests)
        held->startAsynchronous();
    ASSERT_TRUE(recorder.waitFor("failed", 2 * 5));
    EXPECT_EQ(mostExecuting.load(), 4);
    EXPECT_EQ(server.requests().size(), 5);
    for (const auto& held : requests)
        EXPECT_EQ(held->error().code(), 2);
    settle();
    EXPECT_FALSE(NXHTTPRequest::isNetworkInUse());
}

TEST_F(RequestTest, StartingFailuresAreReportedLikeAnyOther)
{
    const auto identity = makeSelfSignedIdentity(QStringLiteral("untrusted"));
    ASSERT_TRUE(identity) << "openssl could not make a certificate";
    TestHttpServer secure;
    ASSERT_TRUE(secure.start(identity));
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing"));
    struct Case {
        QUrl url;
        int code;
        QString description; // %1: the underlying error's own text
        QString bodyFile = {};
        QString underlyingDomain = {}; // empty: none expected
    };
    const Case cases[] = {
        { QUrl(), 5, QStringLiteral("Unable to create request (bad url?)") },
        { QUrl(QStringLiteral("ftp://127.0.0.1/file")), 6,
            QStringLiteral("Unable to start HTTP connection") },
        { QUrl(QStringLiteral("http://127.0.0.1:1/")), 1,
            QStringLiteral("A connection failure occurred: %1"), {}, HttpError::transportDomain },
        { secure.url(QStringLiteral("/")), 1,
            QStringLiteral("A connection failure occurred: SSL problem (%1)"), {},
            HttpError::transportDomain },
        { server.url(QStringLiteral("/")), 8,
            QStringLiteral("Failed to get attributes for file at path '%1'").arg(missing), missing,
            QStringLiteral("FileSystemErrorDomain") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url.toString().toStdString());
        Recorder recorder;
        auto failing = NXHTTPRequest::requestWithURL(c.url);
        failing->setDelegate(&recorder);
        if (!c.bodyFile.isEmpty())
            failing->setPostBodyFilePath(c.bodyFile);
        failing->startAsynchronous();
        ASSERT_TRUE(recorder.waitFor("failed"));
        const HttpError failure = failing->error();
        const auto underlying = failure.underlyingError();
        EXPECT_EQ(failure.code(), c.code);
        EXPECT_EQ(failure.domain(), QStringLiteral("NXHTTPRequestErrorDomain"));
        EXPECT_EQ(underlying ? underlying->domain() : QString(), c.underlyingDomain);
        const QString cause = underlying ? underlying->localizedDescription() : QString();
        EXPECT_EQ(failure.localizedDescription(),
            c.description.contains(QLatin1String("%1")) ? c.description.arg(cause) : c.description);
        EXPECT_EQ(cause.isEmpty(), c.underlyingDomain.isEmpty());
    }
}

TEST_F(RequestTest, HeadersAreBuiltOnceWithRangeAgentAndCredentials)
{
    const QByteArray served = pattern(1200, 3);
    server.route(QStringLiteral("/h"), TestReply::text(served));
    QTemporaryDir dir;
    const QString partial = dir.filePath(QStringLiteral("part"));
    writeFile(partial, pattern(1000));
    PartialFileOrigin { QStringLiteral("\"h\""), {}, std::nullopt }.writeTo(partial);
    NXHTTPRequest::setDefaultUserAgentString(QStringLiteral("Agent 1.0"));
    const auto cookie = [](const char* name, const char* value, const char* domain) {
        QNetworkCookie made(name, value);
        made.setDomain(QString::fromLatin1(domain));
        made.setPath(QStringLiteral("/"));
        return made;
    };
    NXHTTPRequest::addSessionCookie(cookie("a", "1", "127.0.0.1"));
    NXHTTPRequest::addSessionCookie(cookie("elsewhere", "x", "example.org"));
    NXHTTPRequest::addSessionCookie(cookie("a", "2", "127.0.0.1")); // replaces a=1
    Recorder recorder;
    const auto get = request(QStringLiteral("/h"), &recorder);
    get->setDownloadDestinationPath(dir.filePath(QStringLiteral("file")));
    get->setTemporaryFileDownloadPath(partial);
    get->setAllowResumeForFileDownloads(true);
    get->setUsername(QStringLiteral("user"));
    get->setPassword(QStringLiteral("secret"));
    get->setAuthenticationScheme(QStringLiteral("Basic"));
    get->addRequestHeader(QStringLiteral("X-Mine"), QStringLiteral("kept"));
    get->startAsynchronous();
    ASSERT_TRUE(recorder.waitFor("finished"));
    ASSERT_EQ(server.requests().size(), 1);
    const TestRequest asked = server.requests().first();
    EXPECT_EQ(asked.header("Range"), "bytes=1000-");
    EXPECT_EQ(asked.header("User-Agent"), "Agent 1.0");
    // The partial file's bytes are uncoded: so must its continuation be.
    EXPECT_EQ(asked.header("Accept-Encoding"), "identity");
    EXPECT_EQ(asked.header("Authorization"), "Basic dXNlcjpzZWNyZXQ=");
    EXPECT_EQ(asked.header("X-Mine"), "kept");
    EXPECT_EQ(asked.header("Cookie"), "a=2");
    EXPECT_EQ(NXHTTPRequest::sessionCookies().size(), 2);
    NXHTTPRequest::clearSession();
    // A whole answer to the range, as long or longer, replaces what was on disk.
    EXPECT_EQ(get->partialDownloadSize(), 0u);
    EXPECT_EQ(get->responseString(), QString());
    EXPECT_EQ(fileBytes(dir.filePath(QStringLiteral("file"))), served);
    // Unless set, the agent names this system as Linux programs do, by the
    // machine's architecture.
    NXHTTPRequest::setDefaultUserAgentString(QString());
    utsname names {};
    ASSERT_EQ(::uname(&names), 0);
    const auto plain = request(QStringLiteral("/h"), &recorder);
    plain->startAsynchronous();
    ASSERT_TRUE(recorder.waitFor("finished", 4));
    const QString agent = QString::fromLatin1(server.requests().last().header("User-Agent"));
    EXPECT_TRUE(agent.startsWith(QCoreApplication::applicationName() + QLatin1Char(' ')));
    EXPECT_TRUE(agent.contains(QStringLiteral("(X11; Linux %1 ").arg(QLatin1String(names.machine))))
        << agent.toStdString();
}

TEST_F(RequestTest, EveryAnswerOfOneDownloadCountsItsSizeOnce)
{
    const QByteArray served = pattern(3000, 5);
    // Every piece is of the version the partial began with.
    const QByteArray tag = "\"p\"";
    const auto piece = [&](qsizetype from, qsizetype length, const QByteArray& total) {
        return withHeader(
            withHeader(TestReply::text(served.mid(from, length), 206), "Content-Range",
                "bytes " + QByteArray::number(from) + '-' + QByteArray::number(from + length - 1)
                    + '/' + total),
            "ETag", tag);
    };
    const auto fromOf = [](const TestRequest& asked) {
        const QByteArray range = asked.header("Range"); // "bytes=N-"
        return range.isEmpty() ? 0 : range.mid(6).chopped(1).toLongLong();
    };
    struct Case {
        const char* name;
        TestHttpServer::Handler answer;
    };
    const Case cases[] = {
        { "a piece of the wrong place, then the whole body",
            [&](const TestRequest& asked) {
                return asked.header("Range").isEmpty() ? TestReply::text(served)
                                                       : piece(5, 100, "3000");
            } },
        { "pieces of unknown length till a 416",
            [&](const TestRequest& asked) {
                const qsizetype from = fromOf(asked);
                return from >= served.size() ? TestReply::text("", 416) : piece(from, 1000, "*");
            } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.route(QStringLiteral("/sized"), c.answer);
        QTemporaryDir dir;
        const QString partial = dir.filePath(QStringLiteral("part"));
        writeFile(partial, served.left(1000));
        PartialFileOrigin { QString::fromLatin1(tag), {}, std::nullopt }.writeTo(partial);
        Recorder recorder;
        const auto get = request(QStringLiteral("/sized"), &recorder);
        get->setDownloadDestinationPath(dir.filePath(QStringLiteral("file")));
        get->setTemporaryFileDownloadPath(partial);
        get->setAllowResumeForFileDownloads(true);
        get->startAsynchronous();
        ASSERT_TRUE(recorder.waitFor("finished"));
        settle();
        EXPECT_EQ(fileBytes(dir.filePath(QStringLiteral("file"))), served);
        // Queue and download target each hear the size of the one file.
        EXPECT_EQ(recorder.downloadSize, 2 * served.size());
    }
}

TEST_F(RequestTest, RedirectsRestartAtTheNewAddressUpToFive)
{
    TestReply silent = TestReply::text("never");
    silent.stallAfter = 0;
    server.route(QStringLiteral("/silent"), silent);
    server.route(QStringLiteral("/ok"), TestReply::text("arrived"));
    for (const int redirects : { 1, 5, 6 }) {
        SCOPED_TRACE(redirects);
        Recorder recorder;
        const auto get = request(QStringLiteral("/silent"), &recorder);
        get->startAsynchronous();
        for (int i = 1; i <= redirects; ++i) {
            ASSERT_TRUE(recorder.waitFor("started", 2 * i));
            const bool last = i == redirects && redirects <= 5;
            get->redirectToURL(
                server.url(last ? QStringLiteral("/ok") : QStringLiteral("/silent")));
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return get->isFinished(); }, 10000));
        settle();
        if (redirects == 6) {
            EXPECT_EQ(get->error().code(), 9);
            EXPECT_EQ(recorder.count(QStringLiteral("started")), 2 * 6);
            continue;
        }
        EXPECT_TRUE(get->error().isNull());
        EXPECT_EQ(get->responseString(), QStringLiteral("arrived"));
        EXPECT_EQ(get->originalURL(), server.url(QStringLiteral("/silent")));
        EXPECT_EQ(get->redirectCount(), redirects);
    }
}

TEST_F(RequestTest, SynchronousAndHeadCompanionRequests)
{
    // The companion's HEAD is redirected with a 302, which keeps the method
    // under RFC 2616 behaviour.
    server.route(QStringLiteral("/s"), [](const TestRequest& asked) {
        return asked.method == "HEAD" ? redirect(302, "/t") : TestReply::text("synchronous");
    });
    server.route(QStringLiteral("/t"), TestReply::text("target"));
    Recorder recorder;
    const auto main = request(QStringLiteral("/s"), &recorder);
    main->addRequestHeader(QStringLiteral("X-Main"), QStringLiteral("1"));
    main->setShouldUseRFC2616RedirectBehaviour(true);
    main->startSynchronous();
    EXPECT_EQ(main->responseString(), QStringLiteral("synchronous"));
    EXPECT_TRUE(main->complete());
    EXPECT_FALSE(main->inProgress());

    Recorder quiet;
    const auto head = main->HEADRequest();
    head->setDelegate(&quiet);
    head->setQueue(&quiet);
    head->startAsynchronous();
    ASSERT_TRUE(QTest::qWaitFor([&] { return head->isFinished(); }, 10000));
    settle();
    EXPECT_TRUE(quiet.events.isEmpty());
    EXPECT_TRUE(head->error().isNull());
    EXPECT_EQ(head->responseStatusCode(), 200);
    EXPECT_TRUE(head->shouldUseRFC2616RedirectBehaviour());
    const TestRequest asked = server.requests().last();
    EXPECT_EQ(asked.target, "/t");
    EXPECT_EQ(asked.method, "HEAD");
    EXPECT_EQ(asked.header("X-Main"), "1");
}

TEST_F(RequestTest, ATrickledHeadKeepsTheRequestAliveUntilItsOwnLimit)
{
    // A head trickled one byte at a time takes several idle time-outs: the
    // idle time-out never comes, the head's own limit does when it is
    // shorter. The idle limit is made of the longest silence this machine
    // puts between trickled bytes right now, and the head of that limit and
    // the trickle's pace, which no load makes faster.
    using namespace std::chrono;
    constexpr int paceMs = 5;
    TestReply probe = TestReply::text("ok");
    probe.trickleMs = paceMs;
    server.route(QStringLiteral("/probe"), probe);
    const double idleSeconds = std::clamp(
        4 * duration<double>(longestSilence(server.url(QStringLiteral("/probe")))).count(), 0.25,
        10.0);
    const qsizetype padding = qsizetype(3 * idleSeconds * 1000 / paceMs);
    const double headSeconds = padding * paceMs / 1000.0;
    TestReply trickled = withHeader(probe, "X-Padding", QByteArray(padding, 'p'));
    server.route(QStringLiteral("/trickle"), trickled);
    struct Case {
        double headLimit;
        int error; // 0: the answer arrives
    };
    for (const Case c : { Case { 20 * headSeconds, 0 }, Case { headSeconds / 2, 2 } }) {
        SCOPED_TRACE(c.headLimit);
        Recorder recorder;
        const auto get = request(QStringLiteral("/trickle"), &recorder);
        get->setTimeOutSeconds(idleSeconds);
        get->setHeadTimeOutSeconds(c.headLimit);
        const auto started = steady_clock::now();
        get->startAsynchronous();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return get->isFinished(); }, std::max(15000, int(20000 * headSeconds))));
        EXPECT_EQ(get->error().code(), c.error)
            << get->error().localizedDescription().toStdString();
        EXPECT_EQ(get->responseStatusCode(), c.error == 0 ? 200 : 0);
        EXPECT_EQ(get->responseString(), c.error == 0 ? QStringLiteral("ok") : QString());
        // Whatever ended it came no sooner than the head's limit allows.
        if (c.error != 0) {
            EXPECT_GE(steady_clock::now() - started, duration<double>(c.headLimit));
        }
    }
}

TEST_F(RequestTest, ARefusedReplySaysWhichRuleItBroke)
{
    const auto raw = [](const QByteArray& head, const QByteArray& body) {
        TestReply reply;
        reply.raw = "HTTP/1.1 200 OK\r\n" + head + "Connection: close\r\n\r\n" + body;
        return reply;
    };
    struct Case {
        const char* name;
        TestReply reply;
        const char* rule;
    };
    const Case cases[] = {
        { "two lengths", raw("Content-Length: 2\r\nContent-Length: 3\r\n", "abc"),
            "Content-Length" },
        { "negative length", raw("Content-Length: -2\r\n", "ab"), "Content-Length" },
        { "hex length", raw("Content-Length: 0x2\r\n", "ab"), "Content-Length" },
        { "bad chunk size", raw("Transfer-Encoding: chunked\r\n", "zz\r\nab\r\n0\r\n\r\n"),
            "chunk size" },
        { "refused coding", raw("Transfer-Encoding: gzip\r\n", "ab"), "transfer coding" },
        { "NUL in a header", raw(QByteArray("X-A: a\0b\r\n", 10), "ab"), "header field" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = QStringLiteral("/") + QString::fromLatin1(c.name).replace(' ', '-');
        server.route(path, c.reply);
        Recorder recorder;
        const auto get = request(path, &recorder);
        get->startAsynchronous();
        ASSERT_TRUE(recorder.waitFor("failed"));
        const QString said = get->error().localizedDescription();
        EXPECT_TRUE(said.startsWith(QStringLiteral("The server's reply broke the rules of HTTP: ")))
            << said.toStdString();
        EXPECT_TRUE(said.contains(QLatin1String(c.rule))) << said.toStdString();
    }
}

TEST_F(RequestTest, HttpGetFollowsTheExitRuleItsUsageStates)
{
    const QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/tools/http-get");
    if (!QFileInfo(tool).isExecutable())
        GTEST_SKIP() << "http-get is not built";
    server.route(QStringLiteral("/ok"), TestReply::text("fine"));
    server.route(QStringLiteral("/gone"), TestReply::text("gone", 404));
    server.route(QStringLiteral("/guarded"),
        withHeader(TestReply::text("who are you", 401), "WWW-Authenticate", "Basic realm=\"x\""));
    server.route(QStringLiteral("/local"), redirect(302, "file:///etc/passwd"));
    server.route(QStringLiteral("/unchanged"), TestReply::text("", 304));
    QTemporaryDir dir;
    const auto exitCode = [&](const QStringList& arguments, QByteArray* output) {
        QProcess process;
        process.start(tool, arguments);
        EXPECT_TRUE(process.waitForFinished(20000));
        *output = process.readAllStandardOutput();
        return process.exitCode();
    };
    QByteArray output;
    EXPECT_EQ(exitCode({ QStringLiteral("--help") }, &output), 0);
    for (const char* rule :
        { "Exit status: 3 when the server answered with a status of 400 or above",
            "4 when the server redirected to an address that is not followed" })
        EXPECT_TRUE(output.simplified().contains(rule)) << output.toStdString();
    // A refused authentication is an error status like any other.
    for (const auto& [path, expected] : { std::pair("/ok", 0), std::pair("/gone", 3),
             std::pair("/guarded", 3), std::pair("/local", 4), std::pair("/unchanged", 4) }) {
        const QString file = dir.filePath(QString::fromLatin1(path + 1));
        const QStringList arguments { server.url(QString::fromLatin1(path)).toString(),
            QStringLiteral("--output"), file };
        EXPECT_EQ(exitCode(arguments, &output), expected) << path << "\n" << output.toStdString();
        EXPECT_EQ(QFile::exists(file), expected == 0) << path;
    }
    // A redirect that is followed is no answer: a next hop that fails is the
    // outcome. A 416 that finds the partial whole finishes it; a piece that
    // stops before the end finishes nothing, and stays in the partial.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QUrl nowhere = QUrl(QStringLiteral("http://127.0.0.1:%1/gone").arg(closed.serverPort()));
    closed.close();
    server.route(QStringLiteral("/hop"), redirect(302, nowhere.toEncoded()));
    server.route(QStringLiteral("/whole"), [](const TestRequest& asked) {
        return asked.header("Range") == "bytes=4-"
            ? withHeader(TestReply::text("", 416), "Content-Range", "bytes */4")
            : TestReply::text("fine");
    });
    // The partial began under the tag "t", which every piece of it carries.
    const QByteArray tag = "\"t\"";
    server.route(QStringLiteral("/capped"), [&](const TestRequest& asked) {
        return asked.header("Range") == "bytes=4-"
            ? withHeader(withHeader(TestReply::text("more", 206), "Content-Range", "bytes 4-7/12"),
                "ETag", tag)
            : TestReply::text("finemorerest");
    });
    // A page shorter than the partial, or an answer with no body, is not the file.
    server.route(QStringLiteral("/login"), TestReply::text("in?"));
    server.route(QStringLiteral("/empty"), TestReply::text("", 204));
    server.route(QStringLiteral("/reset"), TestReply::text("reset", 205));
    // Pieces of a body whose length the server does not give, till a 416.
    server.route(QStringLiteral("/open"), [&](const TestRequest& asked) {
        const QByteArray whole = "finemorerest";
        const qsizetype from = asked.header("Range").mid(6).chopped(1).toLongLong();
        if (from >= whole.size())
            return withHeader(TestReply::text("", 416), "Content-Range", "bytes */*");
        return withHeader(
            withHeader(TestReply::text(whole.mid(from, 4), 206), "Content-Range",
                "bytes " + QByteArray::number(from) + '-' + QByteArray::number(from + 3) + "/*"),
            "ETag", tag);
    });
    struct Resumed {
        const char* path;
        int expected;
        QByteArray partialAfter;
        QByteArray fileAfter;
    };
    const Resumed resumed[] = { { "/hop", 1, "fine", "<missing>" },
        { "/whole", 0, "<missing>", "fine" }, { "/capped", 1, "finemore", "<missing>" },
        { "/login", 1, "fine", "<missing>" }, { "/empty", 1, "fine", "<missing>" },
        { "/reset", 1, "fine", "<missing>" }, { "/open", 0, "<missing>", "finemorerest" } };
    for (const auto& [path, expected, partialAfter, fileAfter] : resumed) {
        const QString file = dir.filePath(QString::fromLatin1(path + 1));
        writeFile(file + QStringLiteral(".part"), "fine");
        PartialFileOrigin { QString::fromLatin1(tag), {}, std::nullopt }.writeTo(
            file + QStringLiteral(".part"));
        const QStringList arguments { server.url(QString::fromLatin1(path)).toString(),
            QStringLiteral("--output"), file, QStringLiteral("--resume") };
        EXPECT_EQ(exitCode(arguments, &output), expected) << path << "\n" << output.toStdString();
        EXPECT_EQ(fileBytes(file), fileAfter) << path;
        EXPECT_EQ(fileBytes(file + QStringLiteral(".part")), partialAfter) << path;
    }
    // A pipe nobody reads is no destination, and a file is never replaced:
    // refused before anything is asked.
    const QString pipe = dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString taken = dir.filePath(QStringLiteral("taken"));
    writeFile(taken, "mine");
    for (const QString& there : { pipe, taken }) {
        const qsizetype asked = server.requests().size();
        EXPECT_EQ(exitCode({ server.url(QStringLiteral("/ok")).toString(),
                               QStringLiteral("--output"), there },
                      &output),
            2);
        EXPECT_EQ(server.requests().size(), asked);
    }
    EXPECT_EQ(fileBytes(taken), "mine");
}

TEST_F(RequestTest, HttpGetCountsTheBytesOfEveryAnswerItsRunReceived)
{
    const QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/tools/http-get");
    if (!QFileInfo(tool).isExecutable())
        GTEST_SKIP() << "http-get is not built";
    // The first answer is cut after 40,000 bytes; the retry on a new
    // connection gets what the case says.
    const QByteArray whole = pattern(100000);
    const QByteArray tag = "\"t\"";
    struct Case {
        const char* name;
        std::function<TestReply(const TestRequest&)> retried;
        const char* printed;
    };
    const Case cases[] = {
        { "the rest",
            [&](const TestRequest&) {
                return withHeader(withHeader(TestReply::text(whole.mid(40000), 206),
                                      "Content-Range", "bytes 40000-99999/100000"),
                    "ETag", tag);
            },
            "bytes: 100000\n" },
        { "all of it again",
            [&](const TestRequest&) { return withHeader(TestReply::text(whole), "ETag", tag); },
            "bytes: 140000\n" },
        { "nothing", [](const TestRequest&) { return TestReply::text("", 503); },
            "bytes: 40000\n" },
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = QStringLiteral("/") + QString::fromLatin1(c.name).replace(' ', '-');
        int answers = 0;
        server.route(path, [&](const TestRequest& asked) {
            if (++answers > 1)
                return c.retried(asked);
            TestReply first = withHeader(TestReply::text(whole), "ETag", tag);
            first.cutAfter = 40000;
            return first;
        });
        QProcess run;
        run.start(tool,
            { server.url(path).toString(), QStringLiteral("--output"), dir.filePath(path.mid(1)),
                QStringLiteral("--resume") });
        ASSERT_TRUE(run.waitForFinished(20000));
        const QByteArray printed = run.readAllStandardOutput();
        EXPECT_TRUE(printed.contains(c.printed)) << printed.toStdString();
        EXPECT_EQ(answers, 2);
    }
}

TEST_F(RequestTest, HttpGetRunsIntoOnePartialOneAtATimeAndLeaveNothingWhenKilled)
{
    const QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/tools/http-get");
    if (!QFileInfo(tool).isExecutable())
        GTEST_SKIP() << "http-get is not built";
    const QByteArray whole = pattern(200000);
    std::atomic<bool> honest { false }; // read on the server's thread
    // Till it is honest, the range gets all of the file, which stalls before
    // it holds more than the partial: it is written beside it.
    server.route(QStringLiteral("/held"), [&](const TestRequest& asked) {
        const QByteArray range = asked.header("Range"); // "bytes=N-", or none
        const qsizetype from = range.isEmpty() ? 0 : range.mid(6).chopped(1).toLongLong();
        if (!honest || from == 0) {
            TestReply reply = TestReply::text(whole);
            reply.stallAfter = honest ? -1 : 50000;
            return reply;
        }
        return withHeader(TestReply::text(whole.mid(from), 206), "Content-Range",
            "bytes " + QByteArray::number(from) + "-199999/200000");
    });
    QTemporaryDir dir;
    // Here, and where no extended attribute (so no owner mark) can be kept.
    QStringList folders { dir.filePath(QStringLiteral("here")) };
    const QString ramfs = dir.filePath(QStringLiteral("ramfs"));
    ASSERT_TRUE(QDir().mkpath(folders[0]) && QDir().mkpath(ramfs));
    const QByteArray point = QFile::encodeName(ramfs);
    const bool mounted
        = ::geteuid() == 0 && ::mount("ramfs", point.constData(), "ramfs", 0, nullptr) == 0;
    const std::shared_ptr<void> unmount(nullptr, [&](void*) {
        if (mounted)
            ::umount2(point.constData(), MNT_DETACH);
    });
    if (mounted)
        folders << ramfs;
    else
        std::cout << "a file system without extended attributes needs root and a ramfs mount\n";
    // A short name, and one whose partial's name (233 bytes) leaves no room
    // for all of it in the name of a body beside it.
    const QString longName(76, QChar(0x65E5));
    QList<std::pair<QString, QString>> places;
    for (const QString& folder : folders)
        places << std::pair(folder, QStringLiteral("held")) << std::pair(folder, longName);
    for (const auto& [folder, fileName] : places) {
        SCOPED_TRACE(folder.toStdString() + " " + fileName.toStdString());
        honest = false;
        const QString file = QDir(folder).filePath(fileName);
        writeFile(file + QStringLiteral(".part"), whole.left(100000));
        const QStringList arguments { server.url(QStringLiteral("/held")).toString(),
            QStringLiteral("--output"), file, QStringLiteral("--resume") };
        const auto hidden = [&] {
            return QDir(folder).entryList(
                { QStringLiteral(".*.download") }, QDir::Files | QDir::Hidden);
        };
        // Killed three times while it writes beside the partial: each run
        // removes the body an ended one left, and leaves its own.
        QStringList left;
        for (int killed = 1; killed <= 3; ++killed) {
            SCOPED_TRACE(killed);
            QProcess run;
            run.start(tool, arguments);
            QString written;
            ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    for (const QString& name : hidden()) {
                        if (!left.contains(name)
                            && QFileInfo(QDir(folder).filePath(name)).size() > 0)
                            written = name;
                    }
                    return !written.isEmpty();
                },
                20000));
            if (killed == 1) {
                // A second run into the same partial fails at once and asks nothing.
                const qsizetype asked = server.requests().size();
                QProcess second;
                second.start(tool, arguments);
                ASSERT_TRUE(second.waitForFinished(20000));
                EXPECT_EQ(second.exitCode(), 1);
                const QByteArray said = second.readAllStandardOutput();
                EXPECT_TRUE(said.contains("Another download is fetching into"))
                    << said.toStdString();
                EXPECT_EQ(server.requests().size(), asked);
                EXPECT_EQ(fileBytes(file + QStringLiteral(".part")), whole.left(100000));
            }
            run.kill();
            ASSERT_TRUE(run.waitForFinished(20000));
            EXPECT_EQ(hidden(), QStringList { written });
            left << written;
        }
        honest = true;
        QProcess last;
        last.start(tool, arguments);
        ASSERT_TRUE(last.waitForFinished(20000));
        EXPECT_EQ(last.exitCode(), 0) << last.readAllStandardOutput().toStdString();
        EXPECT_EQ(fileBytes(file), whole);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList { fileName });
        QFile::remove(file);
    }
}

TEST(RequestServices, SessionCredentialsPreferTheExactAddress)
{
    const auto record = [](const char* url, const char* user, const char* realm) {
        return QVariantMap {
            { QStringLiteral("URL"), QUrl(QString::fromLatin1(url)) },
            { QStringLiteral("AuthenticationRealm"), QString::fromLatin1(realm) },
            { QStringLiteral("Credentials"),
                QVariantMap { { QStringLiteral("Username"), QString::fromLatin1(user) },
                    { QStringLiteral("Password"), QStringLiteral("pw") } } },
        };
    };
    NXHTTPRequest::clearSession();
    NXHTTPRequest::storeAuthenticationCredentialsInSessionStore(
        record("http://h/other", "near", "R"));
    NXHTTPRequest::storeAuthenticationCredentialsInSessionStore(
        record("http://h/page", "exact", "R"));
    NXHTTPRequest::storeAuthenticationCredentialsInSessionStore(
        record("http://h:81/page", "port", "R"));
    struct Case {
        const char* url;
        const char* realm;
        const char* expectedUser; // empty: none found
    };
    const Case cases[] = {
        { "http://h/page", "", "exact" },
        { "http://h/elsewhere", "", "near" },
        { "http://h:81/x", "", "port" },
        { "https://h/page", "", "" },
        { "http://h/page", "other realm", "" },
    };
    for (const Case& c : cases) {
        NXHTTPRequest asking { QUrl(QString::fromLatin1(c.url)) };
        asking.setAuthenticationRealm(QString::fromLatin1(c.realm));
        const auto found = asking.findSessionAuthenticationCredentials();
        const QString user = found ? found->value(QStringLiteral("Credentials"))
                                         .toMap()
                                         .value(QStringLiteral("Username"))
                                         .toString()
                                   : QString();
        EXPECT_EQ(user, QLatin1String(c.expectedUser)) << c.url << " " << c.realm;
    }
    NXHTTPRequest::clearSession();
    EXPECT_TRUE(NXHTTPRequest::sessionCredentialsStore().isEmpty());
}

TEST(RequestServices, UploadReadLengthFollowsTheBandwidthWindow)
{
    auto clock = std::make_shared<NXHTTPRequest::TimePoint>(std::chrono::steady_clock::now());
    NXHTTPRequest::setClock([clock] { return *clock; });
    NXHTTPRequest::setMaxBandwidthPerSecond(1000);
    // Two windows later: a fresh window, whatever earlier tests used.
    *clock += std::chrono::seconds(2);
    NXHTTPRequest::measureBandwidthUsage();
    *clock += std::chrono::seconds(2);
    NXHTTPRequest::measureBandwidthUsage();
    ASSERT_EQ(NXHTTPRequest::averageBandwidthUsedPerSecond(), 0u);
    struct Step {
        unsigned long used;
        unsigned long expected;
    };
    // A quarter of the maximum, less when the window is nearly used, none
    // once it is used up.
    for (const Step& step : { Step { 0, 250 }, Step { 800, 200 }, Step { 300, 0 } }) {
        NXHTTPRequest::incrementBandwidthUsedInLastSecond(step.used);
        EXPECT_EQ(NXHTTPRequest::maxUploadReadLength(), step.expected) << step.used;
    }
    EXPECT_TRUE(NXHTTPRequest::isBandwidthThrottled());
    // The 1100 bytes of this window join the average once it has passed.
    *clock += std::chrono::milliseconds(1500);
    NXHTTPRequest::measureBandwidthUsage();
    EXPECT_EQ(NXHTTPRequest::averageBandwidthUsedPerSecond(), 1100u);
    NXHTTPRequest::setMaxBandwidthPerSecond(0);
    NXHTTPRequest::setClock({});
}

TEST(RequestServices, TextUtilities)
{
    const QDateTime expected(QDate(1994, 11, 6), QTime(8, 49, 37), Qt::UTC);
    EXPECT_EQ(NXHTTPRequest::dateFromRFC1123String(QStringLiteral("Sun, 06 Nov 1994 08:49:37 GMT")),
        expected);
    EXPECT_EQ(NXHTTPRequest::dateFromRFC1123String(QStringLiteral("06 Nov 1994 08:49 GMT")),
        QDateTime(QDate(1994, 11, 6), QTime(8, 49), Qt::UTC));
    EXPECT_FALSE(NXHTTPRequest::dateFromRFC1123String(QStringLiteral("yesterday")).isValid());

    struct Case {
        const char* contentType;
        const char* mime;
        const char* encoding;
    };
    const Case cases[] = {
        { "text/html; charset=utf-8", "text/html", "utf-8" },
        { "text/html", "text/html", "unchanged" },
        { "text/plain; charset=no-such-set", "text/plain", "unchanged" },
        { " application/json ;charset=ISO-8859-1; q=1", "application/json", "ISO-8859-1" },
    };
    for (const Case& c : cases) {
        QString mime;
        QString encoding = QStringLiteral("unchanged");
        NXHTTPRequest::parseMimeType(&mime, &encoding, QString::fromLatin1(c.contentType));
        EXPECT_EQ(mime, QLatin1String(c.mime)) << c.contentType;
        EXPECT_EQ(encoding, QLatin1String(c.encoding)) << c.contentType;
    }
}

#include "NXHTTPRequestTest.moc"

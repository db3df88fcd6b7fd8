#include "http/NXHTTPRequest.h"
#include "http/NXHTTPRequestState.h"

#include "http/PartialFileOrigin.h"

#include "RequestTestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QNetworkCookie>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

namespace {

// Files left in a folder, hidden ones included.
QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// The strong tag a server that keeps its versions apart gives `whole`.
QByteArray tagOf(const QByteArray& whole)
{
    return '"' + QCryptographicHash::hash(whole, QCryptographicHash::Md5).toHex().left(16) + '"';
}

// Serves `whole` under its tag, honouring "Range: bytes=N-" with a 206.
TestReply rangedReply(const TestRequest& asked, const QByteArray& whole)
{
    static const QRegularExpression form(QStringLiteral("^bytes=(\\d+)-$"));
    const auto match = form.match(QString::fromLatin1(asked.header("Range")));
    if (!match.hasMatch())
        return withHeader(TestReply::text(whole), "ETag", tagOf(whole));
    const qsizetype from = match.captured(1).toLongLong();
    TestReply reply = withHeader(TestReply::text(whole.mid(from), 206), "Content-Range",
        "bytes " + QByteArray::number(from) + '-' + QByteArray::number(whole.size() - 1) + '/'
            + QByteArray::number(whole.size()));
    reply.reason = "Partial Content";
    return withHeader(reply, "ETag", tagOf(whole));
}

// The same reply, tagged as a piece of `whole` when it is a piece without a tag.
TestReply tagPiece(TestReply reply, const QByteArray& whole)
{
    const bool tagged = std::any_of(reply.headers.cbegin(), reply.headers.cend(),
        [](const auto& header) { return header.first == "ETag"; });
    return reply.status == 206 && !tagged ? withHeader(reply, "ETag", tagOf(whole)) : reply;
}

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start());
        ASSERT_TRUE(dir.isValid());
    }

    std::shared_ptr<NXHTTPRequest> fileRequest(const QString& path)
    {
        auto made = NXHTTPRequest::requestWithURL(server.url(path));
        made->setDownloadDestinationPath(destination());
        made->setTemporaryFileDownloadPath(partial());
        made->setAllowResumeForFileDownloads(true);
        return made;
    }

    static void run(const std::shared_ptr<NXHTTPRequest>& request)
    {
        request->startAsynchronous();
        ASSERT_TRUE(QTest::qWaitFor([&] { return request->isFinished(); }, 20000));
        settle();
    }

    QString destination() const { return dir.filePath(QStringLiteral("file")); }
    QString partial() const { return dir.filePath(QStringLiteral("file.part")); }

    // A partial of `whole` as an earlier run left it, under the tag the
    // server gave then.
    void writePartial(const QByteArray& bytes, const QByteArray& whole) const
    {
        writeFile(partial(), bytes);
        PartialFileOrigin { QString::fromLatin1(tagOf(whole)), {}, std::nullopt }.writeTo(
            partial());
    }

    TestHttpServer server;
    QTemporaryDir dir;
};

} // namespace

TEST_F(DownloadTest, APartialFileIsContinuedOnlyByAnAnswerThatFitsIt)
{
    const QByteArray whole = pattern(3000);
    const QByteArray onDisk = whole.left(1000);
    struct Case {
        const char* name;
        std::function<TestReply(const TestRequest&)> rangedAnswer;
        int status;
        QByteArray destination; // empty: none is made
        QByteArray partialAfter; // empty: no partial file is left
        int requests;
    };
    const auto withRange = [](int status, const QByteArray& range, const QByteArray& body) {
        return withHeader(TestReply::text(body, status), "Content-Range", range);
    };
    const Case cases[] = {
        { "206 at the partial size", [&](const TestRequest& r) { return rangedReply(r, whole); },
            206, whole, {}, 1 },
        { "whole body instead", [&](const TestRequest&) { return TestReply::text(whole); }, 200,
            whole, {}, 1 },
        { "416, nothing left",
            [&](const TestRequest&) { return withRange(416, "bytes */1000", "no range"); }, 416,
            onDisk, {}, 1 },
        { "416, file changed",
            [&](const TestRequest&) { return withRange(416, "bytes */3000", "no range"); }, 200,
            whole, {}, 2 },
        { "206 elsewhere",
            [&](const TestRequest&) {
                return withRange(206, "bytes 500-2999/3000", whole.mid(500));
            },
            200, whole, {}, 2 },
        { "not found", [](const TestRequest&) { return TestReply::text("gone", 404); }, 404, {},
            onDisk, 1 },
        { "forbidden", [](const TestRequest&) { return TestReply::text("no", 403); }, 403, {},
            onDisk, 1 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = QStringLiteral("/") + QString::fromLatin1(c.name).replace(' ', '-');
        server.route(path, [&](const TestRequest& asked) {
            return asked.header("Range").isEmpty() ? TestReply::text(whole) : c.rangedAnswer(asked);
        });
        writePartial(onDisk, whole);
        QFile::remove(destination());
        const int before = int(server.requests().size());
        const auto get = fileRequest(path);
        run(get);
        EXPECT_TRUE(get->error().isNull()) << get->error().localizedDescription().toStdString();
        EXPECT_EQ(get->responseStatusCode(), c.status);
        EXPECT_EQ(QFile::exists(destination()), !c.destination.isEmpty());
        if (!c.destination.isEmpty()) {
            EXPECT_EQ(fileBytes(destination()), c.destination);
        }
        EXPECT_EQ(QFile::exists(partial()), !c.partialAfter.isEmpty());
        if (!c.partialAfter.isEmpty()) {
            EXPECT_EQ(fileBytes(partial()), c.partialAfter);
        }
        EXPECT_EQ(int(server.requests().size()) - before, c.requests);
        EXPECT_EQ(server.requests()[before].header("Range"), "bytes=1000-");
        EXPECT_EQ(filesIn(dir.path()).size(),
            c.destination.size() + c.partialAfter.size() > 0
                ? qsizetype(!c.destination.isEmpty() + !c.partialAfter.isEmpty())
                : 0);
    }
    // A file made at the destination meanwhile is never replaced: the request
    // fails and the whole body stays in the partial file for a later try.
    server.route(QStringLiteral("/taken"), TestReply::text(whole));
    writeFile(destination(), "mine");
    QFile::remove(partial());
    const auto taken = fileRequest(QStringLiteral("/taken"));
    run(taken);
    EXPECT_EQ(taken->error().code(), 8);
    EXPECT_TRUE(taken->error().localizedDescription().endsWith("a file of that name is there"));
    EXPECT_EQ(fileBytes(destination()), "mine");
    EXPECT_EQ(fileBytes(partial()), whole);
}

TEST_F(DownloadTest, ACutDownloadIsRetriedOnceThenResumedByANewRequest)
{
    const QByteArray whole = pattern(20 * 1024 * 1024);
    int answered = 0;
    server.route(QStringLiteral("/big"), [&](const TestRequest& asked) {
        TestReply reply = rangedReply(asked, whole);
        // The first answer and its silent retry are both cut short.
        if (++answered <= 2)
            reply.cutAfter = 6 * 1024 * 1024;
        return reply;
    });
    const auto first = fileRequest(QStringLiteral("/big"));
    run(first);
    EXPECT_EQ(first->error().code(), 1);
    EXPECT_EQ(first->retryCount(), 1);
    EXPECT_EQ(QFileInfo(partial()).size(), 12 * 1024 * 1024);
    EXPECT_FALSE(QFile::exists(destination()));

    const auto again = first->copyWithZone();
    EXPECT_EQ(again->downloadDestinationPath(), destination());
    EXPECT_EQ(again->responseStatusCode(), 0);
    EXPECT_EQ(again->retryCount(), 0);
    run(again);
    EXPECT_TRUE(again->error().isNull());
    EXPECT_EQ(again->responseStatusCode(), 206);
    EXPECT_EQ(again->partialDownloadSize(), 12u * 1024 * 1024);
    const auto digest = [](const QByteArray& bytes) {
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    };
    EXPECT_EQ(digest(fileBytes(destination())), digest(whole));
    EXPECT_FALSE(QFile::exists(partial()));
    const QList<TestRequest> asked = server.requests();
    ASSERT_EQ(asked.size(), 3);
    EXPECT_EQ(asked[0].header("Range"), "");
    EXPECT_EQ(asked[1].header("Range"), "bytes=6291456-");
    EXPECT_EQ(asked[2].header("Range"), "bytes=12582912-");
}

TEST_F(DownloadTest, AResetConnectionIsRetriedOnce)
{
    for (const int resets : { 1, 2 }) {
        SCOPED_TRACE(resets);
        int answered = 0;
        const QString path = QStringLiteral("/reset%1").arg(resets);
        server.route(path, [&](const TestRequest&) {
            TestReply reply = TestReply::text("fine");
            if (++answered <= resets) {
                reply.cutAfter = 0;
                reply.reset = true;
            }
            return reply;
        });
        const auto get = NXHTTPRequest::requestWithURL(server.url(path));
        run(get);
        EXPECT_EQ(answered, 2);
        if (resets == 1) {
            EXPECT_TRUE(get->error().isNull());
            EXPECT_EQ(get->responseString(), QStringLiteral("fine"));
        } else {
            EXPECT_EQ(get->error().code(), 1);
        }
    }
}

TEST_F(DownloadTest, ContentCodingsAreDecodedWhateverTheirCase)
{
    const QByteArray plain = pattern(600000);
    const auto coded = [](const QByteArray& body, const QByteArray& coding) {
        return withHeader(TestReply::text(body), "Content-Encoding", coding);
    };
    struct Coding {
        QByteArray name;
        int windowBits; // 31 gzip, 15 zlib-wrapped, -15 raw deflate
    };
    const Coding codings[] = { { "gzip", 31 }, { "GZIP", 31 }, { "x-gzip", 31 }, { "deflate", 15 },
        { "Deflate", -15 } };
    for (const Coding& coding : codings) {
        server.route(
            QStringLiteral("/coded"), coded(deflated(plain, coding.windowBits), coding.name));
        // Kept as it came and decoded at the end.
        for (const bool toFile : { false, true }) {
            SCOPED_TRACE((coding.name + (toFile ? " to file" : " to memory")).toStdString());
            QFile::remove(destination());
            const auto get = NXHTTPRequest::requestWithURL(server.url(QStringLiteral("/coded")));
            if (toFile)
                get->setDownloadDestinationPath(destination());
            run(get);
            EXPECT_TRUE(get->error().isNull()) << get->error().localizedDescription().toStdString();
            EXPECT_EQ(toFile ? fileBytes(destination()) : get->responseData(), plain);
            EXPECT_EQ(filesIn(dir.path()),
                toFile ? QStringList { QStringLiteral("file") } : QStringList {});
        }
    }
    // A coding nobody here decodes fails; its raw bytes stay only in memory
    // kept as they came, and no file is left anywhere.
    const QByteArray unknown = "bytes in a coding of its own";
    server.route(QStringLiteral("/unknown"), coded(unknown, "br"));
    for (const bool toFile : { false, true }) {
        SCOPED_TRACE(toFile);
        writeFile(destination(), "old");
        const auto get = NXHTTPRequest::requestWithURL(server.url(QStringLiteral("/unknown")));
        if (toFile)
            get->setDownloadDestinationPath(destination());
        run(get);
        EXPECT_EQ(get->error().code(), 11);
        EXPECT_EQ(get->error().localizedDescription(),
            QStringLiteral(
                "Decompression of data failed because the content coding 'br' is not supported"));
        EXPECT_EQ(get->rawResponseData(), toFile ? QByteArray() : unknown);
        EXPECT_EQ(get->responseData(), QByteArray());
        EXPECT_EQ(fileBytes(destination()), "old");
        EXPECT_EQ(filesIn(dir.path()), QStringList { QStringLiteral("file") });
    }
    const QByteArray packed = deflated(plain, 31);
    server.route(QStringLiteral("/broken"), coded("plain text, not gzip", "gzip"));
    // Bytes that do not inflate: the destination does not change, and no
    // partial file is left for a later range to continue.
    writeFile(destination(), "old");
    const auto get = fileRequest(QStringLiteral("/broken"));
    run(get);
    EXPECT_EQ(get->error().code(), 11);
    EXPECT_EQ(fileBytes(destination()), "old");
    EXPECT_FALSE(QFile::exists(partial()));
    // Fetched again from where it is served uncoded, ranges honoured: it comes whole.
    server.route(QStringLiteral("/uncoded"),
        [&](const TestRequest& asked) { return rangedReply(asked, plain); });
    QFile::remove(destination());
    const auto again = fileRequest(QStringLiteral("/uncoded"));
    run(again);
    EXPECT_TRUE(again->error().isNull()) << again->error().localizedDescription().toStdString();
    EXPECT_EQ(fileBytes(destination()), plain);
    // A gzip body whose stream is cut short fails.
    server.route(QStringLiteral("/cut"), coded(packed.left(packed.size() - 8), "gzip"));
    writeFile(destination(), "old");
    const auto cutGet = fileRequest(QStringLiteral("/cut"));
    cutGet->setAllowResumeForFileDownloads(false);
    run(cutGet);
    EXPECT_EQ(cutGet->error().code(), 11);
    EXPECT_EQ(fileBytes(destination()), "old");
    // Kept in memory, such a body fails as well instead of reading as nothing.
    for (const char* path : { "/broken", "/cut" }) {
        const auto inMemory = NXHTTPRequest::requestWithURL(server.url(QLatin1String(path)));
        run(inMemory);
        EXPECT_EQ(inMemory->error().code(), 11) << path;
    }
}

TEST_F(DownloadTest, AHiddenPartialFileStaysOnlyForAResume)
{
    const QByteArray whole = pattern(1000);
    server.route(QStringLiteral("/slow"), [&](const TestRequest& asked) {
        TestReply reply = rangedReply(asked, whole);
        if (asked.header("Range").isEmpty())
            reply.stallAfter = 300;
        return reply;
    });
    struct Case {
        const char* what;
        bool resume;
        bool timeOut;
    };
    for (const Case& c : { Case { "cancel", false, false }, Case { "time-out", false, true },
             Case { "cancel-resume", true, false } }) {
        SCOPED_TRACE(c.what);
        const QString folder = dir.filePath(QString::fromLatin1(c.what));
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString file = QDir(folder).filePath(QStringLiteral("file"));
        const auto get = NXHTTPRequest::requestWithURL(server.url(QStringLiteral("/slow")));
        get->setDownloadDestinationPath(file);
        get->setAllowResumeForFileDownloads(c.resume);
        get->setTimeOutSeconds(c.timeOut ? 0.3 : 10);
        get->startAsynchronous();
        ASSERT_TRUE(QTest::qWaitFor([&] { return get->totalBytesRead() == 300; }, 10000));
        if (!c.timeOut)
            get->cancel();
        ASSERT_TRUE(QTest::qWaitFor([&] { return get->isFinished(); }, 10000));
        settle();
        EXPECT_EQ(get->error().code(), c.timeOut ? 2 : 4);
        const QStringList left = filesIn(folder);
        if (!c.resume) {
            EXPECT_EQ(left, QStringList());
            continue;
        }
        ASSERT_EQ(left.size(), 1);
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\.file\\..+\\.download$"))
                        .match(left[0])
                        .hasMatch())
            << left[0].toStdString();
        // The next request continues it from where the first stopped.
        const auto again = get->copyWithZone();
        run(again);
        EXPECT_TRUE(again->error().isNull());
        EXPECT_EQ(server.requests().last().header("Range"), "bytes=300-");
        EXPECT_EQ(fileBytes(file), whole);
        EXPECT_EQ(filesIn(folder), QStringList { QStringLiteral("file") });
    }
}

TEST_F(DownloadTest, ACookieTheServerDeletesIsNeverSentAgain)
{
    NXHTTPRequest::clearSession();
    server.route(
        QStringLiteral("/set"), withHeader(TestReply::text("set"), "Set-Cookie", "kept=1; Path=/"));
    server.route(QStringLiteral("/ask"), TestReply::text("asked"));
    for (const QByteArray& deletion : { QByteArray("kept=; Max-Age=0; Path=/"),
             QByteArray("kept=; Expires=Thu, 01 Jan 1970 00:00:00 GMT; Path=/") }) {
        SCOPED_TRACE(deletion.toStdString());
        server.route(QStringLiteral("/delete"),
            withHeader(TestReply::text("deleted"), "Set-Cookie", deletion));
        for (const char* path : { "/set", "/delete", "/ask" })
            run(NXHTTPRequest::requestWithURL(server.url(QString::fromLatin1(path))));
        const QList<TestRequest> asked = server.requests();
        ASSERT_GE(asked.size(), 3);
        EXPECT_EQ(asked[asked.size() - 2].header("Cookie"), "kept=1");
        EXPECT_EQ(asked.last().header("Cookie"), "");
        EXPECT_TRUE(NXHTTPRequest::sessionCookies().isEmpty());
    }
    NXHTTPRequest::clearSession();
}

TEST_F(DownloadTest, APipeDestinationIsWrittenToAndNeverReplaced)
{
    const QByteArray body = pattern(300000);
    server.route(QStringLiteral("/pipe"), TestReply::text(body));
    for (const bool givenPartial : { false, true }) {
        SCOPED_TRACE(givenPartial);
        const QString pipe = dir.filePath(QStringLiteral("pipe"));
        ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        QByteArray drained;
        std::thread reader([&] {
            QFile end(pipe);
            if (end.open(QIODevice::ReadOnly))
                drained = end.readAll();
        });
        const auto get = NXHTTPRequest::requestWithURL(server.url(QStringLiteral("/pipe")));
        get->setDownloadDestinationPath(pipe);
        if (givenPartial)
            get->setTemporaryFileDownloadPath(partial());
        run(get);
        reader.join();
        EXPECT_TRUE(get->error().isNull());
        EXPECT_EQ(drained, body);
        struct stat status { };
        ASSERT_EQ(::stat(QFile::encodeName(pipe).constData(), &status), 0);
        EXPECT_TRUE(S_ISFIFO(status.st_mode));
        EXPECT_EQ(filesIn(dir.path()), QStringList { QStringLiteral("pipe") });
        QFile::remove(pipe);
    }
}

TEST_F(DownloadTest, RedirectsChangeMethodAsTheStatusSays)
{
    struct Case {
        int status;
        bool rfc2616;
        QByteArray sent;
        QByteArray method; // of the redirected request
    };
    // Only a POST turns into a GET on 301 and 302, anything but HEAD on 303; a
    // request that keeps its method keeps its headers (and its body).
    const Case cases[] = {
        { 302, false, "POST", "GET" },
        { 301, false, "POST", "GET" },
        { 303, true, "POST", "GET" },
        { 302, true, "POST", "POST" },
        { 307, false, "POST", "POST" },
        { 308, false, "POST", "POST" },
        { 301, false, "PUT", "PUT" },
        { 308, false, "GET", "GET" },
        { 302, false, "GET", "GET" },
        { 303, false, "GET", "GET" },
        { 302, false, "HEAD", "HEAD" },
        { 303, false, "HEAD", "HEAD" },
    };
    server.route(QStringLiteral("/to"), TestReply::text("arrived"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        SCOPED_TRACE(c.sent.toStdString());
        SCOPED_TRACE(c.rfc2616);
        server.route(QStringLiteral("/from"), redirect(c.status, "/to"));
        const auto request = NXHTTPRequest::requestWithURL(server.url(QStringLiteral("/from")));
        request->setRequestMethod(QString::fromLatin1(c.sent));
        const bool withBody = c.sent == "POST" || c.sent == "PUT";
        if (withBody)
            request->setPostBody("payload");
        request->addRequestHeader(QStringLiteral("Accept"), QStringLiteral("text/plain"));
        request->addRequestHeader(QStringLiteral("X-Other"), QStringLiteral("1"));
        request->setShouldUseRFC2616RedirectBehaviour(c.rfc2616);
        run(request);
        EXPECT_TRUE(request->error().isNull());
        const TestRequest followed = server.requests().last();
        EXPECT_EQ(followed.target, "/to");
        EXPECT_EQ(followed.method, c.method);
        const bool kept = c.method == c.sent;
        EXPECT_EQ(followed.body, withBody && kept ? QByteArray("payload") : QByteArray());
        EXPECT_EQ(followed.header("Accept"), "text/plain");
        EXPECT_EQ(followed.header("X-Other"), kept ? "1" : "");
    }
}

TEST_F(DownloadTest, OnlyASuccessReachesTheFile)
{
    // Statuses below 400 that are not followed: their page is no part of the
    // resource, fetched afresh or continued.
    const QByteArray onDisk = pattern(1000);
    for (const int status : { 300, 304, 305 }) {
        const QByteArray body = status == 304 ? QByteArray() : QByteArray("<html>choose</html>");
        server.route(QStringLiteral("/odd"),
            withHeader(TestReply::text(body, status), "Location", "/elsewhere"));
        for (const bool resuming : { false, true }) {
            SCOPED_TRACE(status);
            SCOPED_TRACE(resuming);
            QFile::remove(partial());
            if (resuming)
                writeFile(partial(), onDisk);
            const auto get = fileRequest(QStringLiteral("/odd"));
            run(get);
            EXPECT_EQ(get->responseStatusCode(), status);
            EXPECT_FALSE(QFile::exists(destination()));
            EXPECT_EQ(filesIn(dir.path()),
                resuming ? QStringList { QStringLiteral("file.part") } : QStringList());
            if (resuming) {
                EXPECT_EQ(fileBytes(partial()), onDisk);
            }
        }
    }
}

TEST_F(DownloadTest, APartialThatIsNoRegularFileIsRefused)
{
    // Nobody reads the pipe: a write into it would never return.
    server.route(QStringLiteral("/body"), TestReply::text(pattern(300000)));
    QFile::remove(partial());
    ASSERT_EQ(::mkfifo(QFile::encodeName(partial()).constData(), 0600), 0);
    const auto get = fileRequest(QStringLiteral("/body"));
    run(get);
    EXPECT_EQ(get->error().code(), 8);
    EXPECT_TRUE(get->error().localizedDescription().endsWith("it is not a regular file"))
        << get->error().localizedDescription().toStdString();
    EXPECT_EQ(filesIn(dir.path()), QStringList { QStringLiteral("file.part") });
    QFile::remove(partial());
}

TEST_F(DownloadTest, RedirectsStopAtFiveAndAtAddressesThatAreNotWeb)
{
    for (int i = 1; i <= 7; ++i)
        server.route(
            QStringLiteral("/r%1").arg(i), redirect(302, "/r" + QByteArray::number(i + 1)));
    server.route(QStringLiteral("/r6"), TestReply::text("sixth"));
    const auto five = NXHTTPRequest::requestWithURL(server.url(QStringLiteral("/r1")));
    run(five);
    EXPECT_TRUE(five->error().isNull());
    EXPECT_EQ(five->responseString(), QStringLiteral("sixth"));
    EXPECT_EQ(five->redirectCount(), 5);

    server.route(QStringLiteral("/r6"), redirect(302, "/r7"));
    const auto six = NXHTTPRequest::requestWithURL(server.url(QStringLiteral("/r1")));
    run(six);
    EXPECT_EQ(six->error().code(), 9);

    // A redirect that is not followed fails, and its body reaches no file.
    server.route(QStringLiteral("/local"),
        withHeader(TestReply::text("not followed", 302), "Location", "file:///etc/passwd"));
    server.route(QStringLiteral("/nowhere"), TestReply::text("no address", 303));
    for (const char* path : { "/local", "/nowhere" }) {
        SCOPED_TRACE(path);
        const auto stays = fileRequest(QString::fromLatin1(path));
        stays->setAllowResumeForFileDownloads(false);
        run(stays);
        EXPECT_EQ(stays->error().code(), 12);
        EXPECT_EQ(stays->responseStatusCode(), QByteArray(path) == "/local" ? 302 : 303);
        EXPECT_EQ(filesIn(dir.path()), QStringList());
    }
}

TEST_F(DownloadTest, RedirectedRequestsCarryOnlyWhatTheNewAddressMayHave)
{
    TestHttpServer other;
    ASSERT_TRUE(other.start());
    other.route(QStringLiteral("/b/end"), TestReply::text("elsewhere"));
    server.route(QStringLiteral("/b/end"), TestReply::text("here"));
    server.route(
        QStringLiteral("/a/away"), redirect(307, other.url(QStringLiteral("/b/end")).toEncoded()));
    server.route(QStringLiteral("/a/near"),
        withHeader(redirect(307, "/b/end"), "Set-Cookie", "scoped=1; Path=/a"));

    NXHTTPRequest::clearSession();
    const auto sameServer = NXHTTPRequest::requestWithURL(server.url(QStringLiteral("/a/near")));
    run(sameServer);
    EXPECT_EQ(sameServer->responseString(), QStringLiteral("here"));
    EXPECT_EQ(server.requests().last().header("Cookie"), "");
    EXPECT_EQ(sameServer->responseCookies().size(), 0);

    const auto elsewhere = NXHTTPRequest::requestWithURL(server.url(QStringLiteral("/a/away")));
    elsewhere->setUsername(QStringLiteral("user"));
    elsewhere->setPassword(QStringLiteral("secret"));
    elsewhere->setAuthenticationScheme(QStringLiteral("Basic"));
    elsewhere->addRequestHeader(QStringLiteral("Authorization"), QStringLiteral("Bearer token"));
    elsewhere->setUseSessionPersistence(false);
    run(elsewhere);
    EXPECT_EQ(elsewhere->responseString(), QStringLiteral("elsewhere"));
    EXPECT_EQ(server.requests().last().header("Authorization"), "Bearer token");
    ASSERT_EQ(other.requests().size(), 1);
    EXPECT_EQ(other.requests().first().header("Authorization"), "");
    NXHTTPRequest::clearSession();
}

TEST_F(DownloadTest, CookiesFollowARedirectWithinTheOriginOnly)
{
    // A page's record hands its cookie as a header; the stream sits behind a
    // 302, which may set a cookie of its own.
    TestHttpServer other;
    ASSERT_TRUE(other.start());
    const auto guarded = [](const TestRequest& asked) {
        const QList<QByteArray> pairs = asked.header("Cookie").split(';');
        return std::any_of(pairs.cbegin(), pairs.cend(),
                   [](const QByteArray& pair) { return pair.trimmed() == "session=abc"; })
            ? TestReply::text("video")
            : TestReply::text("no cookie", 403);
    };
    server.route(QStringLiteral("/b/video"), guarded);
    other.route(QStringLiteral("/b/video"), guarded);
    server.route(QStringLiteral("/a/near"), redirect(302, "/b/video"));
    server.route(QStringLiteral("/a/marked"),
        withHeader(redirect(302, "/b/video"), "Set-Cookie", "seen=1; Path=/"));
    server.route(QStringLiteral("/a/away"),
        redirect(302, other.url(QStringLiteral("/b/video")).toEncoded()));
    struct Case {
        const char* path;
        bool asHeader; // else as a cookie of the request
        int status;
    };
    const Case cases[] = {
        { "/a/near", true, 200 },
        { "/a/near", false, 200 },
        { "/a/marked", true, 200 },
        { "/a/away", true, 403 },
        { "/a/away", false, 403 },
    };
    NXHTTPRequest::clearSession();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        SCOPED_TRACE(c.asHeader);
        const auto get = NXHTTPRequest::requestWithURL(server.url(QString::fromLatin1(c.path)));
        if (c.asHeader)
            get->addRequestHeader(QStringLiteral("Cookie"), QStringLiteral("session=abc"));
        else
            get->setRequestCookies({ QNetworkCookie("session", "abc") });
        run(get);
        EXPECT_EQ(get->responseStatusCode(), c.status);
    }
    EXPECT_EQ(other.requests().size(), 2);
    // A HEAD companion shares its main request's cookies at that origin only,
    // once each.
    const std::tuple<const char*, TestHttpServer*, int> companions[] = {
        { "/a/away", &other, 0 },
        { "/a/near", &server, 1 },
    };
    for (const auto& [path, reached, sent] : companions) {
        SCOPED_TRACE(path);
        const auto main = NXHTTPRequest::requestWithURL(server.url(QString::fromLatin1(path)));
        main->setRequestCookies({ QNetworkCookie("session", "abc") });
        run(main->HEADRequest());
        const TestRequest asked = reached->requests().last();
        EXPECT_EQ(asked.target, "/b/video");
        EXPECT_EQ(asked.header("Cookie").count("session=abc"), sent)
            << asked.header("Cookie").toStdString();
    }
    NXHTTPRequest::clearSession();
}

TEST_F(DownloadTest, KeptConnectionsFollowTheKeepAliveHeader)
{
    struct Case {
        QByteArray keepAlive; // empty: no such header
        int connections;
        double timeout;
    };
    const Case cases[] = {
        { "timeout=15, max=100", 1, 15 },
        { "timeout=15, max=5", 2, 60 },
        { "", 1, 60 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keepAlive.toStdString());
        TestHttpServer fresh;
        ASSERT_TRUE(fresh.start());
        const TestReply kept = TestReply::text("kept");
        fresh.route(QStringLiteral("/k"),
            c.keepAlive.isEmpty() ? kept : withHeader(kept, "Keep-Alive", c.keepAlive));
        std::shared_ptr<NXHTTPRequest> last;
        for (int i = 0; i < 2; ++i) {
            last = NXHTTPRequest::requestWithURL(fresh.url(QStringLiteral("/k")));
            run(last);
            EXPECT_TRUE(last->error().isNull());
        }
        EXPECT_EQ(fresh.connectionCount(), c.connections);
        EXPECT_EQ(last->persistentConnectionTimeoutSeconds(), c.timeout);
    }
}

TEST_F(DownloadTest, LengthsAreDecimalAndTextUsesTheCharset)
{
    TestReply raw;
    raw.raw = "HTTP/1.1 200 OK\r\nContent-Length: 010\r\nContent-Type: text/plain; "
              "charset=utf-8\r\nConnection: close\r\n\r\n\xc3\xa9t\xc3\xa9 12345";
    server.route(QStringLiteral("/raw"), raw);
    const auto get = NXHTTPRequest::requestWithURL(server.url(QStringLiteral("/raw")));
    run(get);
    ASSERT_TRUE(get->error().isNull()) << get->error().localizedDescription().toStdString();
    EXPECT_EQ(get->contentLength(), 10u);
    EXPECT_EQ(get->responseEncoding(), QStringLiteral("utf-8"));
    EXPECT_EQ(get->responseString(), QString::fromUtf8("\xc3\xa9t\xc3\xa9 1234"));
}

TEST_F(DownloadTest, OnlyTheBodyThatWasAskedForReachesTheFiles)
{
    // Servers that answer something else than was asked: a good partial of
    // 1000 bytes stays as it was unless more of the body takes its place.
    const QByteArray whole = pattern(3000);
    const QByteArray onDisk = whole.left(1000);
    const auto piece = [&](qsizetype from, const QByteArray& body) {
        TestReply reply = withHeader(TestReply::text(body, 206), "Content-Range",
            "bytes " + QByteArray::number(from) + "-2999/3000");
        reply.reason = "Partial Content";
        return reply;
    };
    const auto cut = [](TestReply reply, qint64 after) {
        reply.cutAfter = after;
        return reply;
    };
    const auto chunked = [](const QByteArray& codings, const QByteArray& body) {
        TestReply reply;
        reply.raw = "HTTP/1.1 200 OK\r\nTransfer-Encoding: " + codings
            + "\r\nConnection: close\r\n\r\n" + QByteArray::number(body.size(), 16) + "\r\n" + body
            + "\r\n0\r\n\r\n";
        return reply;
    };
    struct Case {
        const char* name;
        bool withPartial;
        // Each answers what the other does not: a range, or a request for all.
        std::function<TestReply(const TestRequest&)> ranged;
        std::function<TestReply(const TestRequest&)> whole;
        int error;
        QByteArray partialAfter; // empty: none is left
        const char* said = nullptr; // in the failure, when given
    };
    const auto withRange = [](const QByteArray& range, const QByteArray& body) {
        return withHeader(TestReply::text(body, 206), "Content-Range", range);
    };
    const Case cases[] = {
        { "a piece for all of it", false, {},
            [&](const TestRequest&) { return cut(piece(500, whole.mid(500)), 1000); }, 1, {} },
        { "a coded piece", true,
            [&](const TestRequest&) {
                return withHeader(
                    piece(1000, deflated(whole.mid(1000), 31)), "Content-Encoding", "gzip");
            },
            {}, 11, onDisk },
        { "a piece that stops before the end", true,
            [&](const TestRequest&) {
                return withHeader(TestReply::text(whole.mid(1000, 1000), 206), "Content-Range",
                    "bytes 1000-1999/3000");
            },
            {}, 1, whole.left(2000) },
        { "an empty piece", true,
            [&](const TestRequest&) { return withRange("bytes 1000-2999/3000", {}); }, {}, 1,
            onDisk, "none of the piece" },
        { "a piece elsewhere, then an error", true,
            [&](const TestRequest&) { return piece(500, whole.mid(500)); },
            [](const TestRequest&) { return TestReply::text("broken", 500); }, 0, onDisk },
        { "416 for a changed file, then a cut body", true,
            [](const TestRequest&) {
                return withHeader(
                    TestReply::text("no range", 416), "Content-Range", "bytes */3000");
            },
            [&](const TestRequest&) { return cut(TestReply::text(whole), 500); }, 1, onDisk },
        { "all of it to the range, cut short", true,
            [&](const TestRequest&) { return cut(TestReply::text(whole), 500); }, {}, 1, onDisk },
        { "all of it to the range, cut past the partial", true,
            [&](const TestRequest&) { return cut(TestReply::text(whole), 2000); }, {}, 1,
            whole.left(2000) },
        { "all of it to the range, coded and not decoding", true,
            [](const TestRequest&) {
                return withHeader(TestReply::text("not gzip"), "Content-Encoding", "gzip");
            },
            {}, 11, onDisk },
        { "a coded body, cut", false, {},
            [&](const TestRequest&) {
                const QByteArray packed = deflated(whole, 31);
                return cut(withHeader(TestReply::text(packed), "Content-Encoding", "gzip"),
                    packed.size() / 2);
            },
            1, {} },
        { "gzip under chunked", false, {},
            [&](const TestRequest&) { return chunked("gzip, chunked", deflated(whole, 31)); }, 1,
            {} },
        { "chunked under identity", false, {},
            [&](const TestRequest&) { return chunked("chunked, identity", whole); }, 1, {} },
        { "a login page to the range", true,
            [](const TestRequest&) { return TestReply::text("Please log in"); }, {}, 1, onDisk },
        { "no content to the range", true,
            [](const TestRequest&) { return TestReply::text("", 204); }, {}, 1, onDisk },
        { "reset content to the range", true,
            [](const TestRequest&) { return TestReply::text("reset", 205); }, {}, 1, onDisk },
        { "a piece longer than its range", true,
            [&](const TestRequest&) {
                return withHeader(TestReply::text(whole.mid(1000, 1000) + "junk", 206),
                    "Content-Range", "bytes 1000-1999/3000");
            },
            {}, 1, whole.left(2000) },
        { "a piece shorter than its range, length unknown", true,
            [&](const TestRequest&) {
                return withHeader(TestReply::text(whole.mid(1000, 500), 206), "Content-Range",
                    "bytes 1000-1999/*");
            },
            {}, 1, whole.left(1500), "sent 500 of the 1000 bytes" },
        { "several pieces in one body", true,
            [&](const TestRequest&) {
                TestReply reply = piece(1000, whole.mid(1000));
                reply.headers[0].second = "multipart/byteranges; boundary=B";
                return reply;
            },
            {}, 1, onDisk },
        { "a piece past its own total", true,
            [&](const TestRequest&) {
                return withRange("bytes 1000-3999/3000", whole.mid(1000) + pattern(1000, 3));
            },
            {}, 1, onDisk, "could not be read" },
        { "a garbled range", true,
            [&](const TestRequest&) { return withRange("bytes 1000-abc/3000", whole.mid(1000)); },
            {}, 1, onDisk, "could not be read" },
        { "a reversed range", true,
            [&](const TestRequest&) { return withRange("bytes 2999-1000/3000", whole.mid(1000)); },
            {}, 1, onDisk, "could not be read" },
        // Asked for ever, one byte at a time, but for the bound.
        { "ever smaller pieces", true,
            [&](const TestRequest& asked) {
                const QByteArray from = asked.header("Range").mid(6).chopped(1);
                return withRange("bytes " + from + '-' + from + "/*", whole.mid(from.toInt(), 1));
            },
            {}, 1, whole.left(1000 + 65), "past 64 pieces" },
        { "a piece with the status 200 for all of it", false, {},
            [&](const TestRequest&) {
                TestReply reply = piece(500, whole.mid(500));
                reply.status = 200;
                return reply;
            },
            1, {}, "a piece of the file (\"bytes 500-2999/3000\") with the status 200" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = QStringLiteral("/") + QString::fromLatin1(c.name).replace(' ', '-');
        // Every piece is of the version the partial began with.
        server.route(path, [&](const TestRequest& asked) {
            const bool ranged = !asked.header("Range").isEmpty();
            return tagPiece(
                (ranged && c.ranged) || !c.whole ? c.ranged(asked) : c.whole(asked), whole);
        });
        QFile::remove(partial());
        if (c.withPartial)
            writePartial(onDisk, whole);
        const auto get = fileRequest(path);
        run(get);
        EXPECT_EQ(get->error().code(), c.error)
            << get->error().localizedDescription().toStdString();
        if (c.said) {
            EXPECT_TRUE(get->error().localizedDescription().contains(QLatin1String(c.said)))
                << get->error().localizedDescription().toStdString();
        }
        EXPECT_FALSE(QFile::exists(destination()));
        EXPECT_EQ(filesIn(dir.path()),
            c.partialAfter.isEmpty() ? QStringList() : QStringList { QStringLiteral("file.part") });
        if (!c.partialAfter.isEmpty()) {
            EXPECT_EQ(fileBytes(partial()), c.partialAfter);
        }
        if (c.withPartial) {
            EXPECT_EQ(server.requests().last().header("Accept-Encoding"),
                server.requests().last().header("Range").isEmpty() ? "gzip" : "identity");
        }
    }
}

TEST_F(DownloadTest, AResumeContinuesOnlyTheVersionThePartialBegan)
{
    // The partial holds the start of v1; the server now has v2, and may
    // answer a range without heeding If-Range.
    const QByteArray v1 = pattern(10000);
    const QByteArray v2 = pattern(12000, 5);
    const QByteArray sameLength = pattern(10000, 7);
    const QByteArray shorter = pattern(3000, 11);
    const QByteArray longer = v1 + pattern(2000, 9);
    const auto typed = [](const QByteArray& body, const QByteArray& tag, const QByteArray& type) {
        TestReply reply = withHeader(TestReply::text(body), "ETag", tag);
        reply.headers[0].second = type;
        return reply;
    };
    const auto refusedRange = [](const QByteArray& range) {
        return withHeader(TestReply::text("", 416), "Content-Range", range);
    };
    const QByteArray monday = "Mon, 01 Jan 2024 00:00:00 GMT";
    const QByteArray tuesday = "Tue, 02 Jan 2024 00:00:00 GMT";
    // Answered on Wednesday, Monday's date names one version of the bytes.
    const QString wednesday = QStringLiteral("Wed, 03 Jan 2024 00:00:00 GMT");
    // A shorter whole body, for a server that heeds no range.
    const auto shorterWith = [&](const char* validator, const QByteArray& value) {
        TestReply reply = withHeader(TestReply::text(shorter), validator, value);
        reply.headers[0].second = "video/mp4";
        return reply;
    };
    const auto piece = [](const QByteArray& body, qsizetype from, const QByteArray& total,
                           const QByteArray& validator) {
        TestReply reply = withHeader(TestReply::text(body.mid(from), 206), "Content-Range",
            "bytes " + QByteArray::number(from) + '-' + QByteArray::number(body.size() - 1) + '/'
                + total);
        return validator.isEmpty() ? reply : withHeader(reply, "ETag", validator);
    };
    const auto modified = [](TestReply reply, const QByteArray& date) {
        return withHeader(reply, "Last-Modified", date);
    };
    // A piece sent with the status of the whole, as some caches do; and
    // without a Content-Length.
    const auto asWhole = [](TestReply reply) {
        reply.status = 200;
        reply.reason = "OK";
        return reply;
    };
    const auto unframed = [](TestReply reply) {
        reply.framing = TestReply::Framing::UntilClose;
        return reply;
    };
    struct Case {
        const char* name;
        PartialFileOrigin began;
        std::function<TestReply(qsizetype from)> ranged;
        QByteArray whole; // what a request for all of it gets
        QByteArray ifRange; // sent with the range; empty: no range is asked for
        QByteArray expected; // empty: refused, the partial stays
        const char* said = nullptr; // in the failure, when given
        std::function<TestReply()> wholeAnswer = {}; // in place of `whole`, with its headers
    };
    const Case cases[] = {
        { "the same version", { "\"v1\"", {}, 10000 },
            [&](qsizetype from) { return piece(v1, from, "10000", "\"v1\""); }, v1, "\"v1\"", v1 },
        { "another tag", { "\"v1\"", {}, 10000 },
            [&](qsizetype from) { return piece(v2, from, "12000", "\"v2\""); }, v2, "\"v1\"", v2 },
        { "another total, no tag", { "\"v1\"", {}, 10000 },
            [&](qsizetype from) { return piece(v2, from, "12000", {}); }, v2, "\"v1\"", v2 },
        { "another date, same length",
            { {}, "Mon, 01 Jan 2024 00:00:00 GMT", 10000, {}, wednesday },
            [&](qsizetype from) {
                return withHeader(piece(sameLength, from, "10000", {}), "Last-Modified",
                    "Tue, 02 Jan 2024 00:00:00 GMT");
            },
            sameLength, "Mon, 01 Jan 2024 00:00:00 GMT", sameLength },
        { "If-Range heeded", { "\"v1\"", {}, 10000 },
            [&](qsizetype) { return withHeader(TestReply::text(v2), "ETag", "\"v2\""); }, v2,
            "\"v1\"", v2 },
        { "no validator kept", { {}, {}, 10000 },
            [&](qsizetype from) { return piece(v1, from, "10000", "W/\"v1\""); }, v1, "", v1 },
        { "another weak tag", { "W/\"a\"", {}, 10000 },
            [&](qsizetype from) { return piece(sameLength, from, "10000", "W/\"b\""); }, sameLength,
            "", sameLength },
        { "416 short of the length it began with", { "\"v1\"", {}, 10000 },
            [&](qsizetype) { return withHeader(refusedRange("bytes */5000"), "ETag", "\"v1\""); },
            v1, "\"v1\"", v1 },
        // A weak tag, a date where a tag is known, a date within the second
        // it was answered, or nothing: a range would join two versions.
        { "the same weak tag and date, new bytes", { "W/\"a\"", monday, 10000, {}, wednesday },
            [&](qsizetype from) {
                return modified(piece(sameLength, from, "10000", "W/\"a\""), monday);
            },
            sameLength, "", sameLength },
        { "the same date, the weak tag dropped", { "W/\"a\"", monday, 10000, {}, wednesday },
            [&](qsizetype from) { return modified(piece(sameLength, from, "10000", {}), monday); },
            sameLength, "", sameLength },
        { "a date within the second of its answer", { {}, monday, 10000, {}, monday },
            [&](qsizetype from) { return modified(piece(sameLength, from, "10000", {}), monday); },
            sameLength, "", sameLength },
        { "a piece without a validator", { "\"v1\"", monday, 10000, {}, wednesday },
            [&](qsizetype from) { return piece(sameLength, from, "10000", {}); }, sameLength,
            "\"v1\"", sameLength },
        { "the same strong date", { {}, monday, 10000, {}, wednesday },
            [&](qsizetype from) { return modified(piece(v1, from, "10000", {}), monday); },
            sameLength, monday, v1 },
        // The server gives one strong tag two lengths: no answer of it is trusted.
        { "the same strong tag, another length, whole", { "\"v1\"", {}, 10000 },
            [&](qsizetype) {
                return withHeader(TestReply::text(pattern(8000, 13)), "ETag", "\"v1\"");
            },
            pattern(8000, 13), "\"v1\"", {}, "a length of 8000 bytes" },
        { "the same strong tag, another length, a piece", { "\"v1\"", {}, 10000 },
            [&](qsizetype from) { return piece(pattern(8000, 13), from, "8000", "\"v1\""); },
            pattern(8000, 13), "\"v1\"", {}, "a length of 8000 bytes" },
        // The piece that runs past it is not written, and what comes for all
        // of it proves nothing.
        { "pieces of unknown total past the length it began with", { "\"v1\"", {}, 10000 },
            [&](qsizetype from) {
                if (from >= longer.size())
                    return refusedRange("bytes */*");
                const QByteArray bytes = longer.mid(from, 3000);
                return withHeader(withHeader(TestReply::text(bytes, 206), "Content-Range",
                                      "bytes " + QByteArray::number(from) + '-'
                                          + QByteArray::number(from + bytes.size() - 1) + "/*"),
                    "ETag", "\"v1\"");
            },
            shorter, "\"v1\"", {} },
        { "a shorter version with another tag", { "\"v1\"", {}, 10000, "video/mp4" },
            [&](qsizetype) { return typed(shorter, "\"v2\"", "video/mp4"); }, shorter, "\"v1\"",
            shorter },
        { "a shorter version told by a 416", { "\"v1\"", {}, 10000 },
            [&](qsizetype) { return refusedRange("bytes */3000"); }, shorter, "\"v1\"", shorter },
        { "a shorter version with another date", { {}, monday, 10000, "video/mp4", wednesday },
            [&](qsizetype) { return shorterWith("Last-Modified", tuesday); }, shorter, monday,
            shorter },
        { "a shorter version with another weak tag", { "W/\"a\"", {}, 10000, "video/mp4" },
            [&](qsizetype) { return shorterWith("ETag", "W/\"b\""); }, shorter, "", shorter,
            nullptr, [&] { return shorterWith("ETag", "W/\"b\""); } },
        { "a shorter version with a weak tag of its own", { "\"v1\"", {}, 10000, "video/mp4" },
            [&](qsizetype) { return shorterWith("ETag", "W/\"v2\""); }, shorter, "\"v1\"",
            shorter },
        { "a shorter page with the weak form of the tag", { "\"v1\"", {}, 10000, "video/mp4" },
            [&](qsizetype) { return shorterWith("ETag", "W/\"v1\""); }, shorter, "\"v1\"", {} },
        { "a shorter page of the same date", { {}, monday, 10000, "video/mp4", wednesday },
            [&](qsizetype) { return shorterWith("Last-Modified", monday); }, shorter, monday, {} },
        { "a shorter page of another type", { "\"v1\"", {}, 10000, "video/mp4" },
            [&](qsizetype) { return typed(shorter, "\"v2\"", "text/html"); }, shorter, "\"v1\"",
            {} },
        { "a partial longer than the length it began with", { "\"v1\"", {}, 4000 },
            [&](qsizetype from) { return piece(v1, from, "10000", "\"v1\""); }, shorter, "",
            shorter },
        { "a kept version that cannot be read", { "\"v1\r\"", {}, 10000 },
            [&](qsizetype from) { return piece(v1, from, "10000", "\"v1\""); }, v1, "", v1 },
        // A piece with the status 200 is joined only as a 206 would be.
        { "a piece with 200, the same strong tag", { "\"v1\"", {}, 10000 },
            [&](qsizetype from) { return asWhole(piece(v1, from, "10000", "\"v1\"")); }, v2,
            "\"v1\"", v1 },
        { "a piece with 200, the same strong tag, no length", { "\"v1\"", {}, 10000 },
            [&](qsizetype from) { return unframed(asWhole(piece(v1, from, "10000", "\"v1\""))); },
            v2, "\"v1\"", v1 },
        { "a piece with 200, the same strong date", { {}, monday, 10000, {}, wednesday },
            [&](qsizetype from) { return asWhole(modified(piece(v1, from, "10000", {}), monday)); },
            v2, monday, v1 },
        { "a piece with 200, another tag", { "\"v1\"", {}, 10000 },
            [&](qsizetype from) { return asWhole(piece(v2, from, "12000", "\"v2\"")); }, v2,
            "\"v1\"", {}, "a piece of the file (\"bytes 5000-11999/12000\") with the status 200" },
        { "a piece with 200, another tag, no length", { "\"v1\"", {}, 10000 },
            [&](qsizetype from) { return unframed(asWhole(piece(v2, from, "12000", "\"v2\""))); },
            v2, "\"v1\"", {}, "with the status 200" },
        { "a piece with 200, no validator", { "\"v1\"", {}, 10000 },
            [&](qsizetype from) { return asWhole(piece(sameLength, from, "10000", {})); }, v2,
            "\"v1\"", {}, "the partial file stays as it was" },
        { "a piece with 200 elsewhere, the same strong tag", { "\"v1\"", {}, 10000 },
            [&](qsizetype) { return asWhole(piece(v1, 3000, "10000", "\"v1\"")); }, v2, "\"v1\"",
            {}, "with the status 200" },
        { "the whole with 200 and its range", { "\"v1\"", {}, 10000 },
            [&](qsizetype) { return asWhole(piece(v2, 0, "12000", "\"v2\"")); }, v2, "\"v1\"", v2 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = QStringLiteral("/") + QString::fromLatin1(c.name).replace(' ', '-');
        server.route(path, [&](const TestRequest& asked) {
            const QByteArray range = asked.header("Range");
            if (!range.isEmpty())
                return c.ranged(range.mid(6).chopped(1).toLongLong());
            return c.wholeAnswer ? c.wholeAnswer() : TestReply::text(c.whole);
        });
        QFile::remove(destination());
        writeFile(partial(), v1.left(5000));
        c.began.writeTo(partial());
        const int before = int(server.requests().size());
        const auto get = fileRequest(path);
        run(get);
        EXPECT_EQ(fileBytes(destination()), c.expected.isEmpty() ? "<missing>" : c.expected);
        EXPECT_EQ(server.requests().at(before).header("If-Range"), c.ifRange);
        EXPECT_EQ(server.requests().at(before).header("Range").isEmpty(), c.ifRange.isEmpty());
        if (c.said) {
            EXPECT_TRUE(get->error().localizedDescription().contains(QLatin1String(c.said)))
                << get->error().localizedDescription().toStdString();
        }
        EXPECT_EQ(filesIn(dir.path()),
            QStringList {
                c.expected.isEmpty() ? QStringLiteral("file.part") : QStringLiteral("file") });
        const QByteArray left = fileBytes(partial());
        if (c.expected.isEmpty()) {
            EXPECT_EQ(left, v1.left(left.size()));
        }
    }
    // Cut in this run, then changed: the range carries the first answer's tag.
    int answers = 0;
    server.route(QStringLiteral("/changing"), [&](const TestRequest& asked) {
        if (!asked.header("Range").isEmpty())
            return piece(
                v2, asked.header("Range").mid(6).chopped(1).toLongLong(), "12000", "\"v2\"");
        const bool first = ++answers == 1;
        TestReply whole
            = withHeader(TestReply::text(first ? v1 : v2), "ETag", first ? "\"v1\"" : "\"v2\"");
        whole.cutAfter = first ? 4000 : -1;
        return whole;
    });
    QFile::remove(destination());
    QFile::remove(partial());
    const int before = int(server.requests().size());
    const auto changing = fileRequest(QStringLiteral("/changing"));
    run(changing);
    EXPECT_TRUE(changing->error().isNull())
        << changing->error().localizedDescription().toStdString();
    EXPECT_EQ(fileBytes(destination()), v2);
    ASSERT_GE(server.requests().size(), before + 2);
    EXPECT_EQ(server.requests().at(before + 1).header("If-Range"), "\"v1\"");
}

TEST_F(DownloadTest, A416FindsThePartialWholeOnlyWhenNothingSaidInTheRunNamesAnother)
{
    // The partial holds all of "m1"; the server now has "m2", as long, and
    // answers the range with a 416 that names no version.
    const QByteArray m1 = pattern(10000, 3);
    const QByteArray m2 = pattern(10000, 4);
    struct Case {
        const char* name;
        PartialFileOrigin said; // before the request (the HEAD that asked the size)
        bool firstAnswerCut; // the first answer is all of "m2", cut
        QByteArray expected;
    };
    const Case cases[] = {
        { "another version named before", { "\"m2\"", {}, 10000 }, false, m2 },
        { "another length named before", { "\"m1\"", {}, 12000 }, false, m2 },
        { "another version named by its own first answer", {}, true, m2 },
        { "the same version named before", { "\"m1\"", {}, 10000 }, false, m1 },
        { "nothing named", {}, false, m1 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = QStringLiteral("/") + QString::fromLatin1(c.name).replace(' ', '-');
        int answers = 0;
        server.route(path, [&](const TestRequest& asked) {
            TestReply whole = withHeader(TestReply::text(m2), "ETag", "\"m2\"");
            if (++answers == 1 && c.firstAnswerCut) {
                whole.cutAfter = 3000;
                return whole;
            }
            return asked.header("Range").isEmpty()
                ? whole
                : withHeader(TestReply::text("", 416), "Content-Range", "bytes */10000");
        });
        QFile::remove(destination());
        writeFile(partial(), m1);
        PartialFileOrigin { "\"m1\"", {}, 10000 }.writeTo(partial());
        const auto get = fileRequest(path);
        get->addVersionNamedInRun(c.said);
        run(get);
        EXPECT_TRUE(get->error().isNull()) << get->error().localizedDescription().toStdString();
        EXPECT_EQ(fileBytes(destination()), c.expected);
        EXPECT_EQ(filesIn(dir.path()), QStringList { QStringLiteral("file") });
    }
}

TEST_F(DownloadTest, AWriteThatFailsSaysWhetherTheDiskIsFullOrTheFolderReadOnly)
{
    const QByteArray whole = pattern(1 << 20);
    server.route(QStringLiteral("/plain"),
        [&](const TestRequest& asked) { return rangedReply(asked, whole); });
    server.route(QStringLiteral("/coded"),
        withHeader(
            TestReply::text(deflated(QByteArray(1 << 20, 0), 31)), "Content-Encoding", "gzip"));
    struct Case {
        const char* name;
        const char* options; // of the tmpfs the files are on
        unsigned long flags;
        const char* path;
        bool resumes;
        QByteArray partialBefore; // empty: none
        int error;
        const char* said;
    };
    const Case cases[] = {
        { "a full disk", "size=128k", 0, "/plain", false, {}, 8, "the disk is full" },
        { "a full disk under a partial", "size=128k", 0, "/plain", true, whole.left(40000), 8,
            "the disk is full" },
        { "a full disk under an inflated body", "size=128k", 0, "/coded", false, {}, 11,
            "the disk is full" },
        { "a read-only disk", nullptr, MS_RDONLY, "/plain", false, {}, 8,
            "the folder is read-only" },
        { "a read-only disk under a partial", nullptr, MS_RDONLY, "/plain", true, whole.left(40000),
            8, "the folder is read-only" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString mounted = dir.filePath(QString::fromLatin1(c.name).replace(' ', '-'));
        ASSERT_TRUE(QDir().mkpath(mounted));
        const QByteArray point = QFile::encodeName(mounted);
        if (::geteuid() != 0 || ::mount("tmpfs", point.constData(), "tmpfs", 0, c.options) != 0)
            GTEST_SKIP() << "a full or read-only file system needs root and a tmpfs mount";
        const std::shared_ptr<void> unmount(
            nullptr, [&point](void*) { ::umount2(point.constData(), MNT_DETACH); });
        const QString file = QDir(mounted).filePath(QStringLiteral("file"));
        if (!c.partialBefore.isEmpty()) {
            writeFile(file + QStringLiteral(".part"), c.partialBefore);
            PartialFileOrigin { QString::fromLatin1(tagOf(whole)), {}, std::nullopt }.writeTo(
                file + QStringLiteral(".part"));
        }
        if (c.flags != 0) {
            ASSERT_EQ(
                ::mount(nullptr, point.constData(), nullptr, MS_REMOUNT | c.flags, nullptr), 0);
        }
        const auto get = NXHTTPRequest::requestWithURL(server.url(QString::fromLatin1(c.path)));
        get->setDownloadDestinationPath(file);
        if (c.resumes) {
            get->setTemporaryFileDownloadPath(file + QStringLiteral(".part"));
            get->setAllowResumeForFileDownloads(true);
        }
        run(get);
        const QString said = get->error().localizedDescription();
        EXPECT_EQ(get->error().code(), c.error) << said.toStdString();
        EXPECT_TRUE(said.contains(QLatin1String(c.said))) << said.toStdString();
        EXPECT_TRUE(said.contains(mounted)) << said.toStdString();
        EXPECT_FALSE(QFile::exists(file));
        if (!c.resumes) {
            EXPECT_EQ(filesIn(mounted), QStringList());
        }
        // What the partial held stays, and what came after it is the file's.
        const QByteArray left = fileBytes(file + QStringLiteral(".part"));
        if (!c.partialBefore.isEmpty()) {
            EXPECT_GE(left.size(), c.partialBefore.size());
            EXPECT_EQ(left, whole.left(left.size()));
        }
    }
}

TEST_F(DownloadTest, APartialWhereNoVersionIsKeptIsContinuedOnlyByItsOwnRequest)
{
    // Without extended attributes the version a partial began with lives
    // only as long as the request that wrote it.
    const QString mounted = dir.filePath(QStringLiteral("ramfs"));
    ASSERT_TRUE(QDir().mkpath(mounted));
    const QByteArray point = QFile::encodeName(mounted);
    if (::geteuid() != 0 || ::mount("ramfs", point.constData(), "ramfs", 0, nullptr) != 0)
        GTEST_SKIP() << "a file system without extended attributes needs root and a ramfs mount";
    const std::shared_ptr<void> unmount(
        nullptr, [&point](void*) { ::umount2(point.constData(), MNT_DETACH); });
    const QByteArray v1 = pattern(10000);
    struct Case {
        const char* name;
        QByteArray partialBefore; // left by an earlier request, or none
        QByteArray current; // the server's file now, under a tag of its own
        QByteArrayList ranges; // asked, in order: the first answer is cut after 6000 bytes
    };
    const Case cases[] = {
        { "cut within the request", {}, v1, { "", "bytes=6000-" } },
        { "another version", v1.left(4000), pattern(12000, 5), { "", "bytes=6000-" } },
        { "a shorter version", v1.left(4000), pattern(3000, 5), { "" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = QStringLiteral("/") + QString::fromLatin1(c.name).replace(' ', '-');
        int answered = 0;
        // Every range is answered from the current file, If-Range or not;
        // the first answer is cut.
        server.route(path, [&](const TestRequest& asked) {
            TestReply reply = rangedReply(asked, c.current);
            reply.cutAfter = ++answered == 1 ? 6000 : -1;
            return reply;
        });
        const QString file = QDir(mounted).filePath(QStringLiteral("file"));
        QFile::remove(file);
        QFile::remove(file + QStringLiteral(".part"));
        if (!c.partialBefore.isEmpty())
            writeFile(file + QStringLiteral(".part"), c.partialBefore);
        const int before = int(server.requests().size());
        const auto get = NXHTTPRequest::requestWithURL(server.url(path));
        get->setDownloadDestinationPath(file);
        get->setTemporaryFileDownloadPath(file + QStringLiteral(".part"));
        get->setAllowResumeForFileDownloads(true);
        run(get);
        EXPECT_TRUE(get->error().isNull()) << get->error().localizedDescription().toStdString();
        EXPECT_EQ(fileBytes(file), c.current);
        QByteArrayList ranges;
        for (const TestRequest& asked : server.requests().mid(before))
            ranges << asked.header("Range");
        EXPECT_EQ(ranges, c.ranges);
        EXPECT_EQ(filesIn(mounted), QStringList { QStringLiteral("file") });
    }
}

TEST_F(DownloadTest, AnOwnerJudgesTheFinishedBodyWithoutHoldingUpEveryTransfersProgress)
{
    // The judgement may read the whole file: the lock that every transfer's
    // progress and the main thread take is free meanwhile.
    struct JudgingRequest : NXHTTPRequest {
        using NXHTTPRequest::NXHTTPRequest;
        HttpError finishedFileRefusal(const QString& file) const override
        {
            judged = fileBytes(file);
            std::thread([this] {
                auto& lock = NXHTTPRequestClassState::instance().progressLock;
                progressFree = lock.try_lock();
                if (progressFree)
                    lock.unlock();
            }).join();
            return refuse ? requestError(
                       NXHTTPRequestErrorType::FileManagement, QStringLiteral("not the file"))
                          : HttpError();
        }
        bool refuse = false;
        mutable QByteArray judged;
        mutable bool progressFree = false;
    };
    const QByteArray whole = pattern(5000, 7);
    server.route(QStringLiteral("/judged"),
        [&](const TestRequest& asked) { return rangedReply(asked, whole); });
    for (const bool refuse : { true, false }) {
        SCOPED_TRACE(refuse ? "refused" : "taken");
        writePartial(whole.left(2000), whole);
        const auto get = std::make_shared<JudgingRequest>(server.url(QStringLiteral("/judged")));
        get->setDownloadDestinationPath(destination());
        get->setTemporaryFileDownloadPath(partial());
        get->setAllowResumeForFileDownloads(true);
        get->refuse = refuse;
        run(get);
        EXPECT_EQ(get->judged, whole);
        EXPECT_TRUE(get->progressFree);
        EXPECT_EQ(get->error().isNull(), !refuse);
        // A refused body stays the partial it completed, for the owner to judge.
        EXPECT_EQ(fileBytes(refuse ? partial() : destination()), whole);
    }
}

TEST_F(DownloadTest, ACodedBodySentToARangeReplacesThePartialOnceDecoded)
{
    const QByteArray whole = pattern(3000);
    server.route(QStringLiteral("/coded"),
        withHeader(TestReply::text(deflated(whole, 31)), "Content-Encoding", "gzip"));
    writePartial(whole.left(1000), whole);
    const auto get = fileRequest(QStringLiteral("/coded"));
    run(get);
    EXPECT_TRUE(get->error().isNull()) << get->error().localizedDescription().toStdString();
    EXPECT_EQ(fileBytes(destination()), whole);
    EXPECT_EQ(filesIn(dir.path()), QStringList { QStringLiteral("file") });
    // A name taken at the destination: the partial stays as it was.
    writePartial(whole.left(1000), whole);
    const auto blocked = fileRequest(QStringLiteral("/coded"));
    run(blocked);
    EXPECT_EQ(blocked->error().code(), 8);
    EXPECT_EQ(fileBytes(partial()), whole.left(1000));
    EXPECT_EQ(
        filesIn(dir.path()), QStringList({ QStringLiteral("file"), QStringLiteral("file.part") }));
}

TEST_F(DownloadTest, CodedBodiesAreReadWholeAndMeasuredDecoded)
{
    // Bytes that do not compress: their gzip form is larger than they are.
    QByteArray noise(200000, Qt::Uninitialized);
    QRandomGenerator(11).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    const QByteArray first = pattern(70000);
    const QByteArray second = pattern(90000, 3);
    const auto gzip = [](const QByteArray& coded) {
        return withHeader(TestReply::text(coded), "Content-Encoding", "gzip");
    };
    TestReply longRedirect = redirect(301, "/noise");
    longRedirect.body = pattern(8 * 1024 * 1024);
    server.route(QStringLiteral("/members"), gzip(deflated(first, 31) + deflated(second, 31)));
    server.route(QStringLiteral("/noise"), gzip(deflated(noise, 31)));
    server.route(QStringLiteral("/moved"), longRedirect);
    struct Case {
        const char* path;
        QByteArray expected;
    };
    const Case cases[] = {
        { "/members", first + second },
        { "/noise", noise },
        { "/moved", noise },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        QFile::remove(destination());
        const auto get = fileRequest(QString::fromLatin1(c.path));
        get->setAllowResumeForFileDownloads(false);
        get->setMaximumBodySize(quint64(c.expected.size()));
        run(get);
        EXPECT_TRUE(get->error().isNull()) << get->error().localizedDescription().toStdString();
        EXPECT_EQ(fileBytes(destination()), c.expected);
        // Kept in memory, and a byte over the limit fails.
        for (const quint64 over : { 0, 1 }) {
            const auto inMemory
                = NXHTTPRequest::requestWithURL(server.url(QString::fromLatin1(c.path)));
            inMemory->setMaximumBodySize(quint64(c.expected.size()) - over);
            run(inMemory);
            EXPECT_EQ(inMemory->error().code(), over == 0 ? 0 : 13) << over;
            if (over == 0) {
                EXPECT_EQ(inMemory->responseData(), c.expected);
            }
        }
    }
}

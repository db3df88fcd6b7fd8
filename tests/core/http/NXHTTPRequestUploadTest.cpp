#include "http/NXDataDecompressor.h"
#include "http/NXHTTPRequest.h"
#include "http/NXHTTPRequestState.h"

#include "RequestTestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class UploadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start());
        server.route(QStringLiteral("/echo"), TestReply::text("taken"));
    }

    TestRequest send(const std::shared_ptr<NXHTTPRequest>& request)
    {
        const qsizetype before = server.requests().size();
        request->startAsynchronous();
        EXPECT_TRUE(QTest::qWaitFor([&] { return request->isFinished(); }, 10000));
        EXPECT_TRUE(request->error().isNull())
            << request->error().localizedDescription().toStdString();
        const QList<TestRequest> seen = server.requests();
        return seen.size() > before ? seen.last() : TestRequest();
    }

    TestHttpServer server;
};

QStringList temporaryFiles()
{
    return QDir::temp().entryList(QDir::Files);
}

} // namespace

TEST_F(UploadTest, BodyDecidesMethodAndLength)
{
    const QByteArray ten = "0123456789";
    struct Case {
        const char* what;
        QString method;
        QList<QByteArray> appended;
        bool compress;
        QByteArray sentMethod;
        QByteArray length;
        QByteArray body;
    };
    const Case cases[] = {
        { "get with a body", QStringLiteral("GET"), { ten }, false, "POST", "10", ten },
        { "delete with a body", QStringLiteral("DELETE"), { "01234", "56789" }, false, "POST", "10",
            ten },
        { "put keeps its method", QStringLiteral("PUT"), { ten }, false, "PUT", "10", ten },
        { "empty body", QStringLiteral("GET"), { QByteArray() }, false, "GET", {}, {} },
        // The length is the one of the compressed bytes on the wire.
        { "compressed", QStringLiteral("POST"), { ten }, true, "POST", {}, ten },
    };
    for (const bool fromDisk : { false, true }) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (fromDisk ? ", from disk" : ", in memory"));
            const QStringList filesBefore = temporaryFiles();
            const auto request = NXHTTPRequest::requestWithURL(server.url(QStringLiteral("/echo")));
            request->setRequestMethod(c.method);
            request->setShouldStreamPostDataFromDisk(fromDisk);
            request->setShouldCompressRequestBody(c.compress);
            for (const QByteArray& piece : c.appended)
                request->appendPostData(piece);
            const TestRequest seen = send(request);
            EXPECT_EQ(seen.method, c.sentMethod);
            EXPECT_EQ(seen.header("Content-Length"),
                c.compress ? QByteArray::number(seen.body.size()) : c.length);
            EXPECT_EQ(
                seen.header("Content-Encoding"), c.compress ? QByteArray("gzip") : QByteArray());
            EXPECT_EQ(
                NXDataDecompressor::uncompressData(seen.body, nullptr).value_or(seen.body), c.body);
            EXPECT_EQ(request->responseString(), QStringLiteral("taken"));
            // Files the request made for its body go with it.
            EXPECT_EQ(temporaryFiles(), filesBefore);
        }
    }
}

TEST_F(UploadTest, BodyFromAFileIsSentAgainAfterARedirect)
{
    const QByteArray large = pattern(600000);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source"));
    writeFile(source, large);
    for (const auto& [status, method] : { std::pair(307, "PUT"), std::pair(308, "POST") }) {
        SCOPED_TRACE(status);
        server.route(QStringLiteral("/moved"), redirect(status, "/echo"));
        const auto request = NXHTTPRequest::requestWithURL(server.url(QStringLiteral("/moved")));
        request->setRequestMethod(QString::fromLatin1(method));
        // Appended from a file into memory, or sent from the file itself.
        if (status == 307)
            request->appendPostDataFromFile(source);
        else
            request->setPostBodyFilePath(source);
        const TestRequest seen = send(request);
        const QList<TestRequest> all = server.requests();
        ASSERT_GE(all.size(), 2);
        EXPECT_EQ(all[all.size() - 2].body, large);
        EXPECT_EQ(seen.target, "/echo");
        EXPECT_EQ(seen.method, method);
        EXPECT_EQ(seen.body, large);
    }
}

TEST(NXInputStream, ReadsNoMoreThanTheBandwidthLeavesAndNeverNothing)
{
    const QByteArray body(100, 'b');
    struct Case {
        const char* what;
        unsigned long limit;
        unsigned long used;
        qint64 expected;
    };
    const Case cases[] = {
        { "no limit", 0, 0, 50 },
        { "a quarter of the limit", 80, 0, 20 },
        { "window used up", 80, 80, 1 },
    };
    // Each case in a measurement window of its own.
    auto moment = std::chrono::steady_clock::now();
    NXHTTPRequest::setClock([&moment] { return moment; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        moment += std::chrono::seconds(2);
        NXHTTPRequest::setMaxBandwidthPerSecond(c.limit);
        NXHTTPRequest::measureBandwidthUsage();
        NXHTTPRequest::incrementBandwidthUsedInLastSecond(c.used);
        const auto stream = NXInputStream::inputStreamWithData(body);
        char buffer[50];
        EXPECT_EQ(stream->read(buffer, sizeof buffer), c.expected);
    }
    NXHTTPRequest::setMaxBandwidthPerSecond(0);
    NXHTTPRequest::setClock({});
}

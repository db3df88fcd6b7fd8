#include "http/NXHTTPRequest.h"

#include "RequestTestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// One stored answer for one URL; it may stand in for the network while
// `usable` says so for the request's state.
class StoredAnswer : public NXCacheDelegate {
public:
    std::function<bool(NXHTTPRequest&)> usable = [](NXHTTPRequest&) { return false; };
    int policy = 0;
    QUrl url;
    NXHeaderDictionary headers;
    QString bodyPath;
    int stores = 0;
    int renewals = 0;

    int defaultCachePolicy() const override { return policy; }
    bool canUseCachedDataForRequest(NXHTTPRequest& request) override { return usable(request); }
    void updateExpiryForRequest(NXHTTPRequest&, double) override { ++renewals; }
    void storeResponseForRequest(NXHTTPRequest&, double) override { ++stores; }
    std::optional<NXHeaderDictionary> cachedResponseHeadersForURL(const QUrl& asked) override
    {
        return asked == url ? std::optional(headers) : std::nullopt;
    }
    QString pathToCachedResponseDataForURL(const QUrl& asked) override
    {
        return asked == url ? bodyPath : QString();
    }
    QByteArray cachedResponseDataForURL(const QUrl& asked) override
    {
        QFile file(bodyPath);
        return asked == url && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

} // namespace

TEST(NXHTTPRequestCache, StoredAnswerStandsInForTheNetworkWhenTheStoreSaysSo)
{
    TestHttpServer server;
    ASSERT_TRUE(server.start());
    server.route(QStringLiteral("/page"), [](const TestRequest& asked) {
        if (asked.header("If-None-Match") == "\"v1\"")
            return TestReply::text({}, 304);
        return TestReply::text("fresh");
    });
    TestReply cut = TestReply::text("never whole");
    cut.cutAfter = 3;
    server.route(QStringLiteral("/cut"), cut);
    QTemporaryDir dir;
    const QString stored = dir.filePath(QStringLiteral("stored"));
    writeFile(stored, "from the store");

    const auto always = [](NXHTTPRequest&) { return true; };
    const auto notModified = [](NXHTTPRequest& r) { return r.responseStatusCode() == 304; };
    const auto afterFailure = [](NXHTTPRequest& r) { return r.complete(); };
    struct Case {
        const char* what;
        QString path;
        QString method;
        std::function<bool(NXHTTPRequest&)> usable;
        int policy;
        bool toFile;
        int requests;
        QString body;
        int stores;
    };
    const Case cases[] = {
        { "store answers first", QStringLiteral("/page"), QStringLiteral("GET"), always, 0, false,
            0, QStringLiteral("from the store"), 0 },
        { "into a file", QStringLiteral("/page"), QStringLiteral("GET"), always, 0, true, 0,
            QStringLiteral("from the store"), 0 },
        { "not modified", QStringLiteral("/page"), QStringLiteral("GET"), notModified, 4, false, 1,
            QStringLiteral("from the store"), 0 },
        { "not asked to revalidate", QStringLiteral("/page"), QStringLiteral("GET"), notModified, 1,
            false, 1, QStringLiteral("fresh"), 1 },
        // A lost connection is tried once more before the request fails.
        { "network fails", QStringLiteral("/cut"), QStringLiteral("GET"), afterFailure, 64, false,
            2, QStringLiteral("from the store"), 0 },
        { "only GET uses it", QStringLiteral("/page"), QStringLiteral("DELETE"), always, 0, false,
            1, QStringLiteral("fresh"), 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto cache = std::make_shared<StoredAnswer>();
        cache->usable = c.usable;
        cache->policy = c.policy;
        cache->url = server.url(c.path);
        cache->headers = { { QStringLiteral("Etag"), QStringLiteral("\"v1\"") },
            { QStringLiteral("Content-Length"), QStringLiteral("14") },
            { QStringLiteral("X-NXHTTPRequest-Response-Status-Code"), QStringLiteral("200") } };
        cache->bodyPath = stored;
        const qsizetype before = server.requests().size();
        const auto get = NXHTTPRequest::requestWithURL(server.url(c.path));
        get->setRequestMethod(c.method);
        get->setDownloadCache(cache);
        if (c.toFile)
            get->setDownloadDestinationPath(dir.filePath(QStringLiteral("out")));
        get->startAsynchronous();
        ASSERT_TRUE(QTest::qWaitFor([&] { return get->isFinished(); }, 10000));
        EXPECT_TRUE(get->error().isNull()) << get->error().localizedDescription().toStdString();
        EXPECT_EQ(server.requests().size() - before, c.requests);
        const bool fromStore = c.body == QLatin1String("from the store");
        EXPECT_EQ(get->didUseCachedResponse(), fromStore);
        EXPECT_EQ(get->responseStatusCode(), 200);
        EXPECT_EQ(c.toFile ? get->downloadDestinationPath() : get->responseString(),
            c.toFile ? stored : c.body);
        EXPECT_EQ(cache->stores, c.stores);
        EXPECT_EQ(cache->renewals, c.policy == 4 ? 1 : 0);
    }
}

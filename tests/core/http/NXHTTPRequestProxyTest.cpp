#include "http/NXHTTPRequest.h"

#include "RequestTestSupport.h"
#include "server/TestProxy.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A script that gives `answer` for the test server's target when `guard`
// holds, and a direct connection otherwise.
QByteArray chooser(const QByteArray& answer, const QByteArray& guard = "true")
{
    return "function FindProxyForURL(url, host) {\n  if (" + guard
        + " && shExpMatch(url, \"*/target\")) return \"" + answer + "\";\n"
        + "  return \"DIRECT\";\n}\n";
}

class ProxyChoiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start());
        ASSERT_TRUE(proxy.start());
        server.route(QStringLiteral("/target"), TestReply::text("here"));
    }

    QString file(const QString& name, const QByteArray& bytes) const
    {
        const QString path = dir.filePath(name);
        writeFile(path, bytes);
        return path;
    }

    std::shared_ptr<NXHTTPRequest> fetch(const QUrl& script, double timeOut = 10)
    {
        const auto get = NXHTTPRequest::requestWithURL(server.url(QStringLiteral("/target")));
        get->setPACurl(script);
        get->setTimeOutSeconds(timeOut);
        // The proxy logs the first request of each connection only.
        get->setShouldAttemptPersistentConnection(false);
        get->startAsynchronous();
        EXPECT_TRUE(QTest::qWaitFor([&] { return get->isFinished(); }, 10000));
        EXPECT_TRUE(get->error().isNull()) << get->error().localizedDescription().toStdString();
        EXPECT_EQ(get->responseString(), QStringLiteral("here"));
        return get;
    }

    QStringList throughProxy() const
    {
        return { QStringLiteral("GET ") + server.url(QStringLiteral("/target")).toString() };
    }

    TestHttpServer server;
    TestProxy proxy { TestProxy::Kind::Http };
    QTemporaryDir dir;
};

} // namespace

TEST_F(ProxyChoiceTest, ScriptFromDiskOrServerChoosesProxyOrDirect)
{
    const QByteArray viaProxy = "PROXY 127.0.0.1:" + QByteArray::number(proxy.port());
    server.route(QStringLiteral("/proxy.pac"), TestReply::text(chooser(viaProxy)));
    server.route(QStringLiteral("/direct.pac"), TestReply::text(chooser("DIRECT")));
    struct Case {
        const char* what;
        QUrl script;
        bool proxied;
    };
    const Case cases[] = {
        { "file, proxy", QUrl::fromLocalFile(file(QStringLiteral("a.pac"), chooser(viaProxy))),
            true },
        { "file, direct", QUrl::fromLocalFile(file(QStringLiteral("b.pac"), chooser("DIRECT"))),
            false },
        { "file in utf-8",
            QUrl::fromLocalFile(file(QStringLiteral("u.pac"),
                chooser(viaProxy, "\"caf\xc3\xa9\".charCodeAt(3) == 233"))),
            true },
        // Not UTF-8: read as ISO Latin 1, so the letter is the one written.
        { "file in latin-1",
            QUrl::fromLocalFile(file(
                QStringLiteral("c.pac"), chooser(viaProxy, "\"caf\xe9\".charCodeAt(3) == 233"))),
            true },
        { "http, proxy", server.url(QStringLiteral("/proxy.pac")), true },
        { "http, direct", server.url(QStringLiteral("/direct.pac")), false },
        { "unknown scheme", QUrl(QStringLiteral("gopher://127.0.0.1/x.pac")), false },
    };
    QStringList expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto get = fetch(c.script);
        if (c.proxied)
            expected += throughProxy();
        EXPECT_EQ(proxy.log().join(QLatin1Char(' ')), expected.join(QLatin1Char(' ')));
        EXPECT_EQ(get->proxyHost().isEmpty(), !c.proxied);
    }
}

TEST_F(ProxyChoiceTest, StuckOrEndlessScriptGoesDirectAfterTheTimeOut)
{
    const QString fifo = dir.filePath(QStringLiteral("stuck.pac"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Held open for writing and never written: a reader would wait forever.
    const int writer = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    const QByteArray endless = "function FindProxyForURL(u, h) { while (true) {} }";
    const struct {
        const char* what;
        QUrl script;
    } cases[] = {
        { "read never ends", QUrl::fromLocalFile(fifo) },
        { "script never ends", QUrl::fromLocalFile(file(QStringLiteral("loop.pac"), endless)) },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QElapsedTimer clock;
        clock.start();
        fetch(c.script, 0.4);
        EXPECT_LT(clock.elapsed(), 3000);
        EXPECT_TRUE(proxy.log().isEmpty());
    }
    ::close(writer);
}

TEST_F(ProxyChoiceTest, ProxyTheOwnerSetWinsOverTheScript)
{
    const auto get = NXHTTPRequest::requestWithURL(server.url(QStringLiteral("/target")));
    get->setProxyHost(QStringLiteral("127.0.0.1"));
    get->setProxyPort(proxy.port());
    // Would fail the request if it were ever read.
    get->setPACurl(
        QUrl::fromLocalFile(file(QStringLiteral("d.pac"), chooser("PROXY 127.0.0.1:1"))));
    get->startSynchronous();
    EXPECT_TRUE(get->error().isNull());
    EXPECT_EQ(proxy.log().join(QLatin1Char(' ')), throughProxy().join(QLatin1Char(' ')));
}

TEST_F(ProxyChoiceTest, EnvironmentProxyIsUsedUnlessTheHostIsExempt)
{
    const QByteArray address = "http://127.0.0.1:" + QByteArray::number(proxy.port());
    const struct {
        const char* what;
        QByteArray noProxy;
        bool proxied;
    } cases[] = {
        { "proxied", {}, true },
        { "exempt", "localhost,127.0.0.1", false },
    };
    QStringList expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        qputenv("http_proxy", address);
        qputenv("no_proxy", c.noProxy);
        const auto get = NXHTTPRequest::requestWithURL(server.url(QStringLiteral("/target")));
        get->setShouldAttemptPersistentConnection(false);
        get->startSynchronous();
        qunsetenv("http_proxy");
        qunsetenv("no_proxy");
        EXPECT_TRUE(get->error().isNull());
        if (c.proxied)
            expected += throughProxy();
        EXPECT_EQ(proxy.log().join(QLatin1Char(' ')), expected.join(QLatin1Char(' ')));
    }
}

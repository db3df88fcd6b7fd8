#include "http/HttpReadStream.h"

#include "RequestTestSupport.h"
#include "server/TestCertificates.h"
#include "server/TestProxy.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace {

constexpr unsigned kAllEvents = HttpReadStream::OpenCompleted | HttpReadStream::HasBytesAvailable
    | HttpReadStream::ErrorOccurred | HttpReadStream::EndEncountered;

struct Outcome {
    QList<unsigned> events;
    QByteArray body;
    HttpError error;
    std::optional<HttpMessage> head;
    bool ended = false;
    bool failed = false;
    bool timedOut = false;
};

// Opens the stream with events on this thread and runs the event loop until
// the end or an error (or the time limit), reading at most `readSize` bytes
// per event.
Outcome run(HttpReadStream& stream, qint64 readSize = 1 << 20)
{
    Outcome outcome;
    QEventLoop loop;
    stream.setClient(kAllEvents, [&](HttpReadStream::Event event) {
        outcome.events.append(event);
        if (event == HttpReadStream::HasBytesAvailable)
            outcome.body += stream.read(readSize);
        outcome.ended = event == HttpReadStream::EndEncountered;
        outcome.failed = event == HttpReadStream::ErrorOccurred;
        if (outcome.ended || outcome.failed)
            loop.quit();
    });
    stream.schedule();
    if (!stream.open()) {
        outcome.error = stream.error();
        return outcome;
    }
    QTimer::singleShot(15000, &loop, [&] {
        outcome.timedOut = true;
        loop.quit();
    });
    loop.exec();
    outcome.error = stream.error();
    outcome.head = stream.responseHeader();
    return outcome;
}

HttpMessage get(const QUrl& url)
{
    return HttpMessage::request(QStringLiteral("GET"), url);
}

Outcome fetch(const QUrl& url, const std::function<void(HttpReadStream&)>& configure = {})
{
    HttpReadStream stream(get(url));
    if (configure)
        configure(stream);
    return run(stream);
}

std::function<void(HttpReadStream&)> pooled(int id)
{
    return [id](HttpReadStream& stream) {
        stream.setPersistentConnection(true);
        stream.setProperty(QLatin1String(HttpReadStream::streamIdProperty), id);
    };
}

TestReply reply(const QByteArray& body, TestReply::Framing framing)
{
    TestReply answer = TestReply::text(body);
    answer.framing = framing;
    return answer;
}

std::unique_ptr<HttpBodyStream> bodyOf(const QByteArray& bytes)
{
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    return HttpBodyStream::fromDevice(std::move(buffer));
}

quint64 digest(const char* data, qsizetype size, quint64 from = 0)
{
    for (qsizetype i = 0; i < size; ++i)
        from = from * 31 + quint8(data[i]);
    return from;
}

// Takes one request whose body length is announced, a few KiB at a time
// through a small receive buffer so that an upload outruns it, and answers
// with the number of body bytes and their digest.
class SlowSink {
public:
    SlowSink()
        : m_listener(::socket(AF_INET, SOCK_STREAM, 0))
    {
        const int small = 4096;
        ::setsockopt(m_listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length);
        ::listen(m_listener, 1);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~SlowSink()
    {
        ::shutdown(m_listener, SHUT_RDWR); // frees an accept() still waiting
        m_thread.join();
        ::close(m_listener);
    }
    SlowSink(const SlowSink&) = delete;
    SlowSink& operator=(const SlowSink&) = delete;
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/sink").arg(m_port)); }

private:
    void serve() const
    {
        const int connection = ::accept(m_listener, nullptr, nullptr);
        if (connection < 0)
            return;
        std::string head;
        char buffer[4096];
        qint64 got = 0;
        while (head.find("\r\n\r\n") == std::string::npos
            && (got = ::recv(connection, buffer, 1, 0)) == 1)
            head += buffer[0];
        const size_t field = head.find("Content-Length: ");
        qint64 left = field == std::string::npos ? 0 : std::stoll(head.substr(field + 16));
        const qint64 announced = left;
        quint64 sum = 0;
        while (left > 0 && (got = ::recv(connection, buffer, sizeof buffer, 0)) > 0) {
            sum = digest(buffer, qsizetype(got), sum);
            left -= got;
        }
        const QByteArray body
            = QByteArray::number(announced - left) + ' ' + QByteArray::number(sum);
        const QByteArray answer = "HTTP/1.1 200 OK\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        ::send(connection, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL);
        ::close(connection);
    }

    int m_listener;
    quint16 m_port = 0;
    std::thread m_thread;
};

class ReadStreamTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.start()); }
    TestHttpServer server;
};

TEST_F(ReadStreamTest, BodiesOfEveryFramingArriveWhole)
{
    const QByteArray big = pattern(3200000); // beyond the buffer limit
    TestReply interim = TestReply::text("after interim");
    interim.interimStatuses = { 100, 102 };
    struct Case {
        const char* path;
        TestReply answer;
        QByteArray body;
        qint64 readSize;
    };
    for (const Case& c : {
             Case { "/length", reply("hello", TestReply::Framing::Length), "hello", 1 << 20 },
             Case { "/chunked", reply("a chunked body of some length", TestReply::Framing::Chunked),
                 "a chunked body of some length", 1 << 20 },
             Case { "/close", reply("until the end", TestReply::Framing::UntilClose),
                 "until the end", 1 << 20 },
             Case { "/empty", reply("", TestReply::Framing::Length), "", 1 << 20 },
             Case { "/interim", interim, "after interim", 1 << 20 },
             Case { "/big-slow-reader", reply(big, TestReply::Framing::Length), big, 100000 },
             Case { "/big-fast-reader", reply(big, TestReply::Framing::Length), big, 1 << 20 },
             Case { "/big-chunked", reply(big, TestReply::Framing::Chunked), big, 77777 },
             Case { "/big-close", reply(big, TestReply::Framing::UntilClose), big, 77777 },
         }) {
        SCOPED_TRACE(c.path);
        server.route(QString::fromLatin1(c.path), c.answer);
        const Outcome outcome = fetch(server.url(QString::fromLatin1(c.path)));
        ASSERT_TRUE(outcome.ended) << outcome.error.localizedDescription().toStdString();
        EXPECT_EQ(outcome.body.size(), c.body.size());
        EXPECT_TRUE(outcome.body == c.body);
        EXPECT_EQ(outcome.events.first(), HttpReadStream::OpenCompleted);
        ASSERT_TRUE(outcome.head);
        EXPECT_EQ(outcome.head->statusCode(), 200);
        EXPECT_EQ(
            outcome.head->header(QStringLiteral("content-type")), QStringLiteral("text/plain"));
    }
    const TestRequest request = server.requests().first();
    EXPECT_EQ(request.target, "/length");
    EXPECT_EQ(request.header("Host"), "127.0.0.1:" + QByteArray::number(server.port()));
}

TEST_F(ReadStreamTest, FailuresAreReportedByCategory)
{
    TestReply cut = reply("0123456789", TestReply::Framing::Length);
    cut.cutAfter = 4;
    TestReply reset = cut;
    reset.reset = true;
    TestReply cutChunked = reply("0123456789", TestReply::Framing::Chunked);
    cutChunked.cutAfter = 4;
    TestReply garbage;
    garbage.raw = "SSH-2.0-OpenSSH_9.2\r\n\r\n";
    TestReply silentClose;
    silentClose.raw = "";
    struct Case {
        const char* path;
        TestReply answer;
        TransportError category;
        QByteArray bodyBeforeError;
    };
    for (const Case& c : {
             Case { "/cut", cut, TransportError::ConnectionLost, "0123" },
             Case { "/reset", reset, TransportError::ConnectionLost, "" },
             Case { "/cut-chunked", cutChunked, TransportError::ConnectionLost, "0123" },
             Case { "/silent-close", silentClose, TransportError::ConnectionLost, "" },
             Case { "/garbage", garbage, TransportError::Protocol, "" },
         }) {
        SCOPED_TRACE(c.path);
        server.route(QString::fromLatin1(c.path), c.answer);
        const Outcome outcome = fetch(server.url(QString::fromLatin1(c.path)));
        ASSERT_TRUE(outcome.failed);
        EXPECT_FALSE(outcome.ended);
        EXPECT_EQ(outcome.error.transportCategory(), c.category)
            << outcome.error.localizedDescription().toStdString();
        EXPECT_EQ(outcome.error.domain(), HttpError::transportDomain);
        if (!c.bodyBeforeError.isEmpty()) {
            EXPECT_EQ(outcome.body, c.bodyBeforeError);
        }
    }
}

TEST_F(ReadStreamTest, RefusedConnectionAndBadRequestsAreOtherErrors)
{
    quint16 closedPort = 0;
    {
        TestHttpServer gone;
        ASSERT_TRUE(gone.start());
        closedPort = gone.port();
    }
    const Outcome refused = fetch(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort)));
    EXPECT_TRUE(refused.failed);
    EXPECT_EQ(refused.error.transportCategory(), TransportError::Other);

    HttpReadStream ftp(get(QUrl(QStringLiteral("ftp://127.0.0.1/x"))));
    EXPECT_FALSE(ftp.open());
    EXPECT_FALSE(ftp.error().isNull());
    EXPECT_EQ(ftp.status(), HttpReadStream::Status::Error);
}

TEST_F(ReadStreamTest, ConnectionsAreReusedByStreamId)
{
    server.route(QStringLiteral("/a"), TestReply::text("a"));
    TestReply closing = TestReply::text("closing");
    closing.closeAfter = true;
    server.route(QStringLiteral("/closing"), closing);
    server.route(QStringLiteral("/close-delimited"), reply("x", TestReply::Framing::UntilClose));
    struct Step {
        const char* path;
        std::function<void(HttpReadStream&)> configure;
        bool reused;
        int connections; // accepted by the server so far
    };
    std::vector<std::unique_ptr<HttpReadStream>> kept; // streams hold their idle connections
    for (const Step& step : {
             Step { "/a", pooled(1), false, 1 },
             Step { "/a", pooled(1), true, 1 },
             Step { "/a", pooled(2), false, 2 },
             Step { "/a", pooled(1), true, 2 },
             Step { "/a", {}, false, 3 },
             Step { "/closing", pooled(3), false, 4 },
             Step { "/a", pooled(3), false, 5 },
             Step { "/close-delimited", pooled(4), false, 6 },
             Step { "/a", pooled(4), false, 7 },
         }) {
        SCOPED_TRACE(std::string(step.path) + " step " + std::to_string(kept.size()));
        auto stream
            = std::make_unique<HttpReadStream>(get(server.url(QString::fromLatin1(step.path))));
        if (step.configure)
            step.configure(*stream);
        const Outcome outcome = run(*stream);
        ASSERT_TRUE(outcome.ended);
        EXPECT_EQ(stream->reusedConnection(), step.reused);
        EXPECT_EQ(server.connectionCount(), step.connections);
        kept.push_back(std::move(stream));
    }
    // Closing the stream that holds an idle connection closes it; the next
    // stream with that id connects anew.
    kept[3]->close();
    const auto after = std::make_unique<HttpReadStream>(get(server.url(QStringLiteral("/a"))));
    pooled(1)(*after);
    ASSERT_TRUE(run(*after).ended);
    EXPECT_FALSE(after->reusedConnection());
    EXPECT_EQ(server.connectionCount(), 8);
}

TEST_F(ReadStreamTest, UnscheduledStreamsHoldTheirEventsForTheThreadThatSchedules)
{
    server.route(QStringLiteral("/held"), TestReply::text("held back"));
    HttpReadStream stream(get(server.url(QStringLiteral("/held"))));
    QList<unsigned> events;
    QByteArray body;
    QSet<QThread*> threads;
    const auto collect = [&](QEventLoop* loop) {
        return [&, loop](HttpReadStream::Event event) {
            events.append(event);
            threads.insert(QThread::currentThread());
            if (event == HttpReadStream::HasBytesAvailable)
                body += stream.read(4);
            if (event == HttpReadStream::EndEncountered && loop)
                loop->quit();
        };
    };
    stream.setClient(kAllEvents, collect(nullptr));
    ASSERT_TRUE(stream.open());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return stream.status() == HttpReadStream::Status::AtEnd; }, 10000));
    QCoreApplication::processEvents();
    EXPECT_TRUE(events.isEmpty());

    std::unique_ptr<QThread> worker(QThread::create([&] {
        QEventLoop loop;
        stream.setClient(kAllEvents, collect(&loop));
        stream.schedule();
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        stream.close();
    }));
    worker->start();
    ASSERT_TRUE(worker->wait(20000));
    EXPECT_EQ(body, "held back");
    EXPECT_EQ(events.first(), HttpReadStream::OpenCompleted);
    EXPECT_EQ(events.last(), HttpReadStream::EndEncountered);
    EXPECT_EQ(events.count(HttpReadStream::HasBytesAvailable), 3); // 4 + 4 + 1 bytes
    EXPECT_EQ(threads, QSet<QThread*> { worker.get() });
}

TEST_F(ReadStreamTest, ClosingBeforeTheEndDropsTheConnection)
{
    TestReply stall = TestReply::text("0123456789");
    stall.stallAfter = 3;
    server.route(QStringLiteral("/stall"), stall);
    server.route(QStringLiteral("/a"), TestReply::text("a"));
    {
        HttpReadStream stalled(get(server.url(QStringLiteral("/stall"))));
        pooled(7)(stalled);
        QByteArray body;
        stalled.setClient(kAllEvents, [&](HttpReadStream::Event event) {
            if (event == HttpReadStream::HasBytesAvailable)
                body += stalled.read(100);
        });
        stalled.schedule();
        ASSERT_TRUE(stalled.open());
        ASSERT_TRUE(QTest::qWaitFor([&] { return body.size() == 3; }, 10000));
        stalled.close();
        EXPECT_EQ(stalled.status(), HttpReadStream::Status::Closed);
    }
    HttpReadStream next(get(server.url(QStringLiteral("/a"))));
    pooled(7)(next);
    ASSERT_TRUE(run(next).ended);
    EXPECT_FALSE(next.reusedConnection());
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST_F(ReadStreamTest, RequestBodiesAreSent)
{
    server.route(QStringLiteral("/echo"), [](const TestRequest& request) {
        return TestReply::text(
            request.method + ' ' + request.header("Transfer-Encoding") + ' ' + request.body);
    });
    const QByteArray payload = QByteArray("body-bytes ").repeated(10000);
    for (const bool announceLength : { true, false }) {
        SCOPED_TRACE(announceLength);
        HttpMessage post
            = HttpMessage::request(QStringLiteral("POST"), server.url(QStringLiteral("/echo")));
        if (announceLength)
            post.setHeader(QStringLiteral("Content-Length"), QString::number(payload.size()));
        HttpReadStream stream(post, bodyOf(payload));
        const Outcome outcome = run(stream);
        ASSERT_TRUE(outcome.ended);
        EXPECT_TRUE(
            outcome.body == "POST " + QByteArray(announceLength ? "" : "chunked") + ' ' + payload);
        EXPECT_EQ(stream.requestBytesWritten(), quint64(payload.size()));
    }
}

TEST(ReadStreamUpload, AnUploadThatOutrunsTheServerArrivesWhole)
{
    SlowSink sink;
    const QByteArray payload = pattern(8 * 1024 * 1024);
    HttpMessage post = HttpMessage::request(QStringLiteral("POST"), sink.url());
    post.setHeader(QStringLiteral("Content-Length"), QString::number(payload.size()));
    HttpReadStream stream(post, bodyOf(payload));
    const Outcome outcome = run(stream);
    ASSERT_TRUE(outcome.ended) << outcome.error.localizedDescription().toStdString();
    EXPECT_EQ(outcome.body,
        QByteArray::number(payload.size()) + ' '
            + QByteArray::number(digest(payload.constData(), payload.size())));
    EXPECT_EQ(stream.requestBytesWritten(), quint64(payload.size()));
}

class TlsStreamTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        serverIdentity = makeSelfSignedIdentity(QStringLiteral("test server"));
        clientIdentity = makeSelfSignedIdentity(QStringLiteral("test client"));
    }
    void SetUp() override
    {
        ASSERT_TRUE(serverIdentity && clientIdentity) << "openssl could not make a certificate";
        ASSERT_TRUE(server.start(serverIdentity));
        server.route(QStringLiteral("/secret"), TestReply::text("over tls"));
    }
    static std::function<void(HttpReadStream&)> tls(bool strict, bool withClientIdentity = false)
    {
        return [=](HttpReadStream& stream) {
            TlsSettings settings;
            settings.validatesCertificateChain = strict;
            if (withClientIdentity) {
                settings.clientCertificate = clientIdentity->certificate;
                settings.clientKey = clientIdentity->key;
            }
            stream.setTlsSettings(settings);
        };
    }
    static inline std::optional<TestTlsIdentity> serverIdentity;
    static inline std::optional<TestTlsIdentity> clientIdentity;
    TestHttpServer server;
};

TEST_F(TlsStreamTest, SelfSignedIsRefusedUnlessRelaxed)
{
    const Outcome strict = fetch(server.url(QStringLiteral("/secret")), tls(true));
    EXPECT_TRUE(strict.failed);
    EXPECT_EQ(strict.error.transportCategory(), TransportError::Tls)
        << strict.error.localizedDescription().toStdString();

    const Outcome relaxed = fetch(server.url(QStringLiteral("/secret")), tls(false));
    ASSERT_TRUE(relaxed.ended) << relaxed.error.localizedDescription().toStdString();
    EXPECT_EQ(relaxed.body, "over tls");
}

TEST_F(TlsStreamTest, ClientCertificateIsPresented)
{
    TestHttpServer guarded;
    ASSERT_TRUE(guarded.start(serverIdentity, clientIdentity->certificate));
    guarded.route(QStringLiteral("/secret"), TestReply::text("welcome"));

    const Outcome with = fetch(guarded.url(QStringLiteral("/secret")), tls(false, true));
    ASSERT_TRUE(with.ended) << with.error.localizedDescription().toStdString();
    EXPECT_EQ(with.body, "welcome");
    EXPECT_EQ(guarded.requests().value(0).clientCertificate, QStringLiteral("test client"));

    const Outcome without = fetch(guarded.url(QStringLiteral("/secret")), tls(false, false));
    EXPECT_TRUE(without.failed);
    EXPECT_EQ(guarded.requests().size(), 1);
}

TEST_F(TlsStreamTest, ProxiesCarryPlainAndSecureRequests)
{
    TestHttpServer plain;
    ASSERT_TRUE(plain.start());
    plain.route(QStringLiteral("/open"), TestReply::text("plain"));
    TestProxy http(TestProxy::Kind::Http);
    TestProxy socks(TestProxy::Kind::Socks5);
    ASSERT_TRUE(http.start() && socks.start());
    const auto through = [](const TestProxy& proxy, ProxySettings::Kind kind, bool strict) {
        return [&proxy, kind, strict](HttpReadStream& stream) {
            stream.setProxy({ kind, QStringLiteral("127.0.0.1"), proxy.port() });
            tls(strict)(stream);
        };
    };
    const QString plainPort = QString::number(plain.port());
    const QString securePort = QString::number(server.port());
    struct Case {
        const char* name;
        QUrl url;
        std::function<void(HttpReadStream&)> configure;
        QByteArray body;
        const TestProxy* proxy;
        QString logged;
    };
    for (const Case& c : {
             Case { "httpAbsoluteForm", plain.url(QStringLiteral("/open")),
                 through(http, ProxySettings::Kind::Http, true), "plain", &http,
                 QStringLiteral("GET http://127.0.0.1:") + plainPort + QStringLiteral("/open") },
             Case { "httpConnect", server.url(QStringLiteral("/secret")),
                 through(http, ProxySettings::Kind::Http, false), "over tls", &http,
                 QStringLiteral("CONNECT 127.0.0.1:") + securePort },
             Case { "socksPlain", plain.url(QStringLiteral("/open")),
                 through(socks, ProxySettings::Kind::Socks5, true), "plain", &socks,
                 QStringLiteral("SOCKS5 127.0.0.1:") + plainPort },
             Case { "socksSecure", server.url(QStringLiteral("/secret")),
                 through(socks, ProxySettings::Kind::Socks5, false), "over tls", &socks,
                 QStringLiteral("SOCKS5 127.0.0.1:") + securePort },
         }) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = fetch(c.url, c.configure);
        ASSERT_TRUE(outcome.ended) << outcome.error.localizedDescription().toStdString();
        EXPECT_EQ(outcome.body, c.body);
        EXPECT_EQ(c.proxy->log().last(), c.logged);
    }
    // The server behind the proxy saw the origin form.
    EXPECT_EQ(plain.requests().first().target, "/open");
}

TEST_F(TlsStreamTest, AProxyThatRefusesTheTunnelAnswersInstead)
{
    TestProxy http(TestProxy::Kind::Http);
    http.requireAuthorization("Basic dXNlcjpwdw==");
    ASSERT_TRUE(http.start());
    for (const bool withCredentials : { false, true }) {
        SCOPED_TRACE(withCredentials);
        HttpMessage message = get(server.url(QStringLiteral("/secret")));
        if (withCredentials)
            message.setHeader(
                QStringLiteral("Proxy-Authorization"), QStringLiteral("Basic dXNlcjpwdw=="));
        HttpReadStream stream(message);
        stream.setProxy({ ProxySettings::Kind::Http, QStringLiteral("127.0.0.1"), http.port() });
        tls(false)(stream);
        const Outcome outcome = run(stream);
        ASSERT_TRUE(outcome.ended);
        ASSERT_TRUE(outcome.head);
        EXPECT_EQ(outcome.head->statusCode(), withCredentials ? 200 : 407);
        EXPECT_EQ(outcome.body, withCredentials ? QByteArray("over tls") : QByteArray("deny"));
    }
    // The credentials went to the proxy only, never through the tunnel.
    EXPECT_TRUE(server.requests().last().header("Proxy-Authorization").isEmpty());
}

} // namespace

#include "http/NXHTTPRequest.h"

#include "RequestTestSupport.h"
#include "server/TestCertificates.h"
#include "server/TestProxy.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using Pair = QPair<QString, QString>;

// Answers a request for credentials with the next pair of its list, or
// cancels the authentication when the list is used up.
class CredentialGiver : public QObject {
    Q_OBJECT
public:
    QList<Pair> serverPairs;
    QList<Pair> proxyPairs;
    int serverAsks = 0;
    int proxyAsks = 0;
    int ends = 0;
    bool silent = false; // hears the question and never answers

public slots:
    void authenticationNeededForRequest(NXHTTPRequest* request)
    {
        ++serverAsks;
        if (silent)
            return;
        if (serverPairs.isEmpty())
            return request->cancelAuthentication();
        const Pair pair = serverPairs.takeFirst();
        request->setUsername(pair.first);
        request->setPassword(pair.second);
        request->retryUsingSuppliedCredentials();
    }
    void proxyAuthenticationNeededForRequest(NXHTTPRequest* request)
    {
        ++proxyAsks;
        if (proxyPairs.isEmpty())
            return request->cancelAuthentication();
        const Pair pair = proxyPairs.takeFirst();
        request->setProxyUsername(pair.first);
        request->setProxyPassword(pair.second);
        request->retryUsingSuppliedCredentials();
    }
    void requestFinished(NXHTTPRequest*) { ++ends; }
    void requestFailed(NXHTTPRequest*) { ++ends; }
};

QByteArray md5(const QByteArray& text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex();
}

QMap<QByteArray, QByteArray> digestFields(const QByteArray& authorization)
{
    static const QRegularExpression field(QStringLiteral(R"re((\w+)=(?:"([^"]*)"|([^,\s]+)))re"));
    QMap<QByteArray, QByteArray> fields;
    auto matches = field.globalMatch(QString::fromLatin1(authorization));
    while (matches.hasNext()) {
        const auto match = matches.next();
        const QString value = match.captured(2).isNull() ? match.captured(3) : match.captured(2);
        fields.insert(match.captured(1).toLatin1(), value.toLatin1());
    }
    return fields;
}

// A server that takes "user" / "secret" only, checked as the server side of
// Basic or Digest does it.
TestReply guarded(const TestRequest& asked, bool digest)
{
    const QByteArray answer = asked.header("Authorization");
    bool accepted = false;
    if (!digest) {
        accepted = answer == "Basic " + QByteArray("user:secret").toBase64();
    } else if (answer.startsWith("Digest ")) {
        const auto f = digestFields(answer.mid(7));
        const QByteArray ha1 = md5(f["username"] + ":test:secret");
        const QByteArray ha2 = md5(asked.method + ':' + f["uri"]);
        accepted = f["uri"] == asked.target && f["username"] == "user"
            && f["response"]
                == md5(ha1 + ':' + "n0nce" + ':' + f["nc"] + ':' + f["cnonce"] + ":auth:" + ha2);
    }
    if (accepted)
        return TestReply::text("welcome");
    const QByteArray offered = digest
        ? R"(Digest realm="test", nonce="n0nce", qop="auth", algorithm=MD5)"
        : R"(Basic realm="test")";
    return withHeader(TestReply::text("who are you", 401), "WWW-Authenticate", offered);
}

class AuthTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start());
        NXHTTPRequest::clearSession();
        server.route(
            QStringLiteral("/basic"), [](const TestRequest& r) { return guarded(r, false); });
        server.route(
            QStringLiteral("/digest"), [](const TestRequest& r) { return guarded(r, true); });
    }

    QUrl url(const QString& path, const QString& user = {}, const QString& password = {}) const
    {
        QUrl made = server.url(path);
        made.setUserName(user);
        made.setPassword(password);
        return made;
    }

    static void run(const std::shared_ptr<NXHTTPRequest>& request, CredentialGiver& giver)
    {
        request->setDelegate(&giver);
        request->startAsynchronous();
        ASSERT_TRUE(QTest::qWaitFor([&] { return giver.ends > 0; }, 10000));
        settle();
    }

    TestHttpServer server;
};

} // namespace

TEST_F(AuthTest, BasicAndDigestWithCredentialsFromTheUrlOrTheDelegate)
{
    const Pair right { QStringLiteral("user"), QStringLiteral("secret") };
    const Pair wrong { QStringLiteral("user"), QStringLiteral("guess") };
    struct Case {
        const char* what;
        QString path;
        Pair inUrl;
        QList<Pair> fromDelegate;
        int asks;
        int requests;
    };
    const Case cases[] = {
        { "basic, url", QStringLiteral("/basic"), right, {}, 0, 2 },
        { "digest, url", QStringLiteral("/digest"), right, {}, 0, 2 },
        { "basic, delegate", QStringLiteral("/basic"), {}, { right }, 1, 2 },
        { "digest, delegate", QStringLiteral("/digest"), {}, { right }, 1, 2 },
        // The refused pair is asked for again, not sent again.
        { "basic, wrong then right", QStringLiteral("/basic"), {}, { wrong, right }, 2, 3 },
        { "digest, wrong then right", QStringLiteral("/digest"), {}, { wrong, right }, 2, 3 },
        { "digest, wrong url pair", QStringLiteral("/digest"), wrong, { right }, 1, 3 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NXHTTPRequest::clearSession();
        const qsizetype before = server.requests().size();
        CredentialGiver giver;
        giver.serverPairs = c.fromDelegate;
        const auto get = NXHTTPRequest::requestWithURL(url(c.path, c.inUrl.first, c.inUrl.second));
        run(get, giver);
        EXPECT_TRUE(get->error().isNull()) << get->error().localizedDescription().toStdString();
        EXPECT_EQ(get->responseStatusCode(), 200);
        EXPECT_EQ(get->responseString(), QStringLiteral("welcome"));
        EXPECT_EQ(giver.serverAsks, c.asks);
        EXPECT_EQ(server.requests().size() - before, c.requests);
        // Only the accepted pair is remembered for the session.
        const auto stored = NXHTTPRequest::sessionCredentialsStore();
        ASSERT_EQ(stored.size(), 1);
        EXPECT_EQ(stored.first()
                      .value(QStringLiteral("Credentials"))
                      .toMap()
                      .value(QStringLiteral("Password")),
            QStringLiteral("secret"));
    }
    // The session's pair goes out with the first request to the same place.
    const qsizetype before = server.requests().size();
    CredentialGiver giver;
    run(NXHTTPRequest::requestWithURL(url(QStringLiteral("/digest"))), giver);
    EXPECT_EQ(server.requests().size() - before, 1);
}

TEST_F(AuthTest, ChallengesThatCannotBeAnsweredFail)
{
    const TestReply refused = TestReply::text("no", 401);
    server.route(QStringLiteral("/ntlm"), withHeader(refused, "WWW-Authenticate", "NTLM"));
    server.route(
        QStringLiteral("/negotiate"), withHeader(refused, "WWW-Authenticate", "Negotiate"));
    server.route(QStringLiteral("/bare"), refused);
    struct Case {
        const char* what;
        QUrl url;
        bool delegateAnswers;
        bool synchronous;
        int code;
        int asks;
    };
    const Case cases[] = {
        { "ntlm only", url(QStringLiteral("/ntlm"), "user", "secret"), true, false, 3, 0 },
        { "negotiate only", url(QStringLiteral("/negotiate"), "user", "secret"), true, false, 3,
            0 },
        { "no challenge", url(QStringLiteral("/bare")), true, false, 7, 0 },
        { "nobody to ask", url(QStringLiteral("/basic")), false, false, 3, 0 },
        { "wrong pair, nobody to ask", url(QStringLiteral("/basic"), "user", "guess"), false, false,
            3, 0 },
        { "delegate cancels", url(QStringLiteral("/basic")), true, false, 3, 1 },
        { "synchronous never asks", url(QStringLiteral("/digest")), true, true, 3, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CredentialGiver giver;
        QObject silent;
        const auto get = NXHTTPRequest::requestWithURL(c.url);
        if (c.synchronous) {
            get->setDelegate(&giver);
            get->startSynchronous();
        } else if (c.delegateAnswers) {
            run(get, giver);
        } else {
            get->setDelegate(&silent);
            get->startAsynchronous();
            ASSERT_TRUE(QTest::qWaitFor([&] { return get->isFinished(); }, 10000));
        }
        EXPECT_EQ(get->error().code(), c.code);
        EXPECT_EQ(giver.serverAsks, c.asks);
        EXPECT_TRUE(get->isFinished());
    }
}

TEST_F(AuthTest, ProxyChallengeIsAnsweredWithTheProxyPair)
{
    server.route(QStringLiteral("/open"), TestReply::text("through"));
    const auto identity = makeSelfSignedIdentity(QStringLiteral("tunnelled"));
    ASSERT_TRUE(identity) << "openssl could not make a certificate";
    TestHttpServer secure;
    ASSERT_TRUE(secure.start(identity));
    secure.route(QStringLiteral("/open"), TestReply::text("through"));
    struct Case {
        const char* what;
        Pair onRequest;
        QList<Pair> fromDelegate;
        int code;
        int asks;
        bool tunnel = false;
    };
    const Pair right { QStringLiteral("keeper"), QStringLiteral("gate") };
    const Case cases[] = {
        { "set on the request", right, {}, 0, 0 },
        { "from the delegate", {}, { right }, 0, 1 },
        { "wrong, then right", {}, { { QStringLiteral("keeper"), QStringLiteral("no") }, right }, 0,
            2 },
        { "nobody knows", {}, {}, 3, 1 },
        { "tunnel, from the delegate", {}, { right }, 0, 1, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A new proxy may get an old one's port: nothing is known of it yet.
        for (const QVariantMap& record : NXHTTPRequest::sessionProxyCredentialsStore())
            NXHTTPRequest::removeProxyAuthenticationCredentialsFromSessionStore(
                record.value(QStringLiteral("Credentials")).toMap());
        TestProxy proxy(TestProxy::Kind::Http);
        proxy.requireAuthorization("Basic " + QByteArray("keeper:gate").toBase64());
        ASSERT_TRUE(proxy.start());
        CredentialGiver giver;
        giver.proxyPairs = c.fromDelegate;
        const QUrl address = (c.tunnel ? secure : server).url(QStringLiteral("/open"));
        const auto get = NXHTTPRequest::requestWithURL(address);
        get->setValidatesSecureCertificate(false);
        get->setProxyHost(QStringLiteral("127.0.0.1"));
        get->setProxyPort(proxy.port());
        get->setProxyUsername(c.onRequest.first);
        get->setProxyPassword(c.onRequest.second);
        run(get, giver);
        EXPECT_EQ(get->error().code(), c.code);
        EXPECT_EQ(giver.proxyAsks, c.asks);
        EXPECT_EQ(giver.serverAsks, 0);
        const QString target = c.tunnel ? QStringLiteral("CONNECT 127.0.0.1:%1").arg(secure.port())
                                        : QStringLiteral("GET ") + address.toString();
        QStringList expected(
            c.asks + (c.onRequest.first.isEmpty() ? 0 : 1), QStringLiteral("407 ") + target);
        if (c.code == 0)
            expected.append(target);
        EXPECT_EQ(proxy.log().join(QLatin1Char(' ')), expected.join(QLatin1Char(' ')));
        if (c.code == 0) {
            EXPECT_EQ(get->responseString(), QStringLiteral("through"));
        }
    }
}

TEST_F(AuthTest, RequestWaitingForCredentialsCanStillBeCancelled)
{
    CredentialGiver giver;
    giver.silent = true;
    const auto get = NXHTTPRequest::requestWithURL(url(QStringLiteral("/basic")));
    get->setDelegate(&giver);
    get->startAsynchronous();
    ASSERT_TRUE(QTest::qWaitFor([&] { return giver.serverAsks > 0; }, 10000));
    EXPECT_FALSE(get->isFinished());
    get->cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return get->isFinished(); }, 10000));
    EXPECT_EQ(get->error().code(), 4);
}

#include "NXHTTPRequestAuthTest.moc"

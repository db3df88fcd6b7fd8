#include "http/HttpAuthentication.h"
#include "http/CredentialStore.h"

#include <gtest/gtest.h>

using namespace HttpAuthentication;

namespace {

AuthChallenge digestChallenge(const QString& extra)
{
    const QString field
        = QStringLiteral(
              R"(Digest realm="testrealm@host.com", nonce="dcd98b7102dd2f0e8b11d0f600bfb0c093", )"
              R"(opaque="5ccc069c403ebaf9f0171e9517f40e41")")
        + extra;
    return parseChallenges({ field }).value(0);
}

DigestInput mufasa(quint32 count = 1)
{
    return { QStringLiteral("Mufasa"), QStringLiteral("Circle Of Life"), QStringLiteral("GET"),
        QStringLiteral("/dir/index.html"), QStringLiteral("0a4f113b"), count };
}

} // namespace

TEST(HttpAuthentication, ChallengeListsWithSeveralSchemesAndQuotedCommas)
{
    const QList<AuthChallenge> challenges = parseChallenges({
        QStringLiteral(R"(Newauth realm="apps", type=1, title="Login to \"apps\", please", )"
                       R"(Basic realm="simple, really")"),
        QStringLiteral("Negotiate abc+/9==, NTLM"),
        QStringLiteral(R"(, Digest realm = "x" ,, qop="auth,auth-int" , nonce=n1 ,junk "oops", )"
                       R"(Basic realm="after junk")"),
    });
    ASSERT_EQ(challenges.size(), 6);
    EXPECT_EQ(challenges[0].scheme, QStringLiteral("Newauth"));
    EXPECT_EQ(challenges[0].parameters.size(), 3);
    EXPECT_EQ(challenges[0].parameter(QStringLiteral("TITLE")),
        QStringLiteral(R"(Login to "apps", please)"));
    EXPECT_EQ(challenges[1].realm(), QStringLiteral("simple, really"));
    EXPECT_EQ(challenges[2].token68, QStringLiteral("abc+/9=="));
    EXPECT_TRUE(challenges[3].is(QStringLiteral("ntlm")));
    EXPECT_TRUE(challenges[3].parameters.isEmpty());
    EXPECT_EQ(challenges[4].parameter(QStringLiteral("qop")), QStringLiteral("auth,auth-int"));
    EXPECT_EQ(challenges[4].parameter(QStringLiteral("nonce")), QStringLiteral("n1"));
    EXPECT_EQ(challenges[5].realm(), QStringLiteral("after junk"));
    EXPECT_TRUE(challenges[5].parameter(QStringLiteral("absent")).isNull());
}

TEST(HttpAuthentication, PreferredChallengeIsAnswerableDigestThenBasic)
{
    const struct {
        const char* field;
        const char* scheme; // empty: none answerable
    } rows[] = {
        { R"(Basic realm="a", Digest realm="a", nonce="n")", "Digest" },
        { R"(Digest realm="a", nonce="n", algorithm=SHA-256, Basic realm="a")", "Basic" },
        { R"(Digest realm="a", nonce="n", qop="auth-int", Basic realm="a")", "Basic" },
        { R"(Digest realm="a", Basic realm="a")", "Basic" },
        { "Negotiate, NTLM", "" },
    };
    for (const auto& row : rows) {
        const auto chosen = preferredChallenge(parseChallenges({ QString::fromLatin1(row.field) }));
        EXPECT_EQ(chosen ? chosen->scheme : QString(), QString::fromLatin1(row.scheme))
            << row.field;
    }
}

TEST(HttpAuthentication, DigestResponsesMatchIndependentlyComputedValues)
{
    const struct {
        const char* what;
        QString extra;
        quint32 count;
        const char* response;
        bool withQop;
    } rows[] = {
        { "MD5 with qop auth", QStringLiteral(R"(, qop="auth,auth-int")"), 1,
            "6629fae49393a05397450978507c4ef1", true },
        { "MD5-sess, second use", QStringLiteral(R"(, qop="auth", algorithm=MD5-sess)"), 2,
            "d16df0df0d92cef8935129145e21b5e1", true },
        { "no qop", QString(), 1, "670fd8c2df070c60b045671b8b24ff02", false },
    };
    for (const auto& row : rows) {
        const auto value = digestAuthorization(digestChallenge(row.extra), mufasa(row.count));
        ASSERT_TRUE(value) << row.what;
        const AuthChallenge answer = parseChallenges({ *value }).value(0);
        EXPECT_TRUE(answer.is(QStringLiteral("Digest"))) << row.what;
        EXPECT_EQ(answer.parameter(QStringLiteral("response")), QLatin1String(row.response))
            << row.what;
        EXPECT_EQ(answer.parameter(QStringLiteral("username")), QStringLiteral("Mufasa"));
        EXPECT_EQ(answer.parameter(QStringLiteral("uri")), QStringLiteral("/dir/index.html"));
        EXPECT_EQ(answer.parameter(QStringLiteral("opaque")),
            QStringLiteral("5ccc069c403ebaf9f0171e9517f40e41"));
        EXPECT_EQ(answer.parameter(QStringLiteral("qop")).isNull(), !row.withQop) << row.what;
        if (row.withQop) {
            EXPECT_EQ(answer.parameter(QStringLiteral("nc")),
                QStringLiteral("%1").arg(row.count, 8, 10, QLatin1Char('0')));
            EXPECT_EQ(answer.parameter(QStringLiteral("cnonce")), QStringLiteral("0a4f113b"));
        }
    }
    EXPECT_FALSE(
        digestAuthorization(parseChallenges({ QStringLiteral("Basic realm=a") })[0], mufasa()));
}

TEST(HttpAuthentication, BasicHeaderAndQuotedUserNames)
{
    EXPECT_EQ(basicAuthorization(QStringLiteral("Aladdin"), QStringLiteral("open sesame")),
        QStringLiteral("Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ=="));
    EXPECT_EQ(basicAuthorization(QStringLiteral("j\u00f6"), QStringLiteral("p")),
        QStringLiteral("Basic asO2OnA="));
    DigestInput input = mufasa();
    input.user = QStringLiteral(R"(a "quoted\ name)");
    const auto value = digestAuthorization(digestChallenge(QString()), input);
    ASSERT_TRUE(value);
    EXPECT_EQ(parseChallenges({ *value })[0].parameter(QStringLiteral("username")), input.user);
    EXPECT_NE(makeClientNonce(), makeClientNonce());
}

TEST(CredentialStore, EveryPartOfTheSpaceKeepsCredentialsApart)
{
    CredentialStore store;
    const CredentialSpace base { QStringLiteral("Host.example"), 8080, QStringLiteral("http"),
        QStringLiteral("Realm"), QStringLiteral("Basic"), false };
    const StoredCredential saved { QStringLiteral("u"), QStringLiteral("p"), QString() };
    store.saveCredentials(base, saved);

    CredentialSpace sameIgnoringCase = base;
    sameIgnoringCase.host = QStringLiteral("host.EXAMPLE");
    sameIgnoringCase.scheme = QStringLiteral("basic");
    EXPECT_EQ(store.savedCredentials(sameIgnoringCase), saved);

    const std::function<void(CredentialSpace&)> changes[] = {
        [](CredentialSpace& s) { s.host = QStringLiteral("other.example"); },
        [](CredentialSpace& s) { s.port = 80; },
        [](CredentialSpace& s) { s.protocol = QStringLiteral("https"); },
        [](CredentialSpace& s) { s.realm = QStringLiteral("realm"); },
        [](CredentialSpace& s) { s.scheme = QStringLiteral("Digest"); },
        [](CredentialSpace& s) { s.isProxy = true; },
    };
    for (size_t i = 0; i < std::size(changes); ++i) {
        CredentialSpace other = base;
        changes[i](other);
        EXPECT_FALSE(store.savedCredentials(other)) << "change " << i;
    }
    store.removeCredentials(sameIgnoringCase);
    EXPECT_FALSE(store.savedCredentials(base));
}

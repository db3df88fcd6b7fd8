#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// One challenge of a "WWW-Authenticate" or "Proxy-Authenticate" field: a
// scheme with either a single token ("Negotiate abc==") or named parameters
// (`realm`, `nonce`, ...). Parameter names are kept in lower case.
struct AuthChallenge {
    QString scheme;
    QString token68;
    QList<QPair<QString, QString>> parameters;

    bool is(const QString& name) const { return scheme.compare(name, Qt::CaseInsensitive) == 0; }
    // A null string when absent.
    QString parameter(const QString& name) const;
    QString realm() const { return parameter(QStringLiteral("realm")); }
};

// Answers to Basic and Digest challenges, as functions of their inputs: the
// request keeps the state (nonce counts, which credentials were tried).
namespace HttpAuthentication {

// Every challenge of the field values, in order. A field may hold several
// challenges separated by commas, and a quoted value may hold commas of its
// own. Malformed parts are skipped.
QList<AuthChallenge> parseChallenges(const QStringList& fieldValues);

// The challenge to answer: a Digest one this code can compute, else Basic;
// nothing when only other schemes are offered.
std::optional<AuthChallenge> preferredChallenge(const QList<AuthChallenge>& challenges);

// "Basic " and the Base64 of "user:password" in UTF-8.
QString basicAuthorization(const QString& user, const QString& password);

struct DigestInput {
    QString user;
    QString password;
    QString method; // "GET"
    QString uri; // the request target as sent: "/dir/index.html"
    QString clientNonce; // see makeClientNonce()
    quint32 nonceCount = 1; // how often this nonce was used, this time included
};

// True for a Digest challenge with a nonce, MD5 or MD5-sess, and either no
// quality of protection or "auth" among those offered.
bool canAnswerDigest(const AuthChallenge& challenge);
// The "Authorization" (or "Proxy-Authorization") value for a Digest challenge;
// nothing when canAnswerDigest() is false.
std::optional<QString> digestAuthorization(
    const AuthChallenge& challenge, const DigestInput& input);

// 16 random bytes as hexadecimal.
QString makeClientNonce();

} // namespace HttpAuthentication

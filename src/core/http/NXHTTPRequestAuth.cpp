#include "http/NXHTTPRequestState.h"

#include "http/CredentialStore.h"
#include "http/NetworkThread.h"

namespace {

const QString usernameKey = QStringLiteral("Username");
const QString passwordKey = QStringLiteral("Password");

QVariantMap credentialMap(const QString& user, const QString& password)
{
    return { { usernameKey, user }, { passwordKey, password } };
}

QString userOf(const QVariantMap& credentials)
{
    return credentials.value(usernameKey).toString();
}

QString passwordOf(const QVariantMap& credentials)
{
    return credentials.value(passwordKey).toString();
}

// A Digest answer refused only because its nonce went stale is sent again
// with the new nonce: the pair itself was fine.
bool isStaleDigest(const AuthChallenge& challenge)
{
    return challenge.is(QStringLiteral("Digest"))
        && challenge.parameter(QStringLiteral("stale"))
               .compare(QLatin1String("true"), Qt::CaseInsensitive)
        == 0;
}

bool isAnswerable(const AuthChallenge& challenge)
{
    return challenge.is(QStringLiteral("Basic")) || HttpAuthentication::canAnswerDigest(challenge);
}

HttpError authenticationNeededError()
{
    return requestError(
        NXHTTPRequestErrorType::Authentication, QStringLiteral("Authentication needed"));
}

HttpError applyFailure(bool proxy)
{
    return requestError(NXHTTPRequestErrorType::InternalErrorWhileApplyingCredentials,
        proxy ? QStringLiteral("Failed to apply proxy credentials to request")
              : QStringLiteral("Failed to apply credentials to request"));
}

} // namespace

// The fields one side of authentication works on: the server's or the proxy's.
struct NXHTTPRequest::AuthFields {
    std::optional<AuthChallenge>& authentication;
    QVariantMap& credentials;
    QString& scheme;
    QString& realm;
    int& retryCount;
    QString challengeField;
    QString answerField;
};

NXHTTPRequest::AuthFields NXHTTPRequest::authFields(AuthSide side)
{
    if (side == AuthSide::Server)
        return { m_requestAuthentication, m_requestCredentials, m_authenticationScheme,
            m_authenticationRealm, m_authenticationRetryCount, QStringLiteral("WWW-Authenticate"),
            QStringLiteral("Authorization") };
    return { m_proxyAuthentication, m_proxyCredentials, m_proxyAuthenticationScheme,
        m_proxyAuthenticationRealm, m_proxyAuthenticationRetryCount,
        QStringLiteral("Proxy-Authenticate"), QStringLiteral("Proxy-Authorization") };
}

// --- answering a challenge ---------------------------------------------------------

void NXHTTPRequest::attemptToApplyCredentialsAndResume()
{
    const std::lock_guard lock(m_cancelledLock);
    if (!m_error.isNull() || m_cancelled)
        return;
    if (m_authenticationNeeded == 2) {
        attemptToApplyProxyCredentialsAndResume();
        return;
    }
    answerChallenge(AuthSide::Server);
}

void NXHTTPRequest::attemptToApplyProxyCredentialsAndResume()
{
    const std::lock_guard lock(m_cancelledLock);
    if (!m_error.isNull() || m_cancelled)
        return;
    answerChallenge(AuthSide::Proxy);
}

// Every road out of here restarts the request, leaves it waiting for the
// owner's credentials, or fails it: a challenged request never just stops.
void NXHTTPRequest::answerChallenge(AuthSide side)
{
    AuthFields fields = authFields(side);
    if (!fields.authentication && !buildAuthentication(side)) {
        failWithError(requestError(NXHTTPRequestErrorType::InternalErrorWhileApplyingCredentials,
            QStringLiteral("Failed to get authentication object from response headers")));
        return;
    }
    fields.realm = fields.authentication->realm();
    // Schemes other than Basic and Digest (NTLM, Negotiate) are not spoken.
    if (!isAnswerable(*fields.authentication)) {
        failWithError(authenticationNeededError());
        return;
    }
    if (!fields.credentials.isEmpty() && !isStaleDigest(*fields.authentication)) {
        if (!answerRejectedCredentials(side))
            failWithError(authenticationNeededError());
        return;
    }
    if (!fields.credentials.isEmpty()) {
        if (applyCredentialsFor(side, fields.credentials))
            startRequest();
        else
            failWithError(applyFailure(side == AuthSide::Proxy));
        return;
    }
    answerWithCredentials(side);
}

bool NXHTTPRequest::buildAuthentication(AuthSide side)
{
    if (!m_challengeResponse)
        return false;
    AuthFields fields = authFields(side);
    const QList<AuthChallenge> challenges = HttpAuthentication::parseChallenges(
        m_challengeResponse->headers().values(fields.challengeField));
    if (challenges.isEmpty())
        return false;
    fields.authentication
        = HttpAuthentication::preferredChallenge(challenges).value_or(challenges.first());
    fields.scheme = fields.authentication->scheme;
    return true;
}

// The pair sent last was refused: it leaves the session store and is never
// offered again by this request. True when the request restarted with other
// stored credentials or waits for the owner.
bool NXHTTPRequest::answerRejectedCredentials(AuthSide side)
{
    AuthFields fields = authFields(side);
    bool restart = false;
    {
        const std::lock_guard lock(NXHTTPRequestClassState::instance().delegateAuthenticationLock);
        if (side == AuthSide::Server)
            removeAuthenticationCredentialsFromSessionStore(fields.credentials);
        else
            removeProxyAuthenticationCredentialsFromSessionStore(fields.credentials);
        m_rejectedCredentials.append(
            { userOf(fields.credentials), passwordOf(fields.credentials) });
        fields.credentials.clear();
        restart = m_useSessionPersistence && applySessionCredentials(side);
        if (!restart) {
            m_lastActivityTime.reset();
            if (!willAskDelegateFor(side))
                return false;
        }
    }
    if (restart)
        startRequest();
    return true;
}

void NXHTTPRequest::answerWithCredentials(AuthSide side)
{
    enum class Outcome { Restart, Wait, CannotApply, NoCredentials };
    Outcome outcome = Outcome::NoCredentials;
    {
        const std::lock_guard lock(NXHTTPRequestClassState::instance().delegateAuthenticationLock);
        const std::optional<QVariantMap> found
            = side == AuthSide::Server ? findCredentials() : findProxyCredentials();
        if (m_useSessionPersistence && applySessionCredentials(side))
            outcome = Outcome::Restart;
        else if (found)
            outcome = applyCredentialsFor(side, *found) ? Outcome::Restart : Outcome::CannotApply;
        else if (willAskDelegateFor(side))
            outcome = Outcome::Wait;
    }
    switch (outcome) {
    case Outcome::Restart:
        startRequest();
        break;
    case Outcome::Wait:
        break;
    case Outcome::CannotApply:
        failWithError(applyFailure(side == AuthSide::Proxy));
        break;
    case Outcome::NoCredentials:
        failWithError(authenticationNeededError());
        break;
    }
}

bool NXHTTPRequest::applySessionCredentials(AuthSide side)
{
    const std::optional<QVariantMap> record = side == AuthSide::Server
        ? findSessionAuthenticationCredentials()
        : findSessionProxyAuthenticationCredentials();
    if (!record)
        return false;
    const QVariantMap credentials = record->value(QStringLiteral("Credentials")).toMap();
    if (wasRejected(userOf(credentials), passwordOf(credentials)))
        return false;
    return applyCredentialsFor(side, credentials);
}

// --- applying ---------------------------------------------------------------------

bool NXHTTPRequest::applyCredentials(const QVariantMap& credentials)
{
    return applyCredentialsFor(AuthSide::Server, credentials);
}

bool NXHTTPRequest::applyProxyCredentials(const QVariantMap& credentials)
{
    return applyCredentialsFor(AuthSide::Proxy, credentials);
}

bool NXHTTPRequest::applyCredentialsFor(AuthSide side, const QVariantMap& credentials)
{
    AuthFields fields = authFields(side);
    ++fields.retryCount;
    if (credentials.isEmpty() || !fields.authentication)
        return false;
    const bool proxy = side == AuthSide::Proxy;
    if (!applyToMessage(side, *fields.authentication, credentials)) {
        if (proxy)
            removeProxyAuthenticationCredentialsFromSessionStore(credentials);
        else
            removeAuthenticationCredentialsFromSessionStore(credentials);
        return false;
    }
    if (m_useKeychainPersistence && proxy)
        saveProxyCredentialsToKeychain(credentials);
    else if (m_useKeychainPersistence)
        saveCredentialsToKeychain(credentials);
    if (m_useSessionPersistence)
        storeSessionRecord(side, credentials);
    fields.credentials = credentials;
    return true;
}

void NXHTTPRequest::storeSessionRecord(AuthSide side, const QVariantMap& credentials)
{
    AuthFields fields = authFields(side);
    QVariantMap record {
        { QStringLiteral("Authentication"), QVariant::fromValue(*fields.authentication) },
        { QStringLiteral("Credentials"), credentials },
        { QStringLiteral("AuthenticationScheme"), fields.scheme },
    };
    if (side == AuthSide::Proxy) {
        record.insert(QStringLiteral("Host"), m_proxyHost);
        record.insert(QStringLiteral("Port"), m_proxyPort);
        storeProxyAuthenticationCredentialsInSessionStore(record);
        return;
    }
    record.insert(QStringLiteral("URL"), m_url);
    if (!fields.realm.isEmpty())
        record.insert(QStringLiteral("AuthenticationRealm"), fields.realm);
    storeAuthenticationCredentialsInSessionStore(record);
}

bool NXHTTPRequest::applyToMessage(
    AuthSide side, const AuthChallenge& challenge, const QVariantMap& credentials)
{
    const QString user = userOf(credentials);
    const QString password = passwordOf(credentials);
    std::optional<QString> value;
    if (challenge.is(QStringLiteral("Basic"))) {
        value = HttpAuthentication::basicAuthorization(user, password);
    } else {
        const quint32 count = ++m_digestNonceCounts[challenge.parameter(QStringLiteral("nonce"))];
        value = HttpAuthentication::digestAuthorization(challenge,
            { user, password, m_request.method(), digestTarget(side),
                HttpAuthentication::makeClientNonce(), count });
    }
    if (!value)
        return false;
    m_request.setHeader(authFields(side).answerField, *value);
    return true;
}

// The request target the answer is computed over, as the one who asked sees
// it: the server the origin form; a proxy the absolute form of a plain http
// request, or the host and port of the tunnel it opens for https.
QString NXHTTPRequest::digestTarget(AuthSide side) const
{
    const bool secure = m_url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    if (side == AuthSide::Proxy && secure)
        return QStringLiteral("%1:%2").arg(m_url.host()).arg(m_url.port(443));
    return QString::fromLatin1(m_request.requestTarget(side == AuthSide::Proxy));
}

void NXHTTPRequest::addBasicAuthenticationHeaderWithUsername(
    const QString& user, const QString& password)
{
    addRequestHeader(
        QStringLiteral("Authorization"), HttpAuthentication::basicAuthorization(user, password));
    m_authenticationScheme = QStringLiteral("Basic");
}

// Credentials remembered in the session go out with the first request, so a
// known server or proxy does not have to ask again.
void NXHTTPRequest::applySessionAuthorization()
{
    if (!m_useSessionPersistence)
        return;
    if (!m_requestHeaders.contains(QStringLiteral("Authorization"))) {
        if (const auto record = findSessionAuthenticationCredentials()) {
            const QVariantMap credentials = record->value(QStringLiteral("Credentials")).toMap();
            const QVariant stored = record->value(QStringLiteral("Authentication"));
            if (!stored.canConvert<AuthChallenge>())
                addBasicAuthenticationHeaderWithUsername(
                    userOf(credentials), passwordOf(credentials));
            else if (applyToMessage(AuthSide::Server, stored.value<AuthChallenge>(), credentials))
                m_authenticationScheme
                    = record->value(QStringLiteral("AuthenticationScheme")).toString();
            else
                removeAuthenticationCredentialsFromSessionStore(credentials);
        }
    }
    const auto proxyRecord = findSessionProxyAuthenticationCredentials();
    if (!proxyRecord || m_proxyHost.isEmpty())
        return;
    const QVariantMap credentials = proxyRecord->value(QStringLiteral("Credentials")).toMap();
    const QVariant stored = proxyRecord->value(QStringLiteral("Authentication"));
    if (!stored.canConvert<AuthChallenge>()
        || !applyToMessage(AuthSide::Proxy, stored.value<AuthChallenge>(), credentials))
        removeProxyAuthenticationCredentialsFromSessionStore(credentials);
}

// --- finding credentials ----------------------------------------------------------

bool NXHTTPRequest::wasRejected(const QString& user, const QString& password) const
{
    return m_rejectedCredentials.contains(QPair<QString, QString>(user, password));
}

std::optional<QVariantMap> NXHTTPRequest::findCredentials() const
{
    std::optional<QVariantMap> found;
    const auto consider = [&](const QString& user, const QString& password) {
        if (!found && !user.isEmpty() && !password.isEmpty() && !wasRejected(user, password))
            found = credentialMap(user, password);
    };
    consider(m_url.userName(), m_url.password());
    if (const auto main = m_mainRequest.lock())
        consider(main->username(), main->password());
    consider(m_username, m_password);
    if (found || !m_useKeychainPersistence)
        return found;
    const CredentialSpace space { m_url.host(), std::max(m_url.port(), 0), m_url.scheme(),
        m_authenticationRealm, m_authenticationScheme, false };
    if (const auto saved = CredentialStore::shared().savedCredentials(space))
        consider(saved->user, saved->password);
    return found;
}

std::optional<QVariantMap> NXHTTPRequest::findProxyCredentials() const
{
    std::optional<QVariantMap> found;
    const auto consider = [&](const QString& user, const QString& password) {
        if (!found && !user.isEmpty() && !password.isEmpty() && !wasRejected(user, password))
            found = credentialMap(user, password);
    };
    if (const auto main = m_mainRequest.lock())
        consider(main->proxyUsername(), main->proxyPassword());
    consider(m_proxyUsername, m_proxyPassword);
    if (found)
        return found;
    const CredentialSpace space { m_proxyHost, m_proxyPort, m_url.scheme(),
        m_proxyAuthenticationRealm, m_proxyAuthenticationScheme, true };
    if (const auto saved = CredentialStore::shared().savedCredentials(space))
        consider(saved->user, saved->password);
    return found;
}

void NXHTTPRequest::saveCredentialsToKeychain(const QVariantMap& credentials)
{
    const CredentialSpace space { m_url.host(), std::max(m_url.port(), 0), m_url.scheme(),
        m_authenticationRealm, m_authenticationScheme, false };
    CredentialStore::shared().saveCredentials(
        space, { userOf(credentials), passwordOf(credentials), {} });
}

void NXHTTPRequest::saveProxyCredentialsToKeychain(const QVariantMap& credentials)
{
    const CredentialSpace space { m_proxyHost, m_proxyPort, m_url.scheme(),
        m_proxyAuthenticationRealm, m_proxyAuthenticationScheme, true };
    CredentialStore::shared().saveCredentials(
        space, { userOf(credentials), passwordOf(credentials), {} });
}

// --- the owner's answer -------------------------------------------------------------

void NXHTTPRequest::retryUsingSuppliedCredentials()
{
    NetworkThread::post([request = self()] {
        if (request->m_challengeResponse)
            request->attemptToApplyCredentialsAndResume();
        else
            request->main();
    });
}

void NXHTTPRequest::cancelAuthentication()
{
    NetworkThread::post([request = self()] { request->failAuthentication(); });
}

void NXHTTPRequest::failAuthentication()
{
    failWithError(authenticationNeededError());
}

#include "http/NXHTTPRequestState.h"

#include "http/NetworkThread.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {

// Digits only: a length or an offset is never read as octal or hexadecimal.
std::optional<quint64> decimalValue(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()
        || !std::all_of(trimmed.cbegin(), trimmed.cend(), [](QChar c) { return c.isDigit(); }))
        return std::nullopt;
    bool ok = false;
    const quint64 value = trimmed.toULongLong(&ok, 10);
    return ok ? std::optional<quint64>(value) : std::nullopt;
}

// "bytes 100-199/200", "bytes 100-199/*" or "bytes */200".
struct ContentRange {
    std::optional<quint64> first;
    std::optional<quint64> last;
    std::optional<quint64> total;
    // The value has that form, and its range lies within its total.
    bool readable = false;

    std::optional<quint64> length() const
    {
        if (!first || !last || *last < *first)
            return std::nullopt;
        return *last - *first + 1;
    }
    // From the first byte to the last of a stated total.
    bool isWhole() const { return readable && first == 0u && total && *last + 1 == *total; }
};

ContentRange parseContentRange(const QString& value)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*bytes\\s+(?:(\\d+)-(\\d+)|\\*)/(\\d+|\\*)\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const auto match = form.match(value);
    if (!match.hasMatch())
        return {};
    ContentRange range { decimalValue(match.captured(1)), decimalValue(match.captured(2)),
        decimalValue(match.captured(3)) };
    const bool ordered = range.first.has_value() == range.last.has_value()
        && (!range.first || *range.first <= *range.last);
    const bool within = !range.last || !range.total || *range.last < *range.total;
    range.readable = ordered && within && (range.first || range.total);
    return range;
}

// A 200 stands for the whole file, but some caches and misconfigured servers
// send a piece with it, saying which in a Content-Range; one that names all
// of the file, and only such a one, is the whole.
bool isPieceAsWhole(const HttpMessage& head)
{
    const QString range = head.header(QStringLiteral("Content-Range"));
    return head.statusCode() == 200 && !range.trimmed().isEmpty()
        && !parseContentRange(range).isWhole();
}

// A file's body is what a 2xx carries, but for these two, which carry none.
bool isBodilessSuccess(int status)
{
    return status == 204 || status == 205;
}

// A cookie may only be set for the host that sent it or a domain above it.
bool hostMaySetCookie(const QNetworkCookie& cookie, const QUrl& url)
{
    const QString host = url.host().toLower();
    QString domain = cookie.domain().toLower();
    if (domain.startsWith(QLatin1Char('.')))
        domain.remove(0, 1);
    return host == domain
        || (domain.contains(QLatin1Char('.')) && host.endsWith(QLatin1Char('.') + domain));
}

} // namespace

// --- response access -------------------------------------------------------------

QList<QNetworkCookie> NXHTTPRequest::responseCookies() const
{
    const std::lock_guard lock(m_cancelledLock);
    return m_responseCookies;
}

QString NXHTTPRequest::responseEncoding() const
{
    const std::lock_guard lock(m_cancelledLock);
    return m_responseEncoding.isEmpty() ? m_defaultResponseEncoding : m_responseEncoding;
}

// --- the response head ---------------------------------------------------------

void NXHTTPRequest::readResponseHeaders()
{
    m_authenticationNeeded = 0;
    const std::optional<HttpMessage> head
        = m_readStream ? m_readStream->responseHeader() : std::nullopt;
    if (!head)
        return;
    m_haveReadResponseHeaders = true;
    m_responseStatusCode = head->statusCode();
    {
        const std::lock_guard lock(m_cancelledLock);
        m_responseStatusMessage = head->statusLine();
        m_responseHeaders = head->headers().dictionary();
    }
    if (m_downloadCache && m_downloadCache->canUseCachedDataForRequest(*this)) {
        m_downloadCache->updateExpiryForRequest(*this, m_secondsToCache);
        useDataFromCache();
        return;
    }
    if (m_responseStatusCode == 401)
        m_authenticationNeeded = 1;
    else if (m_responseStatusCode == 407)
        m_authenticationNeeded = 2;
    if (m_authenticationNeeded == 0) {
        m_challengeResponse.reset();
        storeBasicCredentialsInSession();
    } else {
        // Each challenge is read afresh: a new nonce, a new scheme offered.
        m_challengeResponse = *head;
        (m_authenticationNeeded == 1 ? m_requestAuthentication : m_proxyAuthentication).reset();
    }
    parseStringEncodingFromHeaders();
    readResponseCookies(*head);
    const bool redirecting = willRedirect();
    m_bodyDisposal = bodyDisposalFor(*head);
    m_askingForMore = false;
    m_pieceLength = m_bodyDisposal == BodyDisposal::Append
        ? parseContentRange(head->header(QStringLiteral("Content-Range"))).length()
        : std::nullopt;
    m_answerOrigin = answerVersion(*head);
    // What each answer about the file says of its version, for a 416 to come.
    if (!redirecting && (head->statusCode() / 100 == 2 || head->statusCode() == 416))
        addVersionNamedInRun(head->statusCode() == 416
                ? PartialFileOrigin::fromAnswer(head->headers(), std::nullopt)
                : m_answerOrigin);
    if (outgrowsFile(*head))
        m_partialFile.markSuperseded();
    HttpError refusal = answerRefusal(*head);
    if (refusal.isNull())
        refusal = contradictionRefusal(*head);
    const bool toFile = !m_downloadDestinationPath.isEmpty() && !wantsReceivedData();
    if (refusal.isNull() && toFile
        && (m_bodyDisposal == BodyDisposal::Write || m_bodyDisposal == BodyDisposal::Append))
        refusal = answerHeadRefusal(m_responseHeaders);
    // Nothing of a refused answer reaches a file.
    if (!refusal.isNull())
        m_bodyDisposal = BodyDisposal::Keep;
    // A whole body replaces the partial file: nothing on disk counts.
    if (m_bodyDisposal == BodyDisposal::Write)
        m_partialDownloadSize = 0;
    if (!redirecting)
        readContentLength(*head);
    readKeepAlive(*head);
    const NXHeaderDictionary headers = m_responseHeaders;
    MainThread::run(
        [request = self(), headers] { request->requestReceivedResponseHeaders(headers); });
    if (!refusal.isNull()) {
        m_connectionCanBeReused = false;
        failWithError(refusal);
    }
}

void NXHTTPRequest::storeBasicCredentialsInSession()
{
    const bool basic
        = m_authenticationScheme.compare(QLatin1String("Basic"), Qt::CaseInsensitive) == 0;
    if (!basic || m_username.isEmpty() || m_password.isEmpty() || !m_useSessionPersistence)
        return;
    const QVariantMap credentials { { QStringLiteral("Username"), m_username },
        { QStringLiteral("Password"), m_password } };
    storeAuthenticationCredentialsInSessionStore({
        { QStringLiteral("Credentials"), credentials },
        { QStringLiteral("URL"), m_url },
        { QStringLiteral("AuthenticationScheme"), QStringLiteral("Basic") },
    });
}

void NXHTTPRequest::parseStringEncodingFromHeaders()
{
    QString charset;
    const std::lock_guard lock(m_cancelledLock);
    parseMimeType(nullptr, &charset, m_responseHeaders.value(QStringLiteral("Content-Type")));
    m_responseEncoding = charset.isEmpty() ? m_defaultResponseEncoding : charset;
}

QList<QNetworkCookie> NXHTTPRequest::cookiesFromResponse(
    const HttpHeaders& headers, const QUrl& url)
{
    QList<QNetworkCookie> cookies;
    for (const QString& line : headers.setCookieLines()) {
        for (QNetworkCookie cookie : QNetworkCookie::parseCookies(line.toUtf8())) {
            cookie.normalize(url);
            if (hostMaySetCookie(cookie, url))
                cookies.append(cookie);
        }
    }
    return cookies;
}

void NXHTTPRequest::readResponseCookies(const HttpMessage& head)
{
    const QList<QNetworkCookie> cookies = cookiesFromResponse(head.headers(), m_url);
    {
        const std::lock_guard lock(m_cancelledLock);
        m_responseCookies = cookies;
    }
    if (!m_useCookiePersistence)
        return;
    for (const QNetworkCookie& cookie : std::as_const(cookies))
        addSessionCookie(cookie);
}

void NXHTTPRequest::readContentLength(const HttpMessage& head)
{
    const auto main = m_mainRequest.lock();
    NXHTTPRequest& target = main ? *main : *this;
    const bool counting = m_showAccurateProgress && m_shouldResetDownloadProgress;
    const std::optional<quint64> length
        = decimalValue(head.header(QStringLiteral("Content-Length")));
    // Without a length, or for the empty gzip stream a companion request
    // sees, progress can only move once, at the end.
    const bool emptyGzip = main && m_allowCompressedResponse && length == 20u;
    if (!length || emptyGzip) {
        if (counting) {
            target.m_showAccurateProgress = false;
            tellDownloadSize(target, 1);
        }
        return;
    }
    target.m_contentLength = *length;
    if (counting)
        tellDownloadSize(target, target.m_contentLength + target.m_partialDownloadSize);
}

// Every answer of one request (a restart from byte zero, the next piece, a
// retry) gives the size of the same body: only the change is added.
void NXHTTPRequest::tellDownloadSize(NXHTTPRequest& target, quint64 size)
{
    target.incrementDownloadSizeBy(qint64(size) - m_downloadSizeTold);
    m_downloadSizeTold = qint64(size);
}

void NXHTTPRequest::readKeepAlive(const HttpMessage& head)
{
    if (!m_shouldAttemptPersistentConnection)
        return;
    // Decided afresh for every answer: a connection the last server closes is
    // never offered to the next request.
    m_connectionCanBeReused = false;
    const HttpHeaders& fields = head.headers();
    const QString connection = QStringLiteral("Connection");
    if (fields.hasToken(connection, QStringLiteral("close"))
        || (head.versionNumber() < 11
            && !fields.hasToken(connection, QStringLiteral("keep-alive"))))
        return;
    const QString keepAlive = head.header(QStringLiteral("Keep-Alive"));
    if (keepAlive.isNull()) {
        m_connectionCanBeReused = true;
        return;
    }
    static const QRegularExpression timeoutField(QStringLiteral("timeout\\s*=\\s*(\\d+)"));
    static const QRegularExpression maxField(QStringLiteral("max\\s*=\\s*(\\d+)"));
    const int timeout = timeoutField.match(keepAlive).captured(1).toInt();
    const int max = maxField.match(keepAlive).captured(1).toInt();
    // A server that will take only a few more requests on this connection
    // would close it under the next one.
    if (max <= 5)
        return;
    m_connectionCanBeReused = true;
    m_persistentConnectionTimeoutSeconds = timeout;
}

NXHTTPRequest::BodyDisposal NXHTTPRequest::bodyDisposalFor(const HttpMessage& head) const
{
    const int status = head.statusCode();
    if (m_needsRedirect || isUnfollowedRedirect())
        return BodyDisposal::Keep;
    // Only a success carries the resource: any other answer (an error page, a
    // 304 or 300 or 305 that is not followed) never reaches the file.
    const bool success = status / 100 == 2 && !isBodilessSuccess(status);
    if (!resumesPartialFile())
        return success ? BodyDisposal::Write : BodyDisposal::Keep;
    if (status == 206)
        return continuesPartialFile(head) ? BodyDisposal::Append : BodyDisposal::Restart;
    // A piece sent as the whole continues the partial under the rules of a
    // 206, and nothing else: answerRefusal() refuses it otherwise.
    if (isPieceAsWhole(head))
        return continuesPartialFile(head) ? BodyDisposal::Append : BodyDisposal::Keep;
    if (status == 200)
        return BodyDisposal::Write;
    if (status == 416)
        return findsPartialWhole(head) ? BodyDisposal::AlreadyComplete : BodyDisposal::Restart;
    return success ? BodyDisposal::Restart : BodyDisposal::Keep;
}

// Kept once each: the many pieces of one version name it alike.
void NXHTTPRequest::addVersionNamedInRun(const PartialFileOrigin& said)
{
    const PartialFileOrigin version { said.entityTag, said.lastModified, said.total };
    if (std::find(m_versionsNamedInRun.cbegin(), m_versionsNamedInRun.cend(), version)
        == m_versionsNamedInRun.cend())
        m_versionsNamedInRun.push_back(version);
}

// A 416 says the range starts at or past the end: the partial is whole when
// the length the server gives is the partial's (after a piece of a body of
// unknown length, it gives none), and agrees with the version and length
// the partial began with. A 416 that names no version says nothing of which
// one it measured: one the server named elsewhere in this run that is not
// the partial's means the length may be another file's.
bool NXHTTPRequest::findsPartialWhole(const HttpMessage& head) const
{
    const ContentRange range = parseContentRange(head.header(QStringLiteral("Content-Range")));
    const quint64 partial = m_partialDownloadSize;
    if (range.total != partial && (!m_askingForMore || range.total))
        return false;
    const std::optional<PartialFileOrigin>& began = m_partialFile.knownOrigin();
    const auto namesAVersion = [](const PartialFileOrigin& said) {
        return !said.entityTag.isEmpty() || !said.lastModified.isEmpty() || said.total;
    };
    if (!began)
        return std::none_of(
            m_versionsNamedInRun.cbegin(), m_versionsNamedInRun.cend(), namesAVersion);
    const auto continues
        = [&began](const PartialFileOrigin& said) { return began->continuedBy(said); };
    return (!began->total || *began->total == partial)
        && began->continuedBy(PartialFileOrigin::fromAnswer(head.headers(), range.total))
        && std::all_of(m_versionsNamedInRun.cbegin(), m_versionsNamedInRun.cend(), continues);
}

// An answer to the range that gives the file a length below the partial's
// shows that the partial cannot be the start of it.
bool NXHTTPRequest::outgrowsFile(const HttpMessage& head) const
{
    const int status = head.statusCode();
    if (!resumesPartialFile() || (status != 206 && status != 416))
        return false;
    const ContentRange range = parseContentRange(head.header(QStringLiteral("Content-Range")));
    return range.total && *range.total < m_partialDownloadSize;
}

bool NXHTTPRequest::endsPieceOfUnknownLength() const
{
    const QString pieceSent = responseHeaders().value(QStringLiteral("Content-Range"));
    return m_totalBytesRead > 0 && !parseContentRange(pieceSent).total;
}

bool NXHTTPRequest::continuesPartialFile(const HttpMessage& head) const
{
    const ContentRange range = parseContentRange(head.header(QStringLiteral("Content-Range")));
    if (!range.readable || range.first != m_partialDownloadSize.load())
        return false;
    const std::optional<PartialFileOrigin>& began = m_partialFile.knownOrigin();
    if (!began)
        return false;
    // A piece of unknown total never runs past the total the file gave.
    if (began->total && *range.last >= *began->total)
        return false;
    return began->tiedTo(PartialFileOrigin::fromAnswer(head.headers(), range.total));
}

// The version a success names, with the length it gives the whole body: a
// piece's total, or the length of a body that comes uncoded.
PartialFileOrigin NXHTTPRequest::answerVersion(const HttpMessage& head) const
{
    std::optional<quint64> total;
    if (head.statusCode() == 206 || isPieceAsWhole(head))
        total = parseContentRange(head.header(QStringLiteral("Content-Range"))).total;
    else if (head.statusCode() / 100 == 2 && !isResponseCompressed())
        total = decimalValue(head.header(QStringLiteral("Content-Length")));
    return PartialFileOrigin::fromAnswer(head.headers(), total);
}

// The partial's bytes were given under a strong tag and one length; an
// answer with that tag and another length cannot be true of both, and no
// side of it can be trusted: nothing of it reaches a file.
HttpError NXHTTPRequest::contradictionRefusal(const HttpMessage& head) const
{
    const int status = head.statusCode();
    const std::optional<PartialFileOrigin>& began = m_partialFile.knownOrigin();
    if ((status != 200 && status != 206) || !began || !began->contradictedBy(m_answerOrigin)
        || m_partialFile.path().isEmpty() || QFileInfo(m_partialFile.path()).size() == 0)
        return {};
    return requestError(NXHTTPRequestErrorType::ConnectionFailure,
        QStringLiteral("The server gives the version %1 a length of %2 bytes, where it gave it "
                       "%3 when the partial file began; the partial file stays as it was")
            .arg(began->entityTag)
            .arg(*m_answerOrigin.total)
            .arg(*began->total));
}

qsizetype NXHTTPRequest::roomInPiece(qsizetype size) const
{
    if (m_bodyDisposal != BodyDisposal::Append || !m_pieceLength)
        return size;
    const quint64 before = m_totalBytesRead - quint64(size);
    const quint64 room = *m_pieceLength > before ? *m_pieceLength - before : 0;
    return qsizetype(std::min<quint64>(room, quint64(size)));
}

HttpError NXHTTPRequest::pastPieceEndError() const
{
    return requestError(NXHTTPRequestErrorType::ConnectionFailure,
        QStringLiteral("The server sent bytes past the end of the piece \"%1\"; the file keeps "
                       "the piece")
            .arg(responseHeaders().value(QStringLiteral("Content-Range"))));
}

bool NXHTTPRequest::resumesPartialFile() const
{
    return m_allowResumeForFileDownloads && m_partialDownloadSize > 0
        && !m_request.header(QStringLiteral("Range")).isNull();
}

// A piece of the body is an answer only to a range, and one continues a
// partial file only as it is stored, uncoded.
HttpError NXHTTPRequest::answerRefusal(const HttpMessage& head) const
{
    const bool toFile = !m_downloadDestinationPath.isEmpty() && !wantsReceivedData();
    if (toFile && isBodilessSuccess(head.statusCode()))
        return requestError(NXHTTPRequestErrorType::ConnectionFailure,
            QStringLiteral("The server answered %1 %2, which carries no file")
                .arg(head.statusCode())
                .arg(head.reasonPhrase()));
    if (m_needsRedirect)
        return {};
    const QString pieceSent = head.header(QStringLiteral("Content-Range"));
    if (toFile && isPieceAsWhole(head) && m_bodyDisposal != BodyDisposal::Append) {
        const QString partial = m_partialFile.path();
        const bool kept = m_allowResumeForFileDownloads && !partial.isEmpty()
            && !writesDestinationDirectly() && QFileInfo(partial).size() > 0;
        return requestError(NXHTTPRequestErrorType::ConnectionFailure,
            QStringLiteral("The server sent a piece of the file (\"%1\") with the status 200, "
                           "which stands for all of it%2")
                .arg(pieceSent,
                    kept ? QStringLiteral("; the partial file stays as it was") : QString()));
    }
    if (head.statusCode() != 206 && m_bodyDisposal != BodyDisposal::Append)
        return {};
    QString type;
    parseMimeType(&type, nullptr, head.header(QStringLiteral("Content-Type")));
    // Several ranges in one body, each with a head of its own: never a piece
    // to append as it is, and never asked for.
    if (type.compare(QLatin1String("multipart/byteranges"), Qt::CaseInsensitive) == 0)
        return requestError(NXHTTPRequestErrorType::ConnectionFailure,
            QStringLiteral("The server sent several pieces of the body (multipart/byteranges) "
                           "for one range"));
    if (m_request.header(QStringLiteral("Range")).isNull())
        return requestError(NXHTTPRequestErrorType::ConnectionFailure,
            QStringLiteral("The server sent a piece of the body (206, \"%1\") for a request of "
                           "all of it")
                .arg(pieceSent));
    if (!parseContentRange(pieceSent).readable)
        return requestError(NXHTTPRequestErrorType::ConnectionFailure,
            QStringLiteral("The server sent a piece of the body whose range (\"%1\") could not "
                           "be read")
                .arg(pieceSent));
    if (resumesPartialFile() && isResponseCompressed())
        return requestError(NXHTTPRequestErrorType::Compression,
            QStringLiteral("The server sent the piece \"%1\" in the coding '%2', which cannot "
                           "continue a file")
                .arg(pieceSent, head.header(QStringLiteral("Content-Encoding")).trimmed()));
    return {};
}

// A piece appended to the partial file makes it whole only when the file now
// holds all the server says there is: a server may cap how much of a range it
// sends at once.
HttpError NXHTTPRequest::appendedPieceShortfall(quint64 fileSize) const
{
    const QString pieceSent = responseHeaders().value(QStringLiteral("Content-Range"));
    const std::optional<quint64> length = parseContentRange(pieceSent).length();
    if (length && m_totalBytesRead == 0)
        return requestError(NXHTTPRequestErrorType::ConnectionFailure,
            QStringLiteral("The server sent none of the piece \"%1\"; the partial file stays as "
                           "it was")
                .arg(pieceSent));
    if (length && m_totalBytesRead < *length)
        return requestError(NXHTTPRequestErrorType::ConnectionFailure,
            QStringLiteral("The server sent %1 of the %2 bytes of the piece \"%3\"; the partial "
                           "file keeps them")
                .arg(m_totalBytesRead.load())
                .arg(*length)
                .arg(pieceSent));
    const std::optional<quint64> total = parseContentRange(pieceSent).total;
    if (!total || *total == fileSize)
        return {};
    return requestError(NXHTTPRequestErrorType::ConnectionFailure,
        QStringLiteral("The server sent the piece \"%1\", which leaves the file at %2 of %3 bytes")
            .arg(pieceSent)
            .arg(fileSize)
            .arg(*total));
}

// --- redirects -------------------------------------------------------------------

bool NXHTTPRequest::isUnfollowedRedirect() const
{
    const int status = m_responseStatusCode;
    return m_shouldRedirect && !m_needsRedirect
        && (status == 301 || status == 302 || status == 303 || status == 307 || status == 308);
}

HttpError NXHTTPRequest::unfollowedRedirectError() const
{
    const QString location = responseHeaders().value(QStringLiteral("Location"));
    return requestError(NXHTTPRequestErrorType::RedirectNotFollowed,
        location.isNull()
            ? QStringLiteral("The server answered %1 without an address to go to")
                  .arg(int(m_responseStatusCode))
            : QStringLiteral("The server redirected to \"%1\", which is not a web address")
                  .arg(location));
}

bool NXHTTPRequest::willRedirect()
{
    const QString location = responseHeaders().value(QStringLiteral("Location"));
    if (!m_shouldRedirect || location.isNull())
        return false;
    const int status = m_responseStatusCode;
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308)
        return false;
    const QUrl target = url().resolved(QUrl(location));
    const QString scheme = target.scheme().toLower();
    // Only web addresses are followed: a server must not send the request to
    // a local file or another protocol.
    if ((scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        || target.host().isEmpty())
        return false;
    MainThread::run([request = self()] { request->requestRedirected(); });
    // 307 and 308 keep method and body. A 303 makes anything but HEAD a GET;
    // a 301 or 302 makes a POST a GET unless RFC 2616 behaviour is on.
    const QString method = requestMethod();
    const bool becomesGet = (status == 303 && method != QLatin1String("HEAD"))
        || ((status == 301 || status == 302) && !m_shouldUseRFC2616RedirectBehaviour
            && method == QLatin1String("POST"));
    if (becomesGet) {
        const std::lock_guard lock(m_cancelledLock);
        const bool sameMethod = m_requestMethod == QLatin1String("GET");
        m_requestMethod = QStringLiteral("GET");
        m_postBody.clear();
        m_postLength = 0;
        m_shouldStreamPostDataFromDisk = false;
        // A request that stays a GET at the same origin keeps its headers
        // (a Referer the site asks for); anything else starts afresh.
        if (!sameMethod || !sameOrigin(url(), target))
            keepOnlyHeadersForNewMethod();
    }
    m_redirectURL = target;
    m_needsRedirect = true;
    return true;
}

void NXHTTPRequest::keepOnlyHeadersForNewMethod()
{
    NXHeaderDictionary kept;
    for (const QString& name : { QStringLiteral("User-Agent"), QStringLiteral("Accept") }) {
        if (m_requestHeaders.contains(name))
            kept.insert(name, m_requestHeaders.value(name));
    }
    m_requestHeaders = kept;
    m_haveBuiltRequestHeaders = false;
}

bool NXHTTPRequest::willAskDelegateToConfirmRedirect()
{
    // A companion request reports nothing, so nobody could answer it.
    if (m_hasMainRequest)
        return false;
    QUrl target;
    {
        const std::lock_guard lock(m_cancelledLock);
        if (!answers(Target::Delegate, m_willRedirectSelector, 2)
            && !answers(Target::Queue, "requestWillRedirectToURL", 2))
            return false;
        target = m_redirectURL;
        m_redirectURL.clear();
    }
    MainThread::run([request = self(), target] { request->requestWillRedirectToURL(target); });
    return true;
}

// --- copies ----------------------------------------------------------------------

std::shared_ptr<NXHTTPRequest> NXHTTPRequest::copyWithZone() const
{
    const std::lock_guard lock(m_cancelledLock);
    auto copy = std::make_shared<NXHTTPRequest>(m_url);
    copy->m_delegate = m_delegate;
    copy->m_requestMethod = m_requestMethod;
    copy->m_postBody = m_postBody;
    copy->m_shouldStreamPostDataFromDisk = m_shouldStreamPostDataFromDisk;
    copy->m_postBodyFilePath = m_postBodyFilePath;
    copy->m_requestHeaders = m_requestHeaders;
    // The range follows the partial file as the copy finds it.
    copy->m_requestHeaders.remove(QStringLiteral("Range"));
    copy->m_requestHeaders.remove(QStringLiteral("If-Range"));
    copy->m_requestCookies = m_requestCookies;
    copy->m_ownCookieHeader = m_ownCookieHeader;
    copy->m_builtCookieHeader = m_builtCookieHeader;
    copy->m_useCookiePersistence = m_useCookiePersistence;
    copy->m_useKeychainPersistence = m_useKeychainPersistence;
    copy->m_useSessionPersistence = m_useSessionPersistence;
    copy->m_allowCompressedResponse = m_allowCompressedResponse;
    copy->m_downloadDestinationPath = m_downloadDestinationPath;
    copy->m_partialFile.setPath(m_partialFile.path(), false);
    copy->m_partialFile.setOriginStaysAtDestination(m_partialFile.originStaysAtDestination());
    copy->m_replacesPartialOnlyWhenWhole = m_replacesPartialOnlyWhenWhole;
    copy->m_ownerLocksPartialFile = m_ownerLocksPartialFile;
    copy->m_versionsNamedInRun = m_versionsNamedInRun;
    copy->m_username = m_username;
    copy->m_password = m_password;
    copy->m_domain = m_domain;
    copy->m_proxyUsername = m_proxyUsername;
    copy->m_proxyPassword = m_proxyPassword;
    copy->m_proxyDomain = m_proxyDomain;
    copy->m_proxyHost = m_proxyHost;
    copy->m_proxyPort = m_proxyPort;
    copy->m_proxyType = m_proxyType;
    copy->m_uploadProgressDelegate = m_uploadProgressDelegate;
    copy->m_downloadProgressDelegate = m_downloadProgressDelegate;
    copy->m_postLength = m_postLength;
    copy->m_haveBuiltPostBody = m_haveBuiltPostBody;
    copy->m_didStartSelector = m_didStartSelector;
    copy->m_didFinishSelector = m_didFinishSelector;
    copy->m_didFailSelector = m_didFailSelector;
    copy->m_timeOutSeconds = m_timeOutSeconds;
    copy->m_shouldResetDownloadProgress = m_shouldResetDownloadProgress;
    copy->m_shouldResetUploadProgress = m_shouldResetUploadProgress;
    copy->m_showAccurateProgress = m_showAccurateProgress;
    copy->m_defaultResponseEncoding = m_defaultResponseEncoding;
    copy->m_allowResumeForFileDownloads = m_allowResumeForFileDownloads;
    copy->m_maximumBodySize = m_maximumBodySize;
    copy->m_userInfo = m_userInfo;
    copy->m_tag = m_tag;
    copy->m_useHTTPVersionOne = m_useHTTPVersionOne;
    copy->m_shouldRedirect = m_shouldRedirect;
    copy->m_validatesSecureCertificate = m_validatesSecureCertificate;
    copy->m_clientCertificate = m_clientCertificate;
    copy->m_clientKey = m_clientKey;
    copy->m_clientCertificates = m_clientCertificates;
    copy->m_PACurl = m_PACurl;
    copy->m_shouldPresentCredentialsBeforeChallenge = m_shouldPresentCredentialsBeforeChallenge;
    copy->m_numberOfTimesToRetryOnTimeout = m_numberOfTimesToRetryOnTimeout;
    copy->m_shouldUseRFC2616RedirectBehaviour = m_shouldUseRFC2616RedirectBehaviour;
    copy->m_shouldAttemptPersistentConnection = m_shouldAttemptPersistentConnection;
    copy->m_persistentConnectionTimeoutSeconds = m_persistentConnectionTimeoutSeconds;
    copy->m_authenticationScheme = m_authenticationScheme;
    return copy;
}

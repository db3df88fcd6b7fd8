#include "http/NXHTTPRequestState.h"

#include "http/NXDataDecompressor.h"
#include "http/NetworkThread.h"
#include "platform/DNLogger.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTimer>

#include <typeinfo>

namespace {

bool isBodyMethod(const QString& method)
{
    return method == QLatin1String("POST") || method == QLatin1String("PUT");
}

// The session cookies stand in for a cookie store: a cookie goes to its
// domain and the domain's subdomains, under its path, and to https only
// when it is secure.
bool cookieMatches(const QNetworkCookie& cookie, const QUrl& url)
{
    const QString host = url.host().toLower();
    QString domain = cookie.domain().toLower();
    if (domain.startsWith(QLatin1Char('.')))
        domain.remove(0, 1);
    const bool domainMatches
        = domain.isEmpty() || host == domain || host.endsWith(QLatin1Char('.') + domain);
    const QString path = url.path().isEmpty() ? QStringLiteral("/") : url.path();
    const bool pathMatches = cookie.path().isEmpty() || path.startsWith(cookie.path());
    const bool schemeMatches = !cookie.isSecure() || url.scheme() == QLatin1String("https");
    return domainMatches && pathMatches && schemeMatches;
}

} // namespace

NXHTTPRequest::NXHTTPRequest(const QUrl& url)
    : m_url(url)
    , m_timeOutSeconds(defaultTimeOutSeconds())
{
    static const int registered = qRegisterMetaType<NXHTTPRequest*>();
    Q_UNUSED(registered)
    m_partialFile.setReplaceHook(
        [this](const QString& replacement) { willReplacePartialFile(replacement); });
}

NXHTTPRequest::~NXHTTPRequest()
{
    m_authenticationNeeded = 0;
    cancelLoad();
    setStatusTimerRunning(false);
    releaseBlocksOnMainThread();
}

std::shared_ptr<NXHTTPRequest> NXHTTPRequest::requestWithURL(const QUrl& url)
{
    return std::make_shared<NXHTTPRequest>(url);
}

std::shared_ptr<NXHTTPRequest> NXHTTPRequest::self()
{
    return std::static_pointer_cast<NXHTTPRequest>(shared_from_this());
}

// --- guarded properties ----------------------------------------------------------

QUrl NXHTTPRequest::url() const
{
    const std::lock_guard lock(m_cancelledLock);
    return m_url;
}

void NXHTTPRequest::setURL(const QUrl& url)
{
    const std::lock_guard lock(m_cancelledLock);
    if (url == m_url)
        return;
    m_url = url;
    m_request = HttpMessage();
    m_redirectURL.clear();
}

std::shared_ptr<NXHTTPRequest> NXHTTPRequest::HEADRequest()
{
    auto head = std::make_shared<NXHTTPRequest>(url());
    head->m_requestHeaders = m_requestHeaders;
    head->m_requestCookies = m_requestCookies;
    head->m_ownCookieHeader = m_ownCookieHeader;
    head->m_builtCookieHeader = m_builtCookieHeader;
    head->m_useCookiePersistence = m_useCookiePersistence;
    head->m_useSessionPersistence = m_useSessionPersistence;
    head->m_useKeychainPersistence = m_useKeychainPersistence;
    head->m_allowCompressedResponse = m_allowCompressedResponse;
    head->m_username = m_username;
    head->m_password = m_password;
    head->m_domain = m_domain;
    head->m_proxyUsername = m_proxyUsername;
    head->m_proxyPassword = m_proxyPassword;
    head->m_proxyDomain = m_proxyDomain;
    head->m_proxyHost = m_proxyHost;
    head->m_proxyPort = m_proxyPort;
    head->m_proxyType = m_proxyType;
    head->m_timeOutSeconds = m_timeOutSeconds;
    head->m_useHTTPVersionOne = m_useHTTPVersionOne;
    head->m_validatesSecureCertificate = m_validatesSecureCertificate;
    head->m_clientCertificate = m_clientCertificate;
    head->m_clientKey = m_clientKey;
    head->m_clientCertificates = m_clientCertificates;
    head->m_PACurl = m_PACurl;
    head->m_shouldPresentCredentialsBeforeChallenge = m_shouldPresentCredentialsBeforeChallenge;
    head->m_numberOfTimesToRetryOnTimeout = m_numberOfTimesToRetryOnTimeout;
    head->m_shouldUseRFC2616RedirectBehaviour = m_shouldUseRFC2616RedirectBehaviour;
    head->m_shouldAttemptPersistentConnection = m_shouldAttemptPersistentConnection;
    head->m_persistentConnectionTimeoutSeconds = m_persistentConnectionTimeoutSeconds;
    head->m_mainRequest = self();
    head->m_hasMainRequest = true;
    head->setRequestMethod(QStringLiteral("HEAD"));
    return head;
}

QString NXHTTPRequest::requestMethod() const
{
    const std::lock_guard lock(m_cancelledLock);
    return m_requestMethod;
}

void NXHTTPRequest::setRequestMethod(const QString& method)
{
    const std::lock_guard lock(m_cancelledLock);
    m_requestMethod = method;
    // A body must not be sent again on a connection that may have gone away.
    if (isBodyMethod(method) || !m_postBody.isEmpty() || !m_postBodyFilePath.isEmpty())
        m_shouldAttemptPersistentConnection = false;
}

void NXHTTPRequest::setPostBody(const QByteArray& body)
{
    m_postBody = body;
    m_postLength = quint64(body.size());
}

void NXHTTPRequest::setPostBodyFilePath(const QString& path)
{
    m_postBodyFilePath = path;
}

QObject* NXHTTPRequest::delegate() const
{
    const std::lock_guard lock(m_cancelledLock);
    return m_delegate;
}

void NXHTTPRequest::setDelegate(QObject* delegate)
{
    const std::lock_guard lock(m_cancelledLock);
    m_delegate = delegate;
}

QObject* NXHTTPRequest::queue() const
{
    const std::lock_guard lock(m_cancelledLock);
    return m_queue;
}

void NXHTTPRequest::setQueue(QObject* queue)
{
    const std::lock_guard lock(m_cancelledLock);
    m_queue = queue;
}

void NXHTTPRequest::setClientCertificateIdentity(
    const QSslCertificate& certificate, const QSslKey& key)
{
    m_clientCertificate = certificate;
    m_clientKey = key;
}

int NXHTTPRequest::connectionID() const
{
    const std::lock_guard lock(NXHTTPRequestClassState::instance().poolLock);
    return m_connectionInfo ? m_connectionInfo->id : 0;
}

HttpError NXHTTPRequest::error() const
{
    const std::lock_guard lock(m_cancelledLock);
    return m_error;
}

bool NXHTTPRequest::isCancelledRequest() const
{
    const std::lock_guard lock(m_cancelledLock);
    return m_cancelled;
}

void NXHTTPRequest::addRequestHeader(const QString& name, const QString& value)
{
    m_requestHeaders.insert(name, value);
}

// --- response access -------------------------------------------------------------

NXHeaderDictionary NXHTTPRequest::responseHeaders() const
{
    const std::lock_guard lock(m_cancelledLock);
    return m_responseHeaders;
}

QByteArray NXHTTPRequest::rawResponseData() const
{
    const std::lock_guard lock(m_cancelledLock);
    return m_rawResponseData.value_or(QByteArray());
}

NXHTTPRequest::ContentCoding NXHTTPRequest::responseContentCoding() const
{
    QStringList codings;
    const QString header = responseHeaders().value(QStringLiteral("Content-Encoding"));
    for (const QString& part : header.split(QLatin1Char(','))) {
        const QString coding = part.trimmed().toLower();
        if (!coding.isEmpty() && coding != QLatin1String("identity"))
            codings.append(coding);
    }
    if (codings.isEmpty())
        return ContentCoding::Identity;
    if (codings.size() > 1)
        return ContentCoding::Unsupported;
    if (codings.first() == QLatin1String("gzip") || codings.first() == QLatin1String("x-gzip"))
        return ContentCoding::Gzip;
    if (codings.first() == QLatin1String("deflate"))
        return ContentCoding::Deflate;
    return ContentCoding::Unsupported;
}

bool NXHTTPRequest::isResponseCompressed() const
{
    return responseContentCoding() != ContentCoding::Identity;
}

bool NXHTTPRequest::decodesResponse() const
{
    const ContentCoding coding = responseContentCoding();
    return coding == ContentCoding::Gzip || coding == ContentCoding::Deflate;
}

NXDataDecompressor::Format decompressionFormat(NXHTTPRequest::ContentCoding coding)
{
    return coding == NXHTTPRequest::ContentCoding::Deflate
        ? NXDataDecompressor::Format::ZlibOrRawDeflate
        : NXDataDecompressor::Format::GzipOrZlib;
}

HttpError NXHTTPRequest::unsupportedCodingError() const
{
    return requestError(NXHTTPRequestErrorType::Compression,
        QStringLiteral("Decompression of data failed because the content coding '%1' is not "
                       "supported")
            .arg(responseHeaders().value(QStringLiteral("Content-Encoding")).trimmed()));
}

QByteArray NXHTTPRequest::responseData() const
{
    const QByteArray raw = rawResponseData();
    const ContentCoding coding = responseContentCoding();
    if (coding == ContentCoding::Identity)
        return raw;
    if (coding == ContentCoding::Unsupported)
        return {};
    return NXDataDecompressor::uncompressData(
        raw, nullptr, decompressionFormat(coding), m_maximumBodySize)
        .value_or(QByteArray());
}

// A body kept coded in memory is decoded only when read: one that does not
// decode, or decodes past the size limit, fails the request when it arrives,
// as it would have failed decoding on the way, instead of reading as nothing.
HttpError NXHTTPRequest::codedBodyRefusal() const
{
    if (!decodesResponse() || !m_downloadDestinationPath.isEmpty() || wantsReceivedData())
        return {};
    const QByteArray raw = rawResponseData();
    if (raw.isEmpty())
        return {};
    HttpError failure;
    NXDataDecompressor::uncompressData(raw, &failure,
        decompressionFormat(responseContentCoding()), m_maximumBodySize);
    return failure.code() == int(NXHTTPRequestErrorType::BodyTooLarge) ? bodyTooLargeError()
                                                                       : failure;
}

QString NXHTTPRequest::responseString() const
{
    const QByteArray data = responseData();
    if (data.isEmpty())
        return {};
    QStringDecoder decoder(responseEncoding().toLatin1().constData());
    if (!decoder.isValid())
        return QString::fromLatin1(data);
    return decoder.decode(data);
}

// --- starting --------------------------------------------------------------------

void NXHTTPRequest::start()
{
    setInProgress(true);
    NetworkThread::post([request = self()] { request->main(); });
}

void NXHTTPRequest::startAsynchronous()
{
    sharedQueue().addOperation(self());
}

void NXHTTPRequest::startSynchronous()
{
    m_isSynchronous = true;
    setInProgress(true);
    if (!isCancelledRequest() && !m_complete) {
        main();
        QEventLoop loop;
        while (!m_complete)
            loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    setInProgress(false);
}

void NXHTTPRequest::setInProgress(bool on)
{
    m_inProgress = on;
    setExecuting(on);
}

void NXHTTPRequest::main()
{
    const std::lock_guard lock(m_cancelledLock);
    if (!m_error.isNull()) {
        m_complete = true;
        markAsFinished();
        return;
    }
    m_complete = false;
    m_didUseCachedResponse = false;
    if (!m_url.isValid() || m_url.isEmpty()) {
        failWithError(requestError(NXHTTPRequestErrorType::UnableToCreateRequest,
            QStringLiteral("Unable to create request (bad url?)")));
        return;
    }
    if (const HttpError refusal = downloadFileRefusal(); !refusal.isNull()) {
        failWithError(refusal);
        return;
    }
    if (const HttpError refusal = m_hasStartedBefore ? HttpError() : claimDownloadFiles();
        !refusal.isNull()) {
        failWithError(refusal);
        return;
    }
    try {
        prepareAndStart();
    } catch (const std::exception& exception) {
        HttpError failure = requestError(NXHTTPRequestErrorType::Unhandled,
            QString::fromLocal8Bit(typeid(exception).name()),
            std::make_shared<HttpError>(NXHTTPRequestErrorDomain,
                int(NXHTTPRequestErrorType::Unhandled), QString::fromLocal8Bit(exception.what())));
        failure.setFailureReason(QString::fromLocal8Bit(exception.what()));
        failWithError(failure);
    }
}

void NXHTTPRequest::prepareAndStart()
{
    if (!m_hasMainRequest) {
        buildPostBody();
        if (!m_error.isNull())
            return;
    }
    if (m_requestMethod != QLatin1String("GET"))
        m_downloadCache.reset();
    m_request = HttpMessage::request(m_requestMethod, m_url,
        m_useHTTPVersionOne ? QStringLiteral("HTTP/1.0") : QStringLiteral("HTTP/1.1"));
    if (const auto main = m_mainRequest.lock())
        main->buildRequestHeaders();
    buildRequestHeaders();
    if (answeredFromCache())
        return;
    applyAuthorizationHeader();
    for (auto it = m_requestHeaders.cbegin(); it != m_requestHeaders.cend(); ++it)
        m_request.setHeader(it.key(), it.value());
    if (configureProxies())
        startRequest();
}

void NXHTTPRequest::buildRequestHeaders()
{
    if (m_haveBuiltRequestHeaders)
        return;
    m_haveBuiltRequestHeaders = true;
    if (m_hasMainRequest) {
        const auto main = m_mainRequest.lock();
        const NXHeaderDictionary inherited = main ? main->requestHeaders() : NXHeaderDictionary();
        for (auto it = inherited.cbegin(); it != inherited.cend(); ++it)
            addRequestHeader(it.key(), it.value());
        // The Cookie header came made: what of it is the owner's is known there.
        if (main) {
            m_ownCookieHeader = main->m_ownCookieHeader;
            m_builtCookieHeader = main->m_builtCookieHeader;
        }
        return;
    }
    applyCookieHeader();
    if (!m_requestHeaders.contains(QStringLiteral("User-Agent"))) {
        const QString agent
            = m_userAgentString.isEmpty() ? defaultUserAgentString() : m_userAgentString;
        if (!agent.isEmpty())
            addRequestHeader(QStringLiteral("User-Agent"), agent);
    }
    if (m_shouldCompressRequestBody)
        addRequestHeader(QStringLiteral("Content-Encoding"), QStringLiteral("gzip"));
    updatePartialDownloadSize();
    askFromOffset(m_partialDownloadSize);
}

// A partial file holds the body as it is, uncoded: a range of it is asked
// for in that coding, or its bytes would be counted in another. The range is
// asked of the version the partial file began with: a server whose file has
// changed since sends all of the new one.
void NXHTTPRequest::askFromOffset(quint64 from)
{
    const QString range = QStringLiteral("Range");
    const QString coding = QStringLiteral("Accept-Encoding");
    const QString ifRange = QStringLiteral("If-Range");
    m_requestHeaders.remove(ifRange);
    if (from > 0) {
        m_requestHeaders.insert(range, QStringLiteral("bytes=%1-").arg(from));
        m_requestHeaders.insert(coding, QStringLiteral("identity"));
        if (const std::optional<PartialFileOrigin>& origin = m_partialFile.knownOrigin())
            m_requestHeaders.insert(ifRange, origin->ifRangeValue());
    } else {
        m_requestHeaders.remove(range);
        if (m_allowCompressedResponse)
            m_requestHeaders.insert(coding, QStringLiteral("gzip"));
    }
    // Before the first start the request's head is made from these anyway.
    if (!m_hasStartedBefore)
        return;
    for (const QString& name : { range, coding, ifRange }) {
        if (m_requestHeaders.contains(name))
            m_request.setHeader(name, m_requestHeaders.value(name));
        else
            m_request.headers().remove(name);
    }
}

void NXHTTPRequest::applyCookieHeader()
{
    if (m_useCookiePersistence) {
        for (const QNetworkCookie& cookie : sessionCookies()) {
            const bool known = std::any_of(m_requestCookies.cbegin(), m_requestCookies.cend(),
                [&](const QNetworkCookie& held) { return held.hasSameIdentifier(cookie); });
            if (!known && cookieMatches(cookie, m_url))
                m_requestCookies.append(cookie);
        }
    }
    // A companion shares its main request's cookies while it asks that origin.
    const auto main = m_hasMainRequest ? m_mainRequest.lock() : nullptr;
    QList<QNetworkCookie> cookies
        = main && sameOrigin(main->url(), m_url) ? main->requestCookies() : m_requestCookies;
    // A cookie whose lifetime has ended is never sent, whoever gave it.
    cookies.removeIf(cookieHasExpired);
    // A Cookie header we did not make is the owner's (a site's cookie handed
    // on as a header): it goes along with the cookies, never in their place.
    const QString present = m_requestHeaders.value(QStringLiteral("Cookie"));
    if (present != m_builtCookieHeader)
        m_ownCookieHeader = present;
    QStringList pairs;
    if (!m_ownCookieHeader.isEmpty())
        pairs.append(m_ownCookieHeader);
    for (const QNetworkCookie& cookie : cookies)
        pairs.append(QStringLiteral("%1=%2").arg(
            QString::fromLatin1(cookie.name()), QString::fromLatin1(cookie.value())));
    m_builtCookieHeader = pairs.join(QStringLiteral("; "));
    if (pairs.isEmpty())
        m_requestHeaders.remove(QStringLiteral("Cookie"));
    else
        addRequestHeader(QStringLiteral("Cookie"), m_builtCookieHeader);
}

// Within one origin a redirect keeps what the site gave (a Cookie header from
// the page's record, cookies set for the path it leads to); another origin
// gets only the stored cookies that are its own. Headers that are built again
// at the start take their cookies then.
void NXHTTPRequest::keepCookiesForRedirect(bool crossOrigin)
{
    if (crossOrigin) {
        m_requestCookies.clear();
        m_requestHeaders.remove(QStringLiteral("Cookie"));
    } else {
        m_requestCookies.removeIf(
            [this](const QNetworkCookie& cookie) { return !cookieMatches(cookie, m_url); });
    }
    if (m_haveBuiltRequestHeaders)
        applyCookieHeader();
}

void NXHTTPRequest::applyAuthorizationHeader()
{
    if (!m_shouldPresentCredentialsBeforeChallenge)
        return;
    const bool basic
        = m_authenticationScheme.compare(QLatin1String("Basic"), Qt::CaseInsensitive) == 0;
    if (!m_requestHeaders.contains(QStringLiteral("Authorization")) && basic
        && !m_username.isEmpty() && !m_password.isEmpty())
        addBasicAuthenticationHeaderWithUsername(m_username, m_password);
    applySessionAuthorization();
}

void NXHTTPRequest::updatePartialDownloadSize()
{
    if (!m_allowResumeForFileDownloads || m_downloadDestinationPath.isEmpty()
        || m_partialFile.path().isEmpty())
        return;
    QFileInfo partial(m_partialFile.path());
    partial.refresh();
    if (!partial.exists())
        return;
    const quint64 size = quint64(partial.size());
    if (size > 0 && !m_partialFile.isSuperseded()) {
        if (const QString reason = stalePartialReason(size); !reason.isEmpty()) {
            DNLog(QStringLiteral("%1 is fetched afresh: %2").arg(m_partialFile.path(), reason));
            m_partialFile.markSuperseded();
        }
    }
    // Its bytes stay until a whole body takes their place; without a
    // validator that ties a piece to them, they are not continued.
    const bool continued = size > 0 && !m_partialFile.isSuperseded() && isResumable();
    m_partialDownloadSize = continued ? size : 0;
}

// Only a piece that the server ties to the partial's bytes by a strong
// validator may be joined to them: a weak tag, a date within the second it
// was answered, or nothing at all, and two versions would make one file.
bool NXHTTPRequest::isResumable()
{
    const std::optional<PartialFileOrigin>& origin = m_partialFile.readOrigin();
    if (origin && !origin->ifRangeValue().isEmpty())
        return true;
    DNLog(QStringLiteral("%1 is fetched afresh beside the partial file: nothing the server "
                         "gave ties a piece to its bytes")
              .arg(m_partialFile.path()));
    return false;
}

QString NXHTTPRequest::stalePartialReason(quint64 size)
{
    if (!m_partialFile.mayBeContinued())
        return QStringLiteral("its file system keeps no record of the version it began with");
    const std::optional<PartialFileOrigin>& origin = m_partialFile.readOrigin();
    if (origin && origin->total && size > *origin->total)
        return QStringLiteral("it holds %1 bytes of a file of %2").arg(size).arg(*origin->total);
    return {};
}

std::unique_ptr<HttpReadStream> NXHTTPRequest::makeReadStream()
{
    std::unique_ptr<HttpBodyStream> body = makeBodyStream();
    if (!body && !m_postBodyFilePath.isEmpty() && QFileInfo::exists(m_postBodyFilePath))
        return nullptr;
    return std::make_unique<HttpReadStream>(m_request, std::move(body));
}

void NXHTTPRequest::configureReadStream(HttpReadStream& stream) const
{
    const bool secure = m_url.scheme().toLower() == QLatin1String("https");
    if (secure) {
        // The relaxed check and the client identity are independent settings
        // of the stream, so one does not undo the other.
        TlsSettings tls;
        tls.validatesCertificateChain = m_validatesSecureCertificate;
        tls.clientCertificate = m_clientCertificate;
        tls.clientKey = m_clientKey;
        tls.clientCertificates = m_clientCertificates;
        stream.setTlsSettings(tls);
    }
    if (m_proxyHost.isEmpty() || m_proxyPort == 0)
        return;
    ProxySettings proxy;
    proxy.kind = m_proxyType.compare(QLatin1String("SOCKS"), Qt::CaseInsensitive) == 0
        ? ProxySettings::Kind::Socks5
        : ProxySettings::Kind::Http;
    proxy.host = m_proxyHost;
    proxy.port = quint16(m_proxyPort);
    stream.setProxy(proxy);
}

void NXHTTPRequest::resetForStart()
{
    m_downloadComplete = false;
    m_complete = false;
    m_totalBytesRead = 0;
    // Bytes reported once stay reported: a retry or redirect of the same
    // request starts from the amount already told.
    if (!m_hasStartedBefore)
        m_lastBytesRead = 0;
    m_hasStartedBefore = true;
    if (m_redirectCount == 0)
        m_originalURL = m_url;
    if (m_lastBytesSent > 0)
        removeUploadProgressSoFar();
    m_lastBytesSent = 0;
    m_contentLength = 0;
    m_bodyDisposal = BodyDisposal::Write;
    // What the last answer said goes with it: a redirect's status must not
    // stand for a next hop that never answers.
    m_responseStatusCode = 0;
    {
        const std::lock_guard lock(m_cancelledLock);
        m_responseStatusMessage.clear();
        m_responseHeaders.clear();
        m_responseCookies.clear();
        m_responseEncoding.clear();
        m_haveReadResponseHeaders = false;
        if (m_downloadDestinationPath.isEmpty())
            m_rawResponseData = QByteArray();
    }
    m_readStreamIsScheduled = false;
    m_responseBytesReceived = 0;
}

void NXHTTPRequest::startRequest()
{
    if (isCancelledRequest())
        return;
    MainThread::run([request = self()] { request->requestStarted(); });
    resetForStart();

    std::unique_ptr<HttpReadStream> made = makeReadStream();
    if (!made) {
        failWithError(requestError(NXHTTPRequestErrorType::InternalErrorWhileBuildingRequest,
            QStringLiteral("Unable to create read stream")));
        return;
    }
    configureReadStream(*made);
    m_readStream = std::move(made);
    pickConnection();
    startReading();
}

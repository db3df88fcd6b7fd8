#pragma once

#include "http/HttpAuthentication.h"
#include "http/HttpError.h"
#include "http/HttpReadStream.h"
#include "http/NXDataDecompressor.h"
#include "http/NXHTTPRequestError.h"
#include "http/OperationQueue.h"
#include "http/PartialFile.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QNetworkCookie>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QUrl>
#include <QVariantMap>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QTimer;
struct NXConnectionRecord;
struct PacAnswer;

using NXHeaderDictionary = QMap<QString, QString>;
class NXHTTPRequest;

// A store of earlier answers a request may be given; it is asked on the
// network thread. Stored headers carry the status code under
// "X-NXHTTPRequest-Response-Status-Code".
class NXCacheDelegate {
public:
    virtual ~NXCacheDelegate() = default;
    virtual int defaultCachePolicy() const = 0;
    // True when the stored answer may stand in for the network's.
    virtual bool canUseCachedDataForRequest(NXHTTPRequest& request) = 0;
    virtual void updateExpiryForRequest(NXHTTPRequest& request, double maxAge) = 0;
    virtual void storeResponseForRequest(NXHTTPRequest& request, double maxAge) = 0;
    virtual std::optional<NXHeaderDictionary> cachedResponseHeadersForURL(const QUrl& url) = 0;
    // Empty when nothing is stored.
    virtual QString pathToCachedResponseDataForURL(const QUrl& url) = 0;
    virtual QByteArray cachedResponseDataForURL(const QUrl& url) = 0;
};

// One HTTP transfer, and at the same time an operation a queue can run. The
// owner configures it, then starts it (startAsynchronous() puts it on the
// shared queue); the network work runs on the network thread and the owner
// hears of it on the main thread.
//
// Owner notifications go to QObject targets by method name, skipped when the
// target has no method of that name. The delegate's methods are named by the
// selectors below (each taking `NXHTTPRequest*`, plus the argument named); the
// queue object answers fixed names:
//   requestStarted(NXHTTPRequest*), requestFinished(NXHTTPRequest*),
//   requestFailed(NXHTTPRequest*),
//   requestDidReceiveResponseHeaders(NXHTTPRequest*, NXHeaderDictionary),
//   requestWillRedirectToURL(NXHTTPRequest*, QUrl),
//   requestDidReceiveBytes / requestDidSendBytes /
//   requestIncrementDownloadSizeBy / requestIncrementUploadSizeBy
//       (NXHTTPRequest*, qint64).
// A progress target answers setMaxValue(double), setDoubleValue(double) and
// the byte messages above that concern its direction.
//
// Configure a request before it starts; the counters may be read at any time.
class NXHTTPRequest : public Operation {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using TimePoint = std::chrono::steady_clock::time_point;
    using Block = std::function<void()>;
    using HeadersBlock = std::function<void(const NXHeaderDictionary&)>;
    using ProgressBlock = std::function<void(qint64 amount, quint64 total)>;
    using SizeBlock = std::function<void(qint64 amount)>;
    using DataBlock = std::function<void(const QByteArray&)>;

    explicit NXHTTPRequest(const QUrl& url);
    ~NXHTTPRequest() override;

    static std::shared_ptr<NXHTTPRequest> requestWithURL(const QUrl& url);
    std::shared_ptr<NXHTTPRequest> self();
    // A fresh, unstarted request with this one's configuration and none of
    // its response state: the targets, method, body, headers the owner set,
    // credentials, proxy, files, switches and time-out.
    std::shared_ptr<NXHTTPRequest> copyWithZone() const;

    // --- operation ----------------------------------------------------------
    void start() override;
    void main() override;
    void cancel() override;
    void startSynchronous();
    void startAsynchronous();
    void clearDelegatesAndCancel();
    // Any thread: the request starts again at `url` on the network thread.
    void redirectToURL(const QUrl& url);
    bool isCancelledRequest() const;

    // --- identity and target ----------------------------------------------
    QUrl url() const;
    void setURL(const QUrl& url);
    QUrl originalURL() const { return m_originalURL; }
    QUrl redirectURL() const { return m_redirectURL; }
    QString requestMethod() const;
    void setRequestMethod(const QString& method);
    QObject* delegate() const;
    void setDelegate(QObject* delegate);
    QObject* queue() const;
    void setQueue(QObject* queue);
    QObject* uploadProgressDelegate() const;
    void setUploadProgressDelegate(QObject* target);
    QObject* downloadProgressDelegate() const;
    void setDownloadProgressDelegate(QObject* target);
    // The request a HEAD companion works for; it reports nothing itself.
    std::shared_ptr<NXHTTPRequest> mainRequest() const { return m_mainRequest.lock(); }
    bool hasMainRequest() const { return m_hasMainRequest; }
    std::shared_ptr<NXHTTPRequest> HEADRequest();
    QVariantMap userInfo() const { return m_userInfo; }
    void setUserInfo(const QVariantMap& info) { m_userInfo = info; }
    qint64 tag() const { return m_tag; }
    void setTag(qint64 tag) { m_tag = tag; }
    std::optional<quint32> requestID() const { return m_requestID; }

    // --- request headers, cookies, body -----------------------------------
    void addRequestHeader(const QString& name, const QString& value);
    NXHeaderDictionary requestHeaders() const { return m_requestHeaders; }
    QList<QNetworkCookie> requestCookies() const { return m_requestCookies; }
    void setRequestCookies(const QList<QNetworkCookie>& cookies) { m_requestCookies = cookies; }
    bool useCookiePersistence() const { return m_useCookiePersistence; }
    void setUseCookiePersistence(bool on) { m_useCookiePersistence = on; }
    QString userAgentString() const { return m_userAgentString; }
    void setUserAgentString(const QString& agent) { m_userAgentString = agent; }
    QByteArray postBody() const { return m_postBody; }
    void setPostBody(const QByteArray& body);
    QString postBodyFilePath() const { return m_postBodyFilePath; }
    void setPostBodyFilePath(const QString& path);
    bool shouldStreamPostDataFromDisk() const { return m_shouldStreamPostDataFromDisk; }
    void setShouldStreamPostDataFromDisk(bool on) { m_shouldStreamPostDataFromDisk = on; }
    bool shouldCompressRequestBody() const { return m_shouldCompressRequestBody; }
    void setShouldCompressRequestBody(bool on) { m_shouldCompressRequestBody = on; }
    quint64 postLength() const { return m_postLength; }
    void setPostLength(quint64 length) { m_postLength = length; }
    // Owner side, before the start: the body grows in memory, or in a file
    // of the temporary folder when streaming from disk is on.
    void setupPostBody();
    void appendPostData(const QByteArray& data);
    void appendPostDataFromFile(const QString& path);
    QByteArray compressedPostBody() const { return m_compressedPostBody; }
    QString compressedPostBodyFilePath() const { return m_compressedPostBodyFilePath; }
    bool didCreateTemporaryPostDataFile() const { return m_didCreateTemporaryPostDataFile; }
    bool haveBuiltPostBody() const { return m_haveBuiltPostBody; }

    // --- transport and connection -----------------------------------------
    double timeOutSeconds() const { return m_timeOutSeconds; }
    void setTimeOutSeconds(double seconds) { m_timeOutSeconds = seconds; }
    // The whole of the answer's head must come within this many seconds of
    // the request's last byte, however steadily it trickles; 0 for no limit.
    double headTimeOutSeconds() const { return m_headTimeOutSeconds; }
    void setHeadTimeOutSeconds(double seconds) { m_headTimeOutSeconds = seconds; }
    int numberOfTimesToRetryOnTimeout() const { return m_numberOfTimesToRetryOnTimeout; }
    void setNumberOfTimesToRetryOnTimeout(int count) { m_numberOfTimesToRetryOnTimeout = count; }
    int retryCount() const { return m_retryCount; }
    bool shouldAttemptPersistentConnection() const { return m_shouldAttemptPersistentConnection; }
    void setShouldAttemptPersistentConnection(bool on) { m_shouldAttemptPersistentConnection = on; }
    double persistentConnectionTimeoutSeconds() const
    {
        return m_persistentConnectionTimeoutSeconds;
    }
    void setPersistentConnectionTimeoutSeconds(double seconds)
    {
        m_persistentConnectionTimeoutSeconds = seconds;
    }
    bool connectionCanBeReused() const { return m_connectionCanBeReused; }
    // The id of the pooled connection in use, or 0.
    int connectionID() const;
    bool useHTTPVersionOne() const { return m_useHTTPVersionOne; }
    void setUseHTTPVersionOne(bool on) { m_useHTTPVersionOne = on; }
    bool validatesSecureCertificate() const { return m_validatesSecureCertificate; }
    void setValidatesSecureCertificate(bool on) { m_validatesSecureCertificate = on; }
    void setClientCertificateIdentity(const QSslCertificate& certificate, const QSslKey& key);
    QList<QSslCertificate> clientCertificates() const { return m_clientCertificates; }
    void setClientCertificates(const QList<QSslCertificate>& list) { m_clientCertificates = list; }
    bool shouldRedirect() const { return m_shouldRedirect; }
    void setShouldRedirect(bool on) { m_shouldRedirect = on; }
    // Off: a 301 or 302 answer to a request with a body continues as a
    // body-less GET. On: only a 303 does. A 307 or 308 never changes the method.
    bool shouldUseRFC2616RedirectBehaviour() const { return m_shouldUseRFC2616RedirectBehaviour; }
    void setShouldUseRFC2616RedirectBehaviour(bool on) { m_shouldUseRFC2616RedirectBehaviour = on; }
    int redirectCount() const { return m_redirectCount; }
    bool needsRedirect() const { return m_needsRedirect; }
    QString proxyHost() const { return m_proxyHost; }
    void setProxyHost(const QString& host) { m_proxyHost = host; }
    int proxyPort() const { return m_proxyPort; }
    void setProxyPort(int port) { m_proxyPort = port; }
    // "HTTP", "HTTPS" or "SOCKS"; HTTP when a host and port are set without one.
    QString proxyType() const { return m_proxyType; }
    void setProxyType(const QString& type) { m_proxyType = type; }
    // Where a proxy auto-configuration script is: a file, http or https URL.
    QUrl PACurl() const { return m_PACurl; }
    void setPACurl(const QUrl& url) { m_PACurl = url; }
    bool isSynchronous() const { return m_isSynchronous; }

    // --- credentials ------------------------------------------------------
    QString username() const { return m_username; }
    void setUsername(const QString& name) { m_username = name; }
    QString password() const { return m_password; }
    void setPassword(const QString& password) { m_password = password; }
    QString domain() const { return m_domain; }
    void setDomain(const QString& domain) { m_domain = domain; }
    bool useSessionPersistence() const { return m_useSessionPersistence; }
    void setUseSessionPersistence(bool on) { m_useSessionPersistence = on; }
    bool shouldPresentCredentialsBeforeChallenge() const
    {
        return m_shouldPresentCredentialsBeforeChallenge;
    }
    void setShouldPresentCredentialsBeforeChallenge(bool on)
    {
        m_shouldPresentCredentialsBeforeChallenge = on;
    }
    QString authenticationScheme() const { return m_authenticationScheme; }
    void setAuthenticationScheme(const QString& scheme) { m_authenticationScheme = scheme; }
    QString authenticationRealm() const { return m_authenticationRealm; }
    void setAuthenticationRealm(const QString& realm) { m_authenticationRealm = realm; }
    int authenticationNeeded() const { return m_authenticationNeeded; }

    // --- cache ------------------------------------------------------------
    // Only GET requests use the cache. Policy bits: 4 or 8 ask the server
    // whether the stored answer is still good; 64 answers from the store
    // when the network fails.
    std::shared_ptr<NXCacheDelegate> downloadCache() const { return m_downloadCache; }
    void setDownloadCache(std::shared_ptr<NXCacheDelegate> cache)
    {
        m_downloadCache = std::move(cache);
    }
    int cachePolicy() const { return m_cachePolicy; }
    void setCachePolicy(int policy) { m_cachePolicy = policy; }
    int cacheStoragePolicy() const { return m_cacheStoragePolicy; }
    void setCacheStoragePolicy(int policy) { m_cacheStoragePolicy = policy; }
    double secondsToCache() const { return m_secondsToCache; }
    void setSecondsToCache(double seconds) { m_secondsToCache = seconds; }
    bool didUseCachedResponse() const { return m_didUseCachedResponse; }
    QString proxyUsername() const { return m_proxyUsername; }
    void setProxyUsername(const QString& name) { m_proxyUsername = name; }
    QString proxyPassword() const { return m_proxyPassword; }
    void setProxyPassword(const QString& password) { m_proxyPassword = password; }
    QString proxyDomain() const { return m_proxyDomain; }
    void setProxyDomain(const QString& domain) { m_proxyDomain = domain; }
    QString proxyAuthenticationScheme() const { return m_proxyAuthenticationScheme; }
    QString proxyAuthenticationRealm() const { return m_proxyAuthenticationRealm; }
    bool useKeychainPersistence() const { return m_useKeychainPersistence; }
    void setUseKeychainPersistence(bool on) { m_useKeychainPersistence = on; }
    int authenticationRetryCount() const { return m_authenticationRetryCount; }
    int proxyAuthenticationRetryCount() const { return m_proxyAuthenticationRetryCount; }
    // The credential maps last applied with success ("Username", "Password").
    QVariantMap requestCredentials() const { return m_requestCredentials; }
    QVariantMap proxyCredentials() const { return m_proxyCredentials; }
    // A challenged request whose delegate (or queue) answers
    // authenticationNeededForRequest(NXHTTPRequest*) or
    // proxyAuthenticationNeededForRequest(NXHTTPRequest*), or has the block
    // below, waits for one of these two; any thread.
    void retryUsingSuppliedCredentials();
    void cancelAuthentication();
    void addBasicAuthenticationHeaderWithUsername(const QString& user, const QString& password);

    // --- response and download --------------------------------------------
    NXHeaderDictionary responseHeaders() const;
    int responseStatusCode() const { return m_responseStatusCode; }
    QString responseStatusMessage() const { return m_responseStatusMessage; }
    QList<QNetworkCookie> responseCookies() const;
    // Charset names: the "Content-Type" charset when one is known, else the
    // default ("ISO-8859-1" unless set).
    QString responseEncoding() const;
    QString defaultResponseEncoding() const { return m_defaultResponseEncoding; }
    void setDefaultResponseEncoding(const QString& name) { m_defaultResponseEncoding = name; }
    // The body as it came, and the body decoded. A body of a content coding
    // the client cannot decode fails the request; its raw bytes stay in
    // rawResponseData() when the body went to memory, and responseData() is
    // empty.
    QByteArray rawResponseData() const;
    QByteArray responseData() const;
    QString responseString() const;
    // The response's "Content-Encoding", matched without regard to case:
    // "gzip" and "x-gzip", "deflate" (zlib-wrapped or raw), none or
    // "identity"; anything else, or more than one coding, is unsupported.
    enum class ContentCoding { Identity, Gzip, Deflate, Unsupported };
    ContentCoding responseContentCoding() const;
    // Any content coding other than identity.
    bool isResponseCompressed() const;
    quint64 contentLength() const { return m_contentLength; }
    quint64 partialDownloadSize() const { return m_partialDownloadSize; }
    quint64 totalBytesRead() const { return m_totalBytesRead; }
    // Body bytes of every answer since the request began: unlike
    // totalBytesRead(), kept over retries, restarts and further pieces.
    quint64 bytesReadInAllAnswers() const { return m_bytesReadInAllAnswers; }
    quint64 totalBytesSent() const { return m_totalBytesSent; }
    quint64 lastBytesRead() const { return m_lastBytesRead; }
    quint64 lastBytesSent() const { return m_lastBytesSent; }
    bool allowCompressedResponse() const { return m_allowCompressedResponse; }
    void setAllowCompressedResponse(bool on) { m_allowCompressedResponse = on; }
    QString downloadDestinationPath() const { return m_downloadDestinationPath; }
    void setDownloadDestinationPath(const QString& path) { m_downloadDestinationPath = path; }
    QString temporaryFileDownloadPath() const { return m_partialFile.path(); }
    void setTemporaryFileDownloadPath(const QString& path) { m_partialFile.setPath(path, false); }
    bool allowResumeForFileDownloads() const { return m_allowResumeForFileDownloads; }
    void setAllowResumeForFileDownloads(bool on) { m_allowResumeForFileDownloads = on; }
    // The finished file keeps the version its body began with (an extended
    // attribute), for an owner that may put it back as a partial file to be
    // resumed; off, a finished file carries nothing of ours.
    void setDestinationKeepsOrigin(bool on) { m_partialFile.setOriginStaysAtDestination(on); }
    // A body fetched afresh beside a partial file takes its place only once
    // it is whole and its owner took it (finishedFileRefusal), not as soon as
    // it holds more: for an owner that refuses bodies a good partial must
    // outlive.
    bool replacesPartialOnlyWhenWhole() const { return m_replacesPartialOnlyWhenWhole; }
    void setReplacesPartialOnlyWhenWhole(bool on) { m_replacesPartialOnlyWhenWhole = on; }
    // A resumed download locks its partial file (flock) while it runs, so
    // that a second one into the same file fails at once; on, the owner
    // holds that lock itself (a second open file's lock would be refused by
    // the owner's own).
    void setOwnerLocksPartialFile(bool on) { m_ownerLocksPartialFile = on; }
    // What the server said of the file in this run before the request (its
    // answer to the HEAD that asked the size, say): a 416 finds the partial
    // file whole only when nothing said in the run, this request's own
    // answers included, names another version or length of it.
    void addVersionNamedInRun(const PartialFileOrigin& said);
    // At most this many requests ask for more of a body whose length the
    // server does not give before its pieces must bring kSmallestAveragePiece
    // bytes each on average: a server that sends ever smaller pieces would be
    // asked for ever.
    static constexpr int kPieceRequestsWithoutAverage = 64;
    static constexpr quint64 kSmallestAveragePiece = 64 * 1024;
    // A body that grows past this many bytes, decoded and counting the
    // partial file when it is appended to it, fails the request (code 13)
    // without touching the destination; 0 for no limit. A coded body may
    // come only a little larger than what it decodes to.
    quint64 maximumBodySize() const { return m_maximumBodySize; }
    void setMaximumBodySize(quint64 bytes) { m_maximumBodySize = bytes; }
    bool downloadComplete() const { return m_downloadComplete; }
    bool showAccurateProgress() const { return m_showAccurateProgress; }
    void setShowAccurateProgress(bool on) { m_showAccurateProgress = on; }
    bool shouldResetDownloadProgress() const { return m_shouldResetDownloadProgress; }
    void setShouldResetDownloadProgress(bool on) { m_shouldResetDownloadProgress = on; }
    bool shouldResetUploadProgress() const { return m_shouldResetUploadProgress; }
    void setShouldResetUploadProgress(bool on) { m_shouldResetUploadProgress = on; }

    // --- state and callbacks ----------------------------------------------
    bool complete() const { return m_complete; }
    bool inProgress() const { return m_inProgress; }
    HttpError error() const;
    QByteArray didStartSelector() const { return m_didStartSelector; }
    void setDidStartSelector(const QByteArray& name) { m_didStartSelector = name; }
    QByteArray didReceiveResponseHeadersSelector() const { return m_didReceiveHeadersSelector; }
    void setDidReceiveResponseHeadersSelector(const QByteArray& name)
    {
        m_didReceiveHeadersSelector = name;
    }
    QByteArray willRedirectSelector() const { return m_willRedirectSelector; }
    void setWillRedirectSelector(const QByteArray& name) { m_willRedirectSelector = name; }
    QByteArray didFinishSelector() const { return m_didFinishSelector; }
    void setDidFinishSelector(const QByteArray& name) { m_didFinishSelector = name; }
    QByteArray didFailSelector() const { return m_didFailSelector; }
    void setDidFailSelector(const QByteArray& name) { m_didFailSelector = name; }
    QByteArray didReceiveDataSelector() const { return m_didReceiveDataSelector; }
    void setDidReceiveDataSelector(const QByteArray& name) { m_didReceiveDataSelector = name; }

    void setStartedBlock(Block block);
    void setHeadersReceivedBlock(HeadersBlock block);
    void setCompletionBlock(Block block);
    void setFailedBlock(Block block);
    void setBytesReceivedBlock(ProgressBlock block);
    void setBytesSentBlock(ProgressBlock block);
    void setDownloadSizeIncrementedBlock(SizeBlock block);
    void setUploadSizeIncrementedBlock(SizeBlock block);
    void setDataReceivedBlock(DataBlock block);
    void setRequestRedirectedBlock(Block block);
    void setAuthenticationNeededBlock(Block block);
    void setProxyAuthenticationNeededBlock(Block block);
    void releaseBlocksOnMainThread();

    // --- class services ---------------------------------------------------
    static double defaultTimeOutSeconds();
    static void setDefaultTimeOutSeconds(double seconds);
    static OperationQueue& sharedQueue();
    static QString defaultUserAgentString();
    static void setDefaultUserAgentString(const QString& agent);
    static bool isNetworkInUse();
    // The status check runs this often (a quarter second unless tests say
    // otherwise), and every "now" comes from the clock.
    static std::chrono::milliseconds statusTimerInterval();
    static void setStatusTimerInterval(std::chrono::milliseconds interval);
    static TimePoint now();
    static void setClock(Clock clock);
    // The connection pool's size, free and in use.
    static int connectionPoolSize();

    static bool isBandwidthThrottled();
    static unsigned long maxBandwidthPerSecond();
    static void setMaxBandwidthPerSecond(unsigned long bytes);
    static void incrementBandwidthUsedInLastSecond(unsigned long bytes);
    static unsigned long averageBandwidthUsedPerSecond();
    static unsigned long maxUploadReadLength();
    // Closes the one-second window once it has passed, adding its bytes to
    // the average, and sets the throttle wake-up time when over the maximum.
    static void measureBandwidthUsage();

    static QString base64forData(const QByteArray& data);
    static QDateTime dateFromRFC1123String(const QString& text);
    // When a cached response of this request goes stale: `maxAge` seconds
    // from now, else the "Cache-Control" max-age, else "Expires".
    static QDateTime expiryDateForRequest(const NXHTTPRequest& request, double maxAge);
    static void parseMimeType(
        QString* mimeType, QString* responseEncoding, const QString& contentType);
    static QString mimeTypeForFileAtPath(const QString& path);
    // True when nothing is left at `path`; otherwise false with `error` (code
    // 8) set when given.
    static bool removeFileAtPath(const QString& path, HttpError* error);

    // Session credentials: records with "Credentials" (a map with "Username",
    // "Password" and possibly "Domain"), "AuthenticationScheme",
    // "AuthenticationRealm", and "URL" (request store) or "Host" and "Port"
    // (proxy store).
    static QList<QVariantMap> sessionCredentialsStore();
    static QList<QVariantMap> sessionProxyCredentialsStore();
    static void storeAuthenticationCredentialsInSessionStore(const QVariantMap& record);
    static void storeProxyAuthenticationCredentialsInSessionStore(const QVariantMap& record);
    static void removeAuthenticationCredentialsFromSessionStore(const QVariantMap& credentials);
    static void removeProxyAuthenticationCredentialsFromSessionStore(
        const QVariantMap& credentials);
    std::optional<QVariantMap> findSessionAuthenticationCredentials() const;
    std::optional<QVariantMap> findSessionProxyAuthenticationCredentials() const;
    static QList<QNetworkCookie> sessionCookies();
    // The cookies of a response's "Set-Cookie" lines that the host of `url`
    // may set, with the URL's host and path where a cookie names none.
    static QList<QNetworkCookie> cookiesFromResponse(const HttpHeaders& headers, const QUrl& url);
    static void setSessionCookies(const QList<QNetworkCookie>& cookies);
    static void addSessionCookie(const QNetworkCookie& cookie);
    static void clearSession();

protected:
    // Network thread.
    void startRequest();
    void buildRequestHeaders();
    void applyCookieHeader();
    void applyAuthorizationHeader();
    void updatePartialDownloadSize();
    void checkRequestStatus();
    bool shouldTimeOut() const;
    bool headIsLate() const;
    void cancelOnRequestThread();
    void performRedirect();
    void keepCookiesForRedirect(bool crossOrigin);
    void cancelLoad();
    void failWithError(const HttpError& failure);
    void markAsFinished();
    void performThrottling();
    void scheduleReadStream();
    void unscheduleReadStream();
    void destroyReadStream();
    static void expirePersistentConnections();

    // Reception of the response: the head, the body to memory or to the
    // partial file, and the end of the stream.
    void handleNetworkEvent(HttpReadStream::Event event);
    void handleStreamEvent(HttpReadStream::Event event);
    void readResponseHeaders();
    void handleBytesAvailable();
    void handleStreamComplete();
    void handleStreamError();
    void parseStringEncodingFromHeaders();
    bool willRedirect();
    // A redirect status whose address is not followed (not a web address, or none).
    bool isUnfollowedRedirect() const;
    HttpError unfollowedRedirectError() const;
    bool willAskDelegateToConfirmRedirect();
    bool retryUsingNewConnection();
    void useDataFromCache();
    // A body that starts the file afresh is written beside a partial file
    // with bytes in it, which it replaces once it holds more (a coded body:
    // once it is whole); a whole body shorter than the partial file never
    // replaces it.
    // Called, on the network thread, just before the file at `replacement`
    // takes the partial file's name; a partial file's owner that keeps a
    // hold on it takes one on the replacement here.
    virtual void willReplacePartialFile(const QString& replacement);
    // Called, on the network thread, once the body is whole in `file` and
    // before it takes the partial file's or the destination's place. An
    // error refuses it: the request fails with it, and the partial file
    // keeps what it held before this answer (and what an appended piece
    // added).
    virtual HttpError finishedFileRefusal(const QString& file) const;
    // Called, on the network thread, with the head of a success whose body
    // would reach the file; an error refuses it before a byte is written.
    virtual HttpError answerHeadRefusal(const NXHeaderDictionary& headers) const;
    // The version the answer being read names, with the length it gives the
    // whole body when it says; on the network thread.
    const PartialFileOrigin& answerOrigin() const { return m_answerOrigin; }

    // Request body, once per request.
    void buildPostBody();

    // Proxy choice: true when the request may start now, false when it
    // starts later (a script is being read and run) or has failed.
    bool configureProxies();
    void fetchPACFile();
    void runPACAnswer(const PacAnswer& answer);

    // Answers to 401 and 407 challenges (network thread).
    void attemptToApplyCredentialsAndResume();
    void attemptToApplyProxyCredentialsAndResume();
    bool applyCredentials(const QVariantMap& credentials);
    bool applyProxyCredentials(const QVariantMap& credentials);
    std::optional<QVariantMap> findCredentials() const;
    std::optional<QVariantMap> findProxyCredentials() const;
    void saveCredentialsToKeychain(const QVariantMap& credentials);
    void saveProxyCredentialsToKeychain(const QVariantMap& credentials);
    bool willAskDelegateForCredentials();
    bool willAskDelegateForProxyCredentials();
    void askDelegateForCredentials();
    void askDelegateForProxyCredentials();
    void failAuthentication();

    // Owner notifications and progress (main thread delivery).
    void requestStarted();
    void requestReceivedResponseHeaders(const NXHeaderDictionary& headers);
    void requestWillRedirectToURL(const QUrl& url);
    void requestRedirected();
    void requestFinished();
    void reportFinished();
    void reportFailure();
    void passOnReceivedData(const QByteArray& data);
    void updateProgressIndicators();
    void updateDownloadProgress();
    void updateUploadProgress();
    void incrementDownloadSizeBy(qint64 amount);
    void incrementUploadSizeBy(qint64 amount);
    void removeUploadProgressSoFar();

private:
    enum class Target { Delegate, Queue, UploadProgress, DownloadProgress };
    enum class AuthSide { Server, Proxy };
    struct AuthFields;
    // What a download to file does with the body of the current answer.
    enum class BodyDisposal {
        Write, // from the start of the partial file
        Append, // after the bytes already in it
        AlreadyComplete, // nothing more to come: the partial file is the whole
        Keep, // an error page or a redirect: no file is touched
        Restart, // unusable for the partial file: ask again from byte zero
        AskForMore, // a piece of a body of unknown length ended: ask from the new end
    };
    struct Blocks;

    AuthFields authFields(AuthSide side);
    void answerChallenge(AuthSide side);
    bool buildAuthentication(AuthSide side);
    bool answerRejectedCredentials(AuthSide side);
    void answerWithCredentials(AuthSide side);
    bool applySessionCredentials(AuthSide side);
    bool applyToMessage(
        AuthSide side, const AuthChallenge& challenge, const QVariantMap& credentials);
    bool applyCredentialsFor(AuthSide side, const QVariantMap& credentials);
    QString digestTarget(AuthSide side) const;
    void storeSessionRecord(AuthSide side, const QVariantMap& credentials);
    bool wasRejected(const QString& user, const QString& password) const;
    bool willAskDelegateFor(AuthSide side);
    void askDelegateFor(AuthSide side);
    void applySessionAuthorization();
    bool answeredFromCache();
    void takeCachedAnswer(
        NXHTTPRequest& target, const NXHeaderDictionary& headers, const QString& dataPath);
    void removeTemporaryUploadFiles();
    bool compressPostBody();
    bool measurePostBodyFile();

    bool answers(Target which, const QByteArray& method, int argumentCount) const;
    void readResponseCookies(const HttpMessage& head);
    void readContentLength(const HttpMessage& head);
    void tellDownloadSize(NXHTTPRequest& target, quint64 size);
    void readKeepAlive(const HttpMessage& head);
    void storeBasicCredentialsInSession();
    BodyDisposal bodyDisposalFor(const HttpMessage& head) const;
    // The request asks for the rest of its partial file.
    bool resumesPartialFile() const;
    // Why the answer cannot stand for what was asked, or nothing.
    HttpError answerRefusal(const HttpMessage& head) const;
    // Why a partial file of `fileSize` bytes, once the answer's piece is
    // appended, is not the whole body, or nothing.
    HttpError appendedPieceShortfall(quint64 fileSize) const;
    // A piece continues the partial file when it starts at its end, and
    // names the version and length the partial file was started from.
    bool continuesPartialFile(const HttpMessage& head) const;
    PartialFileOrigin answerVersion(const HttpMessage& head) const;
    HttpError contradictionRefusal(const HttpMessage& head) const;
    bool findsPartialWhole(const HttpMessage& head) const;
    bool outgrowsFile(const HttpMessage& head) const;
    HttpError pieceCountRefusal() const;
    // Sweeps what killed downloads left beside the files and locks the partial file.
    HttpError claimDownloadFiles();
    // Why the partial on disk cannot be continued, or "".
    QString stalePartialReason(quint64 size);
    bool isResumable();
    // The piece just appended held bytes, and the server gives no length
    // for the body: more may follow it.
    bool endsPieceOfUnknownLength() const;
    // How many of `size` bytes just read still fit in the piece's range.
    qsizetype roomInPiece(qsizetype size) const;
    HttpError pastPieceEndError() const;
    void askForMore();
    void keepOnlyHeadersForNewMethod();
    void restartWithoutRange();
    // Asks for the body from byte `from` on (0: the whole body).
    void askFromOffset(quint64 from);
    qint64 chunkSize() const;
    bool takeChunk(const QByteArray& raw);
    // Hands body bytes to the owner or to memory.
    void keepBodyBytes(const char* data, qsizetype size);
    // `notKept` bytes of those read are dropped, not taken for the body.
    bool exceedsMaximumBodySize(quint64 notKept = 0) const;
    HttpError bodyTooLargeError() const;
    HttpError codedBodyRefusal() const;
    bool decodesResponse() const;
    // The body goes to memory or to the data callback as it came, to be
    // decoded when read.
    bool keepsBodyAsReceived() const;
    // True when the body that starts arriving is of a coding that cannot be
    // decoded and is going where decoded bytes are due.
    bool refusesBodyCoding() const;
    HttpError unsupportedCodingError() const;
    bool writeToDownloadFile(const QByteArray& raw);
    HttpError openDownloadFile();
    bool writesBesidePartial() const;
    // The destination is a device or pipe the body streams into.
    bool writesDestinationDirectly() const;
    HttpError downloadFileRefusal() const;
    HttpError finishDownloadFile();
    void releaseReadStreamToPool();
    void setRangeFromPartialFile();

    QObject* target(Target which) const;
    bool wantsReceivedData() const;
    void notify(Target which, const QByteArray& method, const std::function<void(QObject*)>& call);
    void sendAmount(Target which, const char* method, qint64 amount);
    void updateProgressIndicator(Target which, double progress, double total);
    void prepareAndStart();
    void pickConnection();
    bool keepsConnectionLocked() const;
    void claimConnectionLocked();
    void resetForStart();
    void resetProgressTargets();
    void startReading();
    std::unique_ptr<HttpReadStream> makeReadStream();
    std::unique_ptr<HttpBodyStream> makeBodyStream();
    void configureReadStream(HttpReadStream& stream) const;
    void retryAfterTimeOut();
    void noteBytesReceived();
    void closeDownloadStreams();
    // Removes the hidden partial file this request chose when resume is off:
    // nobody will continue it.
    void removeUnresumableDownloadFiles();
    void setStatusTimerRunning(bool running);
    void setInProgress(bool on);

    mutable std::recursive_mutex m_cancelledLock;

    QUrl m_url;
    QUrl m_originalURL;
    QUrl m_redirectURL;
    QString m_requestMethod = QStringLiteral("GET");
    QPointer<QObject> m_delegate;
    QPointer<QObject> m_queue;
    QPointer<QObject> m_uploadProgressDelegate;
    QPointer<QObject> m_downloadProgressDelegate;
    std::weak_ptr<NXHTTPRequest> m_mainRequest;
    bool m_hasMainRequest = false;
    QVariantMap m_userInfo;
    qint64 m_tag = 0;
    std::optional<quint32> m_requestID;

    NXHeaderDictionary m_requestHeaders;
    bool m_haveBuiltRequestHeaders = false;
    QList<QNetworkCookie> m_requestCookies;
    // The Cookie header as the owner set it, and as we last made it of that
    // and the cookies.
    QString m_ownCookieHeader;
    QString m_builtCookieHeader;
    bool m_useCookiePersistence = true;
    QString m_userAgentString;
    QByteArray m_postBody;
    QString m_postBodyFilePath;
    bool m_shouldStreamPostDataFromDisk = false;
    bool m_shouldCompressRequestBody = false;
    quint64 m_postLength = 0;
    QByteArray m_compressedPostBody;
    QString m_compressedPostBodyFilePath;
    bool m_didCreateTemporaryPostDataFile = false;
    std::unique_ptr<QFile> m_postBodyWriteStream;
    bool m_haveBuiltPostBody = false;

    double m_timeOutSeconds = 10.0;
    double m_headTimeOutSeconds = 60.0;
    int m_numberOfTimesToRetryOnTimeout = 0;
    int m_retryCount = 0;
    bool m_shouldAttemptPersistentConnection = true;
    double m_persistentConnectionTimeoutSeconds = 60.0;
    bool m_connectionCanBeReused = false;
    std::shared_ptr<NXConnectionRecord> m_connectionInfo;
    std::shared_ptr<HttpReadStream> m_readStream;
    std::shared_ptr<HttpReadStream> m_pendingOldStream;
    bool m_readStreamIsScheduled = false;
    QTimer* m_statusTimer = nullptr;
    std::optional<TimePoint> m_lastActivityTime;
    // When the request's last byte went (or the stream opened): the head's
    // time limit counts from here.
    std::optional<TimePoint> m_requestSentTime;
    // What the read stream had received at the last status check.
    quint64 m_responseBytesReceived = 0;
    bool m_useHTTPVersionOne = false;
    bool m_validatesSecureCertificate = true;
    QSslCertificate m_clientCertificate;
    QSslKey m_clientKey;
    QList<QSslCertificate> m_clientCertificates;
    bool m_shouldRedirect = true;
    bool m_shouldUseRFC2616RedirectBehaviour = false;
    int m_redirectCount = 0;
    bool m_needsRedirect = false;
    QString m_proxyHost;
    int m_proxyPort = 0;
    QString m_proxyType;
    QUrl m_PACurl;
    bool m_isSynchronous = false;
    HttpMessage m_request;

    QString m_username;
    QString m_password;
    QString m_domain;
    bool m_useSessionPersistence = true;
    bool m_shouldPresentCredentialsBeforeChallenge = true;
    QString m_authenticationScheme;
    QString m_authenticationRealm;
    int m_authenticationNeeded = 0;
    QString m_proxyUsername;
    QString m_proxyPassword;
    QString m_proxyDomain;
    QString m_proxyAuthenticationScheme;
    QString m_proxyAuthenticationRealm;
    bool m_useKeychainPersistence = false;
    std::optional<AuthChallenge> m_requestAuthentication;
    std::optional<AuthChallenge> m_proxyAuthentication;
    QVariantMap m_requestCredentials;
    QVariantMap m_proxyCredentials;
    int m_authenticationRetryCount = 0;
    int m_proxyAuthenticationRetryCount = 0;
    // The answer that asked for credentials, read again when the owner
    // supplies them later.
    std::optional<HttpMessage> m_challengeResponse;
    // Pairs a server or proxy refused on this request: never offered again.
    QList<QPair<QString, QString>> m_rejectedCredentials;
    QHash<QString, quint32> m_digestNonceCounts;

    std::shared_ptr<NXCacheDelegate> m_downloadCache;
    int m_cachePolicy = 0;
    int m_cacheStoragePolicy = 0;
    double m_secondsToCache = 0;
    bool m_didUseCachedResponse = false;

    NXHeaderDictionary m_responseHeaders;
    bool m_haveReadResponseHeaders = false;
    std::atomic<int> m_responseStatusCode { 0 };
    QString m_responseStatusMessage;
    QList<QNetworkCookie> m_responseCookies;
    QString m_defaultResponseEncoding = QStringLiteral("ISO-8859-1");
    QString m_responseEncoding;
    BodyDisposal m_bodyDisposal = BodyDisposal::Write;
    // What a body written afresh starts from.
    PartialFileOrigin m_answerOrigin;
    // The length of the range an appended piece names.
    std::optional<quint64> m_pieceLength;
    // Every version of the file the server named in this run.
    std::vector<PartialFileOrigin> m_versionsNamedInRun;
    // The request asks for more after a piece of a body of unknown length:
    // a 416 tells that the partial file is whole.
    bool m_askingForMore = false;
    // The body's size as this request last added it to the download size.
    qint64 m_downloadSizeTold = 0;
    std::optional<QByteArray> m_rawResponseData;
    std::atomic<quint64> m_contentLength { 0 };
    std::atomic<quint64> m_partialDownloadSize { 0 };
    std::atomic<quint64> m_totalBytesRead { 0 };
    std::atomic<quint64> m_bytesReadInAllAnswers { 0 };
    std::atomic<quint64> m_totalBytesSent { 0 };
    std::atomic<quint64> m_lastBytesRead { 0 };
    std::atomic<quint64> m_lastBytesSent { 0 };
    quint64 m_uploadBufferSize = 0;
    bool m_allowCompressedResponse = true;
    QString m_downloadDestinationPath;
    PartialFile m_partialFile;
    QByteArray m_readBuffer;
    bool m_allowResumeForFileDownloads = false;
    bool m_replacesPartialOnlyWhenWhole = false;
    bool m_ownerLocksPartialFile = false;
    // Requests that asked for more after a piece of unknown length, and
    // what those pieces brought.
    int m_pieceRequests = 0;
    quint64 m_pieceBytes = 0;
    quint64 m_maximumBodySize = 0;
    bool m_downloadComplete = false;
    bool m_showAccurateProgress = true;
    bool m_shouldResetDownloadProgress = true;
    bool m_shouldResetUploadProgress = true;
    bool m_updatedProgress = false;
    bool m_hasStartedBefore = false;

    std::atomic<bool> m_complete { false };
    std::atomic<bool> m_inProgress { false };
    bool m_cancelled = false;
    HttpError m_error;
    QByteArray m_didStartSelector = "requestStarted";
    QByteArray m_didReceiveHeadersSelector = "requestDidReceiveResponseHeaders";
    QByteArray m_willRedirectSelector = "requestWillRedirectToURL";
    QByteArray m_didFinishSelector = "requestFinished";
    QByteArray m_didFailSelector = "requestFailed";
    QByteArray m_didReceiveDataSelector = "requestDidReceiveData";
    std::shared_ptr<Blocks> m_blocks;
};

Q_DECLARE_METATYPE(NXHTTPRequest*)
Q_DECLARE_METATYPE(AuthChallenge)

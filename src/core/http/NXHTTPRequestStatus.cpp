#include "http/NXHTTPRequestState.h"

#include "http/NetworkThread.h"

#include <QThread>
#include <QTimer>

namespace {

std::chrono::steady_clock::duration seconds(double value)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(value));
}

HttpError sharedError(NXHTTPRequestErrorType type)
{
    switch (type) {
    case NXHTTPRequestErrorType::RequestTimedOut:
        return requestError(type, QStringLiteral("The request timed out"));
    case NXHTTPRequestErrorType::RequestCancelled:
        return requestError(type, QStringLiteral("The request was cancelled"));
    case NXHTTPRequestErrorType::TooMuchRedirection:
        return requestError(
            type, QStringLiteral("The request failed because it redirected too many times"));
    default:
        return requestError(type, QStringLiteral("Authentication needed"));
    }
}

// Drops the pool's hold on a connection that will not be used again.
void forgetConnection(const std::shared_ptr<NXConnectionRecord>& record)
{
    if (!record)
        return;
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.poolLock);
    record->request.reset();
    std::erase(state.connectionPool, record);
}

} // namespace

// --- connection pool ---------------------------------------------------------------

void NXHTTPRequest::expirePersistentConnections()
{
    auto& state = NXHTTPRequestClassState::instance();
    std::vector<std::shared_ptr<HttpReadStream>> closing;
    {
        const std::lock_guard lock(state.poolLock);
        const TimePoint current = now();
        std::erase_if(state.connectionPool, [&](const std::shared_ptr<NXConnectionRecord>& record) {
            const bool expired = !record->request && record->expires && *record->expires <= current;
            if (expired && record->stream)
                closing.push_back(record->stream);
            return expired;
        });
    }
    for (const auto& stream : closing)
        stream->close();
}

bool NXHTTPRequest::keepsConnectionLocked() const
{
    return m_connectionInfo && m_connectionInfo->matches(m_url) && !m_connectionInfo->request
        && !(m_connectionInfo->expires && *m_connectionInfo->expires <= now());
}

void NXHTTPRequest::claimConnectionLocked()
{
    auto& state = NXHTTPRequestClassState::instance();
    if (!keepsConnectionLocked()) {
        // The last free record for this address in pool order wins.
        m_connectionInfo.reset();
        for (const auto& record : state.connectionPool) {
            if (!record->request && record->matches(m_url))
                m_connectionInfo = record;
        }
    }
    if (m_connectionInfo)
        return;
    m_connectionInfo = std::make_shared<NXConnectionRecord>();
    m_connectionInfo->id = ++state.nextConnectionNumber;
    m_connectionInfo->host = m_url.host();
    m_connectionInfo->port = std::max(m_url.port(), 0);
    m_connectionInfo->scheme = m_url.scheme();
    state.connectionPool.push_back(m_connectionInfo);
}

void NXHTTPRequest::pickConnection()
{
    expirePersistentConnections();
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.poolLock);
    if (m_url.host().isEmpty() || m_url.scheme().isEmpty()) {
        m_connectionInfo.reset();
        m_shouldAttemptPersistentConnection = false;
    }
    if (!m_shouldAttemptPersistentConnection)
        return;
    claimConnectionLocked();
    // The new stream takes the idle connection over; the old holder is
    // closed once the new one is opened, which leaves the connection to it.
    if (m_connectionInfo->stream && m_connectionInfo->stream != m_readStream)
        m_pendingOldStream = m_connectionInfo->stream;
    if (!m_requestID)
        m_requestID = ++state.nextRequestID;
    m_connectionInfo->request = m_requestID;
    m_connectionInfo->stream = m_readStream;
    m_readStream->setPersistentConnection(true);
    m_readStream->setProperty(
        QLatin1String(HttpReadStream::streamIdProperty), m_connectionInfo->id);
}

void NXHTTPRequest::startReading()
{
    const std::shared_ptr<HttpReadStream> stream = m_readStream;
    bool throttled = false;
    {
        auto& state = NXHTTPRequestClassState::instance();
        const std::lock_guard lock(state.bandwidthLock);
        throttled = state.throttleWakeUpTime && *state.throttleWakeUpTime > now();
    }
    if (!throttled)
        scheduleReadStream();
    std::weak_ptr<NXHTTPRequest> weak = self();
    stream->setClient(HttpReadStream::HasBytesAvailable | HttpReadStream::ErrorOccurred
            | HttpReadStream::EndEncountered,
        [weak](HttpReadStream::Event event) {
            if (auto request = weak.lock())
                request->handleNetworkEvent(event);
        });
    const bool opened = stream->open();
    if (m_pendingOldStream) {
        m_pendingOldStream->close();
        m_pendingOldStream.reset();
    }
    if (!opened) {
        m_connectionCanBeReused = false;
        destroyReadStream();
        failWithError(requestError(NXHTTPRequestErrorType::InternalErrorWhileBuildingRequest,
            QStringLiteral("Unable to start HTTP connection")));
        return;
    }
    resetProgressTargets();
    m_lastActivityTime = now();
    setStatusTimerRunning(true);
}

void NXHTTPRequest::resetProgressTargets()
{
    if (m_hasMainRequest)
        return;
    if (m_shouldResetUploadProgress) {
        incrementUploadSizeBy(m_showAccurateProgress ? qint64(m_postLength) : 1);
        updateProgressIndicator(Target::UploadProgress, 0, 1);
    }
    if (m_shouldResetDownloadProgress && m_partialDownloadSize == 0)
        updateProgressIndicator(Target::DownloadProgress, 0, 1);
}

void NXHTTPRequest::scheduleReadStream()
{
    if (!m_readStream || m_readStreamIsScheduled)
        return;
    m_readStream->schedule();
    m_readStreamIsScheduled = true;
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.poolLock);
    ++state.runningRequestCount;
}

void NXHTTPRequest::unscheduleReadStream()
{
    if (!m_readStream || !m_readStreamIsScheduled)
        return;
    m_readStream->unschedule();
    m_readStreamIsScheduled = false;
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.poolLock);
    --state.runningRequestCount;
}

void NXHTTPRequest::destroyReadStream()
{
    if (!m_readStream)
        return;
    unscheduleReadStream();
    m_readStream->setClient(0, nullptr);
    // Only a stream that is torn down ends here; one whose response ended
    // cleanly was handed back to the pool by the end of the stream.
    m_readStream->close();
    m_readStream.reset();
}

// --- status timer and time-outs ----------------------------------------------------

void NXHTTPRequest::setStatusTimerRunning(bool running)
{
    if (m_statusTimer) {
        // The last owner may let go of the request on another thread.
        if (m_statusTimer->thread() == QThread::currentThread())
            m_statusTimer->stop();
        m_statusTimer->deleteLater();
        m_statusTimer = nullptr;
    }
    if (!running)
        return;
    m_statusTimer = new QTimer; // freed with deleteLater, on its own thread
    m_statusTimer->setInterval(statusTimerInterval());
    std::weak_ptr<NXHTTPRequest> weak = self();
    QObject::connect(m_statusTimer, &QTimer::timeout, m_statusTimer, [weak] {
        auto request = weak.lock();
        if (!request)
            return;
        request->checkRequestStatus();
        if (!request->m_inProgress)
            request->setStatusTimerRunning(false);
    });
    m_statusTimer->start();
}

bool NXHTTPRequest::shouldTimeOut() const
{
    if (!m_readStream || !m_readStreamIsScheduled || !m_lastActivityTime || m_timeOutSeconds <= 0)
        return false;
    const auto idle = now() - *m_lastActivityTime;
    if (idle <= seconds(m_timeOutSeconds))
        return false;
    if (m_postLength == 0)
        return true;
    if (m_uploadBufferSize > 0 && m_totalBytesSent > m_uploadBufferSize)
        return true;
    // The first buffer of a body has not left yet: the server may still be
    // busy with what came before, so give it longer.
    return idle > seconds(m_timeOutSeconds * 1.5);
}

void NXHTTPRequest::checkRequestStatus()
{
    std::unique_lock lock(m_cancelledLock);
    if (m_cancelled || m_complete)
        return;
    performThrottling();
    if (shouldTimeOut()) {
        if (m_retryCount >= m_numberOfTimesToRetryOnTimeout) {
            failWithError(sharedError(NXHTTPRequestErrorType::RequestTimedOut));
            cancelLoad();
            m_complete = true;
            return;
        }
        retryAfterTimeOut();
        lock.unlock();
        startRequest();
        return;
    }
    if (!m_readStream)
        return;
    if (m_postLength > 0) {
        m_lastBytesSent = m_totalBytesSent.load();
        const quint64 written = m_readStream->requestBytesWritten();
        if (written > m_totalBytesSent) {
            m_lastActivityTime = now();
            incrementBandwidthUsedInLastSecond(
                static_cast<unsigned long>(written - m_totalBytesSent));
        }
        m_totalBytesSent = written;
    }
    updateProgressIndicators();
}

void NXHTTPRequest::retryAfterTimeOut()
{
    // The stalled connection is dead: its stream and its pool record go, and
    // the partial file is closed so that its size on disk is the truth the
    // new range starts from.
    m_connectionCanBeReused = false;
    destroyReadStream();
    forgetConnection(m_connectionInfo);
    m_connectionInfo.reset();
    closeDownloadStreams();
    updatePartialDownloadSize();
    if (m_partialDownloadSize > 0)
        m_request.setHeader(
            QStringLiteral("Range"), QStringLiteral("bytes=%1-").arg(m_partialDownloadSize.load()));
    ++m_retryCount;
}

// --- cancel and failure ---------------------------------------------------------------

void NXHTTPRequest::cancel()
{
    NetworkThread::post([request = self()] { request->cancelOnRequestThread(); });
}

void NXHTTPRequest::cancelOnRequestThread()
{
    const std::lock_guard lock(m_cancelledLock);
    if (m_cancelled || m_complete)
        return;
    failWithError(sharedError(NXHTTPRequestErrorType::RequestCancelled));
    m_complete = true;
    cancelLoad();
    m_cancelled = true;
    Operation::cancel();
}

void NXHTTPRequest::clearDelegatesAndCancel()
{
    {
        const std::lock_guard lock(m_cancelledLock);
        m_delegate = nullptr;
        m_queue = nullptr;
        m_downloadProgressDelegate = nullptr;
        m_uploadProgressDelegate = nullptr;
        releaseBlocksOnMainThread();
    }
    cancel();
}

void NXHTTPRequest::redirectToURL(const QUrl& newURL)
{
    {
        const std::lock_guard lock(m_cancelledLock);
        m_redirectURL = newURL;
    }
    NetworkThread::post([request = self()] { request->performRedirect(); });
}

void NXHTTPRequest::performRedirect()
{
    const std::lock_guard lock(m_cancelledLock);
    if (m_cancelled)
        return;
    // The stream of the old address must not feed the new one.
    if (m_readStream) {
        m_connectionCanBeReused = false;
        forgetConnection(m_connectionInfo);
        m_connectionInfo.reset();
        destroyReadStream();
    }
    setURL(m_redirectURL);
    m_complete = true;
    m_needsRedirect = false;
    ++m_redirectCount;
    if (m_redirectCount >= 6) {
        failWithError(sharedError(NXHTTPRequestErrorType::TooMuchRedirection));
        m_complete = true;
        return;
    }
    main();
}

void NXHTTPRequest::closeDownloadStreams()
{
    if (m_fileDownloadOutputStream) {
        m_fileDownloadOutputStream->close();
        m_fileDownloadOutputStream.reset();
    }
}

void NXHTTPRequest::cancelLoad()
{
    destroyReadStream();
    const std::lock_guard lock(m_cancelledLock);
    if (m_rawResponseData) {
        if (!m_complete)
            m_rawResponseData = QByteArray();
        return;
    }
    if (m_temporaryFileDownloadPath.isEmpty())
        return;
    closeDownloadStreams();
    if (!m_complete && !m_allowResumeForFileDownloads && m_wrotePartialFile)
        QFile::remove(m_temporaryFileDownloadPath);
}

void NXHTTPRequest::failWithError(const HttpError& failure)
{
    const std::lock_guard lock(m_cancelledLock);
    m_complete = true;
    const int code = failure.code();
    if (!failure.isNull() && code != int(NXHTTPRequestErrorType::Authentication)
        && code != int(NXHTTPRequestErrorType::TooMuchRedirection)) {
        forgetConnection(m_connectionInfo);
        destroyReadStream();
    }
    if (m_connectionCanBeReused && m_connectionInfo) {
        const std::lock_guard poolLock(NXHTTPRequestClassState::instance().poolLock);
        m_connectionInfo->expires = now() + seconds(m_persistentConnectionTimeoutSeconds);
    }
    if (m_cancelled || !m_error.isNull())
        return;
    m_error = failure;
    if (const auto main = m_mainRequest.lock()) {
        const std::lock_guard mainLock(main->m_cancelledLock);
        if (main->m_error.isNull())
            main->m_error = failure;
    }
    MainThread::run([request = self()] { request->reportFailure(); });
    if (m_inProgress)
        markAsFinished();
}

void NXHTTPRequest::markAsFinished()
{
    setInProgress(false);
    setFinished(true);
}

// --- reception ------------------------------------------------------------------------
// The plain road: the head, the body to memory or to the partial file, the
// end. Redirects, authentication and inflating on the way build on it.

void NXHTTPRequest::handleNetworkEvent(HttpReadStream::Event event)
{
    const std::shared_ptr<NXHTTPRequest> keep = self();
    const std::lock_guard lock(m_cancelledLock);
    if (m_complete || m_cancelled || !m_readStream)
        return;
    if (!m_haveReadResponseHeaders)
        readResponseHeaders();
    switch (event) {
    case HttpReadStream::HasBytesAvailable:
        handleBytesAvailable();
        break;
    case HttpReadStream::EndEncountered:
        handleBytesAvailable();
        handleStreamComplete();
        break;
    case HttpReadStream::ErrorOccurred:
        handleStreamError();
        break;
    default:
        break;
    }
}

void NXHTTPRequest::readResponseHeaders()
{
    const std::optional<HttpMessage> head = m_readStream->responseHeader();
    if (!head)
        return;
    m_haveReadResponseHeaders = true;
    m_responseStatusCode = head->statusCode();
    m_responseStatusMessage = head->statusLine();
    m_responseHeaders.clear();
    const QMap<QString, QString> fields = head->headers().dictionary();
    for (auto it = fields.cbegin(); it != fields.cend(); ++it)
        m_responseHeaders.insert(it.key(), it.value());
    m_connectionCanBeReused
        = !head->headers().hasToken(QStringLiteral("Connection"), QStringLiteral("close"))
        && head->versionNumber() >= 11;
    bool decimal = false;
    const quint64 length
        = head->header(QStringLiteral("Content-Length")).trimmed().toULongLong(&decimal, 10);
    if (decimal && m_requestMethod != QLatin1String("HEAD")) {
        m_contentLength = length;
        if (!m_hasMainRequest)
            incrementDownloadSizeBy(qint64(length));
    }
    const NXHeaderDictionary headers = m_responseHeaders;
    MainThread::run(
        [request = self(), headers] { request->requestReceivedResponseHeaders(headers); });
}

void NXHTTPRequest::handleBytesAvailable()
{
    constexpr qint64 kChunk = 256 * 1024;
    while (m_readStream && m_readStream->hasBytesAvailable()) {
        const QByteArray bytes = m_readStream->read(kChunk);
        if (bytes.isEmpty())
            break;
        m_totalBytesRead += quint64(bytes.size());
        m_lastActivityTime = now();
        incrementBandwidthUsedInLastSecond(static_cast<unsigned long>(bytes.size()));
        if (wantsReceivedData()) {
            MainThread::run([request = self(), bytes] { request->passOnReceivedData(bytes); });
        } else if (m_rawResponseData) {
            m_rawResponseData->append(bytes);
        } else if (!writeToDownloadFile(bytes)) {
            return;
        }
    }
}

bool NXHTTPRequest::writeToDownloadFile(const QByteArray& bytes)
{
    if (!m_fileDownloadOutputStream) {
        auto file = std::make_unique<QFile>(m_temporaryFileDownloadPath);
        const auto mode = m_partialDownloadSize > 0 ? QIODevice::Append : QIODevice::Truncate;
        if (!file->open(QIODevice::WriteOnly | mode)) {
            failWithError(requestError(NXHTTPRequestErrorType::FileManagement,
                QStringLiteral("Failed to write to file at path '%1'")
                    .arg(m_temporaryFileDownloadPath)));
            return false;
        }
        m_fileDownloadOutputStream = std::move(file);
        m_wrotePartialFile = true;
    }
    if (m_fileDownloadOutputStream->write(bytes) == bytes.size())
        return true;
    failWithError(requestError(NXHTTPRequestErrorType::FileManagement,
        QStringLiteral("Failed to write to file at path '%1'").arg(m_temporaryFileDownloadPath)));
    return false;
}

void NXHTTPRequest::handleStreamComplete()
{
    if (m_complete)
        return;
    closeDownloadStreams();
    m_downloadComplete = true;
    unscheduleReadStream();
    m_readStream->setClient(0, nullptr);
    {
        auto& state = NXHTTPRequestClassState::instance();
        const std::lock_guard lock(state.poolLock);
        if (m_connectionInfo) {
            m_connectionInfo->request.reset();
            m_connectionInfo->expires = now() + seconds(m_persistentConnectionTimeoutSeconds);
            if (!m_connectionCanBeReused)
                std::erase(state.connectionPool, m_connectionInfo);
        }
    }
    if (!m_connectionCanBeReused)
        m_readStream->close();
    m_readStream.reset();
    m_complete = true;
    updateProgressIndicators();
    requestFinished();
    markAsFinished();
}

void NXHTTPRequest::handleStreamError()
{
    const HttpError cause = m_readStream->error();
    m_connectionCanBeReused = false;
    const QString description = cause.is(TransportError::Tls)
        ? QStringLiteral("%1: SSL problem (Possible causes may include a bad/expired/self-signed "
                         "certificate, clock set to wrong date)")
              .arg(cause.localizedDescription())
        : QStringLiteral("A connection failure occurred");
    failWithError(requestError(NXHTTPRequestErrorType::ConnectionFailure, description,
        std::make_shared<HttpError>(cause)));
}

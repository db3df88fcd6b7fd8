#include "http/NXHTTPRequestState.h"

#include "http/NXDataDecompressor.h"
#include "http/NetworkThread.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

namespace {

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

} // namespace

bool sameOrigin(const QUrl& a, const QUrl& b)
{
    const auto defaultPort = [](const QUrl& url) {
        return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80;
    };
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0
        && a.host().compare(b.host(), Qt::CaseInsensitive) == 0
        && a.port(defaultPort(a)) == b.port(defaultPort(b));
}

std::chrono::steady_clock::duration secondsDuration(double value)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(value));
}

void forgetConnectionRecord(const std::shared_ptr<NXConnectionRecord>& record)
{
    if (!record)
        return;
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.poolLock);
    record->request.reset();
    std::erase(state.connectionPool, record);
}

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
    m_requestSentTime = m_lastActivityTime;
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
        // Once the application is ending nothing runs posted events any more,
        // and a request let go of while those left are cleaned up would wait
        // for itself on their list: the timer is left to the process's end.
        if (!QCoreApplication::closingDown())
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
    if (!m_readStream || !m_readStreamIsScheduled || !m_lastActivityTime)
        return false;
    if (headIsLate())
        return true;
    if (m_timeOutSeconds <= 0)
        return false;
    const auto idle = now() - *m_lastActivityTime;
    if (idle <= secondsDuration(m_timeOutSeconds))
        return false;
    if (m_postLength == 0)
        return true;
    if (m_uploadBufferSize > 0 && m_totalBytesSent > m_uploadBufferSize)
        return true;
    // The first buffer of a body has not left yet: the server may still be
    // busy with what came before, so give it longer.
    return idle > secondsDuration(m_timeOutSeconds * 1.5);
}

// Bytes of a head that trickles keep the idle time-out away, not this limit.
bool NXHTTPRequest::headIsLate() const
{
    return !m_haveReadResponseHeaders && m_headTimeOutSeconds > 0 && m_requestSentTime
        && now() - *m_requestSentTime > secondsDuration(m_headTimeOutSeconds);
}

void NXHTTPRequest::checkRequestStatus()
{
    std::unique_lock lock(m_cancelledLock);
    if (m_cancelled || m_complete)
        return;
    performThrottling();
    noteBytesReceived();
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
            m_requestSentTime = m_lastActivityTime;
            incrementBandwidthUsedInLastSecond(
                static_cast<unsigned long>(written - m_totalBytesSent));
        }
        m_totalBytesSent = written;
    }
    updateProgressIndicators();
}

void NXHTTPRequest::noteBytesReceived()
{
    // Every byte of the answer is a sign of life, the head's as much as the
    // body's: a slow link that trickles the head does not time out idle (the
    // head as a whole has its own limit, headIsLate).
    if (!m_readStream)
        return;
    const quint64 received = m_readStream->responseBytesReceived();
    if (received == m_responseBytesReceived)
        return;
    m_responseBytesReceived = received;
    m_lastActivityTime = now();
}

void NXHTTPRequest::retryAfterTimeOut()
{
    // The stalled connection is dead: its stream and its pool record go, and
    // the partial file is closed so that its size on disk is the truth the
    // new range starts from.
    m_connectionCanBeReused = false;
    destroyReadStream();
    forgetConnectionRecord(m_connectionInfo);
    m_connectionInfo.reset();
    closeDownloadStreams();
    m_partialFile.abandon();
    setRangeFromPartialFile();
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
        forgetConnectionRecord(m_connectionInfo);
        m_connectionInfo.reset();
        destroyReadStream();
    }
    const bool crossOrigin = !sameOrigin(m_url, m_redirectURL);
    setURL(m_redirectURL);
    m_complete = true;
    m_needsRedirect = false;
    ++m_redirectCount;
    if (m_redirectCount > 5) {
        failWithError(sharedError(NXHTTPRequestErrorType::TooMuchRedirection));
        m_complete = true;
        return;
    }
    if (crossOrigin) {
        // What the first server was trusted with stays with it.
        m_requestHeaders.remove(QStringLiteral("Authorization"));
        m_username.clear();
        m_password.clear();
        m_domain.clear();
        m_requestCredentials.clear();
        m_requestAuthentication.reset();
    }
    keepCookiesForRedirect(crossOrigin);
    main();
}

void NXHTTPRequest::closeDownloadStreams()
{
    m_partialFile.close();
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
    closeDownloadStreams();
    if (m_complete)
        return;
    m_partialFile.abandon();
    if (!m_partialFile.path().isEmpty() && !m_allowResumeForFileDownloads
        && m_partialFile.wasWritten() && !writesDestinationDirectly())
        QFile::remove(m_partialFile.path());
}

void NXHTTPRequest::removeUnresumableDownloadFiles()
{
    if (m_rawResponseData)
        return;
    closeDownloadStreams();
    m_partialFile.abandon();
    // The hidden partial file the request chose beside the destination is of
    // use only to a request that resumes it; a partial file the owner named
    // is the owner's to remove.
    if (m_partialFile.isChosen() && !m_allowResumeForFileDownloads
        && !m_partialFile.path().isEmpty() && !writesDestinationDirectly()) {
        QFile::remove(m_partialFile.path());
        m_partialFile.forgetPath();
    }
}

void NXHTTPRequest::failWithError(const HttpError& failure)
{
    const std::lock_guard lock(m_cancelledLock);
    m_complete = true;
    // A failed request (time-out, cancel, any other failure) has no file to
    // finish.
    removeUnresumableDownloadFiles();
    const int code = failure.code();
    if (!failure.isNull() && code != int(NXHTTPRequestErrorType::Authentication)
        && code != int(NXHTTPRequestErrorType::TooMuchRedirection)) {
        forgetConnectionRecord(m_connectionInfo);
        destroyReadStream();
    }
    if (m_connectionCanBeReused && m_connectionInfo) {
        const std::lock_guard poolLock(NXHTTPRequestClassState::instance().poolLock);
        m_connectionInfo->expires = now() + secondsDuration(m_persistentConnectionTimeoutSeconds);
    }
    if (m_cancelled || !m_error.isNull())
        return;
    // A cancel is the owner's word and is never turned into a stored answer.
    if (m_downloadCache && (m_cachePolicy & 64)
        && code != int(NXHTTPRequestErrorType::RequestCancelled)
        && m_downloadCache->canUseCachedDataForRequest(*this)) {
        useDataFromCache();
        return;
    }
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
    removeTemporaryUploadFiles();
    // The next download into the partial file may start.
    m_partialFile.unlock();
    setInProgress(false);
    setFinished(true);
}

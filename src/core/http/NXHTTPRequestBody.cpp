#include "http/NXHTTPRequestState.h"

#include "http/NXDataDecompressor.h"
#include "http/NetworkThread.h"
#include "platform/PathStatus.h"

#include <QFileInfo>

namespace {

HttpError fileSystemError(int code, const QString& description)
{
    return HttpError(QStringLiteral("FileSystemErrorDomain"), code, description);
}

} // namespace

// A partial file is continued and moved: only a regular file can be. A pipe
// at its name would hold the transfer in write() for as long as nobody reads.
HttpError NXHTTPRequest::downloadFileRefusal() const
{
    const QString partial = m_partialFile.path();
    if (partial.isEmpty() || partial == m_downloadDestinationPath || !pathExists(partial)
        || isRegularFile(partial))
        return {};
    return requestError(NXHTTPRequestErrorType::FileManagement,
        QStringLiteral("Cannot download into '%1': it is not a regular file").arg(partial));
}

// --- events ------------------------------------------------------------------------

void NXHTTPRequest::handleNetworkEvent(HttpReadStream::Event event)
{
    const std::shared_ptr<NXHTTPRequest> keep = self();
    {
        const std::lock_guard lock(m_cancelledLock);
        if (m_complete || m_cancelled || !m_readStream)
            return;
        if (!m_haveReadResponseHeaders)
            readResponseHeaders();
        // The store answered instead, or the answer was refused: this
        // stream is gone.
        if (m_complete || !m_readStream)
            return;
        if (m_needsRedirect) {
            // A followed redirect's own body is of no use, however long: the
            // connection goes with it, unread.
            m_connectionCanBeReused = false;
            handleStreamComplete();
        } else {
            handleStreamEvent(event);
        }
        performThrottling();
    }
    if (!m_downloadComplete || !error().isNull())
        return;
    if (m_needsRedirect) {
        if (!willAskDelegateToConfirmRedirect())
            performRedirect();
    } else if (m_authenticationNeeded != 0) {
        attemptToApplyCredentialsAndResume();
    } else if (m_bodyDisposal == BodyDisposal::Restart && !m_downloadDestinationPath.isEmpty()) {
        restartWithoutRange();
    } else if (m_bodyDisposal == BodyDisposal::AskForMore) {
        askForMore();
    }
}

void NXHTTPRequest::handleStreamEvent(HttpReadStream::Event event)
{
    switch (event) {
    case HttpReadStream::HasBytesAvailable:
        handleBytesAvailable();
        break;
    case HttpReadStream::EndEncountered:
        handleBytesAvailable();
        // A chunk may have failed the request (a body that does not decode).
        if (!m_complete && m_readStream)
            handleStreamComplete();
        break;
    case HttpReadStream::ErrorOccurred:
        handleStreamError();
        break;
    default:
        break;
    }
}

void NXHTTPRequest::handleBytesAvailable()
{
    // A bounded amount per event, so that other transfers on this thread get
    // their turn; the stream signals again while bytes are left.
    constexpr qint64 budget = 4 * 1024 * 1024;
    const bool throttled = isBandwidthThrottled();
    for (qint64 taken = 0; taken < budget && !m_complete && m_readStream;) {
        if (!m_readStream->hasBytesAvailable())
            return;
        // A piece the connection received whole is taken as it is, with no
        // copy; what must be copied goes into one buffer that serves every
        // chunk, since a fresh one per chunk costs more than the copy.
        const QByteArray chunk = m_readStream->read(chunkSize(), m_readBuffer);
        if (chunk.isEmpty() || !takeChunk(chunk) || throttled)
            return;
        taken += chunk.size();
    }
}

qint64 NXHTTPRequest::chunkSize() const
{
    const quint64 announced = m_contentLength;
    qint64 size = announced > 262144 ? 262144 : announced > 65536 ? 65536 : 16384;
    if (!isBandwidthThrottled())
        return size;
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.bandwidthLock);
    if (state.maxBandwidthPerSecond == 0)
        return size;
    const qint64 left
        = qint64(state.maxBandwidthPerSecond) - qint64(state.bandwidthUsedInLastSecond);
    if (left < 0)
        return 1;
    return std::max<qint64>(1, std::min(size, left / 4));
}

bool NXHTTPRequest::keepsBodyAsReceived() const
{
    return m_downloadDestinationPath.isEmpty() || wantsReceivedData();
}

bool NXHTTPRequest::refusesBodyCoding() const
{
    if (m_needsRedirect || m_authenticationNeeded != 0 || keepsBodyAsReceived()
        || responseContentCoding() != ContentCoding::Unsupported)
        return false;
    // An error page or an answer that restarts the download never reaches the file.
    const bool toFile = !m_downloadDestinationPath.isEmpty() && !wantsReceivedData();
    return !toFile || m_bodyDisposal == BodyDisposal::Write
        || m_bodyDisposal == BodyDisposal::Append;
}

bool NXHTTPRequest::takeChunk(const QByteArray& raw)
{
    m_totalBytesRead += quint64(raw.size());
    m_bytesReadInAllAnswers += quint64(raw.size());
    m_lastActivityTime = now();
    incrementBandwidthUsedInLastSecond(static_cast<unsigned long>(raw.size()));
    const bool toFile = !m_downloadDestinationPath.isEmpty() && !wantsReceivedData();
    // A piece ends where its range says: what follows is no part of the file.
    const qsizetype room = toFile ? roomInPiece(raw.size()) : raw.size();
    if (exceedsMaximumBodySize(quint64(raw.size() - room))) {
        m_connectionCanBeReused = false;
        failWithError(bodyTooLargeError());
        return false;
    }
    // Bytes that cannot be decoded never pass for the body: the request
    // fails at the first of them.
    if (refusesBodyCoding()) {
        m_connectionCanBeReused = false;
        failWithError(unsupportedCodingError());
        return false;
    }
    if (!toFile) {
        keepBodyBytes(raw.constData(), raw.size());
        return true;
    }
    if (room == raw.size())
        return writeToDownloadFile(raw);
    m_connectionCanBeReused = false;
    if (writeToDownloadFile(raw.first(room)))
        failWithError(pastPieceEndError());
    return false;
}

// The body as it is to be read: decoded, or as it came when it is decoded
// on reading.
void NXHTTPRequest::keepBodyBytes(const char* data, qsizetype size)
{
    if (wantsReceivedData()) {
        // The read buffer is used again at once: the owner gets bytes of its own.
        const QByteArray passed(data, size);
        MainThread::run([request = self(), passed] { request->passOnReceivedData(passed); });
        return;
    }
    const std::lock_guard lock(m_cancelledLock);
    if (!m_rawResponseData)
        m_rawResponseData = QByteArray();
    m_rawResponseData->append(data, size);
}

// The bytes of this answer's body, and those of the partial file when the
// body continues it: an error page or a 416 after a whole partial adds
// nothing to the file. Decoded bytes are held to the limit as they are made;
// coded ones may exceed it by what a coding adds at most (stored blocks of
// deflate data, gzip headers), and no more.
bool NXHTTPRequest::exceedsMaximumBodySize(quint64 notKept) const
{
    if (m_maximumBodySize == 0)
        return false;
    const quint64 continued
        = m_bodyDisposal == BodyDisposal::Append ? m_partialDownloadSize.load() : 0;
    const quint64 limit = decodesResponse()
        ? m_maximumBodySize + m_maximumBodySize / 1024 + 64 * 1024
        : m_maximumBodySize;
    return continued + m_totalBytesRead - notKept > limit;
}

HttpError NXHTTPRequest::bodyTooLargeError() const
{
    return requestError(NXHTTPRequestErrorType::BodyTooLarge,
        QStringLiteral("The body is larger than %1 bytes").arg(m_maximumBodySize));
}

// --- download files ------------------------------------------------------------------

bool NXHTTPRequest::writeToDownloadFile(const QByteArray& raw)
{
    if (m_bodyDisposal != BodyDisposal::Write && m_bodyDisposal != BodyDisposal::Append)
        return true;
    HttpError failure = openDownloadFile();
    if (failure.isNull())
        failure = m_partialFile.append(raw.constData(), raw.size(),
            !isResponseCompressed() && !m_replacesPartialOnlyWhenWhole);
    if (failure.isNull())
        return true;
    failWithError(failure);
    return false;
}

// Only a partial file that is to be resumed is worth keeping; an empty
// one holds nothing to lose. A coded body never becomes a partial file
// before it is whole: a range of it would be asked for uncoded.
bool NXHTTPRequest::writesBesidePartial() const
{
    return m_allowResumeForFileDownloads && !writesDestinationDirectly()
        && (QFileInfo(m_partialFile.path()).size() > 0 || isResponseCompressed());
}

HttpError NXHTTPRequest::openDownloadFile()
{
    if (m_partialFile.isOpen())
        return {};
    if (m_partialFile.path().isEmpty()) {
        const bool special = PartialFile::isSpecialFile(m_downloadDestinationPath);
        m_partialFile.setPath(special ? m_downloadDestinationPath
                                      : PartialFile::siblingPath(m_downloadDestinationPath),
            !special);
    }
    const bool appending = m_bodyDisposal == BodyDisposal::Append;
    const bool kept = m_allowResumeForFileDownloads && !writesDestinationDirectly();
    return m_partialFile.open(appending, !appending && writesBesidePartial(),
        kept ? std::optional(m_answerOrigin) : std::nullopt);
}

void NXHTTPRequest::willReplacePartialFile(const QString&)
{ }

HttpError NXHTTPRequest::finishedFileRefusal(const QString&) const
{
    return {};
}

HttpError NXHTTPRequest::answerHeadRefusal(const NXHeaderDictionary&) const
{
    return {};
}

HttpError NXHTTPRequest::claimDownloadFiles()
{
    if (m_downloadDestinationPath.isEmpty() || wantsReceivedData())
        return {};
    const QString partial = m_partialFile.path();
    const QString destinationFolder = QFileInfo(m_downloadDestinationPath).path();
    PartialFile::removeAbandonedSiblings(destinationFolder);
    if (!partial.isEmpty() && QFileInfo(partial).path() != destinationFolder)
        PartialFile::removeAbandonedSiblings(QFileInfo(partial).path());
    if (!m_allowResumeForFileDownloads || partial.isEmpty() || writesDestinationDirectly())
        return {};
    if (!m_ownerLocksPartialFile) {
        if (HttpError failure = m_partialFile.lock(); !failure.isNull())
            return failure;
    }
    m_partialFile.removeAbandonedReplacements();
    return {};
}

// The destination changes only here, once the whole body is on disk (and
// inflated, when it came compressed).
HttpError NXHTTPRequest::finishDownloadFile()
{
    if (m_bodyDisposal == BodyDisposal::Keep || m_bodyDisposal == BodyDisposal::Restart) {
        closeDownloadStreams();
        return {};
    }
    const bool appended = m_bodyDisposal == BodyDisposal::Append;
    // An empty body still gives an (empty) file.
    HttpError failure
        = m_bodyDisposal == BodyDisposal::AlreadyComplete ? HttpError() : openDownloadFile();
    closeDownloadStreams();
    // The partial file stays, with what the piece added, for the rest.
    if (failure.isNull() && appended)
        failure = appendedPieceShortfall(quint64(QFileInfo(m_partialFile.path()).size()));
    if (!failure.isNull())
        return failure;
    if (appended && endsPieceOfUnknownLength()) {
        ++m_pieceRequests;
        m_pieceBytes += m_totalBytesRead;
        if (const HttpError refusal = pieceCountRefusal(); !refusal.isNull())
            return refusal;
        m_bodyDisposal = BodyDisposal::AskForMore;
        return {};
    }
    if (writesDestinationDirectly()) {
        m_partialFile.forgetPath();
        return {};
    }
    const auto refusal = [this](const QString& file) { return finishedFileRefusal(file); };
    if (m_bodyDisposal != BodyDisposal::AlreadyComplete && decodesResponse()) {
        failure = m_partialFile.finishCoded(m_downloadDestinationPath,
            decompressionFormat(responseContentCoding()), m_maximumBodySize, refusal);
        if (failure.isNull())
            m_partialFile.forgetPath();
        return failure;
    }
    failure = m_partialFile.finish(
        m_downloadDestinationPath, m_bodyDisposal == BodyDisposal::Write, refusal);
    // A file that could not take the destination's place is not left hidden
    // beside it, unless it is to be resumed.
    if (!failure.isNull() && m_partialFile.isChosen() && !m_allowResumeForFileDownloads)
        QFile::remove(m_partialFile.path());
    m_partialFile.forgetPath();
    return failure;
}

HttpError NXHTTPRequest::pieceCountRefusal() const
{
    if (m_pieceRequests <= kPieceRequestsWithoutAverage
        || m_pieceBytes / quint64(m_pieceRequests) >= kSmallestAveragePiece)
        return {};
    return requestError(NXHTTPRequestErrorType::ConnectionFailure,
        QStringLiteral("The server sent the body in %1 pieces of %2 bytes on average; past %3 "
                       "pieces, each must bring %4 bytes on average. The partial file keeps them")
            .arg(m_pieceRequests)
            .arg(m_pieceBytes / quint64(m_pieceRequests))
            .arg(kPieceRequestsWithoutAverage)
            .arg(kSmallestAveragePiece));
}

bool NXHTTPRequest::removeFileAtPath(const QString& path, HttpError* error)
{
    QFile file(path);
    if (!file.exists() || file.remove())
        return true;
    if (error)
        *error = requestError(NXHTTPRequestErrorType::FileManagement,
            QStringLiteral("Failed to delete file at path '%1'").arg(path),
            std::make_shared<HttpError>(fileSystemError(int(file.error()), file.errorString())));
    return false;
}

bool NXHTTPRequest::writesDestinationDirectly() const
{
    return m_partialFile.path() == m_downloadDestinationPath;
}

// --- the end of the stream -------------------------------------------------------------

void NXHTTPRequest::handleStreamComplete()
{
    setStatusTimerRunning(false);
    m_downloadComplete = true;
    if (!m_haveReadResponseHeaders)
        readResponseHeaders();
    HttpError fileFailure;
    {
        const std::lock_guard progress(NXHTTPRequestClassState::instance().progressLock);
        m_lastBytesSent = m_totalBytesSent.load();
        m_totalBytesSent = m_readStream->requestBytesWritten();
        m_complete = true;
        if (m_contentLength == 0)
            m_contentLength = m_totalBytesRead.load();
        updateProgressIndicators();
    }
    // Out of the lock every transfer's progress and the main thread take: it
    // inflates the body, moves files and asks the owner's judgement.
    const bool toFile = !m_downloadDestinationPath.isEmpty() && !wantsReceivedData();
    if (toFile && !m_needsRedirect)
        fileFailure = finishDownloadFile();
    {
        const std::lock_guard progress(NXHTTPRequestClassState::instance().progressLock);
        // A body kept as it came, in a coding nobody can decode: the raw
        // bytes stay for the owner, and the request fails.
        if (fileFailure.isNull() && !m_needsRedirect && m_authenticationNeeded == 0
            && m_totalBytesRead > 0 && keepsBodyAsReceived()
            && responseContentCoding() == ContentCoding::Unsupported)
            fileFailure = unsupportedCodingError();
        // A redirect that is not followed is no answer to the request.
        if (fileFailure.isNull() && isUnfollowedRedirect())
            fileFailure = unfollowedRedirectError();
        if (m_downloadCache && !m_didUseCachedResponse)
            m_downloadCache->storeResponseForRequest(*this, m_secondsToCache);
    }
    // Out of that lock too: it inflates the body.
    if (fileFailure.isNull() && !m_needsRedirect && m_authenticationNeeded == 0)
        fileFailure = codedBodyRefusal();
    releaseReadStreamToPool();
    const bool restarting = m_bodyDisposal == BodyDisposal::AskForMore
        || (m_bodyDisposal == BodyDisposal::Restart && !m_downloadDestinationPath.isEmpty());
    // A challenged request is not over while it waits for credentials: a
    // cancel must still reach it.
    if (m_authenticationNeeded != 0 && !m_needsRedirect)
        m_complete = false;
    if (m_needsRedirect || restarting || m_authenticationNeeded != 0 || !m_error.isNull())
        return;
    if (!fileFailure.isNull()) {
        failWithError(fileFailure);
        return;
    }
    requestFinished();
    markAsFinished();
}

void NXHTTPRequest::releaseReadStreamToPool()
{
    unscheduleReadStream();
    m_readStream->setClient(0, nullptr);
    {
        auto& state = NXHTTPRequestClassState::instance();
        const std::lock_guard lock(state.poolLock);
        if (m_connectionInfo) {
            m_connectionInfo->request.reset();
            m_connectionInfo->expires
                = now() + secondsDuration(m_persistentConnectionTimeoutSeconds);
            if (!m_connectionCanBeReused)
                std::erase(state.connectionPool, m_connectionInfo);
        }
    }
    // A reusable connection stays open, held by the stream in its record.
    if (!m_connectionCanBeReused)
        m_readStream->close();
    m_readStream.reset();
}

void NXHTTPRequest::restartWithoutRange()
{
    // The partial file cannot be continued from this server's answer: the
    // body is fetched whole instead, beside it (openDownloadFile), and the
    // partial file stays until that holds more.
    closeDownloadStreams();
    m_partialDownloadSize = 0;
    askFromOffset(0);
    startRequest();
}

void NXHTTPRequest::askForMore()
{
    closeDownloadStreams();
    setRangeFromPartialFile();
    m_askingForMore = true;
    startRequest();
}

void NXHTTPRequest::setRangeFromPartialFile()
{
    m_partialDownloadSize = 0;
    updatePartialDownloadSize();
    askFromOffset(m_partialDownloadSize);
}

// --- failures ----------------------------------------------------------------------------

void NXHTTPRequest::handleStreamError()
{
    if (!m_error.isNull()) {
        cancelLoad();
        return;
    }
    const HttpError cause = m_readStream->error();
    // A kept connection the server has dropped in the meantime looks like
    // this; one fresh connection settles it.
    if (cause.is(TransportError::ConnectionLost) && retryUsingNewConnection())
        return;
    m_connectionCanBeReused = false;
    // The transport's own account follows: what the reply broke, or what
    // happened to the connection.
    const QString account = cause.localizedDescription();
    const QString reason = cause.is(TransportError::Protocol)
        ? QStringLiteral("The server's reply broke the rules of HTTP")
        : QStringLiteral("A connection failure occurred");
    const QString description = cause.is(TransportError::Tls)
        ? QStringLiteral("%1: SSL problem (%2)").arg(reason, account)
        : account.isEmpty() ? reason
                            : QStringLiteral("%1: %2").arg(reason, account);
    cancelLoad();
    failWithError(requestError(NXHTTPRequestErrorType::ConnectionFailure, description,
        std::make_shared<HttpError>(cause)));
}

bool NXHTTPRequest::retryUsingNewConnection()
{
    if (m_retryCount != 0)
        return false;
    m_connectionCanBeReused = false;
    cancelLoad();
    forgetConnectionRecord(m_connectionInfo);
    m_connectionInfo.reset();
    ++m_retryCount;
    setRangeFromPartialFile();
    startRequest();
    return true;
}

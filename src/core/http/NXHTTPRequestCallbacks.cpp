#include "http/NXHTTPRequestState.h"

#include "http/NetworkThread.h"

#include <QMetaMethod>

// The blocks an owner may set; replaced as a whole when released.
struct NXHTTPRequest::Blocks {
    Block started;
    HeadersBlock headersReceived;
    Block completion;
    Block failed;
    ProgressBlock bytesReceived;
    ProgressBlock bytesSent;
    SizeBlock downloadSizeIncremented;
    SizeBlock uploadSizeIncremented;
    DataBlock dataReceived;
    Block requestRedirected;
    Block authenticationNeeded;
    Block proxyAuthenticationNeeded;
};

namespace {

// The method of that name taking `argumentCount` arguments, if the object
// has one: what "answers the message" means for a target.
QMetaMethod methodNamed(const QObject* object, const QByteArray& name, int argumentCount)
{
    if (!object || name.isEmpty())
        return {};
    const QMetaObject* meta = object->metaObject();
    for (int i = 0; i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.name() == name && method.parameterCount() == argumentCount)
            return method;
    }
    return {};
}

} // namespace

// --- targets and blocks --------------------------------------------------------------

bool NXHTTPRequest::answers(Target which, const QByteArray& method, int argumentCount) const
{
    return methodNamed(target(which), method, argumentCount).isValid();
}

QObject* NXHTTPRequest::target(Target which) const
{
    const std::lock_guard lock(m_cancelledLock);
    switch (which) {
    case Target::Delegate:
        return m_delegate;
    case Target::Queue:
        return m_queue;
    case Target::UploadProgress:
        return m_uploadProgressDelegate;
    case Target::DownloadProgress:
        return m_downloadProgressDelegate;
    }
    return nullptr;
}

QObject* NXHTTPRequest::uploadProgressDelegate() const
{
    return target(Target::UploadProgress);
}

QObject* NXHTTPRequest::downloadProgressDelegate() const
{
    return target(Target::DownloadProgress);
}

void NXHTTPRequest::setUploadProgressDelegate(QObject* progress)
{
    {
        const std::lock_guard lock(m_cancelledLock);
        m_uploadProgressDelegate = progress;
    }
    notify(Target::UploadProgress, "setMaxValue", [](QObject* object) {
        methodNamed(object, "setMaxValue", 1).invoke(object, Q_ARG(double, 1.0));
    });
}

void NXHTTPRequest::setDownloadProgressDelegate(QObject* progress)
{
    {
        const std::lock_guard lock(m_cancelledLock);
        m_downloadProgressDelegate = progress;
    }
    notify(Target::DownloadProgress, "setMaxValue", [](QObject* object) {
        methodNamed(object, "setMaxValue", 1).invoke(object, Q_ARG(double, 1.0));
    });
}

void NXHTTPRequest::setStartedBlock(Block block)
{
    const std::lock_guard lock(m_cancelledLock);
    if (!m_blocks)
        m_blocks = std::make_shared<Blocks>();
    m_blocks->started = std::move(block);
}

void NXHTTPRequest::setHeadersReceivedBlock(HeadersBlock block)
{
    const std::lock_guard lock(m_cancelledLock);
    if (!m_blocks)
        m_blocks = std::make_shared<Blocks>();
    m_blocks->headersReceived = std::move(block);
}

void NXHTTPRequest::setCompletionBlock(Block block)
{
    const std::lock_guard lock(m_cancelledLock);
    if (!m_blocks)
        m_blocks = std::make_shared<Blocks>();
    m_blocks->completion = std::move(block);
}

void NXHTTPRequest::setFailedBlock(Block block)
{
    const std::lock_guard lock(m_cancelledLock);
    if (!m_blocks)
        m_blocks = std::make_shared<Blocks>();
    m_blocks->failed = std::move(block);
}

void NXHTTPRequest::setBytesReceivedBlock(ProgressBlock block)
{
    const std::lock_guard lock(m_cancelledLock);
    if (!m_blocks)
        m_blocks = std::make_shared<Blocks>();
    m_blocks->bytesReceived = std::move(block);
}

void NXHTTPRequest::setBytesSentBlock(ProgressBlock block)
{
    const std::lock_guard lock(m_cancelledLock);
    if (!m_blocks)
        m_blocks = std::make_shared<Blocks>();
    m_blocks->bytesSent = std::move(block);
}

void NXHTTPRequest::setDownloadSizeIncrementedBlock(SizeBlock block)
{
    const std::lock_guard lock(m_cancelledLock);
    if (!m_blocks)
        m_blocks = std::make_shared<Blocks>();
    m_blocks->downloadSizeIncremented = std::move(block);
}

void NXHTTPRequest::setUploadSizeIncrementedBlock(SizeBlock block)
{
    const std::lock_guard lock(m_cancelledLock);
    if (!m_blocks)
        m_blocks = std::make_shared<Blocks>();
    m_blocks->uploadSizeIncremented = std::move(block);
}

void NXHTTPRequest::setDataReceivedBlock(DataBlock block)
{
    const std::lock_guard lock(m_cancelledLock);
    if (!m_blocks)
        m_blocks = std::make_shared<Blocks>();
    m_blocks->dataReceived = std::move(block);
}

void NXHTTPRequest::setRequestRedirectedBlock(Block block)
{
    const std::lock_guard lock(m_cancelledLock);
    if (!m_blocks)
        m_blocks = std::make_shared<Blocks>();
    m_blocks->requestRedirected = std::move(block);
}

void NXHTTPRequest::setAuthenticationNeededBlock(Block block)
{
    const std::lock_guard lock(m_cancelledLock);
    if (!m_blocks)
        m_blocks = std::make_shared<Blocks>();
    m_blocks->authenticationNeeded = std::move(block);
}

void NXHTTPRequest::setProxyAuthenticationNeededBlock(Block block)
{
    const std::lock_guard lock(m_cancelledLock);
    if (!m_blocks)
        m_blocks = std::make_shared<Blocks>();
    m_blocks->proxyAuthenticationNeeded = std::move(block);
}

void NXHTTPRequest::releaseBlocksOnMainThread()
{
    std::shared_ptr<Blocks> released;
    {
        const std::lock_guard lock(m_cancelledLock);
        released = std::move(m_blocks);
    }
    // What the blocks captured is let go of on the main thread.
    if (released)
        MainThread::run([released]() mutable { released.reset(); });
}

// --- delivery ------------------------------------------------------------------------------

void NXHTTPRequest::notify(
    Target which, const QByteArray& method, const std::function<void(QObject*)>& call)
{
    if (!methodNamed(target(which), method, 1).isValid()
        && !methodNamed(target(which), method, 2).isValid())
        return;
    // The target is looked up again when the call runs: one cleared in the
    // meantime hears nothing. The request stays alive until then.
    MainThread::run([request = self(), which, method, call] {
        QObject* object = request->target(which);
        if (object
            && (methodNamed(object, method, 1).isValid()
                || methodNamed(object, method, 2).isValid()))
            call(object);
    });
}

void NXHTTPRequest::sendAmount(Target which, const char* method, qint64 amount)
{
    notify(which, method, [request = this, method, amount](QObject* object) {
        methodNamed(object, method, 2)
            .invoke(object, Q_ARG(NXHTTPRequest*, request), Q_ARG(qint64, amount));
    });
}

void NXHTTPRequest::updateProgressIndicator(Target which, double progress, double total)
{
    const double fraction = total > 0 ? progress / total : 0.0;
    notify(which, "setDoubleValue", [fraction](QObject* object) {
        const std::lock_guard lock(NXHTTPRequestClassState::instance().progressLock);
        methodNamed(object, "setDoubleValue", 1).invoke(object, Q_ARG(double, fraction));
    });
}

namespace {

void sendRequest(QObject* object, const QByteArray& name, NXHTTPRequest* request)
{
    methodNamed(object, name, 1).invoke(object, Q_ARG(NXHTTPRequest*, request));
}

} // namespace

// --- owner notifications (main thread) -----------------------------------------------------

void NXHTTPRequest::requestStarted()
{
    if (!error().isNull() || m_hasMainRequest)
        return;
    sendRequest(target(Target::Delegate), m_didStartSelector, this);
    if (const auto blocks = m_blocks; blocks && blocks->started)
        blocks->started();
    sendRequest(target(Target::Queue), "requestStarted", this);
}

void NXHTTPRequest::requestReceivedResponseHeaders(const NXHeaderDictionary& headers)
{
    if (!error().isNull() || m_hasMainRequest)
        return;
    const auto sendHeaders = [&](QObject* object, const QByteArray& name) {
        methodNamed(object, name, 2)
            .invoke(object, Q_ARG(NXHTTPRequest*, this), Q_ARG(NXHeaderDictionary, headers));
    };
    sendHeaders(target(Target::Delegate), m_didReceiveHeadersSelector);
    if (const auto blocks = m_blocks; blocks && blocks->headersReceived)
        blocks->headersReceived(headers);
    sendHeaders(target(Target::Queue), "requestDidReceiveResponseHeaders");
}

void NXHTTPRequest::requestWillRedirectToURL(const QUrl& newURL)
{
    if (!error().isNull() || m_hasMainRequest)
        return;
    const auto send = [&](QObject* object, const QByteArray& name) {
        methodNamed(object, name, 2)
            .invoke(object, Q_ARG(NXHTTPRequest*, this), Q_ARG(QUrl, newURL));
    };
    send(target(Target::Delegate), m_willRedirectSelector);
    send(target(Target::Queue), "requestWillRedirectToURL");
}

void NXHTTPRequest::requestRedirected()
{
    if (!error().isNull() || m_hasMainRequest)
        return;
    sendRequest(target(Target::Delegate), "requestRedirected", this);
    if (const auto blocks = m_blocks; blocks && blocks->requestRedirected)
        blocks->requestRedirected();
}

void NXHTTPRequest::requestFinished()
{
    if (!error().isNull() || m_hasMainRequest)
        return;
    MainThread::run([request = self()] { request->reportFinished(); });
}

void NXHTTPRequest::reportFinished()
{
    sendRequest(target(Target::Delegate), m_didFinishSelector, this);
    if (const auto blocks = m_blocks; blocks && blocks->completion)
        blocks->completion();
    sendRequest(target(Target::Queue), "requestFinished", this);
}

void NXHTTPRequest::reportFailure()
{
    sendRequest(target(Target::Delegate), m_didFailSelector, this);
    if (const auto blocks = m_blocks; blocks && blocks->failed)
        blocks->failed();
    sendRequest(target(Target::Queue), "requestFailed", this);
}

bool NXHTTPRequest::wantsReceivedData() const
{
    const std::lock_guard lock(m_cancelledLock);
    return methodNamed(m_delegate, m_didReceiveDataSelector, 2).isValid()
        || (m_blocks && m_blocks->dataReceived);
}

void NXHTTPRequest::passOnReceivedData(const QByteArray& data)
{
    methodNamed(target(Target::Delegate), m_didReceiveDataSelector, 2)
        .invoke(target(Target::Delegate), Q_ARG(NXHTTPRequest*, this), Q_ARG(QByteArray, data));
    if (const auto blocks = m_blocks; blocks && blocks->dataReceived)
        blocks->dataReceived(data);
}

// --- byte progress -----------------------------------------------------------------------------

void NXHTTPRequest::updateProgressIndicators()
{
    if (m_hasMainRequest)
        return;
    if (!m_showAccurateProgress && !(m_complete && !m_updatedProgress))
        return;
    updateUploadProgress();
    updateDownloadProgress();
}

void NXHTTPRequest::updateDownloadProgress()
{
    const bool headersIn = !responseHeaders().isEmpty() && !m_needsRedirect;
    if (!headersIn || (m_contentLength == 0 && !m_complete))
        return;
    const quint64 soFar = m_totalBytesRead + m_partialDownloadSize;
    qint64 amount = 1;
    if (m_showAccurateProgress && m_contentLength > 0) {
        // Only growth beyond what was told already: a retry that fetches
        // bytes again does not count them twice.
        if (soFar <= m_lastBytesRead)
            return;
        amount = qint64(soFar - m_lastBytesRead);
    } else {
        if (m_updatedProgress)
            return;
        m_updatedProgress = true;
    }
    const quint64 total = m_contentLength + m_partialDownloadSize;
    sendAmount(Target::Queue, "requestDidReceiveBytes", amount);
    sendAmount(Target::DownloadProgress, "requestDidReceiveBytes", amount);
    updateProgressIndicator(Target::DownloadProgress, double(soFar), double(total));
    if (const auto blocks = m_blocks; blocks && blocks->bytesReceived) {
        const auto block = blocks->bytesReceived;
        MainThread::run([block, amount, total] { block(amount, total); });
    }
    m_lastBytesRead = soFar;
}

void NXHTTPRequest::updateUploadProgress()
{
    if (isCancelledRequest() || m_totalBytesSent == 0)
        return;
    if (m_uploadBufferSize == 0 && m_totalBytesSent != m_postLength) {
        m_uploadBufferSize = m_totalBytesSent;
        incrementUploadSizeBy(-qint64(m_uploadBufferSize));
    }
    qint64 amount = 1;
    if (m_showAccurateProgress) {
        if (m_totalBytesSent < m_postLength && m_lastBytesSent == 0)
            return;
        amount = qint64(m_totalBytesSent) - qint64(m_lastBytesSent);
    } else {
        m_updatedProgress = true;
    }
    if (amount == 0)
        return;
    sendAmount(Target::Queue, "requestDidSendBytes", amount);
    sendAmount(Target::UploadProgress, "requestDidSendBytes", amount);
    updateProgressIndicator(Target::UploadProgress, double(m_totalBytesSent - m_uploadBufferSize),
        double(m_postLength - m_uploadBufferSize));
    if (const auto blocks = m_blocks; blocks && blocks->bytesSent) {
        const auto block = blocks->bytesSent;
        const quint64 total = m_postLength;
        MainThread::run([block, amount, total] { block(amount, total); });
    }
}

void NXHTTPRequest::incrementDownloadSizeBy(qint64 amount)
{
    sendAmount(Target::Queue, "requestIncrementDownloadSizeBy", amount);
    sendAmount(Target::DownloadProgress, "requestIncrementDownloadSizeBy", amount);
    if (const auto blocks = m_blocks; blocks && blocks->downloadSizeIncremented) {
        const auto block = blocks->downloadSizeIncremented;
        MainThread::run([block, amount] { block(amount); });
    }
}

void NXHTTPRequest::incrementUploadSizeBy(qint64 amount)
{
    sendAmount(Target::Queue, "requestIncrementUploadSizeBy", amount);
    sendAmount(Target::UploadProgress, "requestIncrementUploadSizeBy", amount);
    if (const auto blocks = m_blocks; blocks && blocks->uploadSizeIncremented) {
        const auto block = blocks->uploadSizeIncremented;
        MainThread::run([block, amount] { block(amount); });
    }
}

void NXHTTPRequest::removeUploadProgressSoFar()
{
    const qint64 amount = -qint64(m_totalBytesSent);
    sendAmount(Target::Queue, "requestDidSendBytes", amount);
    sendAmount(Target::UploadProgress, "requestDidSendBytes", amount);
    updateProgressIndicator(Target::UploadProgress, 0, double(m_postLength));
    if (const auto blocks = m_blocks; blocks && blocks->bytesSent) {
        const auto block = blocks->bytesSent;
        const quint64 total = m_postLength;
        MainThread::run([block, amount, total] { block(amount, total); });
    }
}

// --- asking for credentials ----------------------------------------------------------------

namespace {

QByteArray credentialsMessage(bool proxy)
{
    return proxy ? "proxyAuthenticationNeededForRequest" : "authenticationNeededForRequest";
}

} // namespace

bool NXHTTPRequest::willAskDelegateForCredentials()
{
    return willAskDelegateFor(AuthSide::Server);
}

bool NXHTTPRequest::willAskDelegateForProxyCredentials()
{
    return willAskDelegateFor(AuthSide::Proxy);
}

void NXHTTPRequest::askDelegateForCredentials()
{
    askDelegateFor(AuthSide::Server);
}

void NXHTTPRequest::askDelegateForProxyCredentials()
{
    askDelegateFor(AuthSide::Proxy);
}

// The delegate is asked, or the queue when there is no delegate. Nobody can
// answer a synchronous request: its caller's thread is waiting for it.
bool NXHTTPRequest::willAskDelegateFor(AuthSide side)
{
    if (m_isSynchronous)
        return false;
    const bool proxy = side == AuthSide::Proxy;
    const Target asked = target(Target::Delegate) ? Target::Delegate : Target::Queue;
    bool hasBlock = false;
    {
        const std::lock_guard lock(m_cancelledLock);
        hasBlock = m_blocks
            && (proxy ? bool(m_blocks->proxyAuthenticationNeeded)
                      : bool(m_blocks->authenticationNeeded));
    }
    if (!answers(asked, credentialsMessage(proxy), 1) && !hasBlock)
        return false;
    MainThread::post([request = self(), side] { request->askDelegateFor(side); });
    return true;
}

void NXHTTPRequest::askDelegateFor(AuthSide side)
{
    const bool proxy = side == AuthSide::Proxy;
    const Target asked = target(Target::Delegate) ? Target::Delegate : Target::Queue;
    if (answers(asked, credentialsMessage(proxy), 1)) {
        sendRequest(target(asked), credentialsMessage(proxy), this);
        return;
    }
    const auto blocks = m_blocks;
    const Block& block = !blocks ? Block()
        : proxy                  ? blocks->proxyAuthenticationNeeded
                                 : blocks->authenticationNeeded;
    if (block)
        block();
}

#include "http/HttpReadStream.h"

#include "http/HttpConnection.h"
#include "http/HttpStreamCore.h"
#include "http/NetworkThread.h"

#include <QThread>

#include <cstring>

namespace {

class DeviceBodyStream : public HttpBodyStream {
public:
    explicit DeviceBodyStream(std::unique_ptr<QIODevice> device)
        : m_device(std::move(device))
    { }
    qint64 read(char* data, qint64 maxLength) override
    {
        if (m_device->atEnd())
            return 0;
        return m_device->read(data, maxLength);
    }

private:
    std::unique_ptr<QIODevice> m_device;
};

} // namespace

std::unique_ptr<HttpBodyStream> HttpBodyStream::fromDevice(std::unique_ptr<QIODevice> device)
{
    return std::make_unique<DeviceBodyStream>(std::move(device));
}

// --- shared core ---------------------------------------------------------

std::optional<HttpReadStream::Event> HttpStreamCore::dueEventLocked() const
{
    if (status == Status::Closed || status == Status::NotOpen)
        return std::nullopt;
    if (connected && !openDelivered)
        return HttpReadStream::OpenCompleted;
    if (bufferedLocked() > 0)
        return bytesArmed ? std::optional(HttpReadStream::HasBytesAvailable) : std::nullopt;
    if (terminalDelivered)
        return std::nullopt;
    if (!error.isNull())
        return HttpReadStream::ErrorOccurred;
    if (ended)
        return HttpReadStream::EndEncountered;
    return std::nullopt;
}

void HttpStreamCore::kickLocked()
{
    if (!scheduled || !target || kickPending || !dueEventLocked())
        return;
    kickPending = true;
    std::weak_ptr<HttpStreamCore> weak = weak_from_this();
    QMetaObject::invokeMethod(
        target.data(),
        [weak] {
            if (auto core = weak.lock())
                core->deliver();
        },
        Qt::QueuedConnection);
}

void HttpStreamCore::deliver()
{
    HttpReadStream::Client handler;
    HttpReadStream::Event event {};
    {
        const std::lock_guard lock(mutex);
        kickPending = false;
        const auto due = scheduled ? dueEventLocked() : std::nullopt;
        if (!due)
            return;
        event = *due;
        if (event == HttpReadStream::OpenCompleted)
            openDelivered = true;
        else if (event == HttpReadStream::HasBytesAvailable)
            bytesArmed = false;
        else
            terminalDelivered = true;
        if (eventMask & event)
            handler = client;
    }
    // The client reads and may close from inside; the lock is not held.
    if (handler)
        handler(event);
    const std::lock_guard lock(mutex);
    kickLocked();
}

void HttpStreamCore::markConnected(bool reusedConnection)
{
    const std::lock_guard lock(mutex);
    if (status == Status::Opening)
        status = Status::Open;
    connected = true;
    reused = reusedConnection;
    kickLocked();
}

void HttpStreamCore::setResponse(const HttpMessage& head)
{
    const std::lock_guard lock(mutex);
    response = head;
}

bool HttpStreamCore::appendBody(const QByteArray& bytes, qsizetype offset, qsizetype length)
{
    const std::lock_guard lock(mutex);
    if (length > 0 && status != Status::Closed) {
        queueLocked(bytes, offset, length);
        buffered += length;
        bytesArmed = true;
        kickLocked();
    }
    readPaused = bufferedLocked() >= kHighWater;
    return readPaused;
}

void HttpStreamCore::queueLocked(const QByteArray& bytes, qsizetype offset, qsizetype length)
{
    Slice* last = slices.empty() ? nullptr : &slices.back();
    if (last && !last->owned && last->bytes.constData() == bytes.constData()
        && last->offset + last->length == offset) {
        last->length += length;
        return;
    }
    if (length >= kShareAtLeast) {
        slices.push_back({ bytes, offset, length, false });
        return;
    }
    if (!last || !last->owned || last->bytes.size() >= kCopyBlock) {
        slices.push_back({ QByteArray(), 0, 0, true });
        last = &slices.back();
        last->bytes.reserve(kCopyBlock);
    }
    last->bytes.append(bytes.constData() + offset, length);
    last->length += length;
}

qint64 HttpStreamCore::takeLocked(char* data, qint64 maxLength)
{
    qint64 count = 0;
    while (count < maxLength && !slices.empty()) {
        Slice& front = slices.front();
        const qsizetype take = qsizetype(std::min<qint64>(maxLength - count, front.length));
        std::memcpy(data + count, front.bytes.constData() + front.offset, size_t(take));
        front.offset += take;
        front.length -= take;
        count += take;
        if (front.length == 0)
            slices.pop_front();
    }
    buffered -= qsizetype(count);
    return count;
}

std::optional<QByteArray> HttpStreamCore::takeWholeLocked(qint64 maxLength)
{
    if (slices.empty())
        return std::nullopt;
    const Slice& front = slices.front();
    if (front.offset != 0 || front.length != front.bytes.size() || front.length > maxLength)
        return std::nullopt;
    QByteArray bytes = std::move(slices.front().bytes);
    slices.pop_front();
    buffered -= bytes.size();
    return bytes;
}

bool HttpStreamCore::tookLocked()
{
    bytesArmed = bufferedLocked() > 0;
    kickLocked();
    const bool resume = readPaused && bufferedLocked() < kLowWater;
    if (resume)
        readPaused = false;
    return resume;
}

void HttpStreamCore::resumeReading()
{
    NetworkThread::post(
        [core = shared_from_this()] { HttpConnectionPool::instance()->resume(core); });
}

void HttpStreamCore::discardLocked()
{
    slices.clear();
    buffered = 0;
}

void HttpStreamCore::addBytesWritten(quint64 count)
{
    const std::lock_guard lock(mutex);
    bytesWritten += count;
}

void HttpStreamCore::addBytesReceived(quint64 count)
{
    const std::lock_guard lock(mutex);
    bytesReceived += count;
}

void HttpStreamCore::markEnded()
{
    const std::lock_guard lock(mutex);
    ended = true;
    if (status == Status::Open || status == Status::Opening)
        status = Status::AtEnd;
    kickLocked();
}

void HttpStreamCore::markFailed(const HttpError& failure)
{
    const std::lock_guard lock(mutex);
    if (!error.isNull() || ended)
        return;
    error = failure;
    if (status != Status::Closed)
        status = Status::Error;
    kickLocked();
}

// --- handle ----------------------------------------------------------------

HttpReadStream::HttpReadStream(HttpMessage request, std::unique_ptr<HttpBodyStream> body)
    : m_core(std::make_shared<HttpStreamCore>())
{
    m_core->request = std::move(request);
    m_core->body = std::move(body);
}

HttpReadStream::~HttpReadStream()
{
    close();
}

const HttpMessage& HttpReadStream::request() const
{
    return m_core->request;
}

void HttpReadStream::setTlsSettings(const TlsSettings& settings)
{
    const std::lock_guard lock(m_core->mutex);
    m_core->tls = settings;
}

TlsSettings HttpReadStream::tlsSettings() const
{
    const std::lock_guard lock(m_core->mutex);
    return m_core->tls;
}

void HttpReadStream::setProxy(const ProxySettings& proxy)
{
    const std::lock_guard lock(m_core->mutex);
    m_core->proxy = proxy;
}

ProxySettings HttpReadStream::proxy() const
{
    const std::lock_guard lock(m_core->mutex);
    return m_core->proxy;
}

void HttpReadStream::setPersistentConnection(bool persistent)
{
    const std::lock_guard lock(m_core->mutex);
    m_core->persistent = persistent;
}

bool HttpReadStream::persistentConnection() const
{
    const std::lock_guard lock(m_core->mutex);
    return m_core->persistent;
}

void HttpReadStream::setProperty(const QString& key, const QVariant& value)
{
    const std::lock_guard lock(m_core->mutex);
    m_core->properties.insert(key, value);
}

QVariant HttpReadStream::property(const QString& key) const
{
    const std::lock_guard lock(m_core->mutex);
    return m_core->properties.value(key);
}

void HttpReadStream::setClient(unsigned eventMask, Client client)
{
    const std::lock_guard lock(m_core->mutex);
    m_core->eventMask = client ? eventMask : 0;
    m_core->client = std::move(client);
}

void HttpReadStream::schedule()
{
    const std::lock_guard lock(m_core->mutex);
    if (m_core->target && m_core->target->thread() != QThread::currentThread()) {
        m_core->target->deleteLater();
        m_core->target = nullptr;
    }
    if (!m_core->target)
        m_core->target = new QObject; // freed by deleteLater in close()
    m_core->scheduled = true;
    m_core->kickPending = false;
    m_core->kickLocked();
}

void HttpReadStream::unschedule()
{
    const std::lock_guard lock(m_core->mutex);
    m_core->scheduled = false;
}

bool HttpReadStream::isScheduled() const
{
    const std::lock_guard lock(m_core->mutex);
    return m_core->scheduled;
}

bool HttpReadStream::open()
{
    {
        const std::lock_guard lock(m_core->mutex);
        if (m_core->status != Status::NotOpen)
            return false;
        const QString problem = m_core->request.wireProblem();
        const QString scheme = m_core->request.url().scheme().toLower();
        if (!problem.isEmpty()
            || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
            m_core->status = Status::Error;
            m_core->error = HttpError::transport(TransportError::Other,
                problem.isEmpty() ? QStringLiteral("The URL scheme is not http or https")
                                  : problem);
            return false;
        }
        m_core->status = Status::Opening;
    }
    NetworkThread::post([core = m_core] { HttpConnectionPool::instance()->open(core); });
    return true;
}

void HttpReadStream::close()
{
    {
        const std::lock_guard lock(m_core->mutex);
        if (m_core->status == Status::Closed)
            return;
        const bool wasOpened = m_core->status != Status::NotOpen;
        m_core->status = Status::Closed;
        m_core->client = nullptr;
        m_core->eventMask = 0;
        m_core->scheduled = false;
        m_core->discardLocked();
        if (m_core->target)
            m_core->target->deleteLater();
        m_core->target = nullptr;
        if (!wasOpened)
            return;
    }
    NetworkThread::post([core = m_core] { HttpConnectionPool::instance()->close(core); });
}

HttpReadStream::Status HttpReadStream::status() const
{
    const std::lock_guard lock(m_core->mutex);
    return m_core->status;
}

HttpError HttpReadStream::error() const
{
    const std::lock_guard lock(m_core->mutex);
    return m_core->error;
}

bool HttpReadStream::hasBytesAvailable() const
{
    const std::lock_guard lock(m_core->mutex);
    return m_core->bufferedLocked() > 0;
}

qint64 HttpReadStream::read(char* data, qint64 maxLength)
{
    qint64 count = 0;
    bool resume = false;
    {
        const std::lock_guard lock(m_core->mutex);
        if (m_core->bufferedLocked() == 0)
            return m_core->error.isNull() ? 0 : -1;
        count = m_core->takeLocked(data, maxLength);
        resume = m_core->tookLocked();
    }
    if (resume)
        m_core->resumeReading();
    return count;
}

std::optional<QByteArray> HttpReadStream::readWhole(qint64 maxLength)
{
    std::optional<QByteArray> whole;
    bool resume = false;
    {
        const std::lock_guard lock(m_core->mutex);
        whole = m_core->takeWholeLocked(maxLength);
        if (whole)
            resume = m_core->tookLocked();
    }
    if (resume)
        m_core->resumeReading();
    return whole;
}

QByteArray HttpReadStream::read(qint64 maxLength)
{
    if (std::optional<QByteArray> whole = readWhole(maxLength))
        return *std::move(whole);
    QByteArray bytes(qsizetype(std::max<qint64>(maxLength, 0)), Qt::Uninitialized);
    const qint64 count = read(bytes.data(), bytes.size());
    bytes.resize(qsizetype(std::max<qint64>(count, 0)));
    return bytes;
}

QByteArray HttpReadStream::read(qint64 maxLength, QByteArray& spare)
{
    if (std::optional<QByteArray> whole = readWhole(maxLength))
        return *std::move(whole);
    if (spare.size() < maxLength)
        spare.resize(qsizetype(maxLength));
    const qint64 count = read(spare.data(), maxLength);
    return QByteArray::fromRawData(spare.constData(), qsizetype(std::max<qint64>(count, 0)));
}

std::optional<HttpMessage> HttpReadStream::responseHeader() const
{
    const std::lock_guard lock(m_core->mutex);
    return m_core->response;
}

quint64 HttpReadStream::requestBytesWritten() const
{
    const std::lock_guard lock(m_core->mutex);
    return m_core->bytesWritten;
}

quint64 HttpReadStream::responseBytesReceived() const
{
    const std::lock_guard lock(m_core->mutex);
    return m_core->bytesReceived;
}

bool HttpReadStream::reusedConnection() const
{
    const std::lock_guard lock(m_core->mutex);
    return m_core->reused;
}

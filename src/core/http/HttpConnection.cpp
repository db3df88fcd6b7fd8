#include "http/HttpConnection.h"

#include "http/NetworkThread.h"

#include <QNetworkProxy>
#include <QSslConfiguration>
#include <QSslSocket>

namespace {

constexpr qint64 kSocketReadBuffer = 64 * 1024;
constexpr qsizetype kReadChunk = 256 * 1024;
// Enough to cover what a stream buffers before reading pauses, plus one.
constexpr size_t kReadBuffers = HttpStreamCore::kHighWater / kReadChunk + 2;
constexpr qint64 kWriteAhead = 64 * 1024;
constexpr qint64 kBodyChunk = 16 * 1024;

TransportError categoryFor(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::RemoteHostClosedError:
        return TransportError::ConnectionLost;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return TransportError::Tls;
    default:
        return TransportError::Other;
    }
}

int portOf(const QUrl& url)
{
    return url.port(
        url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80);
}

} // namespace

// --- connection ------------------------------------------------------------

HttpConnection::HttpConnection(QString poolKey, QObject* parent)
    : QObject(parent)
    , m_poolKey(std::move(poolKey))
{ }

HttpConnection::~HttpConnection() = default;

bool HttpConnection::isHttps() const
{
    return m_core
        && m_core->request.url().scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

bool HttpConnection::tunnelsThroughProxy() const
{
    return isHttps() && m_core->proxy.isSet() && m_core->proxy.kind == ProxySettings::Kind::Http;
}

bool HttpConnection::isReusable() const
{
    return m_phase == Phase::Idle && !m_peerClosed && m_socket
        && m_socket->state() == QAbstractSocket::ConnectedState && m_socket->bytesAvailable() == 0;
}

bool HttpConnection::isHeldBy(const HttpStreamCore* core) const
{
    return m_phase == Phase::Idle && m_holder.lock().get() == core;
}

void HttpConnection::serve(const std::shared_ptr<HttpStreamCore>& core)
{
    m_core = core;
    m_holder.reset();
    m_bodyDone = !core->body;
    if (m_phase == Phase::Idle) {
        sendRequest();
        return;
    }
    connectSocket();
}

void HttpConnection::connectSocket()
{
    m_socket = new QSslSocket(this);
    m_socket->setReadBufferSize(kSocketReadBuffer);
    const ProxySettings& proxy = m_core->proxy;
    if (proxy.isSet() && proxy.kind == ProxySettings::Kind::Socks5)
        m_socket->setProxy(QNetworkProxy(QNetworkProxy::Socks5Proxy, proxy.host, proxy.port));
    else
        m_socket->setProxy(QNetworkProxy::NoProxy);
    connect(m_socket, &QAbstractSocket::connected, this, &HttpConnection::onConnected);
    connect(m_socket, &QIODevice::readyRead, this, &HttpConnection::onReadyRead);
    connect(m_socket, &QAbstractSocket::disconnected, this, &HttpConnection::onDisconnected);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &HttpConnection::onSocketError);
    connect(m_socket, &QIODevice::bytesWritten, this, &HttpConnection::pumpBody);
    connect(m_socket, &QSslSocket::encrypted, this, &HttpConnection::sendRequest);
    connect(m_socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
        for (const QSslError& error : errors)
            m_tlsErrors.append(error.errorString());
    });
    m_phase = Phase::Connecting;
    const QUrl url = m_core->request.url();
    const bool viaHttpProxy = proxy.isSet() && proxy.kind == ProxySettings::Kind::Http;
    // Plain connections are read straight from the socket into our buffers
    // instead of through the socket's own buffer first: a copy less of every
    // body byte. Encrypted ones need the socket's buffer to decrypt from.
    m_unbuffered = !isHttps() && (!proxy.isSet() || viaHttpProxy);
    const QIODevice::OpenMode mode
        = m_unbuffered ? QIODevice::ReadWrite | QIODevice::Unbuffered : QIODevice::ReadWrite;
    if (viaHttpProxy)
        m_socket->connectToHost(proxy.host, proxy.port, mode);
    else
        m_socket->connectToHost(url.host(), quint16(portOf(url)), mode);
}

void HttpConnection::onConnected()
{
    if (tunnelsThroughProxy())
        startTunnel();
    else if (isHttps())
        startTls();
    else
        sendRequest();
}

void HttpConnection::startTunnel()
{
    m_phase = Phase::Tunnel;
    m_parser.reset();
    m_parser.setRequestMethod(QStringLiteral("CONNECT"));
    const QUrl url = m_core->request.url();
    const QByteArray authority
        = url.host(QUrl::FullyEncoded).toLatin1() + ':' + QByteArray::number(portOf(url));
    QByteArray head = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
    const QString credentials = m_core->request.header(QStringLiteral("Proxy-Authorization"));
    if (!credentials.isNull())
        head += "Proxy-Authorization: " + credentials.toLatin1() + "\r\n";
    m_socket->write(head + "\r\n");
}

void HttpConnection::configureTls()
{
    const TlsSettings& tls = m_core->tls;
    m_socket->setPeerVerifyName(m_core->request.url().host());
    if (!tls.validatesCertificateChain)
        m_socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    if (!tls.hasClientIdentity())
        return;
    QSslConfiguration config = m_socket->sslConfiguration();
    config.setLocalCertificateChain(
        QList<QSslCertificate> { tls.clientCertificate } + tls.clientCertificates);
    config.setPrivateKey(tls.clientKey);
    m_socket->setSslConfiguration(config);
}

void HttpConnection::startTls()
{
    m_phase = Phase::Handshake;
    configureTls();
    if (!m_core->tls.validatesCertificateChain)
        m_socket->ignoreSslErrors();
    m_socket->startClientEncryption();
}

void HttpConnection::sendRequest()
{
    if (!m_core)
        return;
    const bool reused = m_phase == Phase::Idle;
    m_phase = Phase::Exchange;
    m_parser.reset();
    m_parser.setRequestMethod(m_core->request.method());
    HttpMessage message = m_core->request;
    const QString length = message.header(QStringLiteral("Content-Length"));
    bool lengthOk = false;
    m_bodyLeft = length.trimmed().toULongLong(&lengthOk);
    m_chunkedBody = m_core->body && !lengthOk;
    if (m_chunkedBody)
        message.setHeader(QStringLiteral("Transfer-Encoding"), QStringLiteral("chunked"));
    const ProxySettings& proxy = m_core->proxy;
    const bool absoluteForm
        = proxy.isSet() && proxy.kind == ProxySettings::Kind::Http && !isHttps();
    const QStringList skip
        = absoluteForm ? QStringList {} : QStringList { QStringLiteral("Proxy-Authorization") };
    m_socket->write(message.serializedHead(absoluteForm, skip));
    m_core->markConnected(reused);
    pumpBody();
    processIncoming();
}

void HttpConnection::pumpBody()
{
    if (m_phase != Phase::Exchange || m_bodyDone || !m_core)
        return;
    char buffer[kBodyChunk];
    while (m_socket->bytesToWrite() < kWriteAhead) {
        qint64 want = kBodyChunk;
        if (!m_chunkedBody)
            want = qint64(std::min<quint64>(m_bodyLeft, quint64(kBodyChunk)));
        const qint64 count = want > 0 ? m_core->body->read(buffer, want) : 0;
        if (count < 0) {
            fail(TransportError::Other, QStringLiteral("The request body could not be read"));
            return;
        }
        if (count == 0) {
            if (m_chunkedBody)
                m_socket->write("0\r\n\r\n");
            m_bodyDone = true;
            return;
        }
        if (m_chunkedBody)
            m_socket->write(QByteArray::number(count, 16) + "\r\n");
        m_socket->write(buffer, count);
        if (m_chunkedBody)
            m_socket->write("\r\n");
        else
            m_bodyLeft -= quint64(count);
        m_core->addBytesWritten(quint64(count));
    }
}

void HttpConnection::onReadyRead()
{
    if (m_phase == Phase::Idle) {
        // A kept connection that speaks unasked cannot be trusted again.
        die();
        return;
    }
    processIncoming();
}

void HttpConnection::resumeReading()
{
    processIncoming();
    if (m_peerClosed)
        handleEndOfConnection();
}

void HttpConnection::processIncoming()
{
    while ((m_phase == Phase::Exchange || m_phase == Phase::Tunnel) && m_core
        && (m_unbuffered || m_socket->bytesAvailable() > 0)) {
        {
            const std::lock_guard lock(m_core->mutex);
            if (m_core->readPaused)
                return;
        }
        QByteArray& buffer = freeReadBuffer();
        const qint64 count = m_socket->read(buffer.data(), buffer.size());
        // Cut to what arrived, so that a piece that is all body is a whole
        // buffer the reader can take as it is; the capacity stays.
        buffer.resize(qsizetype(std::max<qint64>(count, 0)));
        if (count < 0 && m_unbuffered) {
            // Reading the socket directly is how its end shows.
            m_peerClosed = true;
            handleEndOfConnection();
            return;
        }
        if (count > 0)
            m_core->addBytesReceived(quint64(count));
        if (count <= 0 || !parseIncoming(buffer, qsizetype(count)))
            return;
    }
}

// False once the exchange is over, failed, or turned into a tunnel.
bool HttpConnection::parseIncoming(const QByteArray& bytes, qsizetype size)
{
    qsizetype offset = 0;
    while (offset < size && m_core) {
        const bool hadHead = m_parser.hasHead();
        const HttpResponseParser::Step step
            = m_parser.next(bytes.constData() + offset, size - offset);
        if (m_parser.hasError()) {
            fail(TransportError::Protocol, m_parser.errorString());
            return false;
        }
        if (!hadHead && m_parser.hasHead())
            handleHead();
        if (step.bodyLength > 0)
            m_core->appendBody(bytes, offset + step.bodyOffset, step.bodyLength);
        offset += step.used;
        if (!m_parser.isComplete())
            continue;
        if (m_phase == Phase::Tunnel) {
            startTls();
            return false;
        }
        if (offset < size)
            m_peerClosed = true; // bytes after the end: the connection is not reused
        finishExchange();
        return false;
    }
    return true;
}

QByteArray& HttpConnection::freeReadBuffer()
{
    // A buffer nobody else holds any more has been read to the end.
    for (QByteArray& buffer : m_readBuffers) {
        if (buffer.isDetached()) {
            buffer.resize(kReadChunk);
            return buffer;
        }
    }
    if (m_readBuffers.size() < kReadBuffers)
        return m_readBuffers.emplace_back(kReadChunk, Qt::Uninitialized);
    // Every buffer still holds unread bytes: the stream keeps the old one alive.
    QByteArray& replaced = m_readBuffers[m_nextRecycled];
    m_nextRecycled = (m_nextRecycled + 1) % m_readBuffers.size();
    replaced = QByteArray(kReadChunk, Qt::Uninitialized);
    return replaced;
}

void HttpConnection::handleHead()
{
    if (m_phase == Phase::Tunnel) {
        if (m_parser.response().statusCode() / 100 == 2)
            return;
        // The proxy refused the tunnel: its answer (a 407 asking for proxy
        // credentials, say) is the stream's response.
        m_tunnelFailed = true;
        m_phase = Phase::Exchange;
        m_core->markConnected(false);
    }
    m_core->setResponse(m_parser.response());
}

void HttpConnection::onDisconnected()
{
    m_peerClosed = true;
    if (m_phase == Phase::Idle) {
        die();
        return;
    }
    if (m_phase == Phase::Exchange || m_phase == Phase::Tunnel) {
        processIncoming();
        handleEndOfConnection();
        return;
    }
    const TransportError category
        = m_phase == Phase::Handshake ? TransportError::Tls : TransportError::ConnectionLost;
    fail(category, QStringLiteral("The connection was closed by the server"));
}

void HttpConnection::onSocketError(QAbstractSocket::SocketError socketError)
{
    if (m_phase == Phase::Dead)
        return;
    if (m_phase == Phase::Idle) {
        die();
        return;
    }
    const bool exchanging = m_phase == Phase::Exchange || m_phase == Phase::Tunnel;
    if (socketError == QAbstractSocket::RemoteHostClosedError && exchanging)
        return; // onDisconnected reads what is left, then decides
    QString description = m_socket->errorString();
    if (!m_tlsErrors.isEmpty())
        description += QStringLiteral(" (") + m_tlsErrors.join(QStringLiteral("; ")) + u')';
    TransportError category = categoryFor(socketError);
    if (m_phase == Phase::Handshake && category == TransportError::ConnectionLost)
        category = TransportError::Tls;
    fail(category, description);
}

void HttpConnection::handleEndOfConnection()
{
    if (!m_core || (m_phase != Phase::Exchange && m_phase != Phase::Tunnel))
        return;
    if (m_socket->bytesAvailable() > 0)
        return; // still draining; resumeReading() comes back here
    if (m_phase == Phase::Exchange && m_parser.finish()) {
        finishExchange();
        return;
    }
    const QString why = m_phase == Phase::Tunnel
        ? QStringLiteral("The proxy closed the connection before the tunnel was open")
        : m_parser.errorString();
    fail(TransportError::ConnectionLost, why);
}

void HttpConnection::finishExchange()
{
    const bool reusable = m_core->persistent && !m_poolKey.isEmpty() && !m_tunnelFailed
        && m_bodyDone && !m_peerClosed && m_parser.allowsReuse()
        && m_socket->state() == QAbstractSocket::ConnectedState;
    const std::shared_ptr<HttpStreamCore> core = std::move(m_core);
    m_core.reset();
    core->connection = nullptr;
    if (!reusable) {
        die();
        core->markEnded();
        return;
    }
    m_holder = core;
    m_phase = Phase::Idle;
    m_parser.reset();
    emit becameIdle(this);
    core->markEnded();
}

void HttpConnection::fail(TransportError category, const QString& description)
{
    if (m_core) {
        m_core->markFailed(HttpError::transport(category, description));
        m_core->connection = nullptr;
        m_core.reset();
    }
    die();
}

void HttpConnection::abandon()
{
    m_core.reset();
    die();
}

void HttpConnection::die()
{
    if (m_phase == Phase::Dead)
        return;
    m_phase = Phase::Dead;
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    emit died(this);
    deleteLater();
}

// --- pool ------------------------------------------------------------------

HttpConnectionPool::HttpConnectionPool(QObject* parent)
    : QObject(parent)
{ }

HttpConnectionPool* HttpConnectionPool::instance()
{
    // Network thread only: created there, parented to the thread's context so
    // that it and every connection die with the thread's loop.
    static QPointer<HttpConnectionPool> pool;
    if (!pool)
        pool = new HttpConnectionPool(NetworkThread::context());
    return pool;
}

QString HttpConnectionPool::poolKeyFor(const HttpStreamCore& core)
{
    const QVariant id = core.properties.value(QLatin1String(HttpReadStream::streamIdProperty));
    if (!core.persistent || !id.isValid() || id.isNull())
        return {};
    const QUrl url = core.request.url();
    return id.toString() + u'|' + url.scheme().toLower() + u'|' + url.host().toLower() + u'|'
        + QString::number(portOf(url)) + u'|' + core.proxy.poolKey() + u'|' + core.tls.poolKey();
}

HttpConnection* HttpConnectionPool::takeIdle(const QString& key)
{
    for (qsizetype i = m_idle.size() - 1; i >= 0; --i) {
        HttpConnection* connection = m_idle[i];
        if (!connection || connection->poolKey() != key)
            continue;
        m_idle.removeAt(i);
        if (connection->isReusable())
            return connection;
        connection->abandon();
    }
    return nullptr;
}

void HttpConnectionPool::open(const std::shared_ptr<HttpStreamCore>& core)
{
    {
        const std::lock_guard lock(core->mutex);
        if (core->status == HttpReadStream::Status::Closed)
            return; // closed before the network thread got to it
    }
    const QString key = poolKeyFor(*core);
    HttpConnection* connection = key.isEmpty() ? nullptr : takeIdle(key);
    if (!connection) {
        connection = new HttpConnection(key, this);
        connect(connection, &HttpConnection::becameIdle, this,
            [this](HttpConnection* idle) { m_idle.append(idle); });
        connect(connection, &HttpConnection::died, this,
            [this](HttpConnection* dead) { m_idle.removeAll(dead); });
    }
    core->connection = connection;
    connection->serve(core);
}

void HttpConnectionPool::close(const std::shared_ptr<HttpStreamCore>& core)
{
    if (HttpConnection* connection = core->connection) {
        core->connection = nullptr;
        connection->abandon();
        return;
    }
    const QList<QPointer<HttpConnection>> idle = m_idle;
    for (HttpConnection* connection : idle) {
        if (connection && connection->isHeldBy(core.get()))
            connection->abandon();
    }
}

void HttpConnectionPool::resume(const std::shared_ptr<HttpStreamCore>& core)
{
    if (HttpConnection* connection = core->connection)
        connection->resumeReading();
}

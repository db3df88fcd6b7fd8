#include "TestHttpServer.h"

#include <QMap>
#include <QMutex>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>

namespace {

// Ends the connection with a reset instead of an orderly close.
void resetConnection(QAbstractSocket* socket)
{
    socket->flush();
    const linger hard { 1, 0 };
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    socket->abort();
}

// Reads "size CRLF data CRLF ... 0 CRLF CRLF"; false while incomplete.
bool decodeChunked(const QByteArray& in, qsizetype from, QByteArray& body, qsizetype& end)
{
    qsizetype at = from;
    for (int guard = 0; guard < 100000; ++guard) {
        const qsizetype lineEnd = in.indexOf("\r\n", at);
        if (lineEnd < 0)
            return false;
        bool ok = false;
        const qsizetype size
            = in.mid(at, lineEnd - at).split(';').first().trimmed().toLongLong(&ok, 16);
        at = lineEnd + 2;
        if (size == 0) {
            const qsizetype trailerEnd = in.indexOf("\r\n", at);
            if (trailerEnd < 0)
                return false;
            end = trailerEnd + 2;
            return true;
        }
        if (!ok || in.size() < at + size + 2)
            return false;
        body += in.mid(at, size);
        at += size + 2;
    }
    return false;
}

} // namespace

QByteArray TestRequest::header(const QByteArray& name) const
{
    for (const auto& field : headers) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            return field.second;
    }
    return {};
}

TestReply TestReply::text(const QByteArray& body, int status)
{
    TestReply reply;
    reply.status = status;
    reply.body = body;
    reply.headers = { { "Content-Type", "text/plain" } };
    return reply;
}

struct TestHttpServer::Core {
    mutable QMutex mutex;
    QMap<QString, Handler> routes;
    QList<TestRequest> log;
    int connections = 0;
    std::optional<TestTlsIdentity> tls;
    std::optional<QSslCertificate> clientAuthority;
    quint16 port = 0;
    QThread thread;
    QObject* home = nullptr;

    TestReply answer(const TestRequest& request)
    {
        const QString path = QUrl(QString::fromLatin1(request.target)).path();
        QMutexLocker lock(&mutex);
        log.append(request);
        const auto route = routes.constFind(path);
        if (route == routes.constEnd())
            return TestReply::text("no such path", 404);
        const Handler handler = route.value();
        lock.unlock();
        return handler(request);
    }
};

namespace {

// One accepted connection: reads requests one after the other and answers
// each as its path is scripted.
class ServerConnection : public QObject {
public:
    ServerConnection(QSslSocket* socket, int number, TestHttpServer::Core* core)
        : m_socket(socket)
        , m_number(number)
        , m_core(core)
    {
        socket->setParent(this);
        connect(socket, &QIODevice::readyRead, this, &ServerConnection::onReadyRead);
        connect(socket, &QAbstractSocket::disconnected, this, &QObject::deleteLater);
        connect(socket, &QAbstractSocket::errorOccurred, this, [this] { m_socket->abort(); });
    }

private:
    void onReadyRead()
    {
        m_in += m_socket->readAll();
        if (m_stalled || m_in.size() > 1024 * 1024)
            return;
        TestRequest request;
        while (!m_stalled && takeRequest(request)) {
            if (!send(m_core->answer(request), request.method == "HEAD"))
                return;
        }
    }

    bool takeRequest(TestRequest& request)
    {
        const qsizetype headEnd = m_in.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return false;
        const QList<QByteArray> lines = m_in.left(headEnd).split('\n');
        const QList<QByteArray> words = lines.first().trimmed().split(' ');
        request = TestRequest {};
        request.method = words.value(0);
        request.target = words.value(1);
        request.version = words.value(2);
        request.connection = m_number;
        request.clientCertificate
            = m_socket->peerCertificate().subjectInfo(QSslCertificate::CommonName).value(0);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            request.headers.append(
                { lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed() });
        }
        qsizetype end = headEnd + 4;
        if (request.header("Transfer-Encoding").contains("chunked")) {
            if (!decodeChunked(m_in, end, request.body, end))
                return false;
        } else {
            const qsizetype length = request.header("Content-Length").toLongLong();
            if (m_in.size() < end + length)
                return false;
            request.body = m_in.mid(end, length);
            end += length;
        }
        m_in.remove(0, end);
        return true;
    }

    static QByteArray framedBody(const TestReply& reply, const QByteArray& part, bool whole)
    {
        if (reply.framing != TestReply::Framing::Chunked)
            return part;
        QByteArray out;
        // Several chunks, so that chunk boundaries are exercised.
        for (qsizetype at = 0; at < part.size(); at += 7)
            out += QByteArray::number(std::min<qsizetype>(7, part.size() - at), 16) + "\r\n"
                + part.mid(at, 7) + "\r\n";
        if (whole)
            out += "0\r\nX-Trailer: done\r\n\r\n";
        return out;
    }

    static QByteArray head(const TestReply& reply)
    {
        QByteArray out;
        for (const int status : reply.interimStatuses)
            out += "HTTP/1.1 " + QByteArray::number(status) + " Continue\r\n\r\n";
        out += "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reply.reason + "\r\n";
        for (const auto& field : reply.headers)
            out += field.first + ": " + field.second + "\r\n";
        if (reply.framing == TestReply::Framing::Length)
            out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        else if (reply.framing == TestReply::Framing::Chunked)
            out += "Transfer-Encoding: chunked\r\n";
        if (reply.closeAfter || reply.framing == TestReply::Framing::UntilClose)
            out += "Connection: close\r\n";
        return out + "\r\n";
    }

    // False when the connection is finished with, or busy trickling.
    bool send(const TestReply& reply, bool headOnly)
    {
        if (!reply.raw.isNull()) {
            m_socket->write(reply.raw);
            m_socket->disconnectFromHost();
            return false;
        }
        qint64 sendBytes = reply.body.size();
        if (reply.cutAfter >= 0)
            sendBytes = std::min(sendBytes, reply.cutAfter);
        if (reply.stallAfter >= 0)
            sendBytes = std::min(sendBytes, reply.stallAfter);
        const bool whole = sendBytes == reply.body.size();
        const QByteArray wire = head(reply)
            + (headOnly ? QByteArray() : framedBody(reply, reply.body.left(sendBytes), whole));
        if (reply.trickleMs > 0) {
            trickle(wire, reply);
            return false;
        }
        m_socket->write(wire);
        return afterSend(reply);
    }

    // Sends `wire` one byte at a time; later requests wait until it is out.
    void trickle(const QByteArray& wire, const TestReply& reply)
    {
        m_stalled = true;
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto* timer = new QTimer(this);
        connect(
            timer, &QTimer::timeout, this, [this, timer, wire, reply, at = qsizetype(0)]() mutable {
                m_socket->write(wire.mid(at++, 1));
                if (at < wire.size())
                    return;
                timer->deleteLater();
                m_stalled = false;
                if (afterSend(reply))
                    onReadyRead();
            });
        timer->start(reply.trickleMs);
    }

    // What follows a reply that is out: false when the connection is done.
    bool afterSend(const TestReply& reply)
    {
        if (reply.cutAfter >= 0) {
            if (reply.reset)
                resetConnection(m_socket);
            else
                m_socket->disconnectFromHost();
            return false;
        }
        if (reply.stallAfter >= 0) {
            m_stalled = true;
            return false;
        }
        if (reply.closeAfter || reply.framing == TestReply::Framing::UntilClose) {
            m_socket->disconnectFromHost();
            return false;
        }
        return true;
    }

    QSslSocket* m_socket;
    int m_number;
    TestHttpServer::Core* m_core;
    QByteArray m_in;
    bool m_stalled = false;
};

class Listener : public QTcpServer {
public:
    Listener(TestHttpServer::Core* core, QObject* parent)
        : QTcpServer(parent)
        , m_core(core)
    { }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QSslSocket;
        socket->setSocketDescriptor(descriptor);
        int number = 0;
        {
            const QMutexLocker lock(&m_core->mutex);
            number = ++m_core->connections;
        }
        // Deleted when the client goes, or with the listener.
        (new ServerConnection(socket, number, m_core))->setParent(this);
        if (!m_core->tls)
            return;
        socket->setLocalCertificate(m_core->tls->certificate);
        socket->setPrivateKey(m_core->tls->key);
        if (m_core->clientAuthority) {
            QSslConfiguration config = socket->sslConfiguration();
            config.setCaCertificates({ *m_core->clientAuthority });
            socket->setSslConfiguration(config);
            socket->setPeerVerifyMode(QSslSocket::VerifyPeer);
        }
        socket->startServerEncryption();
    }

private:
    TestHttpServer::Core* m_core;
};

} // namespace

TestHttpServer::TestHttpServer()
    : m_core(std::make_shared<Core>())
{ }

TestHttpServer::~TestHttpServer()
{
    if (!m_core->home)
        return;
    QMetaObject::invokeMethod(
        m_core->home, [home = m_core->home] { delete home; }, Qt::BlockingQueuedConnection);
    m_core->thread.quit();
    m_core->thread.wait();
}

bool TestHttpServer::start(
    std::optional<TestTlsIdentity> tls, std::optional<QSslCertificate> clientAuthority)
{
    m_core->tls = std::move(tls);
    m_core->clientAuthority = std::move(clientAuthority);
    m_core->thread.setObjectName(QStringLiteral("test-http-server"));
    m_core->thread.start();
    m_core->home = new QObject;
    m_core->home->moveToThread(&m_core->thread);
    bool listening = false;
    QMetaObject::invokeMethod(
        m_core->home,
        [this, &listening] {
            auto* listener = new Listener(m_core.get(), m_core->home);
            listening = listener->listen(QHostAddress::LocalHost, 0);
            m_core->port = listener->serverPort();
        },
        Qt::BlockingQueuedConnection);
    return listening;
}

quint16 TestHttpServer::port() const
{
    return m_core->port;
}

QUrl TestHttpServer::url(const QString& path) const
{
    const QString scheme = m_core->tls ? QStringLiteral("https") : QStringLiteral("http");
    return QUrl(scheme + QStringLiteral("://127.0.0.1:") + QString::number(m_core->port) + path);
}

void TestHttpServer::route(const QString& path, const TestReply& reply)
{
    route(path, [reply](const TestRequest&) { return reply; });
}

void TestHttpServer::route(const QString& path, Handler handler)
{
    const QMutexLocker lock(&m_core->mutex);
    m_core->routes.insert(path, std::move(handler));
}

QList<TestRequest> TestHttpServer::requests() const
{
    const QMutexLocker lock(&m_core->mutex);
    return m_core->log;
}

int TestHttpServer::connectionCount() const
{
    const QMutexLocker lock(&m_core->mutex);
    return m_core->connections;
}

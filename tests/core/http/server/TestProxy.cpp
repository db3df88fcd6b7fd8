#include "TestProxy.h"

#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>

struct TestProxy::Core {
    Kind kind = Kind::Http;
    mutable QMutex mutex;
    QStringList log;
    QByteArray authorization;
    quint16 port = 0;
    QThread thread;
    QObject* home = nullptr;

    void note(const QString& line)
    {
        const QMutexLocker lock(&mutex);
        log.append(line);
    }
};

namespace {

bool isLoopback(const QString& host)
{
    return host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost")
        || host == QLatin1String("::1");
}

// One client of the proxy: first the proxy's own handshake, then bytes are
// passed both ways until either side closes.
class ProxyConnection : public QObject {
public:
    ProxyConnection(QTcpSocket* client, TestProxy::Core* core, QObject* parent)
        : QObject(parent)
        , m_client(client)
        , m_core(core)
    {
        client->setParent(this);
        connect(client, &QIODevice::readyRead, this, &ProxyConnection::onClientData);
        connect(client, &QAbstractSocket::disconnected, this, &ProxyConnection::finish);
    }

private:
    void onClientData()
    {
        m_in += m_client->readAll();
        if (m_piping) {
            m_origin->write(m_in);
            m_in.clear();
        } else if (!m_connecting) {
            m_core->kind == TestProxy::Kind::Http ? handleHttp() : handleSocks();
        }
    }

    void handleHttp()
    {
        const qsizetype headEnd = m_in.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        QList<QByteArray> lines = m_in.left(headEnd).split('\n');
        m_in.remove(0, headEnd + 4);
        const QList<QByteArray> words = lines.takeFirst().trimmed().split(' ');
        const QByteArray method = words.value(0);
        const QByteArray target = words.value(1);
        QByteArray credentials;
        QByteArray forwarded;
        for (const QByteArray& line : lines) {
            const QByteArray name = line.left(line.indexOf(':')).trimmed();
            if (name.compare("Proxy-Authorization", Qt::CaseInsensitive) == 0)
                credentials = line.mid(line.indexOf(':') + 1).trimmed();
            else
                forwarded += line.trimmed() + "\r\n";
        }
        const QString entry = QString::fromLatin1(method + ' ' + target);
        if (!m_core->authorization.isEmpty() && credentials != m_core->authorization) {
            m_core->note(QStringLiteral("407 ") + entry);
            m_client->write("HTTP/1.1 407 Proxy Authentication Required\r\n"
                            "Proxy-Authenticate: Basic realm=\"test\"\r\nContent-Length: 4\r\n"
                            "Connection: close\r\n\r\ndeny");
            m_client->disconnectFromHost();
            return;
        }
        if (method == "CONNECT") {
            const qsizetype colon = target.lastIndexOf(':');
            open(entry, QString::fromLatin1(target.left(colon)),
                quint16(target.mid(colon + 1).toUInt()),
                "HTTP/1.1 200 Connection established\r\n\r\n", {});
            return;
        }
        const QUrl url(QString::fromLatin1(target));
        QByteArray path = url.path(QUrl::FullyEncoded).toLatin1();
        if (url.hasQuery())
            path += '?' + url.query(QUrl::FullyEncoded).toLatin1();
        const QByteArray head = method + ' ' + (path.isEmpty() ? "/" : path) + ' ' + words.value(2)
            + "\r\n" + forwarded + "\r\n";
        open(entry, url.host(), quint16(url.port(80)), {}, head + m_in);
        m_in.clear();
    }

    void handleSocks()
    {
        if (!m_greeted) {
            if (m_in.size() < 2 || m_in.size() < 2 + quint8(m_in[1]))
                return;
            m_in.remove(0, 2 + quint8(m_in[1]));
            m_client->write(QByteArray("\x05\x00", 2));
            m_greeted = true;
        }
        if (m_in.size() < 5)
            return;
        const quint8 type = quint8(m_in[3]);
        QString host;
        qsizetype at = 4;
        if (type == 1 && m_in.size() >= 10) {
            host = QStringLiteral("%1.%2.%3.%4")
                       .arg(quint8(m_in[4]))
                       .arg(quint8(m_in[5]))
                       .arg(quint8(m_in[6]))
                       .arg(quint8(m_in[7]));
            at = 8;
        } else if (type == 3 && m_in.size() >= 5 + quint8(m_in[4]) + 2) {
            host = QString::fromLatin1(m_in.mid(5, quint8(m_in[4])));
            at = 5 + quint8(m_in[4]);
        } else {
            return; // incomplete (or an address type we do not take: the client will time out)
        }
        const quint16 port = quint16((quint8(m_in[at]) << 8) | quint8(m_in[at + 1]));
        m_in.remove(0, at + 2);
        open(QStringLiteral("SOCKS5 %1:%2").arg(host).arg(port), host, port,
            QByteArray("\x05\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10), {});
    }

    void open(const QString& entry, const QString& host, quint16 port, const QByteArray& toClient,
        const QByteArray& toOrigin)
    {
        if (!isLoopback(host)) {
            m_core->note(QStringLiteral("REFUSED ") + entry);
            m_client->write(m_core->kind == TestProxy::Kind::Http
                    ? QByteArray(
                        "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                    : QByteArray("\x05\x02\x00\x01\x00\x00\x00\x00\x00\x00", 10));
            m_client->disconnectFromHost();
            return;
        }
        m_core->note(entry);
        m_connecting = true;
        m_origin = new QTcpSocket(this);
        connect(m_origin, &QAbstractSocket::connected, this, [this, toClient, toOrigin] {
            m_client->write(toClient);
            m_origin->write(toOrigin + m_in);
            m_in.clear();
            m_piping = true;
        });
        connect(m_origin, &QIODevice::readyRead, this,
            [this] { m_client->write(m_origin->readAll()); });
        connect(m_origin, &QAbstractSocket::disconnected, this, &ProxyConnection::finish);
        connect(m_origin, &QAbstractSocket::errorOccurred, this, &ProxyConnection::finish);
        m_origin->connectToHost(
            host == QLatin1String("localhost") ? QStringLiteral("127.0.0.1") : host, port);
    }

    void finish()
    {
        if (m_origin && m_origin->state() == QAbstractSocket::ConnectedState) {
            m_client->write(m_origin->readAll());
            m_origin->disconnectFromHost();
        }
        if (m_client->state() == QAbstractSocket::ConnectedState)
            m_client->disconnectFromHost();
    }

    QTcpSocket* m_client;
    QTcpSocket* m_origin = nullptr;
    TestProxy::Core* m_core;
    QByteArray m_in;
    bool m_greeted = false;
    bool m_connecting = false;
    bool m_piping = false;
};

} // namespace

TestProxy::TestProxy(Kind kind)
    : m_core(std::make_shared<Core>())
{
    m_core->kind = kind;
}

TestProxy::~TestProxy()
{
    if (!m_core->home)
        return;
    QMetaObject::invokeMethod(
        m_core->home, [home = m_core->home] { delete home; }, Qt::BlockingQueuedConnection);
    m_core->thread.quit();
    m_core->thread.wait();
}

void TestProxy::requireAuthorization(const QByteArray& value)
{
    m_core->authorization = value;
}

bool TestProxy::start()
{
    m_core->thread.start();
    m_core->home = new QObject;
    m_core->home->moveToThread(&m_core->thread);
    bool listening = false;
    QMetaObject::invokeMethod(
        m_core->home,
        [this, &listening] {
            auto* server = new QTcpServer(m_core->home);
            QObject::connect(server, &QTcpServer::newConnection, server, [this, server] {
                while (QTcpSocket* client = server->nextPendingConnection())
                    new ProxyConnection(client, m_core.get(), server);
            });
            listening = server->listen(QHostAddress::LocalHost, 0);
            m_core->port = server->serverPort();
        },
        Qt::BlockingQueuedConnection);
    return listening;
}

quint16 TestProxy::port() const
{
    return m_core->port;
}

QStringList TestProxy::log() const
{
    const QMutexLocker lock(&m_core->mutex);
    return m_core->log;
}

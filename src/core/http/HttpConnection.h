#pragma once

#include "http/HttpResponseParser.h"
#include "http/HttpStreamCore.h"

#include <QAbstractSocket>
#include <QList>
#include <QObject>
#include <QPointer>

#include <vector>

class QSslSocket;

// One connection to a server (or through a proxy to it), serving one read
// stream at a time. Lives on the network thread and is used only there.
class HttpConnection : public QObject {
    Q_OBJECT
public:
    HttpConnection(QString poolKey, QObject* parent);
    ~HttpConnection() override;

    QString poolKey() const { return m_poolKey; }
    // Idle, still connected, and nothing unexpected arrived meanwhile.
    bool isReusable() const;
    bool isHeldBy(const HttpStreamCore* core) const;

    void serve(const std::shared_ptr<HttpStreamCore>& core);
    // The stream was closed before its exchange ended: the connection cannot
    // be trusted any longer.
    void abandon();
    void resumeReading();

signals:
    // The exchange ended and the connection may serve another stream.
    void becameIdle(HttpConnection* connection);
    // The connection is closed for good and will be deleted.
    void died(HttpConnection* connection);

private:
    enum class Phase { Fresh, Connecting, Tunnel, Handshake, Exchange, Idle, Dead };

    void connectSocket();
    void configureTls();
    void onConnected();
    void startTunnel();
    void startTls();
    void sendRequest();
    void pumpBody();
    void onReadyRead();
    void processIncoming();
    bool parseIncoming(const QByteArray& bytes, qsizetype size);
    QByteArray& freeReadBuffer();
    void handleHead();
    void onDisconnected();
    void onSocketError(QAbstractSocket::SocketError socketError);
    void handleEndOfConnection();
    void finishExchange();
    void fail(TransportError category, const QString& description);
    void die();
    bool tunnelsThroughProxy() const;
    bool isHttps() const;

    QString m_poolKey;
    QSslSocket* m_socket = nullptr;
    Phase m_phase = Phase::Fresh;
    std::shared_ptr<HttpStreamCore> m_core;
    std::weak_ptr<HttpStreamCore> m_holder;
    HttpResponseParser m_parser;
    // The socket is read into these; body bytes stay in them, shared with the
    // stream, until they are read from it.
    std::vector<QByteArray> m_readBuffers;
    size_t m_nextRecycled = 0;
    bool m_tunnelFailed = false;
    bool m_bodyDone = true;
    bool m_chunkedBody = false;
    quint64 m_bodyLeft = 0;
    bool m_peerClosed = false;
    // Read from the socket itself rather than from its buffer.
    bool m_unbuffered = false;
    QStringList m_tlsErrors;
};

// The connections kept open between exchanges, found again by the pool key of
// a stream: its "NXStreamID" property with its scheme, host, port, proxy and
// TLS settings. Network thread only.
class HttpConnectionPool : public QObject {
    Q_OBJECT
public:
    static HttpConnectionPool* instance();

    void open(const std::shared_ptr<HttpStreamCore>& core);
    void close(const std::shared_ptr<HttpStreamCore>& core);
    void resume(const std::shared_ptr<HttpStreamCore>& core);
    int idleCount() const { return int(m_idle.size()); }

private:
    explicit HttpConnectionPool(QObject* parent);
    static QString poolKeyFor(const HttpStreamCore& core);
    HttpConnection* takeIdle(const QString& key);

    QList<QPointer<HttpConnection>> m_idle;
};

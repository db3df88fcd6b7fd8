#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

// What the test server was asked.
struct TestRequest {
    QByteArray method;
    QByteArray target; // as it stood in the request line (origin or absolute form)
    QByteArray version;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    int connection = 0; // 1 for the first connection the server accepted, ...
    QString clientCertificate; // common name of the client's certificate, if any

    QByteArray header(const QByteArray& name) const;
};

// What the test server answers on a path.
struct TestReply {
    enum class Framing { Length, Chunked, UntilClose };

    int status = 200;
    QByteArray reason = "OK";
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    Framing framing = Framing::Length;
    QList<int> interimStatuses; // 1xx answers sent first
    qint64 cutAfter = -1; // send that many body bytes, then close (or reset)
    bool reset = false; // end a cut with a reset instead of a close
    qint64 stallAfter = -1; // send that many body bytes, then stay silent
    bool closeAfter = false; // "Connection: close" and close after the reply
    int trickleMs = 0; // send the reply, head included, one byte every that many ms
    QByteArray raw; // sent as it stands instead, then the connection closes

    static TestReply text(const QByteArray& body, int status = 200);
};

struct TestTlsIdentity {
    QSslCertificate certificate;
    QSslKey key;
};

// A small HTTP/1.1 server on 127.0.0.1 with an ephemeral port, on a thread of
// its own, answering each path as scripted. It keeps connections alive between
// requests (unless told otherwise), counts the connections it accepted and
// logs every request. An answer to HEAD has its head only. With a TLS identity it speaks https
// only; with a client authority it requires a client certificate signed by it.
class TestHttpServer {
public:
    using Handler = std::function<TestReply(const TestRequest&)>;

    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    bool start(std::optional<TestTlsIdentity> tls = std::nullopt,
        std::optional<QSslCertificate> clientAuthority = std::nullopt);
    quint16 port() const;
    QUrl url(const QString& path) const;

    void route(const QString& path, const TestReply& reply);
    void route(const QString& path, Handler handler);

    QList<TestRequest> requests() const;
    int connectionCount() const;

    struct Core;

private:
    std::shared_ptr<Core> m_core;
};

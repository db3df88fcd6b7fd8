#pragma once

#include <QByteArray>
#include <QStringList>

#include <memory>

// A forward proxy for tests on 127.0.0.1 with an ephemeral port, on a thread
// of its own: an HTTP proxy (absolute-form requests are passed on to the
// server, CONNECT opens a tunnel) or a SOCKS5 proxy (no authentication). It
// only ever connects to loopback targets and logs what it did:
// "GET http://127.0.0.1:8080/a", "CONNECT 127.0.0.1:8443",
// "SOCKS5 localhost:8080", "REFUSED ...".
class TestProxy {
public:
    enum class Kind { Http, Socks5 };

    explicit TestProxy(Kind kind);
    ~TestProxy();
    TestProxy(const TestProxy&) = delete;
    TestProxy& operator=(const TestProxy&) = delete;

    // HTTP kind: requests without this "Proxy-Authorization" value get a 407.
    void requireAuthorization(const QByteArray& value);
    bool start();
    quint16 port() const;
    QStringList log() const;

    struct Core;

private:
    std::shared_ptr<Core> m_core;
};

#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

// How a read stream checks the server's certificate and proves its own
// identity on an https connection.
struct TlsSettings {
    // Relaxed mode accepts any certificate: expired, self-signed, of an unknown
    // root, or issued to another name.
    bool validatesCertificateChain = true;
    // The client identity (certificate and its private key), and further
    // certificates sent with it (its chain).
    QSslCertificate clientCertificate;
    QSslKey clientKey;
    QList<QSslCertificate> clientCertificates;

    bool hasClientIdentity() const { return !clientCertificate.isNull() && !clientKey.isNull(); }
    // Distinguishes connections made with different settings in the pool.
    QString poolKey() const;
};

// The proxy a read stream goes through. An HTTP proxy gets plain requests in
// absolute form and a CONNECT tunnel for https; a SOCKS5 proxy carries the
// connection (the host name is resolved by the proxy).
struct ProxySettings {
    enum class Kind { None, Http, Socks5 };
    Kind kind = Kind::None;
    QString host;
    quint16 port = 0;

    bool isSet() const { return kind != Kind::None && !host.isEmpty() && port != 0; }
    QString poolKey() const;
};

#pragma once

#include "http/HttpTransportSettings.h"

#include <QProcessEnvironment>
#include <QString>
#include <QUrl>

// The proxy the environment asks for: http_proxy for http URLs, https_proxy
// for https URLs (lower case first, then upper case), unless no_proxy names
// the host. A value is "host:port" or a URL with the scheme http, socks5 or
// socks5h and possibly a user name and password.
namespace SystemProxy {

struct EnvironmentProxy {
    ProxySettings proxy; // kind None: connect directly
    QString user;
    QString password;
};

EnvironmentProxy proxyForUrl(const QUrl& url,
    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

// True when the comma- or space-separated no_proxy list covers `host` on
// `port`: "*", a domain (with or without a leading dot) the host is or lies
// in, an exact address or a subnet ("10.0.0.0/8"); an entry may be limited
// to one port ("example.org:8080").
bool bypasses(const QString& noProxy, const QString& host, int port);

} // namespace SystemProxy

#pragma once

#include "http/HttpHeaders.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

// One HTTP/1.x message: a request (method, URL, version, header fields) or a
// response (version, status code, status line, header fields). Bodies are not
// part of it: a request's body is streamed by the read stream, a response's
// body is read from it.
class HttpMessage {
public:
    static HttpMessage request(const QString& method, const QUrl& url,
        const QString& version = QStringLiteral("HTTP/1.1"));
    static HttpMessage response(const QString& version, int statusCode, const QString& reason);

    bool isRequest() const { return m_isRequest; }
    QString method() const { return m_method; }
    QUrl url() const { return m_url; }
    QString version() const { return m_version; }
    // "HTTP/1.0" is 10, "HTTP/1.1" is 11.
    int versionNumber() const;

    int statusCode() const { return m_statusCode; }
    QString reasonPhrase() const { return m_reason; }
    // The whole status line, version included: "HTTP/1.1 404 Not Found".
    QString statusLine() const;

    HttpHeaders& headers() { return m_headers; }
    const HttpHeaders& headers() const { return m_headers; }
    // Replaces the field (the way a request header is set once).
    void setHeader(const QString& name, const QString& value) { m_headers.set(name, value); }
    QString header(const QString& name) const { return m_headers.value(name); }

    // Request side, for the wire.
    // The "Host" value: host, and ":port" unless the scheme's default port.
    QString hostHeaderValue() const;
    // Absolute form ("http://host:port/path?query") is what an HTTP proxy
    // expects; origin form ("/path?query") is for the server itself.
    QByteArray requestTarget(bool absoluteForm) const;
    // Request line, "Host" (unless set by the caller), the fields and the
    // blank line. Fields named in `skip` are left out.
    QByteArray serializedHead(bool absoluteForm, const QStringList& skip = {}) const;
    // Empty when the message can go on the wire; else why not (a method that is
    // not a token, a name or value with a line break, no host).
    QString wireProblem() const;

private:
    bool m_isRequest = false;
    QString m_method;
    QUrl m_url;
    QString m_version;
    int m_statusCode = 0;
    QString m_reason;
    HttpHeaders m_headers;
};

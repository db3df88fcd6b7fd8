#include "http/HttpMessage.h"

namespace {

bool isTokenChar(QChar c)
{
    static const QString extra = QStringLiteral("!#$%&'*+-.^_`|~");
    return c.unicode() < 128 && (c.isLetterOrNumber() || extra.contains(c));
}

bool isToken(const QString& text)
{
    return !text.isEmpty() && std::all_of(text.cbegin(), text.cend(), isTokenChar);
}

bool hasLineBreakOrNul(const QString& text)
{
    return text.contains(u'\r') || text.contains(u'\n') || text.contains(QChar(0));
}

int defaultPort(const QString& scheme)
{
    return scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80;
}

} // namespace

HttpMessage HttpMessage::request(const QString& method, const QUrl& url, const QString& version)
{
    HttpMessage message;
    message.m_isRequest = true;
    message.m_method = method;
    message.m_url = url;
    message.m_version = version;
    return message;
}

HttpMessage HttpMessage::response(const QString& version, int statusCode, const QString& reason)
{
    HttpMessage message;
    message.m_version = version;
    message.m_statusCode = statusCode;
    message.m_reason = reason;
    return message;
}

int HttpMessage::versionNumber() const
{
    // "HTTP/x.y": both digits are checked by whoever made the message.
    if (m_version.size() != 8)
        return 0;
    return m_version.at(5).digitValue() * 10 + m_version.at(7).digitValue();
}

QString HttpMessage::statusLine() const
{
    QString line = m_version + u' ' + QString::number(m_statusCode);
    if (!m_reason.isEmpty())
        line += u' ' + m_reason;
    return line;
}

QString HttpMessage::hostHeaderValue() const
{
    QString host = m_url.host(QUrl::FullyEncoded);
    if (host.contains(u':'))
        host = u'[' + host + u']';
    const int port = m_url.port();
    if (port >= 0 && port != defaultPort(m_url.scheme()))
        host += u':' + QString::number(port);
    return host;
}

QByteArray HttpMessage::requestTarget(bool absoluteForm) const
{
    if (absoluteForm)
        return m_url.adjusted(QUrl::RemoveFragment | QUrl::RemoveUserInfo).toEncoded();
    QByteArray target = m_url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (m_url.hasQuery())
        target += '?' + m_url.query(QUrl::FullyEncoded).toLatin1();
    return target;
}

QByteArray HttpMessage::serializedHead(bool absoluteForm, const QStringList& skip) const
{
    QByteArray head = m_method.toLatin1() + ' ' + requestTarget(absoluteForm) + ' '
        + m_version.toLatin1() + "\r\n";
    if (!m_headers.contains(QStringLiteral("Host")))
        head += "Host: " + hostHeaderValue().toLatin1() + "\r\n";
    for (const HttpHeaders::Field& field : m_headers.fields()) {
        if (skip.contains(field.first, Qt::CaseInsensitive))
            continue;
        head += field.first.toLatin1() + ": " + field.second.toLatin1() + "\r\n";
    }
    return head + "\r\n";
}

QString HttpMessage::wireProblem() const
{
    if (!isToken(m_method))
        return QStringLiteral("The request method is not valid");
    if (m_version != QLatin1String("HTTP/1.1") && m_version != QLatin1String("HTTP/1.0"))
        return QStringLiteral("The HTTP version is not valid");
    if (!m_url.isValid() || m_url.host().isEmpty())
        return QStringLiteral("The request has no host");
    for (const HttpHeaders::Field& field : m_headers.fields()) {
        if (!isToken(field.first) || hasLineBreakOrNul(field.second))
            return QStringLiteral("The header field '%1' is not valid").arg(field.first);
    }
    return {};
}

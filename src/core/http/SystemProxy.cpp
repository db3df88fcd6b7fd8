#include "http/SystemProxy.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace SystemProxy {
namespace {

QString variable(const QProcessEnvironment& environment, const QString& name)
{
    const QString lower = environment.value(name).trimmed();
    return lower.isEmpty() ? environment.value(name.toUpper()).trimmed() : lower;
}

// Strips the brackets of an IPv6 literal and a trailing dot, in lower case.
QString normalHost(QString host)
{
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    if (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    return host.toLower();
}

bool inSubnet(const QString& entry, const QString& host)
{
    const auto subnet = QHostAddress::parseSubnet(entry);
    const QHostAddress address(host);
    return subnet.second >= 0 && !address.isNull() && address.isInSubnet(subnet);
}

bool entryCovers(QString entry, const QString& host, int port)
{
    if (entry.contains(QLatin1Char('/')))
        return inSubnet(entry, host);
    static const QRegularExpression withPort(QStringLiteral(R"(^(\[[^\]]*\]|[^:\[\]]+):(\d+)$)"));
    const QRegularExpressionMatch match = withPort.match(entry);
    if (match.hasMatch()) {
        if (match.captured(2).toInt() != port)
            return false;
        entry = match.captured(1);
    }
    if (entry.startsWith(QLatin1String("*.")))
        entry = entry.mid(1);
    const QString domain = normalHost(entry.startsWith(QLatin1Char('.')) ? entry.mid(1) : entry);
    if (domain.isEmpty())
        return false;
    return host == domain || host.endsWith(QLatin1Char('.') + domain);
}

EnvironmentProxy parseProxy(const QString& value)
{
    const QUrl url(
        value.contains(QLatin1String("://")) ? value : QStringLiteral("http://") + value);
    const QString scheme = url.scheme().toLower();
    EnvironmentProxy result;
    if (!url.isValid() || url.host().isEmpty())
        return result;
    if (scheme == QLatin1String("http"))
        result.proxy.kind = ProxySettings::Kind::Http;
    else if (scheme == QLatin1String("socks5") || scheme == QLatin1String("socks5h"))
        result.proxy.kind = ProxySettings::Kind::Socks5;
    else
        return result;
    const int defaultPort = result.proxy.kind == ProxySettings::Kind::Http ? 80 : 1080;
    result.proxy.host = url.host();
    result.proxy.port = quint16(url.port(defaultPort));
    result.user = url.userName();
    result.password = url.password();
    return result;
}

} // namespace

bool bypasses(const QString& noProxy, const QString& host, int port)
{
    const QString target = normalHost(host);
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    const QStringList entries = noProxy.split(separators, Qt::SkipEmptyParts);
    for (const QString& entry : entries) {
        if (entry == QLatin1String("*") || entryCovers(entry, target, port))
            return true;
    }
    return false;
}

EnvironmentProxy proxyForUrl(const QUrl& url, const QProcessEnvironment& environment)
{
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return {};
    const int port = url.port(scheme == QLatin1String("https") ? 443 : 80);
    if (bypasses(variable(environment, QStringLiteral("no_proxy")), url.host(), port))
        return {};
    const QString value = variable(environment, scheme + QLatin1String("_proxy"));
    return value.isEmpty() ? EnvironmentProxy {} : parseProxy(value);
}

} // namespace SystemProxy

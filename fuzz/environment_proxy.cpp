// The proxy settings of the environment. The input's lines are, in order,
// no_proxy, http_proxy, https_proxy and the host of the URL asked for; the
// URL is asked for over http, and over https on a port of its own.
#include "FuzzSupport.h"

#include "http/SystemProxy.h"

namespace {

QString lineOf(const QList<QByteArray>& lines, qsizetype index)
{
    return index < lines.size() ? QString::fromUtf8(lines[index]) : QString();
}

void checkProxyFor(const QUrl& url, const QProcessEnvironment& environment)
{
    const SystemProxy::EnvironmentProxy found = SystemProxy::proxyForUrl(url, environment);
    Fuzz::require(found.proxy.kind == ProxySettings::Kind::None || !found.proxy.host.isEmpty(),
        "a proxy without a host");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> lines = Fuzz::bytesOf(data, size).split('\n');
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("no_proxy"), lineOf(lines, 0));
    environment.insert(QStringLiteral("http_proxy"), lineOf(lines, 1));
    environment.insert(QStringLiteral("HTTPS_PROXY"), lineOf(lines, 2));
    const QString host = lineOf(lines, 3);
    for (const QString& scheme : { QStringLiteral("http"), QStringLiteral("https") }) {
        QUrl url;
        url.setScheme(scheme);
        url.setHost(host);
        if (scheme == QLatin1String("https"))
            url.setPort(8443);
        url.setPath(QStringLiteral("/"));
        checkProxyFor(url, environment);
        SystemProxy::bypasses(lineOf(lines, 0), host, 80);
    }
    return 0;
}

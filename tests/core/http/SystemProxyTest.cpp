#include "http/SystemProxy.h"

#include <gtest/gtest.h>

TEST(SystemProxy, EnvironmentChoosesProxyUnlessNoProxyCoversTheHost)
{
    using Kind = ProxySettings::Kind;
    const struct {
        const char* what;
        QStringList environment;
        const char* url;
        Kind kind;
        QString host;
        int port;
        QString user;
    } rows[] = {
        { "http variable", { "http_proxy=http://proxy:3128" }, "http://a.org/", Kind::Http, "proxy",
            3128, "" },
        { "no scheme, default port", { "http_proxy=proxy" }, "http://a.org/", Kind::Http, "proxy",
            80, "" },
        { "upper case form", { "HTTPS_PROXY=http://tls-proxy:8443" }, "https://a.org/", Kind::Http,
            "tls-proxy", 8443, "" },
        { "lower case wins", { "http_proxy=lower:1", "HTTP_PROXY=upper:2" }, "http://a.org/",
            Kind::Http, "lower", 1, "" },
        { "https ignores http_proxy", { "http_proxy=proxy:3128" }, "https://a.org/", Kind::None, "",
            0, "" },
        { "socks with credentials", { "http_proxy=socks5h://me:pw@sock:1080" }, "http://a.org/",
            Kind::Socks5, "sock", 1080, "me" },
        { "unsupported proxy scheme", { "http_proxy=ftp://proxy:21" }, "http://a.org/", Kind::None,
            "", 0, "" },
        { "no_proxy domain", { "http_proxy=proxy:1", "no_proxy=.a.org" }, "http://www.a.org/",
            Kind::None, "", 0, "" },
        { "no_proxy domain itself", { "http_proxy=proxy:1", "no_proxy=.a.org" }, "http://A.org./",
            Kind::None, "", 0, "" },
        { "no_proxy is not a substring", { "http_proxy=proxy:1", "no_proxy=a.org" },
            "http://xa.org/", Kind::Http, "proxy", 1, "" },
        { "NO_PROXY list with spaces", { "http_proxy=proxy:1", "NO_PROXY=b.org, a.org" },
            "http://a.org/", Kind::None, "", 0, "" },
        { "no_proxy star", { "http_proxy=proxy:1", "no_proxy=*" }, "http://a.org/", Kind::None, "",
            0, "" },
        { "no_proxy port matches", { "http_proxy=proxy:1", "no_proxy=a.org:8080" },
            "http://a.org:8080/", Kind::None, "", 0, "" },
        { "no_proxy other port", { "http_proxy=proxy:1", "no_proxy=a.org:8080" }, "http://a.org/",
            Kind::Http, "proxy", 1, "" },
        { "no_proxy subnet", { "http_proxy=proxy:1", "no_proxy=10.0.0.0/8" }, "http://10.2.3.4/",
            Kind::None, "", 0, "" },
        { "no_proxy IPv6 address", { "http_proxy=proxy:1", "no_proxy=[::1]" }, "http://[::1]/",
            Kind::None, "", 0, "" },
        { "not http at all", { "http_proxy=proxy:1" }, "file:///tmp/a", Kind::None, "", 0, "" },
    };
    for (const auto& row : rows) {
        QProcessEnvironment environment;
        for (const QString& pair : row.environment)
            environment.insert(
                pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
        const SystemProxy::EnvironmentProxy chosen
            = SystemProxy::proxyForUrl(QUrl(QString::fromLatin1(row.url)), environment);
        EXPECT_EQ(chosen.proxy.kind, row.kind) << row.what;
        EXPECT_EQ(chosen.proxy.host, row.host) << row.what;
        EXPECT_EQ(chosen.proxy.port, row.port) << row.what;
        EXPECT_EQ(chosen.user, row.user) << row.what;
    }
}

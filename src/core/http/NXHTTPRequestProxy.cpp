#include "http/NXHTTPRequestState.h"

#include "http/NXPACEvaluator.h"
#include "http/NetworkThread.h"
#include "http/SystemProxy.h"

namespace {

QString proxyTypeName(ProxySettings::Kind kind)
{
    switch (kind) {
    case ProxySettings::Kind::Http:
        return QStringLiteral("HTTP");
    case ProxySettings::Kind::Socks5:
        return QStringLiteral("SOCKS");
    case ProxySettings::Kind::None:
        break;
    }
    return {};
}

} // namespace

bool NXHTTPRequest::configureProxies()
{
    if (!m_proxyHost.isEmpty() || m_proxyPort != 0)
        return true;
    if (!m_PACurl.isEmpty()) {
        fetchPACFile();
        return false;
    }
    const SystemProxy::EnvironmentProxy system = SystemProxy::proxyForUrl(m_url);
    if (!system.proxy.isSet())
        return true;
    m_proxyHost = system.proxy.host;
    m_proxyPort = system.proxy.port;
    m_proxyType = proxyTypeName(system.proxy.kind);
    // A proxy named with a user and password asks for them when it asks.
    if (m_proxyUsername.isEmpty() && m_proxyPassword.isEmpty()) {
        m_proxyUsername = system.user;
        m_proxyPassword = system.password;
    }
    return true;
}

// The script is read and run off the network thread, within the request's
// time-out for each; a script that cannot be read, hangs or fails leaves the
// request going direct (or through the proxy it had).
void NXHTTPRequest::fetchPACFile()
{
    NXPACEvaluator::Settings settings;
    const auto timeOut = std::chrono::milliseconds(qint64(m_timeOutSeconds * 1000));
    if (timeOut.count() > 0)
        settings.timeOut = timeOut;
    QFuture<PacAnswer> answer = NXPACEvaluator::findProxies(m_PACurl, m_url, settings);
    const auto request = self();
    if (m_isSynchronous) {
        runPACAnswer(answer.result());
        return;
    }
    answer.then(NetworkThread::context(),
        [request](const PacAnswer& found) { request->runPACAnswer(found); });
}

void NXHTTPRequest::runPACAnswer(const PacAnswer& answer)
{
    const std::lock_guard lock(m_cancelledLock);
    if (m_cancelled || !m_error.isNull())
        return;
    if (!answer.failed()) {
        const ProxySettings first = answer.first();
        m_proxyHost = first.isSet() ? first.host : QString();
        m_proxyPort = first.isSet() ? first.port : 0;
        m_proxyType = proxyTypeName(first.kind);
    }
    startRequest();
}

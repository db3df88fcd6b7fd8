#include "http/NXHTTPRequestState.h"

#include <QNetworkCookie>

// Run by the start: true when the store answered in place of the network.
// Otherwise, when asked to, the request asks the server whether the stored
// answer is still good.
bool NXHTTPRequest::answeredFromCache()
{
    if (!m_downloadCache)
        return false;
    if (m_cachePolicy == 0)
        m_cachePolicy = m_downloadCache->defaultCachePolicy();
    if (m_downloadCache->canUseCachedDataForRequest(*this)) {
        useDataFromCache();
        return true;
    }
    if ((m_cachePolicy & (4 | 8)) == 0)
        return false;
    const std::optional<NXHeaderDictionary> stored
        = m_downloadCache->cachedResponseHeadersForURL(m_url);
    if (!stored)
        return false;
    const QString tag = stored->value(QStringLiteral("Etag"));
    if (!tag.isEmpty())
        addRequestHeader(QStringLiteral("If-None-Match"), tag);
    const QString modified = stored->value(QStringLiteral("Last-Modified"));
    if (!modified.isEmpty())
        addRequestHeader(QStringLiteral("If-Modified-Since"), modified);
    return false;
}

void NXHTTPRequest::useDataFromCache()
{
    const std::lock_guard lock(m_cancelledLock);
    const auto main = m_mainRequest.lock();
    NXHTTPRequest& target = main ? *main : *this;
    const std::optional<NXHeaderDictionary> headers
        = m_downloadCache->cachedResponseHeadersForURL(m_url);
    const QString dataPath = m_downloadCache->pathToCachedResponseDataForURL(m_url);
    // The network's answer, if one is coming, is not wanted any more.
    if (m_readStream) {
        m_connectionCanBeReused = false;
        forgetConnectionRecord(m_connectionInfo);
        m_connectionInfo.reset();
        destroyReadStream();
    }
    setStatusTimerRunning(false);
    if (headers && !dataPath.isEmpty()) {
        takeCachedAnswer(target, *headers, dataPath);
        if (willRedirect()) {
            if (!willAskDelegateToConfirmRedirect())
                performRedirect();
            return;
        }
    }
    target.m_complete = true;
    target.m_downloadComplete = true;
    if (target.m_redirectCount == 0)
        target.m_originalURL = target.m_url;
    target.updateProgressIndicators();
    target.requestFinished();
    target.markAsFinished();
    if (main)
        markAsFinished();
}

void NXHTTPRequest::takeCachedAnswer(
    NXHTTPRequest& target, const NXHeaderDictionary& headers, const QString& dataPath)
{
    m_responseStatusCode
        = headers.value(QStringLiteral("X-NXHTTPRequest-Response-Status-Code")).toInt();
    m_didUseCachedResponse = true;
    {
        const std::lock_guard lock(target.m_cancelledLock);
        target.m_responseHeaders = headers;
        if (target.m_downloadDestinationPath.isEmpty())
            target.m_rawResponseData = m_downloadCache->cachedResponseDataForURL(m_url);
        else
            target.m_downloadDestinationPath = dataPath;
    }
    target.m_contentLength
        = responseHeaders().value(QStringLiteral("Content-Length")).trimmed().toULongLong();
    target.m_totalBytesRead = m_contentLength.load();
    target.parseStringEncodingFromHeaders();
    QList<QNetworkCookie> cookies;
    const QString setCookie = headers.value(QStringLiteral("Set-Cookie"));
    for (QNetworkCookie cookie : QNetworkCookie::parseCookies(setCookie.toUtf8())) {
        cookie.normalize(m_url);
        cookies.append(cookie);
    }
    const std::lock_guard lock(target.m_cancelledLock);
    target.m_responseCookies = cookies;
}

#include "download/DNYoutubeProxy.h"

#include "http/NXHTTPRequest.h"
#include "services/NXVideoDownloadSetting.h"

QString DNYoutubeProxyAddress(const NXVideoDownloadSetting& setting)
{
    const QString host = setting.proxyAddress().trimmed();
    bool isNumber = false;
    const int port = setting.proxyPort().trimmed().toInt(&isNumber);
    if (!setting.isProxyEnabled() || host.isEmpty() || !isNumber || port < 1 || port > 65535)
        return {};
    return host + QLatin1Char(':') + QString::number(port);
}

void DNYoutubeApplyProxy(NXHTTPRequest& request, const QString& hostAndPort)
{
    const qsizetype colon = hostAndPort.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return;
    request.setProxyHost(hostAndPort.left(colon));
    request.setProxyPort(hostAndPort.mid(colon + 1).toInt());
}

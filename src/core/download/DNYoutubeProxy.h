#pragma once

#include <QString>

class NXHTTPRequest;
class NXVideoDownloadSetting;

// The download settings' proxy as "host:port", the entries trimmed (the
// options panel stores them as typed); empty when the proxy is off or lacks a
// host or a port from 1 to 65535. The analysis, its size requests and the
// downloads all go by this one answer.
QString DNYoutubeProxyAddress(const NXVideoDownloadSetting& setting);

// Sends `request` through the proxy at `hostAndPort`; "" leaves it direct.
void DNYoutubeApplyProxy(NXHTTPRequest& request, const QString& hostAndPort);

#pragma once

#include "http/NXDataDecompressor.h"
#include "http/NXHTTPRequest.h"

#include <deque>
#include <mutex>
#include <vector>

// A persistent connection the pool knows of. `request` is set while a request
// uses it; `stream` is the read stream last opened on it, which holds the
// idle connection between requests.
struct NXConnectionRecord {
    int id = 0;
    QString host;
    int port = 0;
    QString scheme;
    std::optional<quint32> request;
    std::shared_ptr<HttpReadStream> stream;
    std::optional<NXHTTPRequest::TimePoint> expires;

    bool matches(const QUrl& url) const;
};

// State shared by every request.
struct NXHTTPRequestClassState {
    std::recursive_mutex poolLock;
    std::vector<std::shared_ptr<NXConnectionRecord>> connectionPool;
    int nextConnectionNumber = 0;
    quint32 nextRequestID = 0;
    int runningRequestCount = 0;

    std::mutex bandwidthLock;
    unsigned long maxBandwidthPerSecond = 0;
    unsigned long bandwidthUsedInLastSecond = 0;
    std::optional<NXHTTPRequest::TimePoint> bandwidthMeasurementDate;
    std::deque<unsigned long> bandwidthUsageTracker;
    unsigned long averageBandwidthUsedPerSecond = 0;
    std::optional<NXHTTPRequest::TimePoint> throttleWakeUpTime;

    std::recursive_mutex progressLock;
    std::recursive_mutex sessionCredentialsLock;
    // One challenged request at a time looks for credentials or asks for them.
    std::recursive_mutex delegateAuthenticationLock;
    QList<QVariantMap> sessionCredentials;
    QList<QVariantMap> sessionProxyCredentials;
    std::recursive_mutex sessionCookiesLock;
    QList<QNetworkCookie> sessionCookies;

    std::mutex classLock;
    QString defaultUserAgent;
    std::atomic<double> defaultTimeOutSeconds { 10.0 };
    std::atomic<long long> statusIntervalMs { 250 };
    NXHTTPRequest::Clock clock;

    static NXHTTPRequestClassState& instance();
    void measureBandwidthUsage();
    void recordBandwidthUsage();
};

// The body of a request as the transport pulls it, in pieces no larger than
// the upload bandwidth limit allows.
class NXInputStream : public HttpBodyStream {
public:
    static std::unique_ptr<NXInputStream> inputStreamWithFileAtPath(const QString& path);
    static std::unique_ptr<NXInputStream> inputStreamWithData(const QByteArray& data);

    qint64 read(char* data, qint64 maxLength) override;

private:
    explicit NXInputStream(std::unique_ptr<QIODevice> device);

    std::unique_ptr<QIODevice> m_device;
};

// Drops the pool's hold on a connection that will not be used again.
void forgetConnectionRecord(const std::shared_ptr<NXConnectionRecord>& record);
std::chrono::steady_clock::duration secondsDuration(double value);
// Same scheme, host and port (the scheme's default when none is given).
bool sameOrigin(const QUrl& a, const QUrl& b);
// How a body of the coding is inflated.
NXDataDecompressor::Format decompressionFormat(NXHTTPRequest::ContentCoding coding);
// True once the cookie's expiry date has passed; a session cookie never expires.
bool cookieHasExpired(const QNetworkCookie& cookie);

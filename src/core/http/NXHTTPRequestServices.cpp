#include "http/NXHTTPRequestState.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QStringConverter>
#include <QSysInfo>

#include <cerrno>
#include <cstring>
#include <numeric>

#include <sys/utsname.h>

const QString NXHTTPRequestErrorDomain = QStringLiteral("NXHTTPRequestErrorDomain");

HttpError requestError(NXHTTPRequestErrorType type, const QString& description,
    std::shared_ptr<const HttpError> underlying)
{
    return HttpError(
        NXHTTPRequestErrorDomain, static_cast<int>(type), description, {}, std::move(underlying));
}

QString fileWriteCause(const QString& path, int error)
{
    switch (error) {
    case ENOSPC:
        return QStringLiteral("the disk is full");
    case EDQUOT:
        return QStringLiteral("the disk quota is used up");
    case EROFS:
        return QStringLiteral("the folder is read-only (its file system is mounted read-only)");
    case EACCES:
    case EPERM:
        return QFileInfo::exists(path) ? QStringLiteral("the file is read-only")
                                       : QStringLiteral("the folder is read-only");
    case EFBIG:
        return QStringLiteral("the file would be larger than its file system allows");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

HttpError fileWriteError(const QString& path, int error)
{
    return requestError(NXHTTPRequestErrorType::FileManagement,
        QStringLiteral("Failed to write to file at path '%1': %2")
            .arg(path, fileWriteCause(path, error)),
        std::make_shared<HttpError>(QStringLiteral("FileSystemErrorDomain"), error,
            QString::fromLocal8Bit(std::strerror(error))));
}

bool NXConnectionRecord::matches(const QUrl& url) const
{
    return host == url.host() && scheme == url.scheme() && port == std::max(url.port(), 0);
}

NXHTTPRequestClassState& NXHTTPRequestClassState::instance()
{
    static NXHTTPRequestClassState state;
    return state;
}

// --- clock, time-outs, queue ---------------------------------------------------

NXHTTPRequest::TimePoint NXHTTPRequest::now()
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.classLock);
    return state.clock ? state.clock() : std::chrono::steady_clock::now();
}

void NXHTTPRequest::setClock(Clock clock)
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.classLock);
    state.clock = std::move(clock);
}

std::chrono::milliseconds NXHTTPRequest::statusTimerInterval()
{
    return std::chrono::milliseconds(NXHTTPRequestClassState::instance().statusIntervalMs.load());
}

void NXHTTPRequest::setStatusTimerInterval(std::chrono::milliseconds interval)
{
    NXHTTPRequestClassState::instance().statusIntervalMs = interval.count();
}

double NXHTTPRequest::defaultTimeOutSeconds()
{
    return NXHTTPRequestClassState::instance().defaultTimeOutSeconds;
}

void NXHTTPRequest::setDefaultTimeOutSeconds(double seconds)
{
    NXHTTPRequestClassState::instance().defaultTimeOutSeconds = seconds;
}

OperationQueue& NXHTTPRequest::sharedQueue()
{
    static OperationQueue queue(4);
    return queue;
}

bool NXHTTPRequest::isNetworkInUse()
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.poolLock);
    return state.runningRequestCount > 0;
}

int NXHTTPRequest::connectionPoolSize()
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.poolLock);
    return int(state.connectionPool.size());
}

// --- user agent ----------------------------------------------------------------

namespace {

// "6.1.0-18-amd64" gives "6.1.0"; anything without three numbers gives nothing.
QString systemVersion()
{
    static const QRegularExpression numbers(QStringLiteral("^(\\d+)\\.(\\d+)(?:\\.(\\d+))?"));
    const auto match = numbers.match(QSysInfo::kernelVersion());
    if (!match.hasMatch())
        return {};
    const QString patch = match.captured(3).isEmpty() ? QStringLiteral("0") : match.captured(3);
    return QStringLiteral("%1.%2.%3").arg(match.captured(1), match.captured(2), patch);
}

// The machine as uname names it ("x86_64", "aarch64"), which is how Linux
// programs name themselves to servers.
QString machineArchitecture()
{
    utsname names {};
    if (::uname(&names) == 0 && names.machine[0] != '\0')
        return QString::fromLatin1(names.machine);
    return QSysInfo::currentCpuArchitecture();
}

} // namespace

QString NXHTTPRequest::defaultUserAgentString()
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.classLock);
    if (!state.defaultUserAgent.isEmpty())
        return state.defaultUserAgent;
    // The name goes out as Latin-1 bytes of its UTF-8 form, as header bytes.
    const QString name = QString::fromLatin1(QCoreApplication::applicationName().toUtf8());
    const QString version = QCoreApplication::applicationVersion();
    const QString system = systemVersion();
    if (name.isEmpty() || system.isEmpty())
        return {};
    // "Quillon 2.0 (X11; Linux x86_64 6.1.0; en_US)": this system named as
    // Linux programs name it, so that servers choosing a download by the
    // visitor's system choose the Linux one.
    state.defaultUserAgent
        = QStringLiteral("%1 %2 (%3; %4 %5; %6)")
              .arg(name, version, QStringLiteral("X11"),
                  QStringLiteral("Linux ") + machineArchitecture(), system, QLocale().name());
    return state.defaultUserAgent;
}

void NXHTTPRequest::setDefaultUserAgentString(const QString& agent)
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.classLock);
    state.defaultUserAgent = agent;
}

// --- text utilities ------------------------------------------------------------

QString NXHTTPRequest::base64forData(const QByteArray& data)
{
    return QString::fromLatin1(data.toBase64());
}

QDateTime NXHTTPRequest::dateFromRFC1123String(const QString& text)
{
    const QString trimmed = text.trimmed();
    const QString weekday
        = trimmed.contains(QLatin1Char(',')) ? QStringLiteral("ddd, ") : QString();
    const QString seconds
        = trimmed.split(QLatin1Char(':')).size() == 3 ? QStringLiteral(":ss") : QString();
    // The zone is a name ("GMT", "UTC") or an offset; the wall time is read
    // first and the zone applied after, so no zone database is needed.
    const int zoneAt = trimmed.lastIndexOf(QLatin1Char(' '));
    if (zoneAt < 0)
        return {};
    const QString zone = trimmed.mid(zoneAt + 1);
    const QLocale posix = QLocale::c();
    QDateTime date = posix.toDateTime(
        trimmed.left(zoneAt), weekday + QStringLiteral("dd MMM yyyy HH:mm") + seconds);
    if (!date.isValid())
        return {};
    static const QRegularExpression offset(QStringLiteral("^([+-])(\\d\\d)(\\d\\d)$"));
    if (const auto match = offset.match(zone); match.hasMatch()) {
        const int sign = match.captured(1) == QLatin1String("-") ? -1 : 1;
        const int secondsEast
            = sign * (match.captured(2).toInt() * 3600 + match.captured(3).toInt() * 60);
        date.setOffsetFromUtc(secondsEast);
        return date.toUTC();
    }
    if (zone != QLatin1String("GMT") && zone != QLatin1String("UTC") && zone != QLatin1String("Z"))
        return {};
    date.setTimeSpec(Qt::UTC);
    return date;
}

QDateTime NXHTTPRequest::expiryDateForRequest(const NXHTTPRequest& request, double maxAge)
{
    const NXHeaderDictionary headers = request.responseHeaders();
    if (maxAge == 0) {
        static const QRegularExpression age(QStringLiteral("max-age\\s*=\\s*(\\d+(?:\\.\\d+)?)"));
        const auto match = age.match(headers.value(QStringLiteral("Cache-Control")).toLower());
        if (match.hasMatch())
            maxAge = match.captured(1).toDouble();
    }
    if (maxAge != 0)
        return QDateTime::currentDateTimeUtc().addMSecs(qint64(maxAge * 1000));
    const QString expires = headers.value(QStringLiteral("Expires"));
    return expires.isEmpty() ? QDateTime() : dateFromRFC1123String(expires);
}

void NXHTTPRequest::parseMimeType(
    QString* mimeType, QString* responseEncoding, const QString& contentType)
{
    if (contentType.isNull())
        return;
    const qsizetype semicolon = contentType.indexOf(QLatin1Char(';'));
    if (semicolon <= 0) {
        if (mimeType)
            *mimeType = contentType.trimmed();
        return;
    }
    if (mimeType)
        *mimeType = contentType.left(semicolon).trimmed();
    const qsizetype charsetAt = contentType.indexOf(QLatin1String("charset="), semicolon);
    if (charsetAt < 0)
        return;
    const qsizetype from = charsetAt + 8;
    const qsizetype end = contentType.indexOf(QLatin1Char(';'), from);
    const QString name = contentType.mid(from, end < 0 ? -1 : end - from).trimmed();
    // Only a name the converters know changes the encoding.
    if (!name.isEmpty() && QStringConverter::encodingForName(name.toLatin1().constData())
        && responseEncoding)
        *responseEncoding = name;
}

QString NXHTTPRequest::mimeTypeForFileAtPath(const QString& path)
{
    if (!QFileInfo::exists(path))
        return {};
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        return QStringLiteral("application/octet-stream");
    return type.name();
}

// --- bandwidth -----------------------------------------------------------------

void NXHTTPRequestClassState::recordBandwidthUsage()
{
    const auto current = NXHTTPRequest::now();
    if (bandwidthUsedInLastSecond == 0) {
        bandwidthUsageTracker.clear();
    } else {
        double interval = bandwidthMeasurementDate
            ? std::chrono::duration<double>(*bandwidthMeasurementDate - current).count()
            : 0.0;
        // Each whole second that passed without a measurement was a window
        // without traffic worth keeping; old windows leave the average.
        while (
            (interval < 0 || bandwidthUsageTracker.size() > 5) && !bandwidthUsageTracker.empty()) {
            bandwidthUsageTracker.pop_front();
            interval += 1.0;
        }
    }
    bandwidthUsageTracker.push_back(bandwidthUsedInLastSecond);
    bandwidthMeasurementDate = current + std::chrono::seconds(1);
    bandwidthUsedInLastSecond = 0;
    const unsigned long sum
        = std::accumulate(bandwidthUsageTracker.begin(), bandwidthUsageTracker.end(), 0UL);
    averageBandwidthUsedPerSecond = sum / bandwidthUsageTracker.size();
}

void NXHTTPRequestClassState::measureBandwidthUsage()
{
    if (!bandwidthMeasurementDate || *bandwidthMeasurementDate <= NXHTTPRequest::now())
        recordBandwidthUsage();
    if (maxBandwidthPerSecond > 0 && bandwidthUsedInLastSecond > maxBandwidthPerSecond) {
        const double excess = double(bandwidthUsedInLastSecond - maxBandwidthPerSecond);
        throttleWakeUpTime = *bandwidthMeasurementDate
            + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(excess / double(maxBandwidthPerSecond)));
    }
}

void NXHTTPRequest::measureBandwidthUsage()
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.bandwidthLock);
    state.measureBandwidthUsage();
}

bool NXHTTPRequest::isBandwidthThrottled()
{
    return maxBandwidthPerSecond() > 0;
}

unsigned long NXHTTPRequest::maxBandwidthPerSecond()
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.bandwidthLock);
    return state.maxBandwidthPerSecond;
}

void NXHTTPRequest::setMaxBandwidthPerSecond(unsigned long bytes)
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.bandwidthLock);
    state.maxBandwidthPerSecond = bytes;
}

void NXHTTPRequest::incrementBandwidthUsedInLastSecond(unsigned long bytes)
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.bandwidthLock);
    state.bandwidthUsedInLastSecond += bytes;
}

unsigned long NXHTTPRequest::averageBandwidthUsedPerSecond()
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.bandwidthLock);
    return state.averageBandwidthUsedPerSecond;
}

unsigned long NXHTTPRequest::maxUploadReadLength()
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.bandwidthLock);
    unsigned long length = state.maxBandwidthPerSecond / 4;
    if (state.maxBandwidthPerSecond > 0
        && state.bandwidthUsedInLastSecond + length > state.maxBandwidthPerSecond) {
        length = state.bandwidthUsedInLastSecond >= state.maxBandwidthPerSecond
            ? 0
            : state.maxBandwidthPerSecond - state.bandwidthUsedInLastSecond;
    }
    if (length == 0 || !state.bandwidthMeasurementDate || *state.bandwidthMeasurementDate <= now())
        state.throttleWakeUpTime = state.bandwidthMeasurementDate;
    return length;
}

void NXHTTPRequest::performThrottling()
{
    if (!m_readStream)
        return;
    auto& state = NXHTTPRequestClassState::instance();
    std::unique_lock lock(state.bandwidthLock);
    state.measureBandwidthUsage();
    if (state.maxBandwidthPerSecond == 0) {
        lock.unlock();
        if (!m_readStreamIsScheduled)
            scheduleReadStream();
        return;
    }
    if (!state.throttleWakeUpTime)
        return;
    const bool sleeping = *state.throttleWakeUpTime > now();
    lock.unlock();
    if (sleeping && m_readStreamIsScheduled)
        unscheduleReadStream();
    else if (!sleeping && !m_readStreamIsScheduled)
        scheduleReadStream();
}

// --- session stores --------------------------------------------------------------

namespace {

void storeReplacing(QList<QVariantMap>& store, const QVariantMap& record)
{
    const QVariant credentials = record.value(QStringLiteral("Credentials"));
    store.removeIf([&](const QVariantMap& entry) {
        return entry.value(QStringLiteral("Credentials")) == credentials;
    });
    store.append(record);
}

void removeFirst(QList<QVariantMap>& store, const QVariantMap& credentials)
{
    for (qsizetype i = 0; i < store.size(); ++i) {
        if (store[i].value(QStringLiteral("Credentials")).toMap() == credentials) {
            store.removeAt(i);
            return;
        }
    }
}

bool samePort(const QUrl& a, const QUrl& b)
{
    return a.port() == b.port();
}

} // namespace

QList<QVariantMap> NXHTTPRequest::sessionCredentialsStore()
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.sessionCredentialsLock);
    return state.sessionCredentials;
}

QList<QVariantMap> NXHTTPRequest::sessionProxyCredentialsStore()
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.sessionCredentialsLock);
    return state.sessionProxyCredentials;
}

void NXHTTPRequest::storeAuthenticationCredentialsInSessionStore(const QVariantMap& record)
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.sessionCredentialsLock);
    storeReplacing(state.sessionCredentials, record);
}

void NXHTTPRequest::storeProxyAuthenticationCredentialsInSessionStore(const QVariantMap& record)
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.sessionCredentialsLock);
    storeReplacing(state.sessionProxyCredentials, record);
}

void NXHTTPRequest::removeAuthenticationCredentialsFromSessionStore(const QVariantMap& credentials)
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.sessionCredentialsLock);
    removeFirst(state.sessionCredentials, credentials);
}

void NXHTTPRequest::removeProxyAuthenticationCredentialsFromSessionStore(
    const QVariantMap& credentials)
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.sessionCredentialsLock);
    removeFirst(state.sessionProxyCredentials, credentials);
}

std::optional<QVariantMap> NXHTTPRequest::findSessionAuthenticationCredentials() const
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.sessionCredentialsLock);
    const QUrl requestURL = url();
    std::optional<QVariantMap> candidate;
    for (const QVariantMap& record : std::as_const(state.sessionCredentials)) {
        const QUrl recordURL = record.value(QStringLiteral("URL")).toUrl();
        const bool exact = recordURL == requestURL;
        const bool similar = !exact && !candidate && recordURL.host() == requestURL.host()
            && samePort(recordURL, requestURL) && recordURL.scheme() == requestURL.scheme();
        if (!exact && !similar)
            continue;
        const QString realm = record.value(QStringLiteral("AuthenticationRealm")).toString();
        if (!m_authenticationRealm.isEmpty() && !realm.isEmpty() && realm != m_authenticationRealm)
            continue;
        const QVariantMap credentials = record.value(QStringLiteral("Credentials")).toMap();
        if (!m_username.isEmpty() && !m_password.isEmpty()
            && (credentials.value(QStringLiteral("Username")).toString() != m_username
                || credentials.value(QStringLiteral("Password")).toString() != m_password))
            continue;
        if (exact)
            return record;
        candidate = record;
    }
    return candidate;
}

std::optional<QVariantMap> NXHTTPRequest::findSessionProxyAuthenticationCredentials() const
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.sessionCredentialsLock);
    for (const QVariantMap& record : std::as_const(state.sessionProxyCredentials)) {
        if (record.value(QStringLiteral("Host")).toString() == m_proxyHost
            && record.value(QStringLiteral("Port")).toInt() == m_proxyPort)
            return record;
    }
    return std::nullopt;
}

bool cookieHasExpired(const QNetworkCookie& cookie)
{
    const QDateTime expiry = cookie.expirationDate();
    return expiry.isValid() && expiry <= QDateTime::currentDateTimeUtc();
}

QList<QNetworkCookie> NXHTTPRequest::sessionCookies()
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.sessionCookiesLock);
    // A cookie whose lifetime has ended is gone from the store (RFC 6265, 5.3).
    state.sessionCookies.removeIf(cookieHasExpired);
    return state.sessionCookies;
}

void NXHTTPRequest::setSessionCookies(const QList<QNetworkCookie>& cookies)
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.sessionCookiesLock);
    state.sessionCookies = cookies;
}

void NXHTTPRequest::addSessionCookie(const QNetworkCookie& cookie)
{
    auto& state = NXHTTPRequestClassState::instance();
    const std::lock_guard lock(state.sessionCookiesLock);
    const auto same = std::find_if(state.sessionCookies.begin(), state.sessionCookies.end(),
        [&](const QNetworkCookie& stored) { return stored.hasSameIdentifier(cookie); });
    if (same != state.sessionCookies.end())
        state.sessionCookies.erase(same);
    // A cookie set with "Max-Age=0" or an "Expires" date in the past is how a
    // server deletes one: the old one goes and the new one is not kept.
    if (!cookieHasExpired(cookie))
        state.sessionCookies.append(cookie);
}

void NXHTTPRequest::clearSession()
{
    auto& state = NXHTTPRequestClassState::instance();
    {
        const std::lock_guard lock(state.sessionCredentialsLock);
        state.sessionCredentials.clear();
    }
    setSessionCookies({});
}

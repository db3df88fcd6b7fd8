#pragma once

#include "http/HttpTransportSettings.h"

#include <QDateTime>
#include <QFuture>
#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>

// The answer of a proxy auto-configuration script for one URL: the proxies to
// try in order, a direct connection being an entry of kind None. A script that
// cannot be read, fails, runs too long or answers nothing usable gives one
// direct entry and says why in `error`.
struct PacAnswer {
    QList<ProxySettings> proxies;
    QString error;

    bool failed() const { return !error.isEmpty(); }
    ProxySettings first() const { return proxies.isEmpty() ? ProxySettings {} : proxies.first(); }
};

// Runs a proxy auto-configuration script: FindProxyForURL(url, host) with the
// usual helper functions (host and domain tests, name resolution, address
// ranges, day, date and time ranges).
//
// The script runs in a forked sandbox process with a memory budget and no
// open files but its channel to us, so that a script that never ends is
// stopped for good when its time is up instead of holding a thread and a
// processor for the rest of the session. Names are resolved here on its
// behalf, each resolution bounded in time. Evaluation blocks the calling
// thread, so it never belongs on the network thread.
class NXPACEvaluator {
public:
    using Clock = std::function<QDateTime()>;

    struct Settings {
        // For reading the script and, separately, for running it.
        std::chrono::milliseconds timeOut { 10000 };
        // For one name resolution asked for by the script.
        std::chrono::milliseconds resolveTimeOut { 2000 };
        Clock clock;
    };

    NXPACEvaluator(QString script, Settings settings);

    PacAnswer evaluate(const QUrl& url) const;

    // "PROXY host:port; SOCKS host:port; DIRECT" as a list. Entries of kinds
    // the transport cannot speak are left out.
    static QList<ProxySettings> parseResult(const QString& result);

    // The script text of `bytes`: UTF-8, or ISO Latin 1 when not valid UTF-8.
    static QString decodeScript(const QByteArray& bytes);
    // Reads the script from a file URL or over http(s), within the time-out.
    // Empty with `error` set when that fails or takes too long.
    static QString fetchScript(
        const QUrl& scriptUrl, std::chrono::milliseconds timeOut, QString* error);

    // Fetches and runs the script at `scriptUrl` for `url` (blocking).
    static PacAnswer proxiesFor(const QUrl& scriptUrl, const QUrl& url, const Settings& settings);
    // The same on a worker thread of a small pool of its own; continue with
    // the future's then() on the thread that needs the answer.
    static QFuture<PacAnswer> findProxies(
        const QUrl& scriptUrl, const QUrl& url, const Settings& settings);

private:
    QString m_script;
    Settings m_settings;
};

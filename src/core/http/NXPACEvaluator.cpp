#include "http/NXPACEvaluator.h"

#include "http/BoundedResolver.h"
#include "http/PacSandbox.h"

#include <QPromise>
#include <QRegularExpression>
#include <QThreadPool>

#include <algorithm>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr size_t kMaxResultBytes = 64 * 1024;

PacFunctions::ClockFields fieldsOf(const QDateTime& moment)
{
    const QDate date = moment.date();
    const QTime time = moment.time();
    return { date.year(), date.month(), date.day(), date.dayOfWeek() % 7,
        time.msecsSinceStartOfDay() / 1000 };
}

PacFunctions::ClockReading readClock(const NXPACEvaluator::Clock& clock)
{
    const QDateTime now = clock ? clock() : QDateTime::currentDateTime();
    return { fieldsOf(now.toLocalTime()), fieldsOf(now.toUTC()) };
}

// The URL as the script sees it: without the user's name, password and the
// fragment, which a script has no business knowing (it could leak them through
// the names it asks us to resolve).
std::string scriptUrl(const QUrl& url)
{
    return url.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveFragment).toString().toStdString();
}

// Closes every descriptor of the freshly forked child but its channel: the
// child must not keep the parent's connections and files open while it runs.
void closeAllBut(int keep)
{
    if (keep > 3)
        ::close_range(3, unsigned(keep) - 1, 0);
    ::close_range(unsigned(keep) + 1, ~0u, 0);
}

struct ChildOutcome {
    std::optional<std::string> result;
    QString error;
};

// Serves the child's requests until it answers, fails or runs out of time.
ChildOutcome converse(
    int channel, SteadyClock::time_point deadline, std::chrono::milliseconds resolveTimeOut)
{
    while (true) {
        const auto message = PacSandbox::receive(channel, deadline, kMaxResultBytes);
        if (!message) {
            const bool late = SteadyClock::now() >= deadline;
            return { std::nullopt,
                late ? QStringLiteral("the script ran out of time and was stopped")
                     : QStringLiteral("the script stopped without an answer") };
        }
        if (message->type == PacSandbox::Result)
            return { message->payload, {} };
        if (message->type == PacSandbox::Failure)
            return { std::nullopt, QString::fromStdString(message->payload) };
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        const QString answer = message->type == PacSandbox::MyAddress
            ? BoundedResolver::localIpv4Address()
            : BoundedResolver::resolveIpv4(QString::fromStdString(message->payload),
                std::clamp(left, std::chrono::milliseconds(0), resolveTimeOut));
        if (!PacSandbox::send(channel, PacSandbox::Result, answer.toStdString()))
            return { std::nullopt, QStringLiteral("the script stopped without an answer") };
    }
}

void stopChild(pid_t pid)
{
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
}

PacAnswer direct(const QString& why)
{
    return { { ProxySettings {} }, why };
}

std::optional<ProxySettings> parseEntry(const QString& entry)
{
    static const QRegularExpression form(
        QStringLiteral(R"(^\s*([A-Za-z0-9]+)(?:\s+(\S+?)(?::(\d{1,5}))?)?\s*$)"));
    const QRegularExpressionMatch match = form.match(entry);
    if (!match.hasMatch())
        return std::nullopt;
    const QString kind = match.captured(1).toUpper();
    if (kind == QLatin1String("DIRECT"))
        return match.captured(2).isEmpty() ? std::optional(ProxySettings {}) : std::nullopt;
    ProxySettings proxy;
    if (kind == QLatin1String("PROXY") || kind == QLatin1String("HTTP"))
        proxy.kind = ProxySettings::Kind::Http;
    else if (kind == QLatin1String("SOCKS") || kind == QLatin1String("SOCKS5"))
        proxy.kind = ProxySettings::Kind::Socks5;
    else
        return std::nullopt;
    const bool hasPort = !match.captured(3).isEmpty();
    const int port = hasPort ? match.captured(3).toInt()
                             : (proxy.kind == ProxySettings::Kind::Http ? 80 : 1080);
    proxy.host = match.captured(2);
    if (proxy.host.startsWith(QLatin1Char('[')) && proxy.host.endsWith(QLatin1Char(']')))
        proxy.host = proxy.host.mid(1, proxy.host.size() - 2);
    proxy.port = quint16(port);
    if (proxy.host.isEmpty() || port < 1 || port > 65535)
        return std::nullopt;
    return proxy;
}

QThreadPool& workerPool()
{
    // Few threads: every evaluation is bounded by its time-outs, and requests
    // waiting for a script may as well wait in line.
    struct Pool : QThreadPool {
        Pool() { setMaxThreadCount(2); }
    };
    static Pool pool;
    return pool;
}

} // namespace

NXPACEvaluator::NXPACEvaluator(QString script, Settings settings)
    : m_script(std::move(script))
    , m_settings(std::move(settings))
{ }

PacAnswer NXPACEvaluator::evaluate(const QUrl& url) const
{
    const PacSandbox::Job job { m_script.toStdString(), scriptUrl(url), url.host().toStdString(),
        readClock(m_settings.clock) };
    int channel[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0)
        return direct(QStringLiteral("cannot make a channel for the script"));
    const pid_t pid = ::fork();
    if (pid == 0) {
        closeAllBut(channel[1]);
        PacSandbox::run(job, channel[1]);
    }
    ::close(channel[1]);
    if (pid < 0) {
        ::close(channel[0]);
        return direct(QStringLiteral("cannot start a process for the script"));
    }
    const ChildOutcome outcome
        = converse(channel[0], SteadyClock::now() + m_settings.timeOut, m_settings.resolveTimeOut);
    stopChild(pid);
    ::close(channel[0]);
    if (!outcome.result)
        return direct(outcome.error);
    const QList<ProxySettings> proxies = parseResult(QString::fromStdString(*outcome.result));
    if (proxies.isEmpty())
        return direct(QStringLiteral("the script answered nothing usable: ")
            + QString::fromStdString(*outcome.result));
    return { proxies, {} };
}

QList<ProxySettings> NXPACEvaluator::parseResult(const QString& result)
{
    QList<ProxySettings> proxies;
    const QStringList entries = result.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& entry : entries) {
        if (const auto proxy = parseEntry(entry))
            proxies.append(*proxy);
    }
    return proxies;
}

QString NXPACEvaluator::decodeScript(const QByteArray& bytes)
{
    QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() == bytes)
        return text;
    return QString::fromLatin1(bytes);
}

PacAnswer NXPACEvaluator::proxiesFor(
    const QUrl& scriptUrl, const QUrl& url, const Settings& settings)
{
    QString error;
    const QString script = fetchScript(scriptUrl, settings.timeOut, &error);
    if (script.isEmpty())
        return direct(error.isEmpty() ? QStringLiteral("the script is empty") : error);
    return NXPACEvaluator(script, settings).evaluate(url);
}

QFuture<PacAnswer> NXPACEvaluator::findProxies(
    const QUrl& scriptUrl, const QUrl& url, const Settings& settings)
{
    auto promise = std::make_shared<QPromise<PacAnswer>>();
    QFuture<PacAnswer> future = promise->future();
    promise->start();
    workerPool().start([promise, scriptUrl, url, settings] {
        promise->addResult(proxiesFor(scriptUrl, url, settings));
        promise->finish();
    });
    return future;
}

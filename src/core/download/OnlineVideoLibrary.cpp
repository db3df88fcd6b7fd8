#include "download/OnlineVideoLibrary.h"

#include "download/DNYoutubeProxy.h"
#include "http/NXHTTPRequest.h"
#include "platform/DNLogger.h"
#include "platform/ProcessRunner.h"
#include "platform/RunDeadline.h"
#include "platform/TemporaryFile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QUrl>

#include <csignal>

#include <sys/stat.h>

namespace {

// A runner whose stop ends the child at once: an analysis has nothing to save.
void killAtOnce(ProcessRunner& runner)
{
    runner.setGentleStop({ 0, {} }, std::chrono::milliseconds(0));
}

// The cancel object reaches the runner only while it runs.
class CancelScope {
public:
    CancelScope(OnlineVideoCancel* cancel, std::function<void()> stop)
        : m_cancel(cancel)
    {
        if (m_cancel)
            m_cancel->attach(std::move(stop));
    }
    ~CancelScope()
    {
        if (m_cancel)
            m_cancel->detach();
    }
    CancelScope(const CancelScope&) = delete;
    CancelScope& operator=(const CancelScope&) = delete;

private:
    OnlineVideoCancel* const m_cancel;
};

// The program file as it is now: a copy put in its place, even one of the
// same size written in the same millisecond, gives another key.
QString programKey(const QString& program)
{
    struct stat info { };
    if (::stat(QFile::encodeName(program).constData(), &info) != 0)
        return {};
    return QStringLiteral("%1|%2|%3|%4.%5")
        .arg(QFileInfo(program).absoluteFilePath())
        .arg(info.st_ino)
        .arg(info.st_size)
        .arg(info.st_mtim.tv_sec)
        .arg(info.st_mtim.tv_nsec);
}

QString runVersion(const QString& program)
{
    ProcessRunner runner;
    killAtOnce(runner);
    QString firstLine;
    runner.setStdoutHandler([&firstLine](const QString& line) {
        if (firstLine.isEmpty())
            firstLine = line.trimmed();
    });
    ProcessRunner::Result result;
    {
        const RunDeadline deadline(std::chrono::seconds(15), [&runner] { runner.stop(); });
        result = runner.run(program, { QStringLiteral("--version") });
    }
    if (!result.succeeded() || firstLine.isEmpty())
        return {};
    return QStringLiteral("yt-dlp ") + firstLine;
}

// The shell only sends the program's output to a file and bounds that file
// (in 512-byte blocks), then becomes the program itself, in a process group
// of its own (setsid does not fork in a process that leads no group): the
// runner's pid is the program's and its group's, and a runaway output costs
// neither memory nor disk. Only that pid dies with us, so a keeper joins the
// group: it reads the standard input whose other end only we hold, and once
// that closes (we are gone, or the run is over) it kills the whole group,
// itself last, so the program's own children never outlive us. While it
// lives the group's number cannot pass to anyone else.
const QString kBoundedOutputScript
    = QStringLiteral("out=$1; shift; ulimit -f %1 || exit 126; exec setsid /bin/sh -c '"
                     "exec 3<&0; { while read -r _; do :; done; kill -KILL 0; } <&3 >/dev/null "
                     "2>&1 3<&- & exec \"$@\" </dev/null 3<&-' yt-dlp \"$@\" >\"$out\"")
          .arg(OnlineVideoLibrary::kMaxOutputBytes / 512);

// Ends the analysis and whatever it started: its whole process group.
void stopGroup(ProcessRunner& runner)
{
    if (const pid_t group = runner.pid(); group > 0)
        ::kill(-group, SIGKILL);
    runner.stop();
}

QStringList analysisArguments(const QString& url, const QString& proxy)
{
    QStringList arguments { QStringLiteral("-J"), QStringLiteral("--ignore-config"),
        QStringLiteral("--no-playlist"), QStringLiteral("--playlist-items"), QStringLiteral("1"),
        QStringLiteral("--no-warnings"), QStringLiteral("--socket-timeout"), QStringLiteral("15") };
    if (!proxy.isEmpty())
        arguments << QStringLiteral("--proxy") << QStringLiteral("http://") + proxy;
    // "--" keeps a URL that starts with "-" from being read as an option.
    arguments << QStringLiteral("--") << url;
    return arguments;
}

// Keeps the last "ERROR:" line the program printed, and stops it when its
// error output runs away too.
class ErrorOutput {
public:
    explicit ErrorOutput(ProcessRunner& runner)
        : m_runner(runner)
    { }
    void take(const QString& line)
    {
        m_bytes += line.size();
        if (m_bytes > OnlineVideoLibrary::kMaxOutputBytes)
            stopGroup(m_runner);
        if (line.startsWith(QLatin1String("ERROR:")))
            m_lastError = line;
    }
    QString lastError() const { return m_lastError; }

private:
    ProcessRunner& m_runner;
    qint64 m_bytes = 0;
    QString m_lastError;
};

QString failureText(const ProcessRunner::Result& result, const ErrorOutput& errors)
{
    if (!errors.lastError().isEmpty())
        return errors.lastError();
    if (!result.started)
        return result.error;
    if (result.signal != 0)
        return QStringLiteral("ended by signal %1").arg(result.signal);
    return QStringLiteral("exit status %1").arg(result.exitCode);
}

} // namespace

// The stop runs under the lock: detach() waits for it, so whatever the stop
// reaches (a runner, a request on the analysis thread's stack) is still alive.
void OnlineVideoCancel::cancel()
{
    const std::lock_guard lock(m_mutex);
    m_cancelled = true;
    if (m_stop)
        m_stop();
}

bool OnlineVideoCancel::isCancelled() const
{
    const std::lock_guard lock(m_mutex);
    return m_cancelled;
}

void OnlineVideoCancel::attach(std::function<void()> stop)
{
    const std::lock_guard lock(m_mutex);
    m_stop = std::move(stop);
    if (m_cancelled)
        m_stop();
}

void OnlineVideoCancel::detach()
{
    const std::lock_guard lock(m_mutex);
    m_stop = nullptr;
}

OnlineVideoLibrary::OnlineVideoLibrary(
    QString program, std::shared_ptr<OnlineVideoCancel> cancel, std::chrono::milliseconds timeLimit)
    : m_program(std::move(program))
    , m_cancel(std::move(cancel))
    , m_timeLimit(timeLimit)
{ }

QString OnlineVideoLibrary::getVersion() const
{
    static std::mutex cacheMutex;
    static QHash<QString, QString> versions;
    if (m_program.isEmpty() || !QFileInfo(m_program).isExecutable())
        return {};
    const QString key = programKey(m_program);
    {
        const std::lock_guard lock(cacheMutex);
        if (const auto known = versions.constFind(key); known != versions.cend())
            return *known;
    }
    const QString version = runVersion(m_program);
    if (!version.isEmpty()) {
        const std::lock_guard lock(cacheMutex);
        versions.insert(key, version);
    }
    return version;
}

bool OnlineVideoLibrary::initialize()
{
    return !getVersion().isEmpty();
}

void OnlineVideoLibrary::setProxy(const QString& hostAndPort)
{
    m_proxy = hostAndPort;
}

void OnlineVideoLibrary::uninstall()
{
    m_proxy.clear();
}

std::optional<OnlineVideoInfo> OnlineVideoLibrary::getOnlineVideoInfo(const QString& url)
{
    // The size requests share the time limit with the program: a server that
    // never answers them must not hold the analysis for 15 s a stream.
    const auto deadline = std::chrono::steady_clock::now() + m_timeLimit;
    m_failure.clear();
    const std::optional<QByteArray> json = runAnalysis(url);
    if (!json)
        return std::nullopt;
    QStringList leftOut;
    std::optional<OnlineVideoInfo> info = onlineVideoInfoFromJson(*json, &leftOut);
    for (const QString& line : std::as_const(leftOut))
        DNLog(QStringLiteral("yt-dlp: ") + line);
    if (!info) {
        fail(QStringLiteral("no usable record for %1").arg(url));
        return std::nullopt;
    }
    fillUnknownSizes(*info, deadline);
    return info;
}

std::optional<QByteArray> OnlineVideoLibrary::runAnalysis(const QString& url)
{
    const TemporaryFileScope scratch;
    const QString output = makeTemporaryFile(QStringLiteral("qzyt"), QStringLiteral("json"));
    if (output.isEmpty())
        return std::nullopt;
    ProcessRunner runner;
    killAtOnce(runner);
    ErrorOutput errors(runner);
    runner.setStderrHandler([&errors](const QString& line) { errors.take(line); });
    const CancelScope cancelScope(m_cancel.get(), [&runner] { stopGroup(runner); });
    ProcessRunner::Result result;
    bool expired = false;
    {
        const RunDeadline deadline(m_timeLimit, [&runner] { stopGroup(runner); });
        result = runner.run(QStringLiteral("/bin/sh"),
            QStringList { QStringLiteral("-c"), kBoundedOutputScript, QStringLiteral("yt-dlp"),
                output, m_program }
                + analysisArguments(url, m_proxy));
        expired = deadline.expired();
    }
    QFile file(output);
    const qint64 size = file.size();
    if (m_cancel && m_cancel->isCancelled()) {
        fail(QStringLiteral("analysis of %1 cancelled").arg(url));
        return std::nullopt;
    }
    if (expired) {
        fail(QStringLiteral("analysis of %1 stopped after %2 s")
                 .arg(url, QString::number(m_timeLimit.count() / 1000.0)));
        return std::nullopt;
    }
    if (size >= kMaxOutputBytes) {
        fail(QStringLiteral("analysis of %1 printed more than 64 MiB").arg(url));
        return std::nullopt;
    }
    if (!result.succeeded()) {
        fail(QStringLiteral("analysis of %1 failed: %2").arg(url, failureText(result, errors)));
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

void OnlineVideoLibrary::fail(const QString& what)
{
    DNLog(QStringLiteral("yt-dlp: ") + what);
    m_failure = what;
}

void OnlineVideoLibrary::fillUnknownSizes(
    OnlineVideoInfo& info, std::chrono::steady_clock::time_point deadline)
{
    for (OnlineVideoStream& stream : info.streams) {
        if (stream.size > 0)
            continue;
        if (m_cancel && m_cancel->isCancelled())
            return;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds::zero()) {
            DNLog(QStringLiteral("yt-dlp: no time left to ask the sizes of the other streams"));
            return;
        }
        stream.size = headContentLength(stream, std::min(kSizeRequestTimeLimit, left));
        stream.sizeIsExact = stream.size > 0;
    }
}

// The size the server gives for the stream's first URL; 0 when it gives none.
double OnlineVideoLibrary::headContentLength(
    const OnlineVideoStream& stream, std::chrono::milliseconds timeLimit)
{
    const auto request = NXHTTPRequest::requestWithURL(QUrl(stream.urls.value(0)));
    request->setRequestMethod(QStringLiteral("HEAD"));
    for (auto header = stream.httpHeaders.cbegin(); header != stream.httpHeaders.cend(); ++header)
        request->addRequestHeader(header.key(), header.value());
    DNYoutubeApplyProxy(*request, m_proxy);
    request->setTimeOutSeconds(static_cast<double>(timeLimit.count()) / 1000.0);
    const CancelScope cancelScope(m_cancel.get(), [request] { request->cancel(); });
    {
        // The time-out above counts silence only: a server that trickles its
        // answer must still not hold the analysis past its limit.
        const RunDeadline deadline(timeLimit, [request] { request->cancel(); });
        request->startSynchronous();
    }
    if (!request->error().isNull() || request->responseStatusCode() >= 400)
        return 0.0;
    bool isNumber = false;
    const double length
        = request->responseHeaders().value(QStringLiteral("Content-Length")).toDouble(&isNumber);
    return isNumber && length > 0 ? std::min(length, kLargestStreamBytes) : 0.0;
}

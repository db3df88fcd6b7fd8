#include "download/OnlineVideoLibrary.h"

#include "download/DNYoutubeProxy.h"
#include "http/HttpHeaders.h"
#include "http/NXHTTPRequest.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/RunDeadline.h"
#include "platform/TemporaryFile.h"
#include "services/DNHelpers.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>
#include <QUrl>

#include <atomic>
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

// Runs "$@" in the process group of its own that the runner's child leads:
// the runner's pid is the program's and its group's. Only that pid dies with
// us, so a keeper joins the group:
// it reads the standard input whose other end only we hold, and once that
// closes (we are gone, or the run is over) it kills the whole group, itself
// last, so the program's own children never outlive the run. While it lives
// the group's number cannot pass to anyone else.
const QString kOwnGroupCommand
    = QStringLiteral("exec /bin/sh -c '"
                     "exec 3<&0; { while read -r _; do :; done; kill -KILL 0; } <&3 >/dev/null "
                     "2>&1 3<&- & exec \"$@\" </dev/null 3<&-' yt-dlp \"$@\"");

// The analysis's output goes to a file, bounded (in 512-byte blocks), so that
// a runaway output costs neither memory nor disk.
const QString kBoundedOutputScript
    = QStringLiteral("out=$1; shift; ulimit -f %1 || exit 126; %2 >\"$out\"")
          .arg(OnlineVideoLibrary::kMaxOutputBytes / 512)
          .arg(kOwnGroupCommand);

std::atomic<std::chrono::milliseconds::rep> g_versionTimeLimit { 30000 };

// The versions the program files gave, by file identity, for the whole process.
class VersionCache {
public:
    QString find(const QString& identity) const
    {
        const std::lock_guard lock(m_mutex);
        return m_versions.value(identity);
    }
    void insert(const QString& identity, const QString& version)
    {
        const std::lock_guard lock(m_mutex);
        m_versions.insert(identity, version);
    }

private:
    mutable std::mutex m_mutex;
    QHash<QString, QString> m_versions;
};

VersionCache& versionCache()
{
    static VersionCache cache;
    return cache;
}

// Ends the run and whatever it started: its whole process group.
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

// Keeps the last lines the program printed on its error output (its "ERROR:"
// line among them), each cut, and stops it when that output runs away too.
class ErrorOutput {
public:
    // yt-dlp ends with its error; the lines before it are the way there.
    static constexpr qsizetype kKeptLines = 20;

    explicit ErrorOutput(ProcessRunner& runner)
        : m_runner(runner)
    { }
    void take(const QString& line)
    {
        m_bytes += line.size();
        if (m_bytes > OnlineVideoLibrary::kMaxOutputBytes)
            stopGroup(m_runner);
        const QString kept = DNQuotedWords(line.trimmed());
        if (kept.startsWith(QLatin1String("ERROR:")))
            m_lastError = kept;
        if (m_lines.size() == kKeptLines)
            m_lines.removeFirst();
        m_lines << kept;
    }
    QString lastError() const { return m_lastError; }
    QStringList lines() const { return m_lines; }

private:
    ProcessRunner& m_runner;
    qint64 m_bytes = 0;
    QString m_lastError;
    QStringList m_lines;
};

// Why a run that did not succeed gave nothing, in our words.
QString failureReason(const ProcessRunner::Result& result, const ErrorOutput& errors)
{
    if (!errors.lastError().isEmpty())
        return onlineVideoErrorReason(errors.lastError());
    if (!result.started)
        return QStringLiteral("yt-dlp could not be started: %1").arg(result.error);
    const QString seeLog = errors.lines().isEmpty() ? QString() : QStringLiteral(" (see Show Log)");
    if (result.signal != 0)
        return QStringLiteral("yt-dlp was ended by %1%2").arg(signalText(result.signal), seeLog);
    return QStringLiteral("yt-dlp failed with exit status %1%2")
        .arg(QString::number(result.exitCode), seeLog);
}

} // namespace

QString VersionAnswer::failure() const
{
    if (!result.started)
        return result.error;
    if (timedOut)
        return QStringLiteral("did not answer within %1 s")
            .arg(QString::number(OnlineVideoLibrary::versionTimeLimit().count() / 1000.0));
    if (result.signal != 0)
        return QStringLiteral("was ended by ") + signalText(result.signal);
    if (result.exitCode != 0)
        return QStringLiteral("ended with exit status %1%2")
            .arg(result.exitCode)
            .arg(lastError.isEmpty() ? QString() : QStringLiteral(": ") + lastError);
    if (line.isEmpty())
        return QStringLiteral("printed no version");
    return {};
}

// The stop runs under the lock: detach() waits for it, so whatever the stop
// reaches (a runner, a request on the analysis thread's stack) is still alive.
void OnlineVideoCancel::cancel()
{
    {
        const std::lock_guard lock(m_mutex);
        m_cancelled = true;
        if (m_stop)
            m_stop();
    }
    m_stopSource.request_stop();
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
    if (m_program.isEmpty() || !QFileInfo(m_program).isExecutable())
        return {};
    const QString identity = fileIdentity(m_program);
    if (QString known = versionCache().find(identity); !known.isEmpty())
        return known;
    const VersionAnswer answer = askVersion(m_program, { QStringLiteral("--version") });
    if (!answer.failure().isEmpty()) {
        DNLog(QStringLiteral("yt-dlp: %1 --version %2").arg(m_program, answer.failure()));
        return {};
    }
    const QString version = QStringLiteral("yt-dlp ") + answer.line;
    // A copy put in place while it answered may be another version.
    if (fileIdentity(m_program) == identity)
        versionCache().insert(identity, version);
    return version;
}

QString OnlineVideoLibrary::knownVersion() const
{
    return m_program.isEmpty() ? QString() : versionCache().find(fileIdentity(m_program));
}

bool OnlineVideoLibrary::initialize()
{
    return !m_program.isEmpty() && QFileInfo(m_program).isFile()
        && QFileInfo(m_program).isExecutable();
}

QString OnlineVideoLibrary::fileIdentity(const QString& path)
{
    struct stat info { };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return QStringLiteral("%1:%2:%3:%4.%5")
        .arg(info.st_dev)
        .arg(info.st_ino)
        .arg(info.st_size)
        .arg(info.st_mtim.tv_sec)
        .arg(info.st_mtim.tv_nsec);
}

std::chrono::milliseconds OnlineVideoLibrary::versionTimeLimit()
{
    return std::chrono::milliseconds(g_versionTimeLimit.load());
}

void OnlineVideoLibrary::setVersionTimeLimit(std::chrono::milliseconds limit)
{
    g_versionTimeLimit = limit.count();
}

// The working folder is empty and ours: a program asked only its version has
// no business with the files of whatever folder we were started in.
VersionAnswer OnlineVideoLibrary::askVersion(
    const QString& program, const QStringList& arguments, const std::stop_token& stop)
{
    VersionAnswer answer;
    const QTemporaryDir folder(AppPaths::temporaryFolder() + QStringLiteral("/qzver-XXXXXX"));
    if (!folder.isValid()) {
        answer.result.error = QStringLiteral("no working folder: ") + folder.errorString();
        return answer;
    }
    ProcessRunner runner;
    killAtOnce(runner);
    runner.setWorkingDirectory(folder.path());
    // Both are quoted in messages, cut: a version is a short line, and a
    // program that prints megabytes there must not make a message of them.
    runner.setStdoutHandler([&answer](const QString& line) {
        if (answer.line.isEmpty())
            answer.line = DNQuotedWords(line.trimmed());
    });
    runner.setStderrHandler(
        [&answer](const QString& line) { answer.lastError = DNQuotedWords(line.trimmed()); });
    const RunDeadline deadline(versionTimeLimit(), [&runner] { stopGroup(runner); });
    const std::stop_callback cancelled(stop, [&runner] { stopGroup(runner); });
    answer.result = runner.run(QStringLiteral("/bin/sh"),
        QStringList { QStringLiteral("-c"), kOwnGroupCommand, QStringLiteral("yt-dlp"), program }
            + arguments);
    answer.timedOut = deadline.expired();
    return answer;
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
    m_failure = {};
    const std::optional<QByteArray> json = runAnalysis(url);
    if (!json)
        return std::nullopt;
    QStringList leftOut;
    std::optional<OnlineVideoInfo> info = onlineVideoInfoFromJson(*json, &leftOut);
    for (const QString& line : std::as_const(leftOut))
        DNLog(QStringLiteral("yt-dlp: ") + line);
    if (!info) {
        fail(url, QStringLiteral("yt-dlp's answer is no record of a page that can be read"), {});
        return std::nullopt;
    }
    fillUnknownSizes(*info, deadline);
    return info;
}

std::optional<QByteArray> OnlineVideoLibrary::runAnalysis(const QString& url)
{
    const TemporaryFileScope scratch;
    const QString output = makeTemporaryFile(QStringLiteral("qzyt"), QStringLiteral("json"));
    if (output.isEmpty()) {
        fail(url,
            QStringLiteral("no file for yt-dlp's answer could be made in the temporary folder"),
            {});
        return std::nullopt;
    }
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
    const QStringList lines = errors.lines();
    if (m_cancel && m_cancel->isCancelled()) {
        fail(url, QStringLiteral("the analysis was cancelled"), lines);
        return std::nullopt;
    }
    if (expired) {
        fail(url,
            QStringLiteral("yt-dlp did not finish within %1 s and was stopped")
                .arg(QString::number(m_timeLimit.count() / 1000.0)),
            lines);
        return std::nullopt;
    }
    if (size >= kMaxOutputBytes) {
        fail(url, QStringLiteral("yt-dlp printed more than 64 MiB"), lines);
        return std::nullopt;
    }
    if (!result.succeeded()) {
        fail(url, failureReason(result, errors), lines);
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        fail(
            url, QStringLiteral("yt-dlp's answer could not be read: ") + file.errorString(), lines);
        return std::nullopt;
    }
    return file.read(kMaxOutputBytes);
}

// yt-dlp's own lines go to the log as a program's lines do, below our reason.
void OnlineVideoLibrary::fail(
    const QString& url, const QString& reason, const QStringList& toolLines)
{
    DNLog(QStringLiteral("yt-dlp: analysis of %1 failed: %2").arg(url, reason));
    for (const QString& line : toolLines)
        DNLogger::shareRoughLog().logEngineLine(line);
    m_failure = { reason, toolLines };
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
        askSize(stream, std::min(kSizeRequestTimeLimit, left));
        stream.sizeIsExact = stream.size > 0;
    }
}

// The size the server gives for the stream's first URL (0 when it gives
// none), and the version it names: the download that follows holds its
// answers to it.
void OnlineVideoLibrary::askSize(OnlineVideoStream& stream, std::chrono::milliseconds timeLimit)
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
        return;
    const NXHeaderDictionary headers = request->responseHeaders();
    bool isNumber = false;
    const double length = headers.value(QStringLiteral("Content-Length")).toDouble(&isNumber);
    stream.size = isNumber && length > 0 ? std::min(length, kLargestStreamBytes) : 0.0;
    // A coded answer's length is not the file's.
    const QString coding = headers.value(QStringLiteral("Content-Encoding")).trimmed();
    const bool coded
        = !coding.isEmpty() && coding.compare(QLatin1String("identity"), Qt::CaseInsensitive) != 0;
    const std::optional<quint64> total = stream.size > 0 && !coded
        ? std::optional(static_cast<quint64>(stream.size))
        : std::nullopt;
    // Keyed by the names' canonical forms ("Etag").
    const auto field = [&headers](const QString& name) {
        return headers.value(HttpHeaders::canonicalName(name)).trimmed();
    };
    stream.sizeAnswerVersion = PartialFileOrigin { field(QStringLiteral("ETag")),
        field(QStringLiteral("Last-Modified")), total };
}

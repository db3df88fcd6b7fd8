#include "download/ParserRelease.h"

#include "download/DNYoutubeParser.h"
#include "download/DNYoutubeProxy.h"
#include "download/OnlineVideoLibrary.h"
#include "http/NXHTTPRequest.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/Fd.h"
#include "platform/OwnerMark.h"
#include "platform/ProcessRunner.h"
#include "platform/RunDeadline.h"
#include "platform/UserDefaults.h"
#include "services/DNHelpers.h"
#include "services/OutputPublishing.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const QString kProgramName = QStringLiteral("yt-dlp");
const QString kSumsName = QStringLiteral("SHA2-256SUMS");
const QString kSignatureName = QStringLiteral("SHA2-256SUMS.sig");
const QString kKeyringName = QStringLiteral("release-key.gpg");
// The release's address answers with a redirect to where the file lies.
constexpr int kMaxRedirects = 5;
// A public key is a few KiB; more is not the key we ship.
constexpr qint64 kMaxKeyBytes = 1024 * 1024;
// gpgv answers in well under a second.
constexpr milliseconds kChildTimeLimit { 30000 };

ParserReleaseResult refused(const QString& reason)
{
    return { ParserReleaseResult::Outcome::Refused, reason, {} };
}

bool isLoopbackHost(const QString& host)
{
    return host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
        || QHostAddress(host).isLoopback();
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

struct Fetched {
    QByteArray body;
    QString problem;
};

// The request's error with the causes under it, each said once: "A
// connection failure occurred" alone does not tell a missing network from a
// refused connection.
QString errorWithCauses(const HttpError& error)
{
    QString text = error.localizedDescription();
    const HttpError* cause = error.underlyingError().get();
    // Bounded: an error chain is short, but never trust it to end.
    for (int depth = 0; cause && depth < 8; ++depth, cause = cause->underlyingError().get()) {
        const QString more = cause->localizedDescription();
        if (!more.isEmpty() && !text.contains(more))
            text += QStringLiteral(": ") + more;
    }
    return DNQuotedWords(text);
}

// One GET of `url` within the time left; redirects are returned, not followed,
// so that each address on the way is checked before anything is asked of it.
std::shared_ptr<NXHTTPRequest> getOnce(const QUrl& url, qint64 maxBytes, milliseconds left,
    const ParserReleaseSource& source, bool* expired)
{
    const auto request = NXHTTPRequest::requestWithURL(url);
    request->setShouldRedirect(false);
    // Identity bodies only, so the reply's own length measures what came.
    request->setAllowCompressedResponse(false);
    request->setMaximumBodySize(static_cast<quint64>(maxBytes));
    request->setTimeOutSeconds(static_cast<double>(left.count()) / 1000.0);
    DNYoutubeApplyProxy(*request, source.proxy);
    // The time-out counts silence only; a trickling body must end too.
    const RunDeadline deadline(left, [request] { request->cancel(); });
    const std::stop_callback cancelled(source.stop, [request] { request->cancel(); });
    request->startSynchronous();
    *expired = deadline.expired();
    return request;
}

// The body at `url` when it came whole with a 200 and within `maxBytes`.
Fetched fetch(
    QUrl url, qint64 maxBytes, Clock::time_point deadline, const ParserReleaseSource& source)
{
    const QString name = url.fileName();
    for (int hop = 0; hop <= kMaxRedirects; ++hop) {
        if (const QString problem = ParserRelease::addressProblem(url); !problem.isEmpty())
            return { {}, problem };
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        bool expired = left <= milliseconds::zero();
        const auto request = expired ? nullptr : getOnce(url, maxBytes, left, source, &expired);
        if (source.stop.stop_requested())
            return { {}, ParserRelease::kCancelledReason };
        if (expired)
            return { {}, QStringLiteral("%1 did not come within the time limit").arg(name) };
        if (!request->error().isNull())
            return { {},
                QStringLiteral("%1 could not be fetched from %2: %3")
                    .arg(name, url.toString(), errorWithCauses(request->error())) };
        const int status = request->responseStatusCode();
        const QString location = request->responseHeaders().value(QStringLiteral("Location"));
        if (isRedirect(status) && !location.isEmpty()) {
            url = url.resolved(QUrl(location));
            continue;
        }
        if (status != 200)
            return { {},
                QStringLiteral("%1: %2 answered %3")
                    .arg(name, url.toString(), QString::number(status)) };
        const QByteArray body = request->responseData();
        bool hasLength = false;
        const qint64 length = request->responseHeaders()
                                  .value(QStringLiteral("Content-Length"))
                                  .toLongLong(&hasLength);
        if (hasLength && length != body.size())
            return { {}, QStringLiteral("%1 came incomplete").arg(name) };
        if (body.isEmpty())
            return { {}, QStringLiteral("%1 is empty").arg(name) };
        return { body, {} };
    }
    return { {}, QStringLiteral("%1: too many redirects").arg(name) };
}

// The key's packets from its ASCII armor, as gpgv reads a keyring.
QByteArray dearmoredKey(const QByteArray& armored)
{
    enum class Part { Before, Header, Body } part = Part::Before;
    QByteArray base64;
    for (const QByteArray& raw : armored.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (part == Part::Before) {
            if (line == "-----BEGIN PGP PUBLIC KEY BLOCK-----")
                part = Part::Header;
        } else if (part == Part::Header) {
            if (line.isEmpty())
                part = Part::Body;
        } else if (line.startsWith('=') || line.startsWith("-----END PGP PUBLIC KEY BLOCK")) {
            const auto decoded
                = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
            return decoded ? *decoded : QByteArray();
        } else {
            base64 += line;
        }
    }
    return {};
}

QByteArray readKey(const QString& keyFile)
{
    const QFileInfo info(keyFile);
    QFile file(keyFile);
    if (!info.isFile() || info.size() > kMaxKeyBytes || !file.open(QIODevice::ReadOnly))
        return {};
    return dearmoredKey(file.read(kMaxKeyBytes));
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// "" once `bytes` are the whole file at `path`, else the system's reason (a
// full folder shows when the buffered bytes are flushed).
QString writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush())
        return {};
    return QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), file.errorString());
}

// The exit, the first 100 lines of standard output and the last line of
// standard error of `program` run with `arguments`, within kChildTimeLimit.
struct ChildAnswer {
    ProcessRunner::Result result;
    QStringList output;
    QString lastError;
};

ChildAnswer runChild(
    const QString& program, const QStringList& arguments, const std::stop_token& stop)
{
    ChildAnswer answer;
    ProcessRunner runner;
    runner.setGentleStop({ 0, {} }, milliseconds(0));
    runner.setStdoutHandler([&answer](const QString& line) {
        if (answer.output.size() < 100)
            answer.output << line.trimmed();
    });
    runner.setStderrHandler(
        [&answer](const QString& line) { answer.lastError = DNQuotedWords(line.trimmed()); });
    const RunDeadline deadline(kChildTimeLimit, [&runner] { runner.stop(); });
    const std::stop_callback cancelled(stop, [&runner] { runner.stop(); });
    answer.result = runner.run(program, arguments);
    return answer;
}

// gpgv's status words against a signature. Those that can stand beside
// VALIDSIG, which says only that the signature's arithmetic holds (gpgv even
// exits 0 with a revoked key), make it worthless; the others tell why there
// is none to check. The first found is the one told, so the key's word comes
// before the signature's, and NO_PUBKEY before the ERRSIG it explains.
struct StatusWarning {
    QLatin1String keyword;
    const char* meaning;
};
constexpr StatusWarning kStatusWarnings[] = {
    { QLatin1String("REVKEYSIG"), "the release key is revoked" },
    { QLatin1String("EXPKEYSIG"), "the release key has expired" },
    { QLatin1String("EXPSIG"), "the signature has expired" },
    { QLatin1String("BADSIG"), "the signature does not match" },
    { QLatin1String("NO_PUBKEY"), "it was made by another key than the release key" },
    { QLatin1String("ERRSIG"), "the signature could not be checked" },
    { QLatin1String("NODATA"), "it holds no signature" },
};

// What gpgv's status lines hold against a signature, and the line that says
// so (without gpgv's "[GNUPG:] " mark); no meaning when they tell a good and
// valid signature and nothing against it. The keyring holds the release key
// alone, so a valid signature can only be that key's.
struct StatusVerdict {
    QString meaning;
    QString line;
};

StatusVerdict statusVerdict(const QStringList& status)
{
    const QLatin1String mark("[GNUPG:] ");
    const auto find = [&](QLatin1String keyword) -> QString {
        const QString prefix = mark + keyword;
        for (const QString& line : status) {
            if (line == prefix || line.startsWith(prefix + QLatin1Char(' ')))
                return DNQuotedWords(line.mid(mark.size()));
        }
        return {};
    };
    for (const StatusWarning& warning : kStatusWarnings) {
        if (QString line = find(warning.keyword); !line.isEmpty())
            return { QString::fromLatin1(warning.meaning), line };
    }
    if (find(QLatin1String("GOODSIG")).isEmpty() || find(QLatin1String("VALIDSIG")).isEmpty())
        return { QStringLiteral("gpgv found no good signature"),
            status.isEmpty() ? QString() : DNQuotedWords(status.last()) };
    return {};
}

// "" once the key, the sums and the signature are written in `work`, else why not.
QString writeSignedFiles(const QTemporaryDir& work, const QByteArray& key, const QByteArray& sums,
    const QByteArray& signature)
{
    if (!work.isValid())
        return work.errorString();
    for (const auto& [name, bytes] : { std::pair { kKeyringName, key },
             std::pair { kSumsName, sums }, std::pair { kSignatureName, signature } }) {
        if (QString problem = writeFile(work.filePath(name), bytes); !problem.isEmpty())
            return problem;
    }
    return {};
}

// "" when `signature` is a good signature of `sums` by the key in `keyFile`.
// gpgv reads a keyring of that key alone, in a folder of our own, so neither
// the user's keys nor their trust settings take part.
QString signatureProblem(
    const QByteArray& sums, const QByteArray& signature, const ParserReleaseSource& source)
{
    const QByteArray key = readKey(source.keyFile);
    if (key.isEmpty())
        return QStringLiteral("%1 is not an armored public key").arg(source.keyFile);
    const QString gpgv = QStandardPaths::findExecutable(QStringLiteral("gpgv"));
    if (gpgv.isEmpty())
        return QStringLiteral("gpgv is not installed");
    const QTemporaryDir work(AppPaths::temporaryFolder() + QStringLiteral("/qzgpg-XXXXXX"));
    if (const QString problem = writeSignedFiles(work, key, sums, signature); !problem.isEmpty())
        return QStringLiteral("the signature could not be checked: the temporary folder %1: %2")
            .arg(AppPaths::temporaryFolder(), problem);
    const ChildAnswer answer = runChild(gpgv,
        { QStringLiteral("--homedir"), work.path(), QStringLiteral("--status-fd"),
            QStringLiteral("1"), QStringLiteral("--keyring"), work.filePath(kKeyringName),
            work.filePath(kSignatureName), work.filePath(kSumsName) },
        source.stop);
    const StatusVerdict verdict = statusVerdict(answer.output);
    if (verdict.meaning.isEmpty() && answer.result.succeeded())
        return {};
    // The status line that refused it says why; gpgv's words for people may
    // contradict it ("Good signature from" a revoked key).
    const QString why = !verdict.line.isEmpty() ? QStringLiteral("gpgv: ") + verdict.line
        : !answer.lastError.isEmpty()           ? answer.lastError
                                                : answer.result.error;
    return QStringLiteral("%1 is not a good signature of %2 by the release key: %3%4")
        .arg(kSignatureName, kSumsName,
            verdict.meaning.isEmpty() ? QStringLiteral("gpgv failed") : verdict.meaning,
            why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why));
}

// The SHA-256 the sums give for the file named "yt-dlp", in lower-case hex.
QByteArray listedHash(const QByteArray& sums)
{
    static const QRegularExpression entry(QStringLiteral("^([0-9a-fA-F]{64}) [ *](.+)$"));
    for (const QByteArray& line : sums.split('\n')) {
        const QRegularExpressionMatch match = entry.match(QString::fromUtf8(line.trimmed()));
        if (match.hasMatch() && match.captured(2) == kProgramName)
            return match.captured(1).toLower().toLatin1();
    }
    return {};
}

// The program written under a hidden name beside its copy place (so that the
// move into place is one rename), readable by us alone and executable by
// no one; removed when the object goes, unless it was moved. The name carries
// our pid, so that one left by a crash is known as abandoned.
class AsideCopy {
public:
    explicit AsideCopy(const QString& copyPath)
    {
        const QString path = partialOutputPath(copyPath);
        m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
            S_IRUSR | S_IWUSR);
        if (m_fd >= 0) {
            m_path = path;
            OwnerMark::mark(m_fd);
        } else {
            m_error = errnoText();
        }
    }
    ~AsideCopy()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_path.isEmpty())
            ::unlink(QFile::encodeName(m_path).constData());
    }
    AsideCopy(const AsideCopy&) = delete;
    AsideCopy& operator=(const AsideCopy&) = delete;

    QString path() const { return m_path; }
    // "" once `bytes` are on the disk, else the system's reason.
    QString write(const QByteArray& bytes)
    {
        if (m_fd < 0)
            return m_error;
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t written = ::write(m_fd, bytes.constData() + done, bytes.size() - done);
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0)
                return errnoText();
            // Nothing taken while bytes remain: the disk is full, however it
            // says so, and asking again would never end.
            if (written == 0)
                return QString::fromLocal8Bit(std::strerror(ENOSPC));
            done += written;
        }
        return ::fsync(m_fd) == 0 ? QString() : errnoText();
    }
    // Made executable (whatever the umask says) and moved over the copy place.
    QString moveTo(const QString& copyPath)
    {
        // Closed first: a program still open for writing cannot be started.
        const bool executable = ::fchmod(m_fd, 0755) == 0;
        ::close(m_fd);
        m_fd = -1;
        if (!executable
            || ::rename(
                   QFile::encodeName(m_path).constData(), QFile::encodeName(copyPath).constData())
                != 0)
            return errnoText();
        m_path.clear();
        OwnerMark::clear(copyPath);
        return {};
    }

private:
    int m_fd = -1;
    QString m_path;
    QString m_error; // why it could not be made
};

// The copy's folder locked against every other update, of this process or
// another instance of ours, for as long as the object lives: what is in
// place is compared with and replaced in one step. A holder that dies lets go.
class FolderLock {
public:
    FolderLock(const QString& folder, const ParserReleaseSource& source)
        : m_fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (!m_fd.valid()) {
            m_problem = QStringLiteral("%1 could not be opened: %2").arg(folder, errnoText());
            return;
        }
        // A holder asks one version and renames one file.
        const milliseconds limit = 2 * OnlineVideoLibrary::versionTimeLimit();
        const auto deadline = Clock::now() + limit;
        const std::stop_token& stop = source.stop;
        bool waiting = false;
        while (::flock(m_fd.get(), LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error == EWOULDBLOCK && !std::exchange(waiting, true))
                tellWaiting(folder, source);
            if (error != EWOULDBLOCK && error != EINTR)
                m_problem = QStringLiteral("%1 could not be locked: %2")
                                .arg(folder, QString::fromLocal8Bit(std::strerror(error)));
            else if (stop.stop_requested())
                m_problem = ParserRelease::kCancelledReason;
            else if (Clock::now() > deadline)
                m_problem = QStringLiteral("another update kept %1 locked for more than %2 s")
                                .arg(folder)
                                .arg(limit.count() / 1000);
            if (!m_problem.isEmpty())
                return;
            std::this_thread::sleep_for(milliseconds(20));
        }
    }
    // "" while the lock is held.
    QString problem() const { return m_problem; }

private:
    static void tellWaiting(const QString& folder, const ParserReleaseSource& source)
    {
        DNLog(
            QStringLiteral("Youtube Parser: another update holds %1; waiting for it").arg(folder));
        if (source.waitsForFolder)
            source.waitsForFolder();
    }

    Fd m_fd;
    QString m_problem;
};

// The release's version run failed: a program that python3 starts and that
// refuses with a message is one this system cannot run (the newest yt-dlp
// wants a newer python3 than the system has); a hang, a crash or silence is
// told as it happened.
ParserReleaseResult versionRunFailed(const VersionAnswer& answer)
{
    const bool refusedToRun = answer.result.started && !answer.timedOut && answer.result.signal == 0
        && answer.result.exitCode != 0 && !answer.lastError.isEmpty();
    if (refusedToRun)
        return { ParserReleaseResult::Outcome::DoesNotRun,
            QStringLiteral("the new yt-dlp does not run with this system's python3: %1")
                .arg(answer.lastError),
            {} };
    return refused(QStringLiteral("the new yt-dlp's --version %1").arg(answer.failure()));
}

std::optional<QDate> dateOfCopy(const QString& path)
{
    return path.isEmpty() ? std::nullopt : DNYoutubeParser::buildDateOfYoutubeDylib(path);
}

// The move, once no newer copy is in place: another update (of this process
// or another) may have put one there while this one was fetching.
ParserReleaseResult moveIntoPlace(AsideCopy& aside, const QString& copyPath, const QString& version,
    const QDate& date, const ParserReleaseSource& source)
{
    const FolderLock lock(QFileInfo(copyPath).absolutePath(), source);
    if (!lock.problem().isEmpty())
        return refused(lock.problem());
    if (const std::optional<QDate> placed = dateOfCopy(copyPath); placed && date < *placed)
        return refused(QStringLiteral("the new yt-dlp %1 is older than the one in place (%2)")
                           .arg(version, placed->toString(Qt::ISODate)));
    if (const QString problem = aside.moveTo(copyPath); !problem.isEmpty())
        return refused(QStringLiteral("%1 could not be put in place: %2").arg(copyPath, problem));
    return { ParserReleaseResult::Outcome::Installed, {}, version };
}

// Step 3 and the move: the proven program runs, names a date after the
// system's copy's (one of the same date would never be chosen), and takes
// the copy place.
ParserReleaseResult runAndInstall(AsideCopy& aside, const QString& copyPath,
    const QString& systemCopy, const ParserReleaseSource& source)
{
    const std::stop_token& stop = source.stop;
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        return refused(QStringLiteral("python3, which runs yt-dlp, is not installed"));
    const VersionAnswer answer = OnlineVideoLibrary::askVersion(
        python, { QFileInfo(aside.path()).absoluteFilePath(), QStringLiteral("--version") }, stop);
    // A version run stopped half-way says nothing about this system's python3.
    if (stop.stop_requested())
        return refused(ParserRelease::kCancelledReason);
    if (!answer.failure().isEmpty())
        return versionRunFailed(answer);
    const std::optional<QDate> date = DNYoutubeParser::releaseDateOfVersion(answer.line);
    if (!date)
        return refused(
            QStringLiteral("the new yt-dlp's version \"%1\" names no date").arg(answer.line));
    if (const std::optional<QDate> system = dateOfCopy(systemCopy); system && *date <= *system)
        return refused(QStringLiteral("the new yt-dlp %1 is not newer than the system's (%2)")
                           .arg(answer.line, system->toString(Qt::ISODate)));
    return moveIntoPlace(aside, copyPath, answer.line, *date, source);
}

} // namespace

namespace ParserRelease {

QUrl latestAddress(const UserDefaults& defaults)
{
    const QString address = defaults.value(kAddressKey).toString().trimmed();
    return QUrl(address.isEmpty() ? kLatestAddress : address);
}

QString shippedKeyFile()
{
    return AppPaths::resourcesFolder() + QStringLiteral("/keys/yt-dlp-release-signing-key.asc");
}

QString addressProblem(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty())
        return QStringLiteral("\"%1\" is not a web address").arg(url.toString());
    if (scheme == QLatin1String("https")
        || (scheme == QLatin1String("http") && isLoopbackHost(url.host())))
        return {};
    return QStringLiteral("%1 is refused: only https carries a release").arg(url.toString());
}

ParserReleaseResult fetchAndInstall(
    const ParserReleaseSource& source, const QString& copyPath, const QString& systemCopy)
{
    const auto deadline = Clock::now() + source.timeLimit;
    const QString folder = QFileInfo(copyPath).absolutePath();
    // A run that crashed between writing its copy aside and moving it left it.
    for (const QString& left : removeAbandonedPartials(folder))
        DNLog(QStringLiteral("Youtube Parser: removed %1, left by an update that ended").arg(left));
    const auto fetchNamed = [&](const QString& name, qint64 maxBytes) {
        return fetch(source.program.resolved(QUrl(name)), maxBytes, deadline, source);
    };
    const Fetched sums = fetchNamed(kSumsName, source.maxSumsBytes);
    if (!sums.problem.isEmpty())
        return refused(sums.problem);
    const Fetched signature = fetchNamed(kSignatureName, source.maxSumsBytes);
    if (!signature.problem.isEmpty())
        return refused(signature.problem);
    if (const QString problem = signatureProblem(sums.body, signature.body, source);
        !problem.isEmpty())
        return refused(problem);
    const QByteArray expected = listedHash(sums.body);
    if (expected.isEmpty())
        return refused(QStringLiteral("%1 lists no file named %2").arg(kSumsName, kProgramName));
    const Fetched program = fetch(source.program, source.maxProgramBytes, deadline, source);
    if (!program.problem.isEmpty())
        return refused(program.problem);
    if (QCryptographicHash::hash(program.body, QCryptographicHash::Sha256).toHex() != expected)
        return refused(
            QStringLiteral("the program's SHA-256 is not the one %1 gives").arg(kSumsName));
    QDir().mkpath(folder);
    AsideCopy aside(copyPath);
    if (const QString problem = aside.write(program.body); !problem.isEmpty())
        return refused(
            QStringLiteral("the program could not be written in %1: %2").arg(folder, problem));
    return runAndInstall(aside, copyPath, systemCopy, source);
}

} // namespace ParserRelease

#include "download/DNYoutubeDownloader.h"

#include "download/DNYoutubeFileNames.h"
#include "http/PartialFileOrigin.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/PathStatus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// The size a stream is announced with, as a whole number, for its identity.
QString byteCount(double size)
{
    return QString::number(static_cast<qint64>(size));
}

// An estimate may be well off: a body may grow to twice it and a little more.
// A stream announced without a size stops at 64 GiB.
constexpr double kEstimateMarginBytes = 64.0 * 1024 * 1024;
constexpr double kUnannouncedLimitBytes = 64.0 * 1024 * 1024 * 1024;

// The total of a "Content-Range: bytes a-b/total" or "bytes */total", or -1.
qint64 rangeTotal(const QString& contentRange)
{
    static const QRegularExpression total(
        QStringLiteral("^\\s*bytes\\s+(?:\\d+-\\d+|\\*)/(\\d+)\\s*$"));
    const auto match = total.match(contentRange);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

// What a body that is not media begins with; empty when it looks like media.
QString textInsteadOfMedia(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray start = file.read(512);
    if (start.startsWith("\xEF\xBB\xBF"))
        start.remove(0, 3);
    start = start.trimmed();
    if (start.startsWith('<'))
        return QStringLiteral("a web page");
    for (const char* playlist : { "#EXTM3U", "ffconcat", "[playlist]" }) {
        if (start.startsWith(playlist))
            return QStringLiteral("a playlist");
    }
    return {};
}

// Names the stream a partial file holds, whatever the size it was fetched for.
const char* const kStreamAttribute = "user.quillon.stream";

QByteArray streamMarkOf(const QString& path)
{
    char value[64];
    const ssize_t size
        = ::lgetxattr(QFile::encodeName(path).constData(), kStreamAttribute, value, sizeof value);
    return size > 0 ? QByteArray(value, size) : QByteArray();
}

} // namespace

// --- DNYoutubeStreamRequest ------------------------------------------------------

DNYoutubeStreamRequest::DNYoutubeStreamRequest(const QUrl& url, std::shared_ptr<DNYoutubeNode> node)
    : NXHTTPRequest(url)
    , m_youtubeNode(std::move(node))
{
    // claimPartialFile takes the lock, and keeps it past the request.
    setOwnerLocksPartialFile(true);
}

StreamFileLock::~StreamFileLock()
{
    ::close(m_fd);
}

bool StreamFileLock::isOn(const QString& path) const
{
    struct stat held { };
    struct stat named { };
    return ::fstat(m_fd, &held) == 0 && ::lstat(QFile::encodeName(path).constData(), &named) == 0
        && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

DNYoutubeStreamRequest::~DNYoutubeStreamRequest() = default;

void DNYoutubeStreamRequest::addStreamHeaders(const QMap<QString, QString>& headers)
{
    for (auto header = headers.cbegin(); header != headers.cend(); ++header) {
        // A range is ours to ask for: one from the record would make a piece
        // of the stream pass for all of it.
        if (header.key().compare(QLatin1String("Range"), Qt::CaseInsensitive) == 0
            || header.key().compare(QLatin1String("If-Range"), Qt::CaseInsensitive) == 0)
            m_recordRange = header.key() + QStringLiteral(": ") + header.value();
        else
            addRequestHeader(header.key(), header.value());
    }
}

QString DNYoutubeStreamRequest::streamIdentity() const
{
    const QString family = streamFamily();
    return family.isEmpty() ? QString()
                            : family + QStringLiteral("size: %1\n").arg(byteCount(announcedSize()));
}

QString DNYoutubeStreamRequest::streamKey() const
{
    return DNYoutubeFileNames::streamKey(streamIdentity());
}

void DNYoutubeStreamRequest::setTempFileDownloadDir(const QString& folder)
{
    m_partialPath = folder + QLatin1Char('/') + partialFileName(streamKey());
    setTemporaryFileDownloadPath(m_partialPath);
}

bool DNYoutubeStreamRequest::claimPartialFile(QString* reason)
{
    if (recordAsksForRange()) {
        *reason = QStringLiteral("The page's record asks for a piece of the stream (%1)")
                      .arg(m_recordRange);
        return false;
    }
    // Nothing is touched before its lock is ours: a finished stream file
    // another run still merges or publishes stays where it is.
    QString held;
    std::shared_ptr<StreamFileLock> streamLock = lockStreamFile(&held);
    if (!held.isEmpty()) {
        *reason = held;
        return false;
    }
    if (!lockPartialFile(reason))
        return false;
    if (streamLock)
        reclaimStreamFile(std::move(streamLock));
    // Read here, on the job's thread: the finished body is judged on the network's.
    m_streamSize = announcedSize();
    m_streamSizeExact = isSizeExact();
    const double announced = m_streamSize;
    const double limit = announced < 1.0 ? kUnannouncedLimitBytes
        : m_streamSizeExact              ? announced
                                         : 2 * announced + kEstimateMarginBytes;
    setMaximumBodySize(static_cast<quint64>(limit));
    return true;
}

bool DNYoutubeStreamRequest::lockPartialFile(QString* reason)
{
    const int fd = ::open(QFile::encodeName(m_partialPath).constData(),
        O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        *reason = QStringLiteral("Cannot open the partial file %1: %2")
                      .arg(m_partialPath, fileWriteCause(m_partialPath, errno));
        return false;
    }
    auto lock = std::make_shared<StreamFileLock>(fd);
    // A pipe put at its name would hold the transfer in write() for good.
    struct stat status { };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        *reason = QStringLiteral("The partial file %1 is not a regular file").arg(m_partialPath);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *reason
            = QStringLiteral("Another download is fetching this stream into %1").arg(m_partialPath);
        return false;
    }
    // Which stream it is, whatever its size: a later version finds it by this.
    m_family = familyMark();
    ::fsetxattr(fd, kStreamAttribute, m_family.constData(), size_t(m_family.size()), 0);
    holdLock(std::move(lock));
    return true;
}

QByteArray DNYoutubeStreamRequest::familyMark() const
{
    return DNYoutubeFileNames::streamKey(streamFamily()).toLatin1();
}

void DNYoutubeStreamRequest::removeSupersededPartials() const
{
    const QByteArray family = familyMark();
    const QDir folder = QFileInfo(m_partialPath).dir();
    for (const QString& name :
        folder.entryList({ QStringLiteral("*.quillondownload") }, QDir::Files | QDir::Hidden)) {
        const QString path = folder.filePath(name);
        if (path == m_partialPath || streamMarkOf(path) != family)
            continue;
        const int fd = ::open(
            QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        const StreamFileLock lock(fd);
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && lock.isOn(path)) {
            DNLog(QStringLiteral("%1 is of an earlier version of a stream now whole; it goes")
                      .arg(path));
            ::unlink(QFile::encodeName(path).constData());
        }
    }
}

void DNYoutubeStreamRequest::holdLock(std::shared_ptr<StreamFileLock> lock)
{
    const std::lock_guard guard(m_lockMutex);
    m_lock = std::move(lock);
}

void DNYoutubeStreamRequest::willReplacePartialFile(const QString& replacement)
{
    const int fd = ::open(
        QFile::encodeName(replacement).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return;
    auto lock = std::make_shared<StreamFileLock>(fd);
    // Nobody else knows the replacement's hidden name yet.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return;
    const std::lock_guard guard(m_lockMutex);
    m_replacedLock = std::exchange(m_lock, std::move(lock));
}

// The finished stream file at the destination, locked for us, or nothing
// when there is none (what is no regular file there, or cannot be opened, as
// a link, goes: the name carries our key). A `reason` when another run holds
// it.
std::shared_ptr<StreamFileLock> DNYoutubeStreamRequest::lockStreamFile(QString* reason) const
{
    const QString stream = downloadDestinationPath();
    if (stream.isEmpty() || !pathExists(stream))
        return nullptr;
    const int fd = ::open(
        QFile::encodeName(stream).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        QFile::remove(stream);
        return nullptr;
    }
    auto lock = std::make_shared<StreamFileLock>(fd);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *reason = QStringLiteral("Another download holds the finished stream %1").arg(stream);
        return nullptr;
    }
    struct stat status { };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        QFile::remove(stream);
        return nullptr;
    }
    return lock;
}

// A stream file left by a job that ended before its output was made (the
// program quit during the audio or the merge) would take this stream's name
// for good: it goes back to the partial name, to be resumed, unless a partial
// with bytes is there already. The name carries the stream's key: it is ours.
void DNYoutubeStreamRequest::reclaimStreamFile(std::shared_ptr<StreamFileLock> streamLock)
{
    const QByteArray stream = QFile::encodeName(downloadDestinationPath());
    // Our own partial is empty: the stream file takes its place, and the
    // lock that came with the stream file is now the partial's.
    if (QFileInfo(m_partialPath).size() == 0
        && ::rename(stream.constData(), QFile::encodeName(m_partialPath).constData()) == 0) {
        holdLock(std::move(streamLock));
        return;
    }
    ::unlink(stream.constData());
}

// The partial's lock followed it to the stream file, unless the body was
// inflated into a new file: that one is locked now (our own lock on the
// same file is what makes the attempt fail).
std::shared_ptr<StreamFileLock> DNYoutubeStreamRequest::streamFileLock() const
{
    QString ours;
    std::shared_ptr<StreamFileLock> inflated = lockStreamFile(&ours);
    if (inflated)
        return inflated;
    const std::lock_guard guard(m_lockMutex);
    return m_lock;
}

void DNYoutubeStreamRequest::releasePartialFile()
{
    const std::lock_guard guard(m_lockMutex);
    // Only our own file goes: once it has moved on to the stream's name,
    // another run may have made the partial's name anew.
    const bool ours = m_lock && m_lock->isOn(m_partialPath);
    if (ours && QFileInfo(m_partialPath).size() == 0)
        QFile::remove(m_partialPath);
    m_lock.reset();
    m_replacedLock.reset();
}

HttpError DNYoutubeStreamRequest::answerHeadRefusal(const NXHeaderDictionary& headers) const
{
    const QString type = headers.value(QStringLiteral("Content-Type"))
                             .section(QLatin1Char(';'), 0, 0)
                             .trimmed()
                             .toLower();
    if (type == QLatin1String("text/html") || type == QLatin1String("application/xhtml+xml"))
        return requestError(NXHTTPRequestErrorType::FileManagement,
            QStringLiteral("A web page came instead of the %1 (%2)")
                .arg(carriedMedia(), url().toString(QUrl::RemoveQuery)));
    const PartialFileOrigin& answer = answerOrigin();
    const QString contradicted = contradictedPartial(answer);
    if (contradicted.isEmpty())
        return {};
    const std::optional<PartialFileOrigin> began = PartialFileOrigin::readFrom(contradicted);
    return requestError(NXHTTPRequestErrorType::FileManagement,
        QStringLiteral("The server gives the %1's version %2 a length of %3 bytes, where it gave "
                       "it %4 when %5 began; that partial file stays")
            .arg(carriedMedia(), answer.entityTag)
            .arg(*answer.total)
            .arg(began && began->total ? *began->total : 0)
            .arg(contradicted));
}

// A partial of another size of this stream began under the strong tag the
// answer gives, with another length: the analysis took the new length for
// another version, but the server names the same bytes. One of its answers
// is wrong, and the partial may be the good one: it is neither replaced nor
// removed as superseded.
QString DNYoutubeStreamRequest::contradictedPartial(const PartialFileOrigin& answer) const
{
    if (m_family.isEmpty() || !answer.hasStrongTag() || !answer.total)
        return {};
    const QDir folder = QFileInfo(m_partialPath).dir();
    for (const QString& name :
        folder.entryList({ QStringLiteral("*.quillondownload") }, QDir::Files | QDir::Hidden)) {
        const QString path = folder.filePath(name);
        if (path == m_partialPath || streamMarkOf(path) != m_family || QFileInfo(path).size() == 0)
            continue;
        const std::optional<PartialFileOrigin> began = PartialFileOrigin::readFrom(path);
        if (began && began->contradictedBy(answer))
            return path;
    }
    return {};
}

HttpError DNYoutubeStreamRequest::finishedFileRefusal(const QString& file) const
{
    const QString problem = streamProblem(file);
    if (problem.isEmpty())
        return {};
    return requestError(NXHTTPRequestErrorType::FileManagement, problem);
}

QString DNYoutubeStreamRequest::streamProblem(const QString& file) const
{
    const int status = responseStatusCode();
    const QString contentRange = responseHeaders().value(QStringLiteral("Content-Range"));
    // The client finishes a 416 only when it finds the partial file whole.
    const bool alreadyWhole = status == 416;
    if ((status < 200 || status >= 300) && !alreadyWhole)
        return answerProblem();
    const QFileInfo finished(file);
    const qint64 size = finished.isFile() ? finished.size() : 0;
    if (size == 0)
        return QStringLiteral("The server sent nothing (%1) for %2")
            .arg(responseStatusMessage(), url().toString(QUrl::RemoveQuery));
    // A range of unknown total ends with a 416 or an empty piece: nothing to
    // compare. A piece the client appended may have come with a 200.
    const qint64 total = rangeTotal(contentRange);
    if (total >= 0 && total != size)
        return QStringLiteral("The server sent %1 bytes of a stream of %2 (%3)")
            .arg(QString::number(size), QString::number(total), contentRange);
    return bodyProblem(file, size);
}

QString DNYoutubeStreamRequest::bodyProblem(const QString& file, qint64 size) const
{
    const NXHeaderDictionary headers = responseHeaders();
    const bool chunked = headers.value(QStringLiteral("Transfer-Encoding"))
                             .section(QLatin1Char(','), -1)
                             .trimmed()
                             .compare(QLatin1String("chunked"), Qt::CaseInsensitive)
        == 0;
    // A range's total was checked already.
    const int status = responseStatusCode();
    const bool measured = chunked || status == 206 || status == 416
        || rangeTotal(headers.value(QStringLiteral("Content-Range"))) >= 0
        || (!headers.contains(QStringLiteral("Transfer-Encoding"))
            && headers.contains(QStringLiteral("Content-Length")));
    const qint64 announced = static_cast<qint64>(m_streamSize);
    if (m_streamSizeExact && size != announced)
        return QStringLiteral("The stream has %1 bytes, not the %2 it was announced with")
            .arg(QString::number(size), QString::number(announced));
    // A body that ends with the connection may have been cut anywhere.
    if (!measured && !m_streamSizeExact)
        return QStringLiteral("The server did not say how long the stream is, and the transfer "
                              "ended with the connection after %1 bytes")
            .arg(size);
    if (const QString text = textInsteadOfMedia(file); !text.isEmpty())
        return QStringLiteral("The server sent %1 instead of the stream").arg(text);
    return {};
}

QString DNYoutubeStreamRequest::answerProblem() const
{
    return QStringLiteral("The server answered %1 for %2")
        .arg(responseStatusMessage().isEmpty() ? QString::number(responseStatusCode())
                                               : responseStatusMessage(),
            url().toString(QUrl::RemoveQuery));
}

// --- DNYoutubeDownloader ---------------------------------------------------------

namespace {

QUrl partURL(const DNYoutubeNode& node, int index)
{
    const DNYoutubeVideoSegment* selected = node.selectedSgmt();
    return selected ? QUrl(selected->videoURLs.value(index)) : QUrl();
}

} // namespace

std::shared_ptr<DNYoutubeDownloader> DNYoutubeDownloader::initWithYoutubeNode(
    std::shared_ptr<DNYoutubeNode> node, int videoURLIndex)
{
    return std::make_shared<DNYoutubeDownloader>(std::move(node), videoURLIndex);
}

DNYoutubeDownloader::DNYoutubeDownloader(std::shared_ptr<DNYoutubeNode> node, int videoURLIndex)
    : DNYoutubeStreamRequest(partURL(*node, videoURLIndex), node)
    , m_videoURLIndex(videoURLIndex)
{
    const DNYoutubeVideoSegment* selected = node->selectedSgmt();
    if (!selected)
        return;
    addStreamHeaders(selected->httpHeaders);
    // The size was asked of the first URL only.
    if (videoURLIndex == 0)
        addVersionNamedInRun(selected->sizeAnswerVersion);
}

void DNYoutubeDownloader::setOutPutDir(const QString& folder)
{
    DNYoutubeNode& node = *youtubeNode();
    const QString title = node.youtubeLink().title;
    const DNYoutubeVideoSegment* selected = node.selectedSgmt();
    const QString container = selected ? selected->containerFormat : QString();
    node.setOutputFile(DNYoutubeFileNames::outputFile(folder, title, m_videoURLIndex, container));
    node.setTempVideoFile(DNYoutubeFileNames::tempVideoFile(
        AppPaths::downloadsFolder(), title, m_videoURLIndex, container, streamKey()));
    setDownloadDestinationPath(node.tempVideoFile());
}

QString DNYoutubeDownloader::partialFileName(const QString& key) const
{
    const DNYoutubeNode& node = *youtubeNode();
    const DNYoutubeVideoSegment* selected = node.selectedSgmt();
    return QFileInfo(DNYoutubeFileNames::partialVideoFile(node.youtubeLink().title, m_videoURLIndex,
                         selected ? selected->containerFormat : QString(), key))
        .fileName();
}

QString DNYoutubeDownloader::streamFamily() const
{
    const DNYoutubeNode& node = *youtubeNode();
    const DNYoutubeVideoSegment* selected = node.selectedSgmt();
    if (!selected)
        return {};
    // One substitution pass: an address's "%2F" is not a place for the next value.
    return QStringLiteral("page: %1\nstream: video %2P %3 %4 part %5\n")
        .arg(node.youtubeLink().sourceURL, QString::number(selected->resolution),
            selected->containerFormat, selected->videoFormat, QString::number(m_videoURLIndex + 1));
}

QString DNYoutubeDownloader::carriedMedia() const
{
    return QStringLiteral("video");
}

// The variant's own bytes, without the audio the analysis added to its size;
// for a video in parts that is the size of all parts, so no part's own.
double DNYoutubeDownloader::announcedSize() const
{
    const DNYoutubeNode& node = *youtubeNode();
    const DNYoutubeVideoSegment* selected = node.selectedSgmt();
    return selected ? selected->videoSize - node.youtubeLink().audioStreamSize : 0.0;
}

bool DNYoutubeDownloader::isSizeExact() const
{
    const DNYoutubeVideoSegment* selected = youtubeNode()->selectedSgmt();
    return selected && selected->sizeIsExact && selected->videoURLCount() == 1;
}

// --- NXYoutubeAudioDownloader ----------------------------------------------------

std::shared_ptr<NXYoutubeAudioDownloader> NXYoutubeAudioDownloader::downloaderWithNode(
    std::shared_ptr<DNYoutubeNode> node)
{
    return std::make_shared<NXYoutubeAudioDownloader>(std::move(node));
}

NXYoutubeAudioDownloader::NXYoutubeAudioDownloader(std::shared_ptr<DNYoutubeNode> node)
    : DNYoutubeStreamRequest(QUrl(node->youtubeLink().biggestSizeOfAudioStream.value(
                                 node->youtubeLink().biggestSizeOfAudioStream.size() - 1)),
        node)
{
    const DNYoutubeLinkNode& link = node->youtubeLink();
    addStreamHeaders(link.audioHttpHeaders);
    // The size was asked of the first URL: its answer speaks of this file
    // only where that is the one fetched.
    if (link.biggestSizeOfAudioStream.size() == 1)
        addVersionNamedInRun(link.audioSizeAnswerVersion);
}

void NXYoutubeAudioDownloader::setOutPutDir()
{
    DNYoutubeNode& node = *youtubeNode();
    node.setTempAudioFile(DNYoutubeFileNames::tempAudioFile(
        AppPaths::downloadsFolder(), node.youtubeLink().title, streamKey()));
    setDownloadDestinationPath(node.tempAudioFile());
}

QString NXYoutubeAudioDownloader::partialFileName(const QString& key) const
{
    return QFileInfo(DNYoutubeFileNames::partialAudioFile(youtubeNode()->youtubeLink().title, key))
        .fileName();
}

QString NXYoutubeAudioDownloader::streamFamily() const
{
    return QStringLiteral("page: %1\nstream: audio\n").arg(youtubeNode()->youtubeLink().sourceURL);
}

QString NXYoutubeAudioDownloader::carriedMedia() const
{
    return QStringLiteral("audio");
}

double NXYoutubeAudioDownloader::announcedSize() const
{
    return youtubeNode()->youtubeLink().audioStreamSize;
}

bool NXYoutubeAudioDownloader::isSizeExact() const
{
    return youtubeNode()->youtubeLink().audioSizeIsExact;
}

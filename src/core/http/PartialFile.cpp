#include "http/PartialFile.h"

#include "http/NXHTTPRequestError.h"
#include "platform/FileMove.h"
#include "platform/OwnerMark.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

HttpError fileSystemError(int code, const QString& description)
{
    return HttpError(QStringLiteral("FileSystemErrorDomain"), code, description);
}

HttpError moveError(const QString& from, const QString& to, int failure)
{
    const QString taken
        = failure == EEXIST ? QStringLiteral(": a file of that name is there") : QString();
    return requestError(NXHTTPRequestErrorType::FileManagement,
        QStringLiteral("Failed to move file from '%1' to '%2'%3").arg(from, to, taken),
        std::make_shared<HttpError>(
            fileSystemError(failure, QString::fromLocal8Bit(std::strerror(failure)))));
}

// Made and marked as ours before anything is written to it, so that one
// left by a killed process is known for abandoned.
Fd createMarked(const QString& path)
{
    Fd fd(::open(QFile::encodeName(path).constData(),
        O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (fd.valid())
        OwnerMark::mark(fd.get());
    return fd;
}

// The UUID siblingPath() puts in a name.
const QString kUuidPattern
    = QStringLiteral("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");

// Whether `fd` holds the file at `path` (a link not followed).
bool isSameFile(int fd, const QString& path)
{
    struct stat held { };
    struct stat named { };
    return ::fstat(fd, &held) == 0 && ::lstat(QFile::encodeName(path).constData(), &named) == 0
        && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Copies `from` into the special file `to` and removes `from`.
int copyIntoSpecialFile(const QString& from, const QString& to)
{
    QFile source(from);
    QFile target(to);
    if (!source.open(QIODevice::ReadOnly) || !target.open(QIODevice::WriteOnly))
        return EIO;
    for (QByteArray piece = source.read(1 << 20); !piece.isEmpty(); piece = source.read(1 << 20)) {
        if (target.write(piece) != piece.size())
            return EIO;
    }
    source.remove();
    return 0;
}

} // namespace

// The finished file takes the place of `path` by a rename, which readers
// never see half done. The name of `path` is part of the new one, so that a
// sweep knows what a body was written beside; where the whole would pass the
// 255 bytes a file name may take, a shortened form of it is.
QString PartialFile::siblingPath(const QString& path)
{
    const QFileInfo info(path);
    const QString unique = QUuid::createUuid().toString(QUuid::WithoutBraces);
    return info.dir().filePath(
        QStringLiteral(".%1.%2.download").arg(siblingStem(info.fileName()), unique));
}

// What fits beside the dots, the UUID and ".download" (47 bytes) within 255:
// the name itself, or its start cut between letters and a digest of all of
// it, so that two long names that begin alike still give two stems.
QString PartialFile::siblingStem(const QString& fileName)
{
    constexpr qsizetype kRoom = 255 - 47;
    if (QFile::encodeName(fileName).size() <= kRoom)
        return fileName;
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(fileName.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
    const qsizetype startRoom = kRoom - 1 - digest.size();
    QString start;
    for (qsizetype at = 0; at < fileName.size();) {
        const qsizetype letter = fileName.at(at).isHighSurrogate() ? 2 : 1;
        const QString next = fileName.mid(at, letter);
        if (QFile::encodeName(start + next).size() > startRoom)
            break;
        start += next;
        at += letter;
    }
    return start + QLatin1Char('~') + digest;
}

void PartialFile::removeAbandonedSiblings(const QString& folder)
{
    // Earlier versions named a body beside a long name ".<uuid>.download".
    static const QRegularExpression naming(
        QStringLiteral("^\\.(?:.+\\.)?%1\\.download$").arg(kUuidPattern));
    const QDir dir(folder);
    for (const QString& name :
        dir.entryList({ QStringLiteral(".*.download") }, QDir::Files | QDir::Hidden)) {
        const QString path = dir.filePath(name);
        struct stat status { };
        if (naming.match(name).hasMatch()
            && ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode)
            && status.st_uid == ::geteuid() && OwnerMark::ownerOf(path) == OwnerMark::Owner::Gone)
            ::unlink(QFile::encodeName(path).constData());
    }
}

// Where the file system keeps no extended attributes, no owner mark can be
// written, and a body a killed run wrote beside the partial would stay for
// good. There, and only there, such a body is known for ours by two things
// together: its name is the one siblingPath() gives a replacement of this
// very partial (a dot, the partial's name, a random UUID, ".download"), a
// name no other program has reason to make beside our partial; and nobody
// holds the lock every run keeps on the body it writes (open()). The lock on
// the partial, which the sweeping run holds, keeps any other run from
// starting a body beside it meanwhile. Where attributes are kept, only the
// mark counts: a file there without it is not ours.
void PartialFile::removeAbandonedReplacements() const
{
    const QFileInfo partial(m_path);
    const QRegularExpression naming(
        QStringLiteral("^\\.%1\\.%2\\.download$")
            .arg(QRegularExpression::escape(siblingStem(partial.fileName())), kUuidPattern));
    const QDir dir = partial.dir();
    for (const QString& name :
        dir.entryList({ QStringLiteral(".*.download") }, QDir::Files | QDir::Hidden)) {
        const QString path = dir.filePath(name);
        if (!naming.match(name).hasMatch() || PartialFileOrigin::isKeptOn(path))
            continue;
        const Fd fd(::open(
            QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        struct stat status { };
        if (fd.valid() && ::fstat(fd.get(), &status) == 0 && S_ISREG(status.st_mode)
            && status.st_uid == ::geteuid() && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0
            && isSameFile(fd.get(), path))
            ::unlink(QFile::encodeName(path).constData());
    }
}

bool PartialFile::isSpecialFile(const QString& path)
{
    std::error_code failure;
    const auto type
        = std::filesystem::status(QFile::encodeName(path).toStdString(), failure).type();
    return !failure && type != std::filesystem::file_type::regular
        && type != std::filesystem::file_type::directory
        && type != std::filesystem::file_type::not_found;
}

void PartialFile::setPath(const QString& path, bool chosen)
{
    m_path = path;
    m_chosen = chosen;
    m_superseded = false;
}

void PartialFile::forgetPath()
{
    m_path.clear();
    m_chosen = false;
    m_superseded = false;
}

bool PartialFile::mayBeContinued() const
{
    return m_written || PartialFileOrigin::isKeptOn(m_path);
}

HttpError PartialFile::lock()
{
    if (m_lock.valid() || m_path.isEmpty())
        return {};
    const QByteArray name = QFile::encodeName(m_path);
    struct stat status { };
    const bool existed = ::lstat(name.constData(), &status) == 0;
    Fd fd(::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644));
    if (!fd.valid())
        return requestError(NXHTTPRequestErrorType::FileManagement,
            QStringLiteral("Cannot open the partial file '%1': %2")
                .arg(m_path, fileWriteCause(m_path, errno)));
    // Only a lock another holds refuses: a file system without locks has
    // nobody to share them with.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return requestError(NXHTTPRequestErrorType::FileManagement,
            QStringLiteral("Another download is fetching into '%1'").arg(m_path));
    m_lock = std::move(fd);
    m_lockedPath = m_path;
    m_madeToLock = !existed;
    return {};
}

void PartialFile::unlock()
{
    if (!m_lock.valid())
        return;
    struct stat status { };
    if (m_madeToLock && isSameFile(m_lock.get(), m_lockedPath)
        && ::fstat(m_lock.get(), &status) == 0 && status.st_size == 0)
        ::unlink(QFile::encodeName(m_lockedPath).constData());
    m_lock.reset();
}

// The replacement is locked before it takes the partial's name, and the lock
// on the partial it replaces is given up once it has.
bool PartialFile::lockReplacement(const QString& replacement)
{
    if (!m_lock.valid())
        return true;
    Fd fd(::open(QFile::encodeName(replacement).constData(),
        O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.valid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    m_lock = std::move(fd);
    m_madeToLock = false;
    return true;
}

const std::optional<PartialFileOrigin>& PartialFile::readOrigin()
{
    std::optional<PartialFileOrigin> stored = PartialFileOrigin::readFrom(m_path);
    if (stored || !m_written)
        m_origin = std::move(stored);
    return m_origin;
}

HttpError PartialFile::open(
    bool appending, bool beside, const std::optional<PartialFileOrigin>& origin)
{
    if (m_output.valid())
        return {};
    m_replacedSize = 0;
    m_replacesShorter = false;
    if (!appending && beside) {
        m_replacedPath = m_path;
        m_replacedSize = quint64(QFileInfo(m_replacedPath).size());
        m_path = siblingPath(m_replacedPath);
        // Shorter than the partial, it may still be the file, when the
        // partial is shown not to be its start.
        const bool otherVersion = m_origin && origin && m_origin->supersededBy(*origin);
        const bool sameType = !m_origin || !origin || m_origin->sameTypeAs(*origin);
        m_replacesShorter = (m_superseded || otherVersion) && sameType;
    }
    if (m_chosen || beside) {
        Fd made = createMarked(m_path);
        // Held while it is written beside the partial: one that nobody holds
        // was left by a run that ended (removeAbandonedReplacements).
        if (beside && made.valid() && ::flock(made.get(), LOCK_EX | LOCK_NB) == 0)
            m_besideLock = std::move(made);
    }
    // Written straight to the file, a piece at a time: a buffer of ours in
    // between would only copy every byte once more.
    Fd file = openForWriting(QFile::encodeName(m_path).constData(), appending);
    struct stat status { };
    if (!file.valid() || ::fstat(file.get(), &status) != 0) {
        const HttpError failure = fileWriteError(m_path, errno);
        abandon();
        return failure;
    }
    m_output = std::move(file);
    m_outputSize = appending ? quint64(status.st_size) : 0;
    m_written = true;
    if (appending || !origin)
        return {};
    // A body written afresh carries the answer it began with, for the range
    // that may one day continue it.
    m_bodyOrigin = origin;
    if (!origin->writeTo(m_path))
        PartialFileOrigin::removeFrom(m_path);
    if (!isReplacing())
        m_origin = origin;
    return {};
}

HttpError PartialFile::append(const char* data, qsizetype size, bool mayPromote)
{
    if (const int failure = writeAll(m_output.get(), data, std::size_t(size)); failure != 0)
        return fileWriteError(m_path, failure);
    m_outputSize += quint64(size);
    if (mayPromote && isReplacing() && m_outputSize > m_replacedSize)
        return promote();
    return {};
}

// The replacement takes the partial's name; it is written on under it.
HttpError PartialFile::promote()
{
    const QString replacement = m_path;
    // Our lock on the partial keeps a sweep off it till it holds the lock of
    // the partial it becomes.
    m_besideLock.reset();
    if (m_replaceHook)
        m_replaceHook(replacement);
    if (!lockReplacement(replacement))
        return requestError(NXHTTPRequestErrorType::FileManagement,
            QStringLiteral("Cannot lock '%1' before it takes the partial file's place")
                .arg(replacement));
    if (std::rename(QFile::encodeName(replacement).constData(),
            QFile::encodeName(m_replacedPath).constData())
        != 0)
        return moveError(replacement, m_replacedPath, errno);
    m_path = std::exchange(m_replacedPath, QString());
    m_origin = m_bodyOrigin;
    m_superseded = false;
    m_replacesShorter = false;
    // A partial of ours, no longer abandoned if we are killed.
    OwnerMark::clear(m_path);
    return {};
}

void PartialFile::abandon()
{
    if (!isReplacing())
        return;
    close();
    QFile::remove(m_path);
    m_besideLock.reset();
    m_path = std::exchange(m_replacedPath, QString());
}

void PartialFile::close()
{
    m_output.reset();
}

HttpError PartialFile::shorterBodyRefusal(const QString& file) const
{
    if (!isReplacing() || m_replacesShorter)
        return {};
    const quint64 size = quint64(QFileInfo(file).size());
    if (size >= m_replacedSize)
        return {};
    return requestError(NXHTTPRequestErrorType::ConnectionFailure,
        QStringLiteral("The server sent a whole body of %1 bytes, shorter than the %2 bytes "
                       "already fetched; the partial file stays")
            .arg(size)
            .arg(m_replacedSize));
}

// A body still beside the partial goes. One that has taken the partial's
// name held more than it, from the start of the same answer, and stays; one
// written into the partial found it empty, and leaves it so.
void PartialFile::dropRefused(bool freshBody)
{
    if (isReplacing()) {
        abandon();
        return;
    }
    if (!freshBody || !m_written || m_replacedSize > 0)
        return;
    QFile::resize(m_path, 0);
    PartialFileOrigin::removeFrom(m_path);
    m_origin.reset();
}

HttpError PartialFile::finish(const QString& destination, bool freshBody, const Refusal& refusal)
{
    HttpError failure = shorterBodyRefusal(m_path);
    if (failure.isNull())
        failure = refusal(m_path);
    if (!failure.isNull()) {
        dropRefused(freshBody);
        return failure;
    }
    if (isReplacing())
        failure = promote();
    return failure.isNull() ? moveTo(m_path, destination) : failure;
}

HttpError PartialFile::finishCoded(const QString& destination, NXDataDecompressor::Format format,
    quint64 outputLimit, const Refusal& refusal)
{
    const QString inflated = siblingPath(destination);
    createMarked(inflated);
    HttpError failure;
    if (!NXDataDecompressor::uncompressDataFromFile(m_path, inflated, &failure, format, outputLimit)
        && failure.isNull())
        failure = requestError(
            NXHTTPRequestErrorType::Compression, QStringLiteral("The body could not be decoded"));
    if (failure.isNull())
        failure = shorterBodyRefusal(inflated);
    if (failure.isNull())
        failure = refusal(inflated);
    if (failure.isNull() && m_originStaysAtDestination && m_bodyOrigin)
        m_bodyOrigin->writeTo(inflated);
    if (failure.isNull() && m_replaceHook)
        m_replaceHook(inflated);
    if (failure.isNull())
        failure = moveTo(inflated, destination);
    if (!failure.isNull())
        QFile::remove(inflated);
    QFile::remove(m_path);
    m_besideLock.reset();
    const bool beside = isReplacing();
    if (beside)
        m_path = std::exchange(m_replacedPath, QString());
    // The partial the body was fetched beside is done with once it is in place.
    if (failure.isNull() && beside)
        QFile::remove(m_path);
    return failure;
}

// Anything at `destination` stays, but for a special file, which is written into.
HttpError PartialFile::moveTo(const QString& from, const QString& destination)
{
    const int failure = isSpecialFile(destination) ? copyIntoSpecialFile(from, destination)
                                                   : moveFileWithoutReplacing(from, destination);
    if (failure != 0)
        return moveError(from, destination, failure);
    OwnerMark::clear(destination);
    // The file is whole: nothing will continue it, unless its owner may make
    // a partial file of it again.
    if (!m_originStaysAtDestination)
        PartialFileOrigin::removeFrom(destination);
    return {};
}

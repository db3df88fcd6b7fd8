#include "services/OutputPublishing.h"

#include "platform/AppPaths.h"
#include "platform/FileMove.h"
#include "platform/OwnerMark.h"
#include "services/DNHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>

#include <fcntl.h>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// Less room than this left in an output's folder after a failed run is worth
// a note beside the run's reason.
constexpr qint64 kLittleRoom = 4 * 1024 * 1024;
// Less room than this is less than one write of an engine (a packet of
// video, a muxer's buffer): an output that failed there stopped at the room.
constexpr qint64 kWriteRoom = 256 * 1024;

// Names taken one after the other by other writers while this one tries:
// beyond this many something is wrong with the folder.
constexpr int kPublishAttempts = 1000;

bool isTaken(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// The next name to try after `taken`: "clip (3).mkv" after "clip (2).mkv",
// "clip (1).mkv" after "clip.mkv".
QString nextFreePath(const QString& taken)
{
    static const QRegularExpression numbered(QStringLiteral(R"(^(.*) \((\d+)\)$)"));
    const QFileInfo info(taken);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    const QRegularExpressionMatch match = numbered.match(base);
    if (!match.hasMatch())
        return DNUniqueFilePath(info.path(), name, 1);
    return DNUniqueFilePath(
        info.path(), match.captured(1) + extension, match.captured(2).toInt() + 1);
}

// Whether `name` is that of a partial output. A pid has at most seven digits
// (the kernel's highest is 4194304) and our token exactly eight hex digits.
bool isPartialName(const QString& name)
{
    static const QRegularExpression naming(
        QStringLiteral(R"(^\..+\.[0-9]{1,7}\.[0-9a-f]{8}\.partial(\.[^.]+)?$)"));
    return naming.match(name).hasMatch();
}

bool isOurPlainFile(const QByteArray& path)
{
    struct stat status { };
    return ::lstat(path.constData(), &status) == 0 && S_ISREG(status.st_mode)
        && status.st_uid == ::geteuid();
}

} // namespace

QStringList removeAbandonedPartials(const QString& folder)
{
    QStringList removed;
    const QDir dir(folder);
    const QStringList candidates
        = dir.entryList({ QStringLiteral(".*.partial"), QStringLiteral(".*.partial.*") },
            QDir::Files | QDir::Hidden);
    for (const QString& name : candidates) {
        const QString path = dir.filePath(name);
        const QByteArray file = QFile::encodeName(path);
        if (isPartialName(name) && isOurPlainFile(file)
            && OwnerMark::ownerOf(path) == OwnerMark::Owner::Gone
            && ::unlink(file.constData()) == 0)
            removed << path;
    }
    return removed;
}

QString partialOutputPath(const QString& target)
{
    const QFileInfo info(target);
    for (;;) {
        const QString mark
            = QStringLiteral(".%1.%2.partial")
                  .arg(::getpid())
                  .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        const QString partial
            = info.dir().filePath(DNFileNameWithin(QLatin1Char('.') + info.fileName(), mark));
        if (!isTaken(partial))
            return partial;
    }
}

QString claimPartialOutput(const QString& target, QString* reason)
{
    for (int attempt = 0; attempt < kPublishAttempts; ++attempt) {
        const QString partial = partialOutputPath(target);
        const Fd fd(::open(QFile::encodeName(partial).constData(),
            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
        if (fd.valid()) {
            OwnerMark::mark(fd.get());
            return partial;
        }
        if (errno != EEXIST) {
            *reason
                = QStringLiteral("cannot write into \"%1\": %2")
                      .arg(QFileInfo(target).path(), QString::fromLocal8Bit(std::strerror(errno)));
            return {};
        }
    }
    *reason = QStringLiteral("cannot write into \"%1\": every name tried was taken")
                  .arg(QFileInfo(target).path());
    return {};
}

QString claimOutputName(const QString& wanted, QString* reason)
{
    QString target = wanted;
    for (int attempt = 0; attempt < kPublishAttempts; ++attempt) {
        const int fd = ::open(QFile::encodeName(target).constData(),
            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0) {
            ::close(fd);
            return target;
        }
        if (errno != EEXIST) {
            *reason = QStringLiteral("cannot take the name \"%1\": %2")
                          .arg(target, QString::fromLocal8Bit(std::strerror(errno)));
            return {};
        }
        target = nextFreePath(target);
    }
    *reason = QStringLiteral("cannot take the name \"%1\": every name tried was taken").arg(wanted);
    return {};
}

QString publishOutput(const QString& partial, const QString& wanted, QString* reason)
{
    QString target = wanted;
    for (int attempt = 0; attempt < kPublishAttempts; ++attempt) {
        const int failure = moveFileWithoutReplacing(partial, target);
        if (failure == 0) {
            OwnerMark::clear(target);
            return target;
        }
        if (failure != EEXIST) {
            *reason = QStringLiteral("cannot name the output \"%1\": %2")
                          .arg(target, QString::fromLocal8Bit(std::strerror(failure)));
            return {};
        }
        target = nextFreePath(target);
    }
    *reason
        = QStringLiteral("cannot name the output \"%1\": every name tried was taken").arg(wanted);
    return {};
}

bool saysDiskIsFull(const QString& engineLine)
{
    return engineLine.contains(QLatin1String("No space left on device"));
}

std::optional<FolderRoom> roomOfFolder(const QString& folder)
{
    struct statvfs room { };
    if (::statvfs(QFile::encodeName(folder).constData(), &room) != 0)
        return std::nullopt;
    const qint64 bytes = qint64(room.f_bavail) * qint64(room.f_frsize);
    // Some file systems (btrfs) count no files at all: none is not "no more".
    const bool noMoreFiles = room.f_files > 0 && room.f_favail == 0;
    return FolderRoom { bytes, noMoreFiles, bytes < kLittleRoom };
}

namespace {

// Where a program ran out of room, as the full-disk sentence names it.
struct FilledPlace {
    QString what; // what it could not write
    QString where; // the folder, as the sentence names it; empty when none full is known
    std::optional<FolderRoom> room;
};

QString quoted(const QString& folder)
{
    return folder.isEmpty() ? QString() : QStringLiteral("\"%1\"").arg(folder);
}

bool hasNoRoomToWrite(const FolderRoom& room)
{
    return room.noMoreFiles || room.bytes < kWriteRoom;
}

QString fullDiskSentence(const QString& program, const FilledPlace& place, const QString& said)
{
    QString reason
        = QStringLiteral("the disk is full: %1 could not write %2").arg(program, place.what);
    if (!place.where.isEmpty())
        reason += QStringLiteral(" into ") + place.where;
    const std::optional<FolderRoom>& room = place.room;
    if (room && room->noMoreFiles)
        reason += QStringLiteral(", which can hold no more files");
    else if (room)
        reason += QStringLiteral(", which has %1 KB left").arg(room->bytes / 1024);
    if (!said.isEmpty())
        reason += QStringLiteral("; it said \"%1\"").arg(said);
    return reason;
}

// Where a program that said its disk is full ran out of room. Its output's
// folder, unless that still has more than little room (a write that failed
// may have been a large one): then the disk that filled is another one it
// wrote to, such as the temporary folder's (a two-pass log, the intermediate
// files of a merge, a pipe's partner), or one that is not known.
FilledPlace placeThatFilled(const QString& outputFolder, const std::optional<FolderRoom>& room)
{
    if (!room || room->little || room->noMoreFiles)
        return { QStringLiteral("all of its output"), quoted(outputFolder), room };
    const QString temporary = AppPaths::temporaryFolder();
    const std::optional<FolderRoom> temporaryRoom = roomOfFolder(temporary);
    if (temporaryRoom && (temporaryRoom->little || temporaryRoom->noMoreFiles))
        return { QStringLiteral("all it had to"),
            QStringLiteral("the temporary folder ") + quoted(temporary), temporaryRoom };
    return { QStringLiteral("all it had to"), {}, std::nullopt };
}

} // namespace

QString fullDiskReason(const QString& program, const QString& folder,
    const std::optional<FolderRoom>& room, const QString& said)
{
    return fullDiskSentence(
        program, { QStringLiteral("all of its output"), quoted(folder), room }, said);
}

QString temporaryFolderFullReason(const QString& program, const QString& said)
{
    const QString temporary = AppPaths::temporaryFolder();
    return fullDiskSentence(program,
        { QStringLiteral("all it had to"),
            QStringLiteral("the temporary folder ") + quoted(temporary), roomOfFolder(temporary) },
        said);
}

bool isFullDiskReason(const QString& reason)
{
    return reason.contains(QLatin1String("the disk is full: "));
}

QString reasonWithRoom(
    const QString& program, const QString& output, const QString& fullLine, const QString& reason)
{
    const QString folder = QFileInfo(output).absolutePath();
    const std::optional<FolderRoom> room = roomOfFolder(folder);
    if (!fullLine.isEmpty())
        return fullDiskSentence(program, placeThatFilled(folder, room), fullLine);
    if (!room)
        return reason;
    if (hasNoRoomToWrite(*room))
        return fullDiskReason(program, folder, room, {})
            + (reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason));
    if (!room->little || reason.isEmpty())
        return reason;
    return QStringLiteral("%1 (\"%2\" has %3 KB left)").arg(reason, folder).arg(room->bytes / 1024);
}

OutputFolder::OutputFolder(const QString& path)
    : m_path(path)
    , m_fd(::open(QFile::encodeName(path).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC))
{ }

bool OutputFolder::hasMoved() const
{
    struct stat held { };
    struct stat there { };
    if (!isValid() || ::fstat(m_fd.get(), &held) != 0)
        return false;
    return ::stat(QFile::encodeName(m_path).constData(), &there) != 0 || held.st_dev != there.st_dev
        || held.st_ino != there.st_ino;
}

QString OutputFolder::whereNow() const
{
    // The kernel keeps the held folder's current path, and marks a deleted one.
    const QString link = QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(m_fd.get()));
    return link.endsWith(QLatin1String(" (deleted)")) ? QString() : link;
}

bool OutputFolder::removeFile(const QString& name) const
{
    const QByteArray file = QFile::encodeName(name);
    struct stat status { };
    if (!isValid())
        return false;
    if (::fstatat(m_fd.get(), file.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    return S_ISREG(status.st_mode) && ::unlinkat(m_fd.get(), file.constData(), 0) == 0;
}

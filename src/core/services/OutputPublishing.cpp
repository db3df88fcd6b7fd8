#include "services/OutputPublishing.h"

#include "platform/FileMove.h"
#include "services/DNHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// Less room than this left in an output's folder after a failed run (or a
// 64th of a small disk): the engine's last writes, a muxer's index or its
// buffered packets, did not fit.
constexpr qint64 kFullDiskRoom = 4 * 1024 * 1024;

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

bool isRunning(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// The pid in a partial's name, or 0 when the name is none of ours. A pid has
// at most seven digits (the kernel's highest is 4194304) and our token exactly
// eight hex digits: a hidden ".x.123.partial" of another program is no match.
pid_t partialOwner(const QString& name)
{
    static const QRegularExpression naming(
        QStringLiteral(R"(^\..+\.([0-9]{1,7})\.[0-9a-f]{8}\.partial(\.[^.]+)?$)"));
    const QRegularExpressionMatch match = naming.match(name);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
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
        const pid_t pid = partialOwner(name);
        if (pid <= 0 || isRunning(pid))
            continue;
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        if (isOurPlainFile(path) && ::unlink(path.constData()) == 0)
            removed << dir.filePath(name);
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
        if (failure == 0)
            return target;
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

QString OutputFolder::fullDiskReason() const
{
    struct statvfs room { };
    if (!isValid() || ::fstatvfs(m_fd.get(), &room) != 0)
        return {};
    const qint64 bytes = qint64(room.f_bavail) * qint64(room.f_frsize);
    const qint64 size = qint64(room.f_blocks) * qint64(room.f_frsize);
    // Some file systems (btrfs) count no files at all: none is not "no more".
    // Room left for bytes but for no file is said as such, not as room.
    if (room.f_files > 0 && room.f_favail == 0)
        return QStringLiteral("the disk is full: \"%1\" can hold no more files").arg(m_path);
    if (bytes >= std::min(kFullDiskRoom, size / 64))
        return {};
    return QStringLiteral("the disk is full: \"%1\" has %2 KB left").arg(m_path).arg(bytes / 1024);
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

#include "services/OutputPublishing.h"

#include "platform/FileMove.h"
#include "services/DNHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

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

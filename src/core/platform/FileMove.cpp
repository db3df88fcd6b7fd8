#include "platform/FileMove.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Copies the bytes of `source` into the open file `target`.
int copyBytes(int source, int target)
{
    char buffer[1 << 16];
    for (;;) {
        const ssize_t count = ::read(source, buffer, sizeof buffer);
        if (count == 0)
            return 0;
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        for (ssize_t written = 0; written < count;) {
            const ssize_t step = ::write(target, buffer + written, size_t(count - written));
            if (step < 0 && errno != EINTR)
                return errno;
            written += step > 0 ? step : 0;
        }
    }
}

// Fills the new file `target` with `from` and closes it, on the disk first.
int copyFile(const QByteArray& from, int target)
{
    const int source = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        const int failure = errno;
        ::close(target);
        return failure;
    }
    // The new name's 0600 would otherwise stay with the file.
    struct stat status { };
    int failure = ::fstat(source, &status) == 0 && ::fchmod(target, status.st_mode & 07777) == 0
        ? copyBytes(source, target)
        : errno;
    if (failure == 0 && ::fsync(target) != 0)
        failure = errno;
    ::close(source);
    if (::close(target) != 0 && failure == 0)
        failure = errno;
    return failure;
}

// For a file system without hard links: a copy made at `to` only where no
// file stands, removed again when it fails.
int copyExclusively(const QByteArray& from, const QByteArray& to)
{
    const int target = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (target < 0)
        return errno;
    if (const int failure = copyFile(from, target); failure != 0) {
        ::unlink(to.constData());
        return failure;
    }
    ::unlink(from.constData());
    return 0;
}

// Renames, or links and unlinks, so that a taken name fails with EEXIST;
// without hard links, copies.
int takeName(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return 0;
    }
    return errno == EPERM || errno == EOPNOTSUPP ? copyExclusively(from, to) : errno;
}

// The hidden name a copy is made under: our name in it tells our fragments
// from anyone else's files.
const char kFragmentPrefix[] = ".moving-quillon-";

// The copy across file systems: made whole under a hidden name first.
int copyThenTakeName(const QByteArray& from, const QString& to)
{
    const QString folder = QFileInfo(to).absolutePath();
    removeStaleMoveFragments(folder);
    QByteArray hidden = QFile::encodeName(folder) + '/' + kFragmentPrefix + "XXXXXX";
    const int target = ::mkostemp(hidden.data(), O_CLOEXEC);
    if (target < 0)
        return errno;
    int failure = copyFile(from, target);
    if (failure == 0)
        failure = takeName(hidden, QFile::encodeName(to));
    if (failure != 0) {
        ::unlink(hidden.constData());
        return failure;
    }
    ::unlink(from.constData());
    return 0;
}

} // namespace

int moveFileWithoutReplacing(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const int failure = takeName(source, QFile::encodeName(to));
    return failure == EXDEV ? copyThenTakeName(source, to) : failure;
}

void removeStaleMoveFragments(const QString& folder)
{
    static const QRegularExpression fragment(
        QStringLiteral("^%1[A-Za-z0-9]{6}$").arg(QRegularExpression::escape(kFragmentPrefix)));
    const auto now = std::chrono::system_clock::now();
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        if (!fragment.match(name).hasMatch())
            continue;
        const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + name);
        struct stat status { };
        if (::lstat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode)
            || status.st_uid != ::geteuid())
            continue;
        const auto written
            = std::chrono::system_clock::time_point(std::chrono::seconds(status.st_mtim.tv_sec));
        // A copy under way writes to its fragment all the time.
        if (now - written > kStaleMoveFragmentAge)
            ::unlink(path.constData());
    }
}

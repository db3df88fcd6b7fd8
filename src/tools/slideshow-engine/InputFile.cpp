#include "InputFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// What keeps the file of `fd` from being read; empty when nothing does.
QString problemWith(int fd, qint64 largest)
{
    struct stat status { };
    if (::fstat(fd, &status) != 0)
        return errnoText();
    if (!S_ISREG(status.st_mode))
        return QStringLiteral("not a regular file");
    if (status.st_size > largest)
        return QStringLiteral("larger than %1 bytes").arg(largest);
    return {};
}

} // namespace

namespace InputFile {

bool isRegular(const QString& path, QString& error)
{
    struct stat status { };
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        error = errnoText();
    else if (!S_ISREG(status.st_mode))
        error = QStringLiteral("not a regular file");
    else
        return true;
    return false;
}

std::unique_ptr<QFile> open(const QString& path, qint64 largest, QString& error)
{
    if (!isRegular(path, error))
        return nullptr;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errnoText();
        return nullptr;
    }
    error = problemWith(fd, largest);
    auto file = std::make_unique<QFile>();
    if (error.isEmpty() && file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return file;
    if (error.isEmpty())
        error = file->errorString();
    ::close(fd);
    return nullptr;
}

} // namespace InputFile

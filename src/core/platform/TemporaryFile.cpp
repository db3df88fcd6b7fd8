#include "platform/TemporaryFile.h"

#include "platform/AppPaths.h"
#include "platform/DNLogger.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

constexpr auto kRandomPart = "XXXXXX";

thread_local TemporaryFileScope* currentScope = nullptr;

// Both parts end up inside one file name in our folder, never a path.
bool isPlainName(const QString& text)
{
    return !text.contains('/') && !text.contains(QChar(0));
}

} // namespace

QString makeTemporaryFile(const QString& prefix, const QString& extension)
{
    const QString suffix = extension.isEmpty() || extension.startsWith('.')
        ? extension
        : QStringLiteral(".") + extension;
    if (!isPlainName(prefix) || !isPlainName(suffix)) {
        DNLog(
            QStringLiteral("Refused a temporary file named \"%1\" \"%2\"").arg(prefix, extension));
        return {};
    }
    const QByteArray encodedSuffix = QFile::encodeName(suffix);
    QByteArray pattern = QFile::encodeName(AppPaths::temporaryFolder() + '/' + prefix) + kRandomPart
        + encodedSuffix;
    const int fd = ::mkostemps(pattern.data(), static_cast<int>(encodedSuffix.size()), O_CLOEXEC);
    if (fd < 0) {
        DNLog(QStringLiteral("Cannot make a temporary file %1: %2")
                  .arg(QFile::decodeName(pattern), QString::fromLocal8Bit(std::strerror(errno))));
        return {};
    }
    ::close(fd);
    const QString path = QFile::decodeName(pattern);
    if (currentScope)
        currentScope->m_files << path;
    return path;
}

TemporaryFileScope::TemporaryFileScope()
    : m_outer(currentScope)
{
    currentScope = this;
}

TemporaryFileScope::~TemporaryFileScope()
{
    currentScope = m_outer;
    for (const QString& path : std::as_const(m_files))
        QFile::remove(path);
}

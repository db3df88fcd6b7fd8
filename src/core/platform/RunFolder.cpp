#include "platform/RunFolder.h"

#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/OwnerMark.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype kRandomLength = 6;

// Removes what lies directly in the folder (a run makes no folders in it),
// then the folder; false when something stays.
bool removeFolderAndFiles(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    const int folder = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return false;
    DIR* entries = ::fdopendir(folder);
    if (entries == nullptr) {
        ::close(folder);
        return false;
    }
    while (const dirent* entry = ::readdir(entries)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            ::unlinkat(::dirfd(entries), entry->d_name, 0);
    }
    ::closedir(entries);
    return ::rmdir(native.constData()) == 0;
}

// A folder of ours by its name, kind and owner; its mark decides the rest.
bool couldBeRunFolder(const QString& path)
{
    struct stat status { };
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode)
        && status.st_uid == ::getuid();
}

} // namespace

RunFolder::RunFolder(const QString& prefix)
{
    QByteArray pattern = QFile::encodeName(AppPaths::temporaryFolder() + '/' + prefix) + "XXXXXX";
    if (prefix.contains('/') || ::mkdtemp(pattern.data()) == nullptr) {
        m_error = QStringLiteral("cannot make a folder %1 in the temporary folder %2: %3")
                      .arg(prefix, AppPaths::temporaryFolder(),
                          QString::fromLocal8Bit(std::strerror(errno)));
        DNLog(m_error);
        return;
    }
    m_path = QFile::decodeName(pattern);
    // Unmarked (a file system without attributes), it is still removed
    // with the run, only never by another.
    OwnerMark::mark(m_path);
}

RunFolder::~RunFolder()
{
    if (!m_path.isEmpty() && !removeFolderAndFiles(m_path))
        DNLog(QStringLiteral("The run's folder %1 could not be removed: %2")
                  .arg(m_path, QString::fromLocal8Bit(std::strerror(errno))));
}

QString RunFolder::filePath(const QString& name) const
{
    return m_path.isEmpty() ? QString() : m_path + '/' + name;
}

QStringList RunFolder::removeAbandoned(const QString& prefix)
{
    const QDir temporary(AppPaths::temporaryFolder());
    QStringList removed;
    for (const QString& name :
        temporary.entryList({ prefix + '*' }, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString path = temporary.filePath(name);
        if (name.size() != prefix.size() + kRandomLength || !couldBeRunFolder(path)
            || OwnerMark::ownerOf(path) != OwnerMark::Owner::Gone)
            continue;
        if (removeFolderAndFiles(path))
            removed << path;
    }
    return removed;
}

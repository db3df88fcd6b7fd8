#include "platform/PathStatus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace {

bool isValidUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

struct FolderCloser {
    void operator()(DIR* folder) const { ::closedir(folder); }
};

// Whether `folder` holds an entry whose bytes are not valid UTF-8 and which
// Qt reads as `name`.
bool holdsUndecodableName(const QString& folder, const QString& name)
{
    const std::unique_ptr<DIR, FolderCloser> entries(
        ::opendir(QFile::encodeName(folder).constData()));
    if (!entries)
        return false;
    while (const dirent* entry = ::readdir(entries.get())) {
        const QByteArray bytes(entry->d_name);
        if (!isValidUtf8(bytes) && QFile::decodeName(bytes) == name)
            return true;
    }
    return false;
}

} // namespace

bool pathExists(const QString& path)
{
    struct stat info { };
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

bool isRegularFile(const QString& path)
{
    struct stat info { };
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

QString undecodableNameOnPath(const QString& path)
{
    if (!path.contains(QChar::ReplacementCharacter))
        return {};
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString reached;
    for (const QString& name : absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        const QString next = reached + QLatin1Char('/') + name;
        if (pathExists(next)) {
            reached = next;
            continue;
        }
        const QString folder = reached.isEmpty() ? QStringLiteral("/") : reached;
        return holdsUndecodableName(folder, name) ? next : QString();
    }
    return {};
}

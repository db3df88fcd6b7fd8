#include "platform/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace AppPaths {
namespace {

constexpr auto kVendor = "Farrowby";
constexpr auto kProduct = "Quillon";

QString writable(QStandardPaths::StandardLocation location)
{
    return QStandardPaths::writableLocation(location);
}

// A folder beside the installed executable (<prefix>/bin/../<relative>), or
// an empty string when the program is not running from an installed tree.
QString installedFolder(const QString& relative)
{
    if (!QCoreApplication::instance())
        return {};
    const QDir dir(QCoreApplication::applicationDirPath() + "/../" + relative);
    return dir.exists() ? dir.canonicalPath() : QString();
}

QString firstOf(const char* variable, const QString& installedRelative, const QString& fallback)
{
    const QString fromEnv = qEnvironmentVariable(variable);
    if (!fromEnv.isEmpty())
        return fromEnv;
    const QString installed = installedFolder(installedRelative);
    return installed.isEmpty() ? fallback : installed;
}

} // namespace

QString productName()
{
    return QString::fromLatin1(kProduct);
}

QString dataFolder()
{
    return writable(QStandardPaths::GenericDataLocation) + '/' + kVendor + '/' + kProduct;
}

bool ensureDataFolder()
{
    return QDir().mkpath(dataFolder());
}

bool ensurePrivateFolder(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status { };
    if (::lstat(name.constData(), &status) == 0 && S_ISLNK(status.st_mode))
        ::unlink(name.constData());
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    if (::mkdir(name.constData(), S_IRWXU) != 0 && errno != EEXIST)
        return false;
    // An existing folder of ours may have been made with looser rights.
    if (::lstat(name.constData(), &status) != 0 || !S_ISDIR(status.st_mode)
        || status.st_uid != ::getuid())
        return false;
    return ::chmod(name.constData(), S_IRWXU) == 0;
}

QString settingsFile()
{
    return writable(QStandardPaths::GenericConfigLocation) + '/' + kVendor + '/' + kProduct
        + ".conf";
}

QString moviesFolder()
{
    return writable(QStandardPaths::MoviesLocation);
}
QString picturesFolder()
{
    return writable(QStandardPaths::PicturesLocation);
}
QString musicFolder()
{
    return writable(QStandardPaths::MusicLocation);
}
QString downloadsFolder()
{
    return writable(QStandardPaths::DownloadLocation);
}
QString homeFolder()
{
    return QDir::homePath();
}

QString temporaryFolder()
{
    QString path = QDir::tempPath();
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

QString resourcesFolder()
{
    return firstOf("QUILLON_RESOURCES", "share/quillon", QStringLiteral(QUILLON_SOURCE_RESOURCES));
}

QString generatedResourcesFolder()
{
    return firstOf("QUILLON_RESOURCES", "share/quillon", QStringLiteral(QUILLON_BUILD_RESOURCES));
}

QString toolsFolder()
{
    return firstOf("QUILLON_TOOLS", "libexec/quillon", QStringLiteral(QUILLON_BUILD_TOOLS));
}

} // namespace AppPaths

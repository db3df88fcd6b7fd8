#include "platform/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

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

QString dataFolder()
{
    return writable(QStandardPaths::GenericDataLocation) + '/' + kVendor + '/' + kProduct;
}

bool ensureDataFolder()
{
    return QDir().mkpath(dataFolder());
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

#include "support/PrivateHome.h"

#include "download/ParserRelease.h"
#include "platform/AppPaths.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QFile>

#include <cstdlib>

void pointHomeAt(const QString& root)
{
    const auto set = [&](const char* name, const QString& sub) {
        const QString path = root + sub;
        QDir().mkpath(path);
        ::setenv(name, path.toUtf8().constData(), 1);
    };
    set("HOME", "/home");
    set("XDG_CONFIG_HOME", "/home/.config");
    set("XDG_DATA_HOME", "/home/.local/share");
    set("XDG_CACHE_HOME", "/home/.cache");
    set("XDG_RUNTIME_DIR", "/runtime");
    // The runtime folder is private by rule; Qt warns about any other mode.
    QFile::setPermissions(
        root + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    set("TMPDIR", "/tmp");
    // A failed analysis and the downloader window fetch the newest yt-dlp: in
    // tests from a loopback port where nothing listens, unless a test serves
    // a release of its own.
    UserDefaults(AppPaths::settingsFile())
        .setValue(ParserRelease::kAddressKey, QStringLiteral("http://127.0.0.1:9/yt-dlp"));
}

#pragma once

#include <QString>

// Every folder the program reads or writes, in one place, so that a test can
// move all of them by pointing HOME and XDG_* at a temporary folder.
namespace AppPaths {

// "Quillon": the product's name, as its folders, its log and its windows show it.
QString productName();
// $XDG_DATA_HOME/Farrowby/Quillon: the log, downloaded data, caches of ours.
QString dataFolder();
// Creates dataFolder() with its parents; false when it cannot be made.
bool ensureDataFolder();
// A folder only this user may enter (mode 0700), made with its parents when
// missing. A symbolic link in its place is removed, never followed: the
// folder holds files other users must not read or redirect. False when it
// cannot be made.
bool ensurePrivateFolder(const QString& path);
// $XDG_CONFIG_HOME/Farrowby/Quillon.conf: the user defaults.
QString settingsFile();
// The XDG videos, pictures, music and downloads folders.
QString moviesFolder();
QString picturesFolder();
QString musicFolder();
QString downloadsFolder();
QString homeFolder();
// The temporary folder ($TMPDIR, else /tmp), without a trailing slash.
QString temporaryFolder();
// Profiles, images and default data: $QUILLON_RESOURCES, else share/quillon
// beside the installed executable, else the source tree's resources/.
QString resourcesFolder();
// The resources the build makes (the DVD profiles): $QUILLON_RESOURCES, else
// share/quillon beside the installed executable, else the build tree's resources/.
QString generatedResourcesFolder();
// Our helper executables: $QUILLON_TOOLS, else libexec/quillon beside the
// installed executable, else the build tree's src/tools.
QString toolsFolder();

} // namespace AppPaths

#pragma once

#include <QString>

// What stands at a path, looked at without following a link: an engine's
// output that is a link to someone else's file is neither ours to keep nor
// ours to delete.
bool pathExists(const QString& path);
bool isRegularFile(const QString& path);

// The leading part of `path`, up to the first name that does not exist as
// written, when that name stands on disk in bytes that are not valid UTF-8
// (a name from an older character set, such as "café" in Latin-1). Qt reads
// such a name with U+FFFD in place of its bad bytes, and that text names no
// file, so a path taken from a dialog, a drop or a folder listing cannot
// reach it. Empty when the path exists or a missing name is simply missing.
QString undecodableNameOnPath(const QString& path);

#pragma once

#include <QString>

// What stands at a path, looked at without following a link: an engine's
// output that is a link to someone else's file is neither ours to keep nor
// ours to delete.
bool pathExists(const QString& path);
bool isRegularFile(const QString& path);

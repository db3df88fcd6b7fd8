#pragma once

#include <QString>

// Makes a new, empty file in AppPaths::temporaryFolder() named `prefix`, six
// random characters and, when `extension` is given, "." and the extension
// ("qzsub" and "srt" give e.g. "qzsubA1b2C3.srt"). The name is chosen and the
// file created in one step, so no other process can take the name between the
// two. Returns the path, or an empty string (the reason is logged).
QString makeTemporaryFile(const QString& prefix, const QString& extension = {});

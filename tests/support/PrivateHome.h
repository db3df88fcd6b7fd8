#pragma once

#include <QString>

// Points HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME, XDG_RUNTIME_DIR
// and TMPDIR at folders under `root`, so that no test reads or writes the real
// user's settings, data or log, and points the newest yt-dlp's address at a
// closed loopback port. Called by the test mains before Qt starts.
void pointHomeAt(const QString& root);

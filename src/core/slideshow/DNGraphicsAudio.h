#pragma once

#include <QString>

// One background-music file of an album and its length.
struct DNGraphicsAudio {
    QString audioPath;
    int audioDuration = 0; // whole seconds, truncated; 0 when it cannot be read

    // The music at `path`. Only a file is opened: a FIFO or a device is of
    // the length 0, as an unreadable file is.
    static DNGraphicsAudio graphicsAudio(const QString& path);
    // Why `path` cannot be an album's music, in the user's words; empty when
    // it is a file (or a link to one).
    static QString refusalOf(const QString& path);
};

#pragma once

#include <QString>

// One background-music file of an album and its length.
struct DNGraphicsAudio {
    QString audioPath;
    int audioDuration = 0; // whole seconds, truncated; 0 when it cannot be read

    static DNGraphicsAudio graphicsAudio(const QString& path);
};

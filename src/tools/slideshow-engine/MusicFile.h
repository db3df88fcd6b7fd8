#pragma once

#include <QString>

// Why the music at `path` (a regular file) cannot be played into a slideshow,
// or empty when it can: it opens as media with a sound stream of a known
// rate and channels whose first sound decodes. A file that merely claims to
// be sound (a ".mp3" of anything else) opens with an empty sound stream, and
// ffmpeg then fails the whole render on it.
QString musicProblem(const QString& path);

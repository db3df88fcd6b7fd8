#pragma once

#include <QString>

// Whether a recording holds at least one picture that can be read back: the
// file, not ffmpeg's exit status, says whether a recording worked (ffmpeg
// ends a good recording with status 255 when it is stopped).
bool hasRecordedPictures(const QString& path);

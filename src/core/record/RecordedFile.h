#pragma once

#include <QString>

#include <optional>

// Whether a recording holds at least one whole picture that can be read back: the
// file, not ffmpeg's exit status, says whether a recording worked (ffmpeg
// ends a good recording with status 255 when it is stopped).
bool hasRecordedPictures(const QString& path);

// How long a recording's picture lasts, from its first picture to the end of
// its last, read from the packets up to where the file is cut short, whatever
// its index claims; nothing when the file has no picture.
std::optional<double> recordedPictureSeconds(const QString& path);

#pragma once

#include <QString>

#include <optional>

// What reading a recording back found.
enum class RecordedPictures {
    Found, // at least one whole picture
    None, // read through to its end (or to where it was cut): not one whole picture
    // It could not be read (no free descriptor, an I/O error, recorded data in a
    // QuickTime file whose index was never written): it may hold any.
    Unchecked,
};

struct PictureCheck {
    RecordedPictures pictures = RecordedPictures::Unchecked;
    QString problem; // why it could not be read, when Unchecked
};

// Whether a recording holds at least one whole picture that can be read back:
// the file, not ffmpeg's exit status, says whether a recording worked (ffmpeg
// ends a good recording with status 255 when it is stopped). Only None allows
// removing the file: a file that could not be read may be a whole recording.
PictureCheck checkRecordedPictures(const QString& path);
bool hasRecordedPictures(const QString& path);

// How long a recording's picture lasts, from its first picture to the end of
// its last, read from the packets up to where the file is cut short, whatever
// its index claims; nothing when the file has no picture or cannot be read.
std::optional<double> recordedPictureSeconds(const QString& path);
// The same of its sound: nothing when it has none.
std::optional<double> recordedSoundSeconds(const QString& path);

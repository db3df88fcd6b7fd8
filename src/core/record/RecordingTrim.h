#pragma once

#include <QString>

#include <limits>

// How trimRecording left a file.
enum class TrimOutcome {
    Untouched, // whole, and nothing in it lies past the time asked for
    Trimmed, // its end was cut back to its last whole sample within the time
    NotFragmented, // not a fragmented movie, or one whose sizes do not add up: left as it was
    Unreadable, // it could not be opened or read through: left as it was
    Unwritable, // it needed a cut that could not be written
};

// Cuts a fragmented movie (an index up front, then fragments of an index and
// their samples) back, in place, to the samples that lie whole in the file
// and start less than half a sample after `seconds` from their track's first:
// what a full disk or a kill cut short mid-fragment, which players refuse,
// and what ffmpeg still wrote after the stop. Writes no more than a few index
// fields and shortens the file, so a full disk is no obstacle. Why it could
// not be read or written goes to `problem`.
TrimOutcome trimRecording(const QString& path,
    double seconds = std::numeric_limits<double>::infinity(), QString* problem = nullptr);

#pragma once

#include <QString>

#include <vector>

// What a DVD run must have written. mencoder and HandBrakeCLI answer 0 for
// runs that wrote nothing, part of the title or dropped tracks (no encoder,
// a title without sound, a damaged disc, a track number the title lacks),
// so the driver looks at the output itself.
struct DVDOutputExpectation {
    double seconds = 0; // the title's length, its trimmed part or the merged sum
    bool audio = false; // a sound track was chosen
    // Only a shorter output fails, or one far longer (twice the length and a
    // minute more, as a subtitle's cues running on for days after the
    // picture make it): a media file's length is known only roughly before
    // it is converted.
    bool atLeast = false;
    // A backup of every track: so many sound and picture-subtitle streams;
    // -1 leaves the count unchecked.
    int audioStreams = -1;
    int subtitleStreams = -1;
    // An ISO backup: the lengths of the source's titles, which the image
    // must hold as a DVD; the fields above are then not read.
    bool discImage = false;
    std::vector<double> discTitleSeconds {};
    // The source files, when there are: a file, or the members' outputs a
    // merge joins. The length above came from their headers, which may claim
    // more than their packets hold (10 hours for 5 s), or less. An output
    // whose length is off is measured against what their packets hold.
    std::vector<QString> sources {};
};

// Opens the output with libavformat (libdvdread for an ISO backup): present,
// not empty, within a second of the expected length (unchecked when it is 0),
// with sound that decodes to the end when sound was chosen, and every stream
// a backup keeps; a picture of which a frame decodes, and a picture and a
// sound whose lengths are no more than a second further apart than in the
// sources. Empty when it is so, else what is wrong, for the log and the
// user. The file converter checks its outputs with it too.
QString checkDVDOutput(const QString& path, const DVDOutputExpectation& expected);

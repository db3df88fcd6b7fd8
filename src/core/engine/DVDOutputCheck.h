#pragma once

#include <QString>

// What a DVD run must have written. mencoder answers 0 for runs that wrote
// nothing or part of the title (no encoder, a title without sound, a damaged
// disc), so the driver looks at the output itself.
struct DVDOutputExpectation {
    double seconds = 0; // the title's length, its trimmed part or the merged sum
    bool audio = false; // a sound track was chosen
};

// Opens the output with libavformat: present, not empty, within a second of
// the expected length and with sound when sound was chosen. Empty when it is
// so, else what is wrong, for the log and the user.
QString checkDVDOutput(const QString& path, const DVDOutputExpectation& expected);

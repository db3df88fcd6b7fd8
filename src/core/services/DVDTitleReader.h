#pragma once

#include "services/DNDVDTracks.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <vector>

// What the title reader learns about one title of a DVD from its title set's
// IFO file and the title's first program chain.
struct DVDTitleFacts {
    qint32 titleNumber = 0; // on the disc, from 1
    qint32 length = 0; // whole seconds
    double exactLength = 0; // seconds, to the frame
    double fps = 0.0;
    // The 2048-byte sectors of the title's first program chain, which a dump
    // of the whole title is measured against; 0 when the tables cannot tell.
    qint32 sectors = 0;
    DNDVDTVideo video;
    std::vector<DNDVDTAudio> audioTracks;
    std::vector<DNDVDTSubtitle> subtitleTracks;
};

struct DVDDiscFacts {
    QString volumeName; // the UDF volume name; empty for a folder
    std::vector<DVDTitleFacts> titles; // in the disc's order, unreadable ones left out
};

// Twice what a dual-layer disc holds: an answer that gives a title more is damaged.
inline constexpr qint32 kMostDVDTitleSectors = 1 << 23;

// A drive spinning up and reading scratched tables may take this long; a
// reader that takes longer is stuck in the tables.
inline constexpr std::chrono::milliseconds kDVDReadTimeLimit { 30000 };

// Reads the titles of the DVD at `path` (a drive's device, a folder holding
// VIDEO_TS or the VIDEO_TS folder itself, or an ISO image). The tables are
// parsed by the reader tool (src/tools/dvd-reader) in a process of its own: a
// crash on damaged tables or a read that outlasts `timeLimit` refuses the disc
// instead of ending the caller. A title whose title-set IFO and its backup are
// both unreadable is left out with a log line. Nothing, with the reason in
// `failure` and in the log, when the source cannot be opened, has no readable
// disc table or no readable title, or a disc file is not a regular file.
// Safe to call from any thread.
std::optional<DVDDiscFacts> readDVDTitles(
    const QString& path, QString& failure, std::chrono::milliseconds timeLimit = kDVDReadTimeLimit);

// The reader tool's answer (its output lines, "note" lines aside) for the DVD
// at `path` as facts; nothing, with the reason in `failure`, when it refused
// the disc or the answer does not read.
std::optional<DVDDiscFacts> DVDTitlesFromAnswer(
    const QStringList& lines, const QString& path, QString& failure);

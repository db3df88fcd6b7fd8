#pragma once

#include "model/DNDVDTracks.h"

#include <QString>

#include <optional>
#include <vector>

// What the title reader learns about one title of a DVD from its title set's
// IFO file and the title's first program chain.
struct DVDTitleFacts {
    qint32 titleNumber = 0; // on the disc, from 1
    qint32 length = 0; // whole seconds
    double fps = 0.0;
    DNDVDTVideo video;
    std::vector<DNDVDTAudio> audioTracks;
    std::vector<DNDVDTSubtitle> subtitleTracks;
};

struct DVDDiscFacts {
    QString volumeName; // the UDF volume name; empty for a folder
    std::vector<DVDTitleFacts> titles; // in the disc's order, unreadable ones left out
};

// Reads the titles of the DVD at `path` (a drive's device, a folder holding
// VIDEO_TS or the VIDEO_TS folder itself, or an ISO image). A title whose
// title-set IFO and its backup are both unreadable is left out with a log
// line. Nothing, with the reason in `failure` and in the log, when the
// source cannot be opened, has no readable disc table or no readable title.
// Safe to call from any thread; loaders on several threads take turns.
std::optional<DVDDiscFacts> readDVDTitles(const QString& path, QString& failure);

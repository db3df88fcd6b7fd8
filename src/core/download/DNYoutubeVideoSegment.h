#pragma once

#include "http/PartialFileOrigin.h"

#include <QMap>
#include <QString>
#include <QStringList>

// One downloadable variant of an online video: one container, codec and
// resolution, with the URLs to fetch one after the other (more than one means
// the video comes in parts).
struct DNYoutubeVideoSegment {
    QString containerFormat; // "mp4", "webm", ... as the analysis names it
    QString videoFormat; // codec name
    QStringList videoURLs;
    double videoSize = 0.0; // bytes: the variant plus the page's separate audio stream
    qint64 resolution = 0; // vertical resolution; 0 when unknown
    bool isSelected = false;
    // Headers the site expects with every request for the variant.
    QMap<QString, QString> httpHeaders;
    // The variant's part of videoSize is its file's size, not an estimate.
    bool sizeIsExact = false;
    // The version of the first URL's file the server named when asked its
    // size, if it was asked.
    PartialFileOrigin sizeAnswerVersion = {};

    int videoURLCount() const { return static_cast<int>(videoURLs.size()); }
    // "480P 12.34mb"
    QString description() const;

    bool operator==(const DNYoutubeVideoSegment&) const = default;
};

#pragma once

#include "download/DNYoutubeVideoSegment.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// One analysed video page: what it is called, how long it runs, its cover
// images, its downloadable variants and the separate audio stream that goes
// with the video-only variants.
struct DNYoutubeLinkNode {
    QString sourceURL; // the page URL as analysed
    QString sourceVideoID; // the analysis never fills it
    QString title;
    qint64 duration = 0; // seconds
    QStringList covers; // two cover URLs, either possibly empty
    QList<DNYoutubeVideoSegment> videosSegments; // in the order the analysis gave
    QStringList biggestSizeOfAudioStream; // URLs of the largest AAC audio stream, or none
    double audioStreamSize = 0.0; // that stream's size in bytes
    QMap<QString, QString> audioHttpHeaders; // sent with that stream's requests
    bool audioSizeIsExact = false; // audioStreamSize is the file's size, not an estimate
    PartialFileOrigin audioSizeAnswerVersion = {}; // named when that size was asked, if it was

    static DNYoutubeLinkNode linkNode() { return {}; }

    // The first variant marked for download, or null.
    const DNYoutubeVideoSegment* selectedSgmt() const;
};

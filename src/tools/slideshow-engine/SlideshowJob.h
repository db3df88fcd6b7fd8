#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

// What the program asks the engine to render, read from the job file (a
// property list, XML or binary, whose top level is a dictionary).
struct SlideshowJob {
    QString shadingImage; // "shadingImage": lights the ripple and the page curl
    QString blankImage; // "blankImage": what the last photo changes into
    QString targetPath; // "targetPath": the movie, absolute
    double showDuration = 0; // "showDuration": seconds each photo is held
    QList<qint64> effectList; // "effectList": transition numbers to draw from
    QStringList imageSquenes; // "imageSquenes": photos in showing order
    QStringList audioList; // "audioList": music in playing order
    double videoFPS = 0; // "videoFPS"
    QSize videoSize; // "videoSize" ("{W, H}"), rounded down to even numbers

    // The job, or nothing with the reason in `error`.
    static std::optional<SlideshowJob> read(const QString& path, QString& error);
};

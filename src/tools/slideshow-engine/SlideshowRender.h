#pragma once

#include "SlideshowJob.h"

#include "FrameEncoder.h"

#include <QImage>

#include <functional>
#include <memory>

class NXTransitionFilter;
class PhotoSequence;

// One job from photos to movie: each photo held "showDuration" seconds, then a
// one-second transition to the next (the last into the blank picture), the
// frames piped into ffmpeg with the music. The movie is written to a hidden
// file beside the target and renamed to it only when complete; a target that
// exists is never replaced: one taken meanwhile gives the next free name.
class SlideshowRender {
public:
    // The result codes of the "result:" line and of the exit status.
    enum Code {
        Succeeded = 0,
        BadJob = 1, // no job file, not a property list, a missing or wrong entry
        NoPhotos = 2, // the list is empty or no photo in it can be read
        TargetRefused = 3, // the target exists, or its folder cannot take it
        RenderFailed = 4, // ffmpeg failed (a full disk, a bad music file, ...)
        Stopped = 5, // SIGTERM, SIGINT or SIGHUP
    };

    SlideshowRender(SlideshowJob job, std::function<bool()> stopRequested);
    Code run(QString& reason);
    // The movie's path: the job's target, or the next free name when
    // another writer took that while the movie was made.
    QString target() const { return m_job.targetPath; }

private:
    struct Timeline {
        int holdFrames = 0;
        int transitionFrames = 0;
        int photos = 0;
        qint64 totalFrames() const;
    };

    Code checkTarget(QString& reason) const;
    Timeline timelineFor(int photos) const;
    FrameEncoder::Settings encoderSettings(const Timeline& timeline, const QString& partial) const;
    QStringList usableMusic() const;
    Code encode(const PhotoSequence& photos, const QString& partial, QString& reason);
    bool writeFrames(const PhotoSequence& photos, const Timeline& timeline, FrameEncoder& encoder);
    std::unique_ptr<NXTransitionFilter> transitionFilter(const QImage& shading) const;
    QImage shadingImage() const;

    SlideshowJob m_job;
    std::function<bool()> m_stopRequested;
};

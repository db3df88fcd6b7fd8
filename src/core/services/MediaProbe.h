#pragma once

#include "services/DNFileTracks.h"

#include <QString>

#include <optional>
#include <vector>

// What the loader learns about one media file: the media probe's general and
// track data, with stream ids and the stream-count check taken from the file
// engine's own view of the same file.
struct MediaProbeResult {
    QString fileFormat; // the container as the media probe names it ("MPEG-4", "Matroska")
    qint64 durationMs = 0; // the whole file's length
    QString title;
    QString performer;
    QString comment;
    std::vector<DNTVideo> videoTracks;
    std::vector<DNTAudio> audioTracks;
    std::vector<DNTSubtitle> subtitleTracks;
    // The engine counted as many video and audio streams as the media probe.
    bool sameStreams = false;
};

// A video stream's length in seconds: its own with the fraction, or, when the
// probe gives it none, the whole file's in whole seconds.
float videoTrackDuration(double streamMs, qint64 fileMs);
// An audio stream's length in whole seconds.
float audioTrackDuration(double streamMs);

// Probes `path`; nothing when the file cannot be read as media at all. Logs
// why it failed and when the two views disagree. Safe to call from any thread.
std::optional<MediaProbeResult> probeMediaFile(const QString& path);

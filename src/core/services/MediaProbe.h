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
    // An MPEG-4 or QuickTime file with no track because its index ("moov")
    // never got written: a recording or a download cut short.
    bool indexMissing = false;
    // A picture (a still one or an animated GIF) and no video or sound.
    bool picture = false;
};

// A video stream's length in seconds: its own with the fraction, or, when the
// probe gives it none, the whole file's in whole seconds.
float videoTrackDuration(double streamMs, qint64 fileMs);
// An audio stream's length in whole seconds.
float audioTrackDuration(double streamMs);

// Whether the MPEG-4 or QuickTime file at `path` has boxes but no index
// ("moov") among them. Reads the boxes' headers only.
bool lacksMp4Index(const QString& path);

// Probes `path`; nothing when the file cannot be read as media at all. Logs
// why it failed and when the two views disagree. Safe to call from any thread.
std::optional<MediaProbeResult> probeMediaFile(const QString& path);

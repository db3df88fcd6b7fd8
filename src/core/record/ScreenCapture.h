#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

// The ffmpeg command of one screen recording, as plain functions of plain
// values: what is asked for in, words out.

// The quality presets of the recorder window, by the size a recording fits in.
enum class CaptureSessionPreset {
    Low, // fits in 640x360
    Medium, // fits in 854x480: what a new recorder starts with
    Preset960x540, // fits in 960x540
    High, // the region's own size
};

// The window's stored preset index: 0 Low, 1 960x540, 2 and above High.
CaptureSessionPreset sessionPresetAtIndex(quint64 index);

// Frames per second as the screen input takes them: truncated to a whole
// number and at least 1 (a zero or negative rate would stall the grabber).
int wholeFrameRate(float framesPerSecond);

// The area x11grab can record for the requested one: clamped to the screen
// (it refuses an area past the edge), the whole screen when nothing of it is
// left, and rounded down to even sizes (x264 refuses odd ones).
QRect captureArea(const QRect& requested, const QSize& screen);

// The recorded picture's size for an area under a preset: shrunk to fit the
// preset's box with the area's shape, never enlarged, even sizes.
QSize outputSize(const QSize& area, CaptureSessionPreset preset);

struct CapturePlan {
    QString display; // the X display, as in $DISPLAY
    QRect area; // from captureArea()
    int frameRate = 24;
    bool drawMouse = true;
    QString audioSource; // the sound server's source, empty for no sound
    CaptureSessionPreset preset = CaptureSessionPreset::High;
    QString outputPath;
};

// The picture's encoding of a live recording, the screen's or the camera's:
// x264 without delay. zerolatency: x264 otherwise holds back about 0.85 s of
// pictures (lookahead, B-frames, frame threads), ffmpeg then reads the input
// whose output is furthest behind, the picture, and the sound waits in its
// queue, where the stop drops it: the sound ended that much before the
// picture.
QStringList liveVideoEncoding();

// ffmpeg's arguments (program name excluded) for the plan.
QStringList captureArguments(const CapturePlan& plan);

// The screen size of an X display as x11grab sees it, or nothing with the
// reason in `error`. Runs ffprobe on the calling thread.
std::optional<QSize> probeDisplaySize(const QString& display, QString* error);

// An engine message without its "[muxer @ 0x...] " source tag.
QString engineReason(const QString& line);

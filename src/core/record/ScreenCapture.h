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

// The highest frame rate a recording takes, as the settings sheet offers it.
constexpr int kMaxCaptureFrameRate = 60;

// Frames per second as the screen input takes them: truncated to a whole
// number; 0 for a rate outside 1 to kMaxCaptureFrameRate.
int wholeFrameRate(float framesPerSecond);

// Why a recording of `area` (the X root's pixels) at that frame rate cannot be
// made on a screen of that size, or empty when it can: x11grab refuses an area
// past the screen's edge, x264 one of less than 2x2 pixels, and a rate outside
// 1 to kMaxCaptureFrameRate is a slip (100,000 a second fills the disk in
// minutes). Refused rather than changed, so that nothing else is recorded
// than what was asked for.
QString captureProblem(const QRect& area, float framesPerSecond, const QSize& screen);

// The area as x11grab records it: rounded down to even sizes (x264 refuses odd ones).
QRect captureArea(const QRect& requested);

// The recorded picture's size for an area under a preset: shrunk to fit the
// preset's box with the area's shape, never enlarged, even sizes.
QSize outputSize(const QSize& area, CaptureSessionPreset preset);

struct CapturePlan {
    QString display; // the X display, as in $DISPLAY
    QRect area; // from captureArea()
    int frameRate = 24;
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

// The output's frame rate, constant. Left to itself, ffmpeg takes the rate it
// guesses from the first pictures, which come bunched up on a busy machine
// (61/6 or 245/12 a second for 10 asked), and the file then plays too fast.
QStringList constantFrameRate(int framesPerSecond);

// How far a recording's length may stray from the time recorded: ffmpeg
// ends on the stop with what it has encoded, and a loaded machine may leave a
// little unencoded.
constexpr double kRecordedLengthSlack = 0.5; // seconds, besides one frame

// Why a recording whose picture lasts `inFile` seconds does not hold the
// `recorded` seconds between its first picture and its stop, or empty when it
// does, give or take kRecordedLengthSlack and a frame.
QString recordedLengthProblem(double inFile, double recorded, int framesPerSecond);

// How much sooner than its picture a recording's sound may end: it ends
// within a few hundredths of a second of it, unless it was cut off.
constexpr double kSoundShortfallSlack = 1.0; // seconds

// Why a recording whose sound lasts `sound` seconds (none: it holds no sound)
// falls short of its `picture` seconds, or empty when it does not: the sound
// server, or the source it took the sound from, went away while the picture
// was recorded on.
QString recordedSoundProblem(std::optional<double> sound, double picture);

// ffmpeg's arguments (program name excluded) for the plan.
QStringList captureArguments(const CapturePlan& plan);

// The screen size of an X display as x11grab sees it, or nothing with the
// reason in `error`. Runs ffprobe on the calling thread.
std::optional<QSize> probeDisplaySize(const QString& display, QString* error);

// An engine message without its "[muxer @ 0x...] " source tag.
QString engineReason(const QString& line);

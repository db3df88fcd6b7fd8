#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The camera recorder's devices and its ffmpeg command, as plain functions of
// plain values.

// One picture source the camera recorder can open.
struct CameraDevice {
    QString uniqueID; // the device node, e.g. "/dev/video0"
    QString localizedName; // what the driver calls it
    QStringList inputWords; // ffmpeg's input options for it, ending in "-i <input>"
    bool hasSound = false; // "muxed": the source carries its own sound
};

// The cameras under a sysfs video4linux folder (/sys/class/video4linux on a
// real system), by device number. Only a device's first node (index 0) takes
// pictures; the others of the same device carry metadata.
std::vector<CameraDevice> cameraDevicesIn(const QString& video4linuxFolder);
std::vector<CameraDevice> cameraDevices();

// A camera recording's frame rate, constant: a camera's stamps come
// unevenly on a busy machine, and ffmpeg would take the rate it guesses from
// the first of them.
constexpr int kCameraRecordingFrameRate = 30;

struct CameraSessionPlan {
    CameraDevice camera;
    QString microphoneSource; // the sound server's source; ignored for a muxed camera
    QSize previewSize; // the mirrored raw frames on standard output
    int previewFrameRate = 15;
    QString outputPath; // empty: preview only
    std::optional<QSize> maximumSize; // the recording fits in it; none keeps the camera's size
    // The sound server's name for the stream that plays the sound as it is
    // taken (its volume is set through the server); empty: not played.
    QString soundPreviewStream;
};

// ffmpeg's arguments (program name excluded). Standard output carries the
// preview as raw RGB frames of previewSize, standard error the sound's peak
// level lines (see peakLevel()) and the progress report. The sound, when
// there is one, also plays on the sound server as the preview stream.
QStringList cameraSessionArguments(const CameraSessionPlan& plan);

// ffmpeg's arguments (program name excluded) that copy a finished recording
// into `cutPath`, each stream cut at `seconds`.
QStringList recordingCutArguments(const QString& recording, const QString& cutPath, double seconds);

// The peak level in dB that a level line reports ("-inf" as a very low level),
// or nothing for any other line.
std::optional<double> peakLevel(const QString& line);

// The preview frames handed out so far by a progress line, or nothing. They
// measure the recorded length: ffmpeg's own output time follows the output
// that has come furthest, the sound, which a source handing out its sound two
// seconds at a time takes up to two seconds past the picture.
std::optional<qint64> progressFrames(const QString& line);

// Moves a finished recording into `folder` under `fileName`, or a numbered
// variant of it when that is taken; an existing file is never replaced. Across
// file systems the file is copied, and the original removed once the copy is
// whole. The final path, or nothing with the reason in `error` (when given; the recording
// then stays where it was).
std::optional<QString> moveRecording(
    const QString& recording, const QString& folder, const QString& fileName, QString* error);

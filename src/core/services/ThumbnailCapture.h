#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <chrono>

struct AVFrame;

// A picture of a media file for its list row: the one shown a tenth into the
// file, decoded in process (no engine child to start) and scaled to fit `size`
// with the picture's own proportions, turned upright by the track's rotation.
// A null image when no frame can be decoded; `error`, when given, then says
// why. Safe to call from any thread; slow enough that the main thread must
// not, one after another for a list.
QImage captureThumbnail(const QString& path, const QSize& size, QString* error = nullptr);

// How long the main thread waits for one source picture before its caller
// makes do without: a long stretch between key frames, a large picture or a
// slow network disk would otherwise freeze the window.
inline constexpr std::chrono::milliseconds kSourcePictureLimit { 3000 };

// The picture shown `secondsFromFirstPicture` after the video track's first
// picture: the last one at or before that time (the last of all at or past the
// end, where a preview that played through stands), at the source's own pixel
// size, turned upright by the track's rotation, for work that must see every
// source row (finding black bars). Never another picture: when the one asked
// cannot be reached (a stretch between key frames longer than is read, a
// damaged file) the image is null and `error` says why. Reading stops once
// `limit` has passed, with a null image, so that the main thread may ask for
// it on a person's request.
QImage captureSourcePicture(const QString& path, double secondsFromFirstPicture,
    QString* error = nullptr, std::chrono::milliseconds limit = kSourcePictureLimit);

// A decoded frame as an RGB32 image of `size`, for the pictures above. A null
// image for a frame that holds no picture (as a drained decoder leaves it), in
// a pixel format the scaler cannot read, or too large to hold.
QImage scaledFramePicture(const AVFrame& frame, const QSize& size);

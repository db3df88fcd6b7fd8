#pragma once

#include <QImage>
#include <QSize>
#include <QString>

// A picture of a media file for its list row: the first frame at or after a
// tenth of the file's length, decoded in process (no engine child to start)
// and scaled to fit `size` with the picture's own proportions, turned upright
// by the track's rotation. A null image when no frame can be decoded;
// `error`, when given, then says why. Safe to call from any thread; slow
// enough that the main thread must not, one after another for a list.
QImage captureThumbnail(const QString& path, const QSize& size, QString* error = nullptr);

// The frame at `seconds` (the first after it) at the source's own pixel size,
// turned upright by the track's rotation, for work that must see every source
// row (finding black bars). One frame is quick enough for the main thread to
// ask for on a person's request. As above for failures.
QImage captureSourcePicture(const QString& path, double seconds, QString* error = nullptr);

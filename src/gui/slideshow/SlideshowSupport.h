#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>

#include <functional>

// Milliseconds on a steady clock. The editor's animations read the time
// through one of these, so a test can stop time at any point of a transition.
using SlideshowClock = std::function<qint64()>;
SlideshowClock steadyClock();

// A thumbnail of a photo that fits within width x height, upright; a null
// image when the file is no picture. Reads no more of a large photo than the
// thumbnail needs.
QImage ThumbnailOfImage(const QString& path, double width, double height);

// An image of the program's resources (images/<name>); null when missing.
QPixmap slideshowResourceImage(const QString& name);

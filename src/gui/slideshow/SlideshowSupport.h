#pragma once

#include "slideshow/ThumbnailOfImage.h"

#include <QImage>
#include <QPixmap>
#include <QString>

#include <functional>

// Milliseconds on a steady clock. The editor's animations read the time
// through one of these, so a test can stop time at any point of a transition.
using SlideshowClock = std::function<qint64()>;
SlideshowClock steadyClock();


// An image of the program's resources (images/<name>); null when missing.
QPixmap slideshowResourceImage(const QString& name);

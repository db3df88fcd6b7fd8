#pragma once

#include <QRect>

class QScreen;
class QWidget;

// Qt places windows in its device-independent pixels; x11grab takes the X
// root window's pixels. On a desktop at scale 2 (Xft.dpi 192, QT_SCALE_FACTOR)
// Qt calls a screen of 1280x800 pixels 640x400. The recorder's windows work in
// Qt's pixels throughout, and a region is converted once, where it goes to the
// capture session.

// The screen a full-screen recording takes: the one the window is on, else
// the primary. Null without any screen.
QScreen* recordingScreen(const QWidget* window);

// `area`, in Qt's pixels on `screen`, in the X root window's pixels. Qt keeps
// a screen's top-left corner at the same place in both and scales from there.
QRect rootPixels(const QRect& area, const QScreen& screen);

#pragma once

#include <QRectF>

// The playback view as the player control moves it about: the control does
// the arithmetic, the view (a widget, above this layer) does the moving.
// Rectangles are in the usual interface coordinates, y growing downward.
class NXMPlayerSurface {
public:
    virtual ~NXMPlayerSurface() = default;

    // The playback view's bounds; in full screen, the screen's size.
    virtual QRectF playbackBounds() const = 0;
    // The bounds of the view the pictures are painted in.
    virtual QRectF pictureBounds() const = 0;
    // The playback view's place in its window.
    virtual void setPlaybackFrame(const QRectF& frame) = 0;
    // The picture view's place in the playback view.
    virtual void setPictureFrame(const QRectF& frame) = 0;
    // The main screen's frame, from its top left corner; empty without a screen.
    virtual QRectF screenFrame() const = 0;
    virtual void enterFullScreen() = 0;
    // Ends the full-screen bar, then leaves full screen.
    virtual void exitFullScreen() = 0;
};

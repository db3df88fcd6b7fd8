#pragma once

#include <QWidget>

class MPlayerVideoRenderer;

// Paints the renderer's latest picture where the renderer says, on black:
// the picture goes to the texture frame within the display frame, both with
// y growing downward from the top left. A picture made at that frame's size
// (the view gives the renderer its screen's pixel ratio) is copied as it is,
// any other scaled.
class NXMPlayerPictureView : public QWidget {
    Q_OBJECT
public:
    explicit NXMPlayerPictureView(MPlayerVideoRenderer& renderer, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    MPlayerVideoRenderer& m_renderer;
};

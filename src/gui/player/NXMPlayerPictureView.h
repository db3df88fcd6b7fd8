#pragma once

#include <QWidget>

class MPlayerVideoRenderer;

// Paints the renderer's latest picture where the renderer says, on black:
// the picture goes to the texture frame within the display frame, both with
// y growing downward from the top left.
class NXMPlayerPictureView : public QWidget {
    Q_OBJECT
public:
    explicit NXMPlayerPictureView(MPlayerVideoRenderer& renderer, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    MPlayerVideoRenderer& m_renderer;
};

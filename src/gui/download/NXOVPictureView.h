#pragma once

#include <QWidget>

class NXOVPlayerControl;

// The online preview's picture: the running player's latest frame where the
// control fitted it, on black. It tells the control its size, which the
// control fits each new stream's first picture to.
class NXOVPictureView : public QWidget {
    Q_OBJECT
public:
    explicit NXOVPictureView(NXOVPlayerControl& control, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    NXOVPlayerControl& m_control;
};

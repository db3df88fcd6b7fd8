#pragma once

#include <QScrollBar>

// The download list's vertical scroller: a slim rounded knob on a clear
// track, with no arrows.
class NXScroller : public QScrollBar {
    Q_OBJECT
public:
    explicit NXScroller(QWidget* parent = nullptr);

    QSize sizeHint() const override { return { 10, 100 }; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRectF knobRect() const;
};

#pragma once

#include <QColor>
#include <QWidget>

class QPainter;

// A horizontal slider drawn in steps that subclasses override. The value
// follows the pointer while the mouse is down; the action (actionTriggered)
// is sent when the mouse is released and, while continuous, on every tenth
// drag event, so a slow consumer such as a player seek is not flooded.
class NXSlider : public QWidget {
    Q_OBJECT
public:
    explicit NXSlider(QWidget* parent = nullptr);

    void setFillColor(const QColor& colour);
    QColor fillColor() const { return m_fillColor; }
    void setMinValue(double value);
    void setMaxValue(double value);
    double minValue() const { return minValue_; }
    double maxValue() const { return maxValue_; }
    void setDoubleValue(double value);
    void setFloatValue(float value) { setDoubleValue(value); }
    double doubleValue() const { return value_; }
    float floatValue() const { return static_cast<float>(value_); }
    void setContinuous(bool on) { m_continuous = on; }
    bool isContinuous() const { return m_continuous; }

    QSize sizeHint() const override { return { 120, 16 }; }

signals:
    void actionTriggered(NXSlider* slider);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

    // The drawing steps, called in this order.
    virtual void beginClip(QPainter& painter);
    virtual void drawBackground(QPainter& painter);
    virtual void drawValue(QPainter& painter);
    virtual void drawBackgroundBorder(QPainter& painter);
    virtual void endClip(QPainter& painter);
    virtual void drawKnob(QPainter& painter);

    double valueAtX(double x) const;
    double filledWidth() const;

    double maxValue_ = 100;
    double minValue_ = 0;
    double value_ = 50;
    double width_ = 0;
    double height_ = 0;
    bool isTrackingMouse = false;

private:
    QColor m_fillColor { 0x3a, 0x8e, 0xe6 };
    bool m_continuous = true;
    int m_dragEvents = 0;
};

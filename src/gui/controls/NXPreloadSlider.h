#pragma once

#include "controls/NXSlider.h"

// The preview's position slider: under the played range it shows how far
// the stream is buffered.
class NXPreloadSlider : public NXSlider {
    Q_OBJECT
public:
    explicit NXPreloadSlider(QWidget* parent = nullptr);

    // Both at once, redrawn together, unless the user is dragging the knob.
    void setValue(float value, double preloadValue);
    double preloadingValue() const { return m_preloadingValue; }
    void setPreloadingValue(double value);

protected:
    void drawValue(QPainter& painter) override;

private:
    void drawPreload(QPainter& painter);

    double m_preloadingValue = 0;
};

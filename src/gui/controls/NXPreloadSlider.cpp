#include "controls/NXPreloadSlider.h"

#include <QPainter>

NXPreloadSlider::NXPreloadSlider(QWidget* parent)
    : NXSlider(parent)
{ }

void NXPreloadSlider::setValue(float value, double preloadValue)
{
    m_preloadingValue = preloadValue;
    value_ = value;
    if (!isTrackingMouse)
        update();
}

void NXPreloadSlider::setPreloadingValue(double value)
{
    m_preloadingValue = value;
    update();
}

void NXPreloadSlider::drawValue(QPainter& painter)
{
    drawPreload(painter);
    NXSlider::drawValue(painter);
}

// Nothing is drawn where the played range already covers the buffered one.
void NXPreloadSlider::drawPreload(QPainter& painter)
{
    const double range = maxValue_ - minValue_;
    if (range <= 0)
        return;
    double x = m_preloadingValue / range * width_;
    if (x > width_)
        x = width_;
    else if (value_ >= m_preloadingValue)
        return;
    const double radius = height_ / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(72, 86, 108));
    painter.drawRoundedRect(QRectF(0, 1, x, height_ - 2), radius, radius);
}

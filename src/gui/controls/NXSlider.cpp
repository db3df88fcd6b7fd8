#include "controls/NXSlider.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

NXSlider::NXSlider(QWidget* parent)
    : QWidget(parent)
{
    setMinimumHeight(8);
}

void NXSlider::setFillColor(const QColor& colour)
{
    m_fillColor = colour;
    update();
}

void NXSlider::setMinValue(double value)
{
    minValue_ = value;
    update();
}

void NXSlider::setMaxValue(double value)
{
    maxValue_ = value;
    update();
}

void NXSlider::setDoubleValue(double value)
{
    value_ = value;
    // A value set from outside must not fight the user's drag.
    if (!isTrackingMouse)
        update();
}

double NXSlider::valueAtX(double x) const
{
    if (width() <= 0)
        return minValue_;
    // The left end is the minimum, not zero: a range such as 20..120 must
    // still reach every value in it.
    const double value = minValue_ + (maxValue_ - minValue_) * x / width();
    return std::clamp(value, std::min(minValue_, maxValue_), std::max(minValue_, maxValue_));
}

double NXSlider::filledWidth() const
{
    const double range = maxValue_ - minValue_;
    if (range <= 0)
        return 0;
    return std::clamp((value_ - minValue_) / range, 0.0, 1.0) * width_;
}

void NXSlider::paintEvent(QPaintEvent*)
{
    width_ = width();
    height_ = height();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    beginClip(painter);
    drawBackground(painter);
    drawValue(painter);
    drawBackgroundBorder(painter);
    endClip(painter);
    drawKnob(painter);
}

void NXSlider::mousePressEvent(QMouseEvent* event)
{
    if (!isEnabled() || event->button() != Qt::LeftButton)
        return;
    isTrackingMouse = true;
    m_dragEvents = 0;
    value_ = valueAtX(event->position().x());
    update();
}

void NXSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (!isTrackingMouse)
        return;
    value_ = valueAtX(event->position().x());
    update();
    if (m_continuous && ++m_dragEvents % 10 == 0)
        emit actionTriggered(this);
}

void NXSlider::mouseReleaseEvent(QMouseEvent* event)
{
    if (!isTrackingMouse)
        return;
    isTrackingMouse = false;
    value_ = valueAtX(event->position().x());
    update();
    emit actionTriggered(this);
}

void NXSlider::beginClip(QPainter& painter)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, width_, height_), height_ / 2, height_ / 2);
    painter.save();
    painter.setClipPath(path);
}

void NXSlider::drawBackground(QPainter& painter)
{
    painter.fillRect(QRectF(0, 0, width_, height_), palette().color(QPalette::Mid));
}

void NXSlider::drawValue(QPainter& painter)
{
    const QColor colour = isEnabled() ? m_fillColor : palette().color(QPalette::Dark);
    painter.fillRect(QRectF(0, 0, filledWidth(), height_), colour);
}

void NXSlider::drawBackgroundBorder(QPainter& painter)
{
    painter.setPen(palette().color(QPalette::Shadow));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(0.5, 0.5, width_ - 1, height_ - 1), height_ / 2, height_ / 2);
}

void NXSlider::endClip(QPainter& painter)
{
    painter.restore();
}

void NXSlider::drawKnob(QPainter& painter)
{
    const double radius = height_ / 2;
    const double centre = std::clamp(filledWidth(), radius, std::max(radius, width_ - radius));
    painter.setPen(palette().color(QPalette::Shadow));
    painter.setBrush(palette().color(QPalette::Button));
    painter.drawEllipse(QPointF(centre, radius), radius - 0.5, radius - 0.5);
}

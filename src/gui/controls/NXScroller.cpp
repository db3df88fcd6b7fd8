#include "controls/NXScroller.h"

#include <QPainter>

#include <algorithm>

namespace {

constexpr double kSmallestKnob = 20;

} // namespace

NXScroller::NXScroller(QWidget* parent)
    : QScrollBar(Qt::Vertical, parent)
{ }

// The knob is as long as the visible share of the document, and lies where
// the value says.
QRectF NXScroller::knobRect() const
{
    const double total = maximum() - minimum() + pageStep();
    if (total <= 0)
        return {};
    const double length
        = std::clamp(height() * pageStep() / total, kSmallestKnob, double(height()));
    const double range = maximum() - minimum();
    const double top = range > 0 ? (height() - length) * (value() - minimum()) / range : 0;
    return { 2, top, width() - 4.0, length };
}

void NXScroller::paintEvent(QPaintEvent*)
{
    if (maximum() <= minimum())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 90));
    const QRectF knob = knobRect();
    painter.drawRoundedRect(knob, knob.width() / 2, knob.width() / 2);
}

#include "controls/DNProgressIndicator.h"

#include <QPainter>

namespace {
constexpr int kSteps = 60;
}

DNProgressIndicator::DNProgressIndicator(QWidget* parent)
    : QWidget(parent)
{
    m_timer.setInterval(30);
    connect(&m_timer, &QTimer::timeout, this, &DNProgressIndicator::advance);
}

void DNProgressIndicator::startAnimation()
{
    m_timer.start();
}

void DNProgressIndicator::stopAnimation()
{
    m_timer.stop();
    update();
}

void DNProgressIndicator::advance()
{
    m_phase = (m_phase + 1) % (2 * kSteps);
    update();
}

void DNProgressIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(palette().color(QPalette::Mid));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(frame, 3, 3);
    if (!isAnimating())
        return;
    const double block = width() / 4.0;
    const int step = m_phase < kSteps ? m_phase : 2 * kSteps - m_phase;
    const double left = (width() - block) * step / kSteps;
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Highlight));
    painter.drawRoundedRect(QRectF(left, 1, block, height() - 2), 3, 3);
}

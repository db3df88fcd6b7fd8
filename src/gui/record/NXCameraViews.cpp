#include "record/NXCameraViews.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include <algorithm>

namespace {

constexpr double kQuietestDecibels = -60.0;

} // namespace

NXTimerRemaidView::NXTimerRemaidView(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(140, 34);
}

void NXTimerRemaidView::setTimeSeconds(quint32 seconds)
{
    m_hours = seconds / 3600;
    m_minutes = seconds % 3600 / 60;
    m_seconds = seconds % 60;
    update();
}

QString NXTimerRemaidView::digits(quint32 value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

void NXTimerRemaidView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(40, 40, 40));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(rect(), 6, 6);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(20);
    painter.setFont(font);
    painter.setPen(Qt::white);
    const QStringList parts { hoursText(), minutesText(), secondsText() };
    const int partWidth = width() / 3;
    for (int part = 0; part < parts.size(); ++part)
        painter.drawText(
            QRect(part * partWidth, 0, partWidth, height()), Qt::AlignCenter, parts[part]);
}

NXWaveView::NXWaveView(QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(10);
}

void NXWaveView::setLevel(double decibels)
{
    m_fill = std::clamp(1.0 - decibels / kQuietestDecibels, 0.0, 1.0);
    update();
}

void NXWaveView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(30, 30, 30));
    const int lit = int(width() * m_fill);
    painter.fillRect(QRect(0, 0, lit, height()), m_fill > 0.9 ? Qt::red : Qt::green);
}

NXMovableImageView::NXMovableImageView(QWidget* parent)
    : QLabel(parent)
{ }

void NXMovableImageView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QLabel::mousePressEvent(event);
    QWindow* handle = window()->windowHandle();
    if (!handle || !handle->startSystemMove())
        m_grab = event->globalPosition().toPoint() - window()->pos();
    event->accept();
}

void NXMovableImageView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_grab)
        return QLabel::mouseMoveEvent(event);
    window()->move(event->globalPosition().toPoint() - *m_grab);
    event->accept();
}

void NXMovableImageView::mouseReleaseEvent(QMouseEvent* event)
{
    m_grab.reset();
    QLabel::mouseReleaseEvent(event);
}

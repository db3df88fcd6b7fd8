#include "controls/NXButton.h"

#include <QFontMetricsF>
#include <QPainter>

NXButton::NXButton(const QString& title, QWidget* parent)
    : DNButton(parent)
    , m_title(title)
{
    measureTitle();
}

void NXButton::setTitle(const QString& title)
{
    m_title = title;
    measureTitle();
    update();
}

void NXButton::setColorCompanets(const QString& components)
{
    m_colorCompanets = components;
    const QStringList parts = components.split('x');
    if (parts.size() != 4)
        return;
    m_titleColor = QColor::fromRgbF(
        parts[0].toFloat(), parts[1].toFloat(), parts[2].toFloat(), parts[3].toFloat());
    update();
}

void NXButton::measureTitle()
{
    m_titleSize = QFontMetricsF(font()).size(Qt::TextSingleLine, m_title);
}

void NXButton::paintEvent(QPaintEvent* event)
{
    DNButton::paintEvent(event);
    QPainter painter(this);
    painter.setPen(m_titleColor);
    painter.setFont(font());
    const QRectF titleRect(0, (height() - m_titleSize.height()) / 2, width(), m_titleSize.height());
    painter.drawText(titleRect, Qt::AlignCenter, m_title);
}

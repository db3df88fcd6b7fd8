#include "editor/DNTabViewItem.h"

#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QTabWidget>

namespace {

// The two lamps, drawn once and shared by every tab: lit green, or grey.
QPixmap lampImage(const QColor& colour)
{
    QPixmap image(11, 11);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour.darker(160), 1));
    QRadialGradient light(QPointF(4, 4), 6);
    light.setColorAt(0, colour.lighter(150));
    light.setColorAt(1, colour);
    painter.setBrush(light);
    painter.drawEllipse(QRectF(0.5, 0.5, 10, 10));
    return image;
}

const QIcon& lampIcon(bool on)
{
    static const QIcon onIcon(lampImage(QColor(60, 190, 70)));
    static const QIcon offIcon(lampImage(QColor(150, 150, 150)));
    return on ? onIcon : offIcon;
}

} // namespace

DNTabViewItem::DNTabViewItem(QWidget* page, const QString& label, QTabWidget* tabView)
    : QObject(tabView)
    , m_tabView(tabView)
    , m_page(page)
    , m_label(label)
{
    appendToTabView();
}

void DNTabViewItem::appendToTabView()
{
    if (!m_tabView || !m_page)
        return;
    m_tabView->addTab(m_page, m_label);
    showLamp();
}

void DNTabViewItem::setImageState(bool on)
{
    if (m_imageState == on)
        return;
    m_imageState = on;
    showLamp();
}

void DNTabViewItem::showLamp()
{
    if (!m_tabView || !m_page)
        return;
    const int index = m_tabView->indexOf(m_page);
    if (index >= 0)
        m_tabView->setTabIcon(index, lampIcon(m_imageState));
}

#include "record/DNRecordFrame.h"

#include <QPainter>
#include <QPainterPath>

DNFrameViewExt::DNFrameViewExt(QWidget* parent)
    : QWidget(parent)
{ }

void DNFrameViewExt::setClearFrame(const QRect& frame)
{
    m_clearFrame = frame;
    update();
}

void DNFrameViewExt::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QPainterPath dimmed;
    dimmed.setFillRule(Qt::OddEvenFill);
    dimmed.addRect(QRectF(rect()));
    dimmed.addRect(QRectF(m_clearFrame.intersected(rect())));
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.fillPath(dimmed, QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.3f));
}

void DNFrameView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(QPen(Qt::green, 1));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

DNRecordFrame::DNRecordFrame(const QRect& region, const QRect& screenFrame)
    : QWidget(nullptr,
        Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
            | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus
            | Qt::BypassWindowManagerHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_QuitOnClose, false);
    setGeometry(screenFrame);
    const QRect local = region.translated(-screenFrame.topLeft());
    m_view = new DNFrameViewExt(this);
    m_view->setGeometry(QRect(QPoint(0, 0), screenFrame.size()));
    m_view->setClearFrame(local);
    setMask(QRegion(QRect(QPoint(0, 0), screenFrame.size())).subtracted(QRegion(local)));
}

void DNRecordFrame::displayFrame()
{
    show();
    raise();
}

void DNRecordFrame::destroyFrame()
{
    hide();
}

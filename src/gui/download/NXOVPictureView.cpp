#include "download/NXOVPictureView.h"

#include "player/MPlayerVideoRenderer.h"
#include "player/NXOVPlayerControl.h"

#include <QPainter>

NXOVPictureView::NXOVPictureView(NXOVPlayerControl& control, QWidget* parent)
    : QWidget(parent)
    , m_control(control)
{
    // Every pixel is painted each time: nothing behind needs drawing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(
        &control, &NXOVPlayerControl::redrawRequested, this, qOverload<>(&NXOVPictureView::update));
    m_control.setViewSize(size());
}

void NXOVPictureView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_control.setViewSize(size());
}

void NXOVPictureView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const MPlayerVideoRenderer* render = m_control.render();
    const QImage picture = render ? render->picture() : QImage();
    if (picture.isNull())
        return;
    const QRectF display = render->curDisplayFrame();
    painter.setClipRect(display);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(render->curTextureFrame().translated(display.topLeft()), picture);
}

#include "player/NXMPlayerPictureView.h"

#include "player/MPlayerVideoRenderer.h"

#include <QPainter>

NXMPlayerPictureView::NXMPlayerPictureView(MPlayerVideoRenderer& renderer, QWidget* parent)
    : QWidget(parent)
    , m_renderer(renderer)
{
    // Every pixel is painted each time: nothing behind needs drawing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    connect(&renderer, &MPlayerVideoRenderer::redrawRequested, this,
        qOverload<>(&NXMPlayerPictureView::update));
}

void NXMPlayerPictureView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const QImage picture = m_renderer.picture();
    if (picture.isNull())
        return;
    const QRectF display = m_renderer.curDisplayFrame();
    painter.setClipRect(display);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(m_renderer.curTextureFrame().translated(display.topLeft()), picture);
}

#include "player/NXMPlayerPictureView.h"

#include "player/MPlayerVideoRenderer.h"

#include <QPainter>

#include <cmath>

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
    // The window may have moved to a screen of another ratio since the last
    // paint; the next pictures are made for the one painted on now.
    const double ratio = devicePixelRatioF();
    m_renderer.setPixelRatio(ratio);
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const QImage picture = m_renderer.picture();
    if (picture.isNull())
        return;
    const QRectF display = m_renderer.curDisplayFrame();
    const QRectF texture = m_renderer.curTextureFrame().translated(display.topLeft());
    painter.setClipRect(display);
    if (picture.size() == m_renderer.paintedPictureSize()) {
        // Made at the size it is shown at: copied as it is, onto whole pixels.
        const QPointF corner(
            std::round(texture.x() * ratio) / ratio, std::round(texture.y() * ratio) / ratio);
        painter.drawImage(QRectF(corner, QSizeF(picture.size()) / ratio), picture);
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(texture, picture);
}

#include "slideshow/SlideImageView.h"

#include <QMouseEvent>
#include <QPainter>

SlideImageView::SlideImageView(QWidget* parent)
    : QWidget(parent)
{ }

void SlideImageView::setImage(const QImage& image)
{
    m_image = image;
    update();
}

QRectF SlideImageView::fittedRect(const QSizeF& picture, const QSizeF& view)
{
    if (picture.isEmpty() || view.isEmpty())
        return {};
    const QSizeF fitted = picture.scaled(view, Qt::KeepAspectRatio);
    return { QPointF((view.width() - fitted.width()) / 2, (view.height() - fitted.height()) / 2),
        fitted };
}

void SlideImageView::paintEvent(QPaintEvent*)
{
    if (m_image.isNull())
        return;
    QPainter painter(this);
    const QRectF picture = fittedRect(m_image.size(), size());
    const QColor bar(0, 0, 0, 204); // black at 80%
    const QRectF whole = rect();
    // The two bands beside the picture: above and below it, or left and right.
    if (picture.top() > whole.top()) {
        painter.fillRect(QRectF(whole.left(), whole.top(), whole.width(), picture.top()), bar);
        painter.fillRect(QRectF(whole.left(), picture.bottom(), whole.width(),
                             whole.bottom() - picture.bottom()),
            bar);
    } else if (picture.left() > whole.left()) {
        painter.fillRect(QRectF(whole.left(), whole.top(), picture.left(), whole.height()), bar);
        painter.fillRect(
            QRectF(picture.right(), whole.top(), whole.right() - picture.right(), whole.height()),
            bar);
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(picture, m_image);
}

void SlideImageView::mousePressEvent(QMouseEvent* event)
{
    event->ignore();
}

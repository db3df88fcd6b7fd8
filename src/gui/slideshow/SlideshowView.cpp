#include "slideshow/SlideshowView.h"

#include "slideshow/NXEffectManager.h"
#include "slideshow/SlideImageView.h"

#include <QPainter>
#include <QRandomGenerator>

#include <algorithm>

namespace {

constexpr int kStyleCount = 18;

} // namespace

SlideshowView::SlideshowView(QWidget* parent)
    : QWidget(parent)
    , m_inputShadingImage(NXEffectManager::shadingImage())
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_currentImageView = new SlideImageView(this);
    m_currentImageView->setGeometry(rect());
    m_frameTimer.setInterval(1000 / kFramesPerSecond);
    connect(&m_frameTimer, &QTimer::timeout, this, &SlideshowView::advanceFrame);
    prepareTransition();
}

void SlideshowView::setTransitionStyle(int style)
{
    m_transitionStyle = style;
    prepareTransition();
}

void SlideshowView::setAllowTransitionStyles(const QList<qint64>& styles)
{
    m_allowTransitionStyles = styles;
}

void SlideshowView::prepareTransition()
{
    m_filter = NXEffectManager::instance().filterWithNXType(m_transitionStyle);
    if (m_filter)
        NXEffectManager::prepareFilterForShowing(
            *m_filter, m_transitionStyle, QRectF(0, 0, width(), height()), m_inputShadingImage);
}

void SlideshowView::chooseNextStyle()
{
    if (m_autoRandomTransitionStyle && m_allowTransitionStyles) {
        const QList<qint64>& allowed = *m_allowTransitionStyles;
        m_transitionStyle = allowed.isEmpty()
            ? -1
            : static_cast<int>(allowed.at(QRandomGenerator::global()->bounded(allowed.size())));
    } else if (m_autoCyclesTransitionStyle) {
        m_transitionStyle = (m_transitionStyle + 1) % kStyleCount;
    }
    prepareTransition();
}

QImage SlideshowView::canvasOf(const QImage& image) const
{
    QImage canvas(size().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    if (image.isNull())
        return canvas;
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(SlideImageView::fittedRect(image.size(), canvas.size()), image);
    return canvas;
}

void SlideshowView::transitionToImage(const QImage& image)
{
    chooseNextStyle();
    m_fromCanvas = canvasOf(m_currentImage);
    m_toCanvas = canvasOf(image);
    m_currentImage = image;
    m_transitionStart = m_clock();
    m_currentImageView->hide();
    m_frameTimer.start();
    update();
}

void SlideshowView::displayDefaultImage(const QImage& image)
{
    m_frameTimer.stop();
    m_currentImage = image;
    m_currentImageView->setImage(image);
    m_currentImageView->show();
    update();
}

void SlideshowView::clear()
{
    displayDefaultImage({});
}

void SlideshowView::advanceFrame()
{
    if (m_clock() - m_transitionStart >= kTransitionMilliseconds)
        finishTransition();
    else
        update();
}

void SlideshowView::finishTransition()
{
    m_frameTimer.stop();
    m_fromCanvas = {};
    m_toCanvas = {};
    m_currentImageView->setImage(m_currentImage);
    m_currentImageView->show();
    update();
}

void SlideshowView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!isTransitioning())
        return;
    const double elapsed = static_cast<double>(m_clock() - m_transitionStart);
    const double time = std::clamp(elapsed / kTransitionMilliseconds, 0.0, 1.0);
    if (m_filter) {
        painter.drawImage(0, 0, m_filter->render(m_fromCanvas, m_toCanvas, time));
        return;
    }
    // No filter (the transitions were all unticked): a plain cross-fade.
    painter.setOpacity(1 - time);
    painter.drawImage(0, 0, m_fromCanvas);
    painter.setOpacity(time);
    painter.drawImage(0, 0, m_toCanvas);
}

void SlideshowView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_currentImageView->setGeometry(rect());
    prepareTransition();
    // Canvases made for another size cannot be blended here: end on the new
    // photo. (A hidden view gets its resize late, at the same size.)
    if (isTransitioning() && m_toCanvas.size() != size())
        finishTransition();
}

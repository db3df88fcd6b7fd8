#include "editor/DNWatermarkView.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {

constexpr double kTextPointSize = 144;
constexpr double kFirstBoxPointSize = 52;

QFont defaultTextFont()
{
    QFont font = QApplication::font();
    font.setBold(true);
    font.setPointSizeF(kTextPointSize);
    return font;
}

} // namespace

void DNWatermarkCenterCell::drawCellInView(QPainter& painter, const DNAreaSelector& view) const
{
    drawDashedOutline(painter, view, Qt::white);
}

DNImageWatermarkView::DNImageWatermarkView(const QRect& frame, QWidget* parent)
    : DNAreaSelector(frame, parent)
{
    storeSelectionArea(defaultSelection());
}

QRectF DNImageWatermarkView::defaultSelection() const
{
    return { 0, height() - 60.0, 60, 40 };
}

void DNImageWatermarkView::setSelectionArea(const QRectF& area)
{
    DNAreaSelector::setSelectionArea(area);
    refreshDragCellPosition();
}

void DNImageWatermarkView::setImage(const QImage& image)
{
    m_image = image;
    update();
}

std::unique_ptr<DNDragCell> DNImageWatermarkView::classOfCenterDragArea() const
{
    return std::make_unique<DNWatermarkCenterCell>();
}

void DNImageWatermarkView::frameDidChange()
{
    setSelectionArea(defaultSelection());
}

void DNImageWatermarkView::drawRect(QPainter& painter)
{
    if (m_image.isNull())
        return;
    painter.save();
    painter.setOpacity(1.0 - m_transparency / 100.0);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // Fitted into the box with its proportions, centred, as the conversion draws it.
    const QRectF box = flipped(selectionArea());
    const QSizeF fitted = QSizeF(m_image.size()).scaled(box.size(), Qt::KeepAspectRatio);
    painter.drawImage(
        QRectF(box.center() - QPointF(fitted.width(), fitted.height()) / 2, fitted), m_image);
    painter.restore();
    if (editabled())
        drawCells(painter);
}

DNWatermarkView::DNWatermarkView(const QRect& frame, QWidget* parent)
    : DNImageWatermarkView(frame, parent)
    , m_textFont(defaultTextFont())
{ }

void DNWatermarkView::setText(const QString& text)
{
    if (m_text.isNull())
        calculateStringRect(text);
    m_text = text;
    updateContextImage();
}

void DNWatermarkView::setTextFont(const QFont& font)
{
    m_textFont = font;
    m_textFont.setPointSizeF(kTextPointSize);
    updateContextImage();
}

void DNWatermarkView::setTextColor(const QColor& colour)
{
    m_textColor = colour;
    updateContextImage();
}

void DNWatermarkView::updateContextImage()
{
    if (m_text.isNull()) {
        setImage({});
        return;
    }
    const QSizeF size = QFontMetricsF(m_textFont).size(0, m_text);
    // An empty text has no size to render into: no picture then.
    QImage image(int(std::ceil(size.width())), int(std::ceil(size.height())),
        QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        setImage({});
        return;
    }
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setFont(m_textFont);
    painter.setPen(m_textColor);
    painter.drawText(QRectF(QPointF(0, 0), size), Qt::AlignLeft | Qt::AlignTop, m_text);
    painter.end();
    setImage(image);
}

void DNWatermarkView::calculateStringRect(const QString& text)
{
    if (text.isNull())
        return;
    QFont font = QApplication::font();
    font.setPointSizeF(kFirstBoxPointSize);
    const QSizeF size = QFontMetricsF(font).size(0, text);
    const QRectF box(QPointF(selectionArea().x(), selectionArea().y()), size);
    setSelectionArea(box.intersected(QRectF(0, 0, width(), height())));
}

#include "controls/NXProgressBar.h"

#include "controls/ResourceImage.h"

#include <QPainter>

#include <algorithm>

namespace {

// Below this the percent would not fit beside the fill's start.
constexpr double kSmallestNoticedProgress = 0.08;

struct DefaultImages {
    QPixmap left = resourceImage(QStringLiteral("NXPBbackgroundLeft.png"));
    QPixmap middle = resourceImage(QStringLiteral("NXPBbackgroundMiddle.png"));
    QPixmap right = resourceImage(QStringLiteral("NXPBbackgroundRight.png"));
    QPixmap fill = resourceImage(QStringLiteral("NXPBforceground.png"));
};

const DefaultImages& defaultImages()
{
    static const DefaultImages images;
    return images;
}

} // namespace

NXProgressBar::NXProgressBar(QWidget* parent)
    : QWidget(parent)
{
    resize(sizeHint());
}

void NXProgressBar::setDoubleValue(double value)
{
    curProgress_ = std::clamp(value, 0.0, 1.0);
    update();
}

void NXProgressBar::setBackgroundImage(const QString& name)
{
    m_backgroundImageName = name;
    m_backgroundImage = name.isEmpty() ? QPixmap() : resourceImage(name);
    update();
}

void NXProgressBar::setForcegroundImage(const QString& name)
{
    m_forcegroundImageName = name;
    m_forcegroundImage = name.isEmpty() ? QPixmap() : resourceImage(name);
    update();
}

void NXProgressBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawBackground(painter);
    drawFill(painter);
    if (curProgress_ > kSmallestNoticedProgress)
        drawPercent(painter);
}

void NXProgressBar::drawBackground(QPainter& painter) const
{
    const DefaultImages& images = defaultImages();
    const QPixmap& middle = m_backgroundImage.isNull() ? images.middle : m_backgroundImage;
    const int leftWidth = images.left.width();
    const int rightWidth = images.right.width();
    painter.drawPixmap(QRect(0, 0, leftWidth, height()), images.left);
    painter.drawPixmap(
        QRect(leftWidth, 0, std::max(0, width() - leftWidth - rightWidth), height()), middle);
    painter.drawPixmap(QRect(width() - rightWidth, 0, rightWidth, height()), images.right);
}

void NXProgressBar::drawFill(QPainter& painter)
{
    const QPixmap& fill = m_forcegroundImage.isNull() ? defaultImages().fill : m_forcegroundImage;
    m_innerProgressRect = QRectF(1, 1, curProgress_ * (width() - 2), height() - 2);
    painter.drawPixmap(m_innerProgressRect, fill, QRectF(fill.rect()));
}

// The percent sits right-aligned at the end of the fill, in a field wide
// enough for three digits.
void NXProgressBar::drawPercent(QPainter& painter)
{
    const double fillWidth = m_innerProgressRect.width();
    m_percentNoticeRect.moveLeft(fillWidth - m_percentNoticeRect.width());
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(8);
    painter.setFont(font);
    painter.setPen(Qt::white);
    const QString text = QString::asprintf("%3.0f%%", curProgress_ * 100);
    // The notice rectangle counts from the bottom edge.
    const QRectF notice(m_percentNoticeRect.x(),
        height() - m_percentNoticeRect.y() - m_percentNoticeRect.height(),
        m_percentNoticeRect.width(), m_percentNoticeRect.height());
    painter.drawText(notice, Qt::AlignRight | Qt::AlignVCenter, text);
}

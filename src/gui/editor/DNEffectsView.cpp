#include "editor/DNEffectsView.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>

#include <cmath>

namespace {

constexpr int kCellWidth = 100;
constexpr int kCellPitch = 111;
constexpr int kStripStart = 8;
constexpr int kPageTurnMs = 200;

int stripWidthFor(int count)
{
    return kCellPitch * count - (kCellPitch - kCellWidth);
}

} // namespace

DNEffectsView::DNEffectsView(QWidget* parent)
    : QWidget(parent)
    , m_docView(new QWidget(this))
    , m_pageTurn(new QPropertyAnimation(m_docView, "geometry", this))
{
    m_docView->setGeometry(0, 1, width(), height() - 2);
    m_pageTurn->setDuration(kPageTurnMs);
    connect(m_pageTurn, &QPropertyAnimation::finished, this, &DNEffectsView::updatePageLabelValue);
}

void DNEffectsView::createEffectViews()
{
    if (m_isCreatedEffectIconView || !m_delegate)
        return;
    const int count = std::max(0, m_delegate->countOfEffectPreview());
    const QRect strip = m_docView->geometry();
    m_docView->setGeometry(kStripStart, strip.y() + 2, stripWidthFor(count), strip.height() - 4);
    for (int index = 0; index < count; ++index) {
        const QRect frame(kCellPitch * index, 0, kCellWidth, m_docView->height());
        auto* cell = new EffectView(frame, this, m_docView);
        configureCell(cell, index);
        cell->show();
        m_cells.push_back(cell);
    }
    m_isCreatedEffectIconView = true;
    updatePageLabelValue();
}

void DNEffectsView::configureCell(EffectView* cell, int index)
{
    cell->setGeometry(kCellPitch * index, 0, kCellWidth, m_docView->height());
    cell->setImage(m_delegate->effectImageAtIndex(index));
    cell->setName(m_delegate->effectNameAtIndex(index));
    cell->setTag(index);
    cell->setState(index == m_indexOfSelectedEffect);
}

void DNEffectsView::reload()
{
    if (m_cells.empty()) {
        createEffectViews();
        return;
    }
    if (!m_delegate)
        return;
    for (std::size_t index = 0; index < m_cells.size(); ++index)
        configureCell(m_cells[index], int(index));
}

int DNEffectsView::countOfPages() const
{
    const float page = float(width());
    if (page <= 0)
        return 0;
    return int(std::ceil(float(m_docView->width()) / page));
}

int DNEffectsView::indexOfSelectedPage() const
{
    const float page = float(width());
    if (page <= 0)
        return 0;
    // The strip starts a few points in; that rounds to the first page.
    return int(std::round(std::fabs(float(m_docView->x())) / page));
}

void DNEffectsView::updatePageLabelValue()
{
    if (!m_pageLabel)
        return;
    const int pages = countOfPages();
    m_pageLabel->setText(QStringLiteral("%1 of %2").arg(indexOfSelectedPage() + 1).arg(pages));
    m_pageLabel->setHidden(pages < 2);
}

void DNEffectsView::scrollDocViewWithAnimation(const QRect& target)
{
    m_pageTurn->stop();
    m_pageTurn->setStartValue(m_docView->geometry());
    m_pageTurn->setEndValue(target);
    m_pageTurn->start();
}

void DNEffectsView::turnPage(int direction)
{
    if (!isEnabled())
        return;
    // A turn still sliding ends where it was going before the next one starts.
    if (m_pageTurn->state() == QAbstractAnimation::Running)
        m_pageTurn->setCurrentTime(m_pageTurn->duration());
    const int page = indexOfSelectedPage();
    const bool possible = direction > 0 ? page + 1 < countOfPages() : page > 0;
    if (!possible)
        return;
    scrollDocViewWithAnimation(m_docView->geometry().translated(-direction * width(), 0));
}

void DNEffectsView::nextPage()
{
    turnPage(1);
}

void DNEffectsView::previousPage()
{
    turnPage(-1);
}

void DNEffectsView::setIndexOfSelectedEffect(int index)
{
    for (EffectView* cell : m_cells)
        cell->setState(cell->tag() == index);
    m_indexOfSelectedEffect = index;
}

void DNEffectsView::effectViewStateDidChanged(EffectView* clicked)
{
    for (EffectView* cell : m_cells)
        cell->setState(cell == clicked);
    const int index = clicked->tag();
    if (index == m_indexOfSelectedEffect)
        return;
    m_indexOfSelectedEffect = index;
    if (m_delegate)
        m_delegate->effectSelectedAtIndex(index);
}

void DNEffectsView::resizeEvent(QResizeEvent*)
{
    // The strip keeps its page offset and follows the view's height.
    const int inset = m_isCreatedEffectIconView ? 3 : 1;
    const QRect strip = m_docView->geometry();
    m_docView->setGeometry(strip.x(), inset, m_isCreatedEffectIconView ? strip.width() : width(),
        std::max(0, height() - 2 * inset));
    for (EffectView* cell : m_cells) {
        cell->resize(kCellWidth, m_docView->height());
        cell->layoutParts();
    }
    updatePageLabelValue();
}

void DNEffectsView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(Qt::gray);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

DNEffectsView::ImageView::ImageView(QWidget* parent)
    : QWidget(parent)
{ }

void DNEffectsView::ImageView::setImage(const QImage& image)
{
    if (image.isNull())
        return;
    m_image = image;
    update();
}

void DNEffectsView::ImageView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!m_image.isNull())
        painter.drawImage(QRectF(rect()).adjusted(3, 3, -3, -3), m_image);
}

DNEffectsView::EffectView::EffectView(const QRect& frame, DNEffectsView* host, QWidget* parent)
    : QWidget(parent)
    , m_effectPreview(new ImageView(this))
    , m_effectName(new QLabel(this))
    , m_host(host)
{
    setGeometry(frame);
    QFont font = m_effectName->font();
    font.setPointSizeF(12);
    m_effectName->setFont(font);
    m_effectName->setAlignment(Qt::AlignCenter);
    m_effectName->setStyleSheet(QStringLiteral("color: black; background: transparent;"));
    layoutParts();
}

void DNEffectsView::EffectView::layoutParts()
{
    m_effectPreview->setGeometry(5, 5, width() - 10, height() - 20);
    m_effectName->setGeometry(0, height() - 16, width(), 15);
}

void DNEffectsView::EffectView::setState(bool selected)
{
    m_state = selected;
    updateLabel();
    update();
}

void DNEffectsView::EffectView::setImage(const QImage& image)
{
    m_effectPreview->setImage(image);
}

void DNEffectsView::EffectView::setName(const QString& name)
{
    m_effectName->setText(name);
}

void DNEffectsView::EffectView::updateLabel()
{
    // The label marks the chosen entry; it shows no name once state is set.
    m_effectName->setText(m_state && isEnabled() ? QStringLiteral("✓") : QStringLiteral(" "));
}

void DNEffectsView::EffectView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) {
        updateLabel();
        update();
    }
}

void DNEffectsView::EffectView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && isEnabled())
        m_host->effectViewStateDidChanged(this);
}

void DNEffectsView::EffectView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (isEnabled() && m_state) {
        const QRectF area = QRectF(rect()).adjusted(2, 2, -2, -2);
        painter.fillRect(area, QColor(211, 211, 211));
        painter.setPen(QPen(palette().color(QPalette::Highlight), 3));
        painter.drawRect(area);
        return;
    }
    QPen dashed(Qt::gray, 1);
    dashed.setDashPattern({ 2, 2 });
    dashed.setJoinStyle(Qt::RoundJoin);
    painter.setPen(dashed);
    painter.drawRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5));
}

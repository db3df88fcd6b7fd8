#include "download/NXYoutubeView.h"

#include "controls/NXScroller.h"
#include "download/DNYoutubeCell.h"
#include "download/DNYoutubeImageView.h"
#include "download/NXYTView.h"

#include <QGraphicsOpacityEffect>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QScrollBar>

#include <algorithm>

namespace {

constexpr int kLayoutMilliseconds = 500;
constexpr int kClearMilliseconds = 250;
constexpr int kRemoveMilliseconds = 300;

} // namespace

NXYoutubeView::NXYoutubeView(QWidget* parent)
    : QScrollArea(parent)
    , m_document(new NXYTView)
{
    setVerticalScrollBar(new NXScroller(this));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidget(m_document);
}

DNYoutubeCell* NXYoutubeView::cellOf(const NXYoutubeViewDelegate::Node& node) const
{
    return node ? qobject_cast<DNYoutubeCell*>(node->cell()) : nullptr;
}

// A new row waits, hidden, above the document until the next reload.
void NXYoutubeView::addYoutubeVideoWith(
    const NXYoutubeViewDelegate::Node& node, const QPixmap& cover)
{
    auto* cell = new DNYoutubeCell(m_document);
    cell->hide();
    cell->setGeometry(0, -kRowHeight, rowWidth(), kRowHeight);
    cell->thumbnailView()->setImage(cover);
    if (m_system)
        cell->setSystemActions(*m_system);
    node->setCell(cell);
    cell->setData(node);
    cell->setHostTable(this);
    m_datasource.append(node);
}

void NXYoutubeView::reloadData()
{
    auto* group = new QParallelAnimationGroup(this);
    for (int index = 0; index < m_datasource.size(); ++index) {
        DNYoutubeCell* cell = cellOf(m_datasource[index]);
        if (!cell)
            continue;
        const QRect target(0, index * kRowHeight, rowWidth(), kRowHeight);
        if (cell->isHidden()) {
            cell->show();
            auto* slide = new QPropertyAnimation(cell, "geometry", group);
            slide->setDuration(kLayoutMilliseconds);
            slide->setEndValue(target);
            group->addAnimation(slide);
        } else {
            cell->setGeometry(target);
        }
        cell->setIsSelected(false);
    }
    group->start(QAbstractAnimation::DeleteWhenStopped);
    resizeDocument();
    scroll2Index(static_cast<int>(m_datasource.size()) - 1);
}

void NXYoutubeView::resizeDocument()
{
    const int rowsHeight = static_cast<int>(m_datasource.size()) * kRowHeight;
    m_document->resize(viewport()->width(), std::max(rowsHeight, viewport()->height()));
}

void NXYoutubeView::scroll2Index(int index)
{
    verticalScrollBar()->setValue((index + 1) * kRowHeight);
}

NXYoutubeViewDelegate::Node NXYoutubeView::selelectedNode() const
{
    for (const auto& node : m_datasource)
        if (const DNYoutubeCell* cell = cellOf(node); cell && cell->isSelected())
            return node;
    return nullptr;
}

void NXYoutubeView::removeVideo(const NXYoutubeViewDelegate::Node& node)
{
    if (DNYoutubeCell* cell = cellOf(node)) {
        cell->setData(nullptr);
        cell->deleteLater();
    }
    m_datasource.removeAll(node);
}

void NXYoutubeView::removeVideoAtIndex(int index)
{
    if (index >= 0 && index < m_datasource.size())
        removeVideo(m_datasource.at(index));
}

void NXYoutubeView::removeFinishedVideo()
{
    QList<NXYoutubeViewDelegate::Node> finished;
    for (const auto& node : m_datasource)
        if (node->state() == DNYoutubeNodeState::Finished)
            finished.append(node);
    removeVideos(finished);
}

void NXYoutubeView::removeAllVideo()
{
    // A copy: removeVideos takes the nodes out of the list it walks.
    removeVideos(QList(m_datasource));
}

// The nodes leave the list at once; their rows fade away and then go.
void NXYoutubeView::removeVideos(const QList<NXYoutubeViewDelegate::Node>& nodes)
{
    for (const auto& node : nodes) {
        if (DNYoutubeCell* cell = cellOf(node))
            fadeOut(cell, kClearMilliseconds);
        m_datasource.removeAll(node);
    }
}

void NXYoutubeView::fadeOut(DNYoutubeCell* cell, int milliseconds)
{
    cell->setData(nullptr);
    cell->setHostTable(nullptr);
    auto* opacity = new QGraphicsOpacityEffect(cell);
    cell->setGraphicsEffect(opacity);
    auto* fade = new QPropertyAnimation(opacity, "opacity", cell);
    fade->setDuration(milliseconds);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);
    fade->setEasingCurve(QEasingCurve::InOutQuad);
    connect(fade, &QAbstractAnimation::finished, cell, &QObject::deleteLater);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void NXYoutubeView::deselectAll()
{
    for (const auto& node : m_datasource)
        if (DNYoutubeCell* cell = cellOf(node))
            cell->setIsSelected(false);
}

void NXYoutubeView::youtubeCellSelected(DNYoutubeCell* cell)
{
    deselectAll();
    if (m_delegate)
        m_delegate->selectYoutubeNode(cell->data());
}

void NXYoutubeView::youtubeCellPlay(DNYoutubeCell* cell)
{
    deselectAll();
    if (!m_delegate)
        return;
    m_delegate->selectYoutubeNode(cell->data());
    m_delegate->playYoutubeNode(cell->data());
}

void NXYoutubeView::youtubeCellSkipped(DNYoutubeCell* cell)
{
    if (m_delegate)
        m_delegate->skippedYoutubeNode(cell->data());
}

void NXYoutubeView::youtubeCellRemove(DNYoutubeCell* cell)
{
    const NXYoutubeViewDelegate::Node node = cell->data();
    if (m_delegate)
        m_delegate->removeYoutubeNode(node);
    fadeOut(cell, kRemoveMilliseconds);
    m_datasource.removeAll(node);
    reloadData();
}

void NXYoutubeView::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    for (const auto& node : m_datasource)
        if (DNYoutubeCell* cell = cellOf(node))
            cell->resize(rowWidth(), kRowHeight);
    resizeDocument();
}

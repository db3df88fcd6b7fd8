#include "slideshow/DNImageBrowser.h"

#include "slideshow/SlideshowSupport.h"

#include <QApplication>
#include <QDropEvent>
#include <QKeyEvent>
#include <QStyle>

#include <algorithm>

DNImageBrowserModel::DNImageBrowserModel(QObject* parent)
    : QAbstractListModel(parent)
{
    m_thumbnailThreads.setMaxThreadCount(2);
}

DNImageBrowserModel::~DNImageBrowserModel()
{
    // The threads report to this model: none may outlive it.
    m_thumbnailThreads.clear();
    m_thumbnailThreads.waitForDone();
}

void DNImageBrowserModel::setLevel(std::vector<DNImageNode>* records, bool topLevel)
{
    beginResetModel();
    m_records = records;
    m_topLevel = topLevel;
    endResetModel();
}

void DNImageBrowserModel::reload()
{
    beginResetModel();
    endResetModel();
}

int DNImageBrowserModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_records ? 0 : static_cast<int>(m_records->size());
}

QVariant DNImageBrowserModel::data(const QModelIndex& index, int role) const
{
    if (!m_records || index.row() < 0 || index.row() >= rowCount())
        return {};
    const DNImageNode& record = m_records->at(static_cast<std::size_t>(index.row()));
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return record.imageTitle();
    case Qt::DecorationRole:
        if (record.type == DNImageNode::Folder)
            return QApplication::style()->standardIcon(QStyle::SP_DirIcon);
        return thumbnailFor(record.path);
    default:
        return {};
    }
}

Qt::ItemFlags DNImageBrowserModel::flags(const QModelIndex& index) const
{
    const Qt::ItemFlags flags = QAbstractListModel::flags(index);
    // Only the folder records change places; photos keep their folder's order.
    if (!m_topLevel)
        return flags;
    return index.isValid() ? flags | Qt::ItemIsDragEnabled : flags | Qt::ItemIsDropEnabled;
}

QImage DNImageBrowserModel::thumbnailFor(const QString& path) const
{
    const auto found = m_thumbnails.constFind(path);
    if (found != m_thumbnails.constEnd())
        return *found;
    if (!m_pending.contains(path)) {
        m_pending.insert(path);
        // data() is const, but the thumbnail it asks for arrives later as a
        // change of this model, which only a non-const model can announce.
        auto* self = const_cast<DNImageBrowserModel*>(this);
        m_thumbnailThreads.start([self, path] {
            const QImage thumbnail = ThumbnailOfImage(path, kThumbnailWidth, kThumbnailHeight);
            QMetaObject::invokeMethod(
                self, [self, path, thumbnail] { self->thumbnailArrived(path, thumbnail); },
                Qt::QueuedConnection);
        });
    }
    return {};
}

void DNImageBrowserModel::thumbnailArrived(const QString& path, const QImage& thumbnail)
{
    m_pending.remove(path);
    m_thumbnails.insert(path, thumbnail);
    if (!m_records)
        return;
    for (std::size_t row = 0; row < m_records->size(); ++row) {
        if (m_records->at(row).path == path) {
            const QModelIndex changed = index(static_cast<int>(row));
            emit dataChanged(changed, changed, { Qt::DecorationRole });
        }
    }
}

DNImageBrowserView::DNImageBrowserView(DNImageBrowserModel& model, QWidget* parent)
    : QListView(parent)
    , m_model(model)
{
    setModel(&model);
    setViewMode(QListView::IconMode);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setIconSize(QSize(DNImageBrowserModel::kThumbnailWidth, DNImageBrowserModel::kThumbnailHeight));
    setGridSize(QSize(
        DNImageBrowserModel::kThumbnailWidth + 24, DNImageBrowserModel::kThumbnailHeight + 36));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
}

QList<int> DNImageBrowserView::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedIndexes())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool DNImageBrowserView::acceptsDrop(const QDropEvent& event) const
{
    return event.source() == this && m_model.isTopLevel();
}

void DNImageBrowserView::dragEnterEvent(QDragEnterEvent* event)
{
    if (acceptsDrop(*event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void DNImageBrowserView::dragMoveEvent(QDragMoveEvent* event)
{
    if (acceptsDrop(*event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void DNImageBrowserView::dropEvent(QDropEvent* event)
{
    if (!acceptsDrop(*event)) {
        event->ignore();
        return;
    }
    const QModelIndex target = indexAt(event->position().toPoint());
    const int destination = target.isValid() ? target.row() : m_model.rowCount();
    // The move is done here, in one step; the model removes no rows of its
    // own afterwards (it has no removeRows), so accepting the move is safe.
    emit moveRequested(selectedRows(), destination);
    event->acceptProposedAction();
}

void DNImageBrowserView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) {
        emit removeRequested();
        return;
    }
    QListView::keyPressEvent(event);
}

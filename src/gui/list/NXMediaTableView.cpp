#include "list/NXMediaTableView.h"

#include "common/EditorTabs.h"
#include "list/NXMediaListModel.h"
#include "model/ThumbnailQueue.h"
#include "platform/NotificationCenter.h"

#include <QComboBox>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QStyledItemDelegate>

#include <algorithm>
#include <memory>

namespace {

// A cell with a choice of texts (a DVD title's sound and subtitle tracks)
// is edited in a drop-down list of them.
class NXChoiceDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
        const QModelIndex& index) const override
    {
        const QVariant choices = index.data(NXMediaListModel::ChoicesRole);
        if (!choices.isValid())
            return QStyledItemDelegate::createEditor(parent, option, index);
        auto* box = new QComboBox(parent);
        box->addItems(choices.toStringList());
        return box;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        if (auto* box = qobject_cast<QComboBox*>(editor))
            box->setCurrentIndex(index.data(Qt::EditRole).toInt());
        else
            QStyledItemDelegate::setEditorData(editor, index);
    }
    void setModelData(
        QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override
    {
        if (auto* box = qobject_cast<QComboBox*>(editor))
            model->setData(index, box->currentIndex(), Qt::EditRole);
        else
            QStyledItemDelegate::setModelData(editor, model, index);
    }
};

} // namespace

NXMediaTableView::NXMediaTableView(NXMediaListModel& model, QWidget* parent)
    : QTreeView(parent)
    , m_model(model)
{
    setModel(&model);
    setUniformRowHeights(true);
    setIconSize(ThumbnailQueue::kThumbnailSize);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setItemDelegate(new NXChoiceDelegate(this));
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked
        | QAbstractItemView::EditKeyPressed);
    header()->setStretchLastSection(true);
    header()->resizeSection(NXMediaListModel::NameColumn, 240);
    header()->resizeSection(NXMediaListModel::DurationColumn, 80);
    header()->resizeSection(NXMediaListModel::ProfileColumn, 160);
    header()->resizeSection(NXMediaListModel::OutputColumn, 170);
    header()->resizeSection(NXMediaListModel::AudioColumn, 110);

    auto& center = NotificationCenter::defaultCenter();
    center.addObserver(kRefreshAllCells, nullptr, this, [this](const Notification&) {
        m_model.refreshAll();
        expandAll();
    });
    // Members of a group and titles of a DVD are shown as they arrive.
    connect(&model, &QAbstractItemModel::rowsInserted, this,
        [this](const QModelIndex& under, int first, int last) {
            if (under.isValid())
                expand(under);
            for (int row = first; !under.isValid() && row <= last; ++row)
                expand(m_model.index(row, 0));
            announceAmount();
        });
    connect(&model, &QAbstractItemModel::rowsRemoved, this, &NXMediaTableView::announceAmount);
    connect(&model, &QAbstractItemModel::modelReset, this, [this] {
        expandAll();
        if (m_model.rowCount() == 0)
            NotificationCenter::defaultCenter().post(kDidClearView, this);
    });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
        [this] { NotificationCenter::defaultCenter().post(kSelectionDidChange, this); });
}

void NXMediaTableView::announceAmount()
{
    NotificationCenter::defaultCenter().post(
        kAmountDidChange, this, { { QStringLiteral("count"), m_model.rowCount() } });
}

std::vector<NXBasicMediaNode::Ptr> NXMediaTableView::selectedNodes() const
{
    QModelIndexList rows = selectionModel()->selectedRows();
    const auto position = [](const QModelIndex& index) {
        return index.parent().isValid() ? std::pair(index.parent().row(), index.row() + 1)
                                        : std::pair(index.row(), 0);
    };
    std::sort(rows.begin(), rows.end(),
        [&](const QModelIndex& a, const QModelIndex& b) { return position(a) < position(b); });
    std::vector<NXBasicMediaNode::Ptr> nodes;
    for (const QModelIndex& index : rows)
        if (auto node = m_model.nodeAt(index))
            nodes.push_back(std::move(node));
    return nodes;
}

void NXMediaTableView::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void NXMediaTableView::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void NXMediaTableView::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    emit filesDropped(paths);
}

QMenu* NXMediaTableView::rowRequestMenu(const QModelIndex& row)
{
    auto node = m_model.nodeAt(row);
    // A DVD title is edited through its DVD's entry.
    if (!node || node->mediaType() == NXMediaType::DVDTitle)
        return nullptr;
    const std::pair<QString, QString> requests[] = {
        { QStringLiteral("Edit..."), EditorTab::kGeneral },
        { QStringLiteral("Volume..."), EditorTab::kGeneral },
        { QStringLiteral("Trim..."), EditorTab::kTrimming },
        { QStringLiteral("Crop..."), EditorTab::kCrop },
    };
    auto* menu = new QMenu(this);
    for (const auto& [label, tab] : requests)
        menu->addAction(label, this, [this, node, tab] { emit editRequested(node, tab); });
    return menu;
}

void NXMediaTableView::contextMenuEvent(QContextMenuEvent* event)
{
    const std::unique_ptr<QMenu> menu(rowRequestMenu(indexAt(event->pos())));
    if (menu)
        menu->exec(event->globalPos());
}

#pragma once

#include "model/NXBasicMediaNode.h"

#include <QTreeView>

#include <vector>

class NXMediaListModel;
class QMenu;

// The conversion list's view: one row per entry, a merge group's members
// under it. Files dropped on it are handed on; "NXMediaTableViewRefreshAllCells
// 0.0" redraws every row.
class NXMediaTableView : public QTreeView {
    Q_OBJECT
public:
    static inline const QString kRefreshAllCells
        = QStringLiteral("NXMediaTableViewRefreshAllCells 0.0");
    static inline const QString kAmountDidChange
        = QStringLiteral("NXMediaTableViewAmountDidChangedNotification >_<");
    static inline const QString kSelectionDidChange
        = QStringLiteral("NXMediaTableViewSelectionDidChangedNotification @_@");
    static inline const QString kDidClearView
        = QStringLiteral("NXMediaTableViewDidClearViewNotification_");

    explicit NXMediaTableView(NXMediaListModel& model, QWidget* parent = nullptr);

    NXMediaListModel& listModel() const { return m_model; }
    // The selected nodes, in list order.
    std::vector<NXBasicMediaNode::Ptr> selectedNodes() const;
    // The row's menu of edit requests (Edit, Volume, Trim, Crop), or null
    // where there is no entry; the caller owns it.
    QMenu* rowRequestMenu(const QModelIndex& row);

signals:
    void filesDropped(const QStringList& paths);
    // A row asks for the editor on one of its tabs, named by the editor's
    // tab identifier.
    void editRequested(const NXBasicMediaNode::Ptr& node, const QString& tabIdentifier);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void announceAmount();

    NXMediaListModel& m_model;
};

#pragma once

#include "model/NXBasicMediaNode.h"

#include <QTreeView>

#include <vector>

class NXMediaListModel;

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

signals:
    void filesDropped(const QStringList& paths);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void announceAmount();

    NXMediaListModel& m_model;
};

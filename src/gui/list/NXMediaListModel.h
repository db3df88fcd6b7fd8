#pragma once

#include "model/NXBasicMediaNode.h"

#include <QAbstractItemModel>
#include <QImage>

#include <unordered_map>
#include <vector>

// The conversion list as rows: one top-level row per entry, a merge group's
// members and a DVD's titles as its children. The model holds the
// controller's own collection and is the one place that changes it, so the
// rows and the list never disagree. A DVD title row has its check box (the
// title is converted), its sound and subtitle choices; the DVD entry's
// output cell has the "Merge into one" box while a merge is offered.
class NXMediaListModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column {
        NameColumn,
        DurationColumn,
        ProfileColumn,
        OutputColumn,
        AudioColumn,
        SubtitleColumn,
        ColumnCount
    };
    // The texts an editable cell offers (QStringList); its edit value is the
    // position of the chosen one.
    static constexpr int ChoicesRole = Qt::UserRole + 1;
    // Why the row's entry failed in the last conversion (QString); nothing
    // for the others.
    static constexpr int FailureRole = Qt::UserRole + 2;

    explicit NXMediaListModel(std::vector<NXBasicMediaNode::Ptr>& nodes, QObject* parent = nullptr);

    void appendNode(const NXBasicMediaNode::Ptr& node);
    void insertNode(int row, const NXBasicMediaNode::Ptr& node);
    void removeNode(const NXBasicMediaNode::Ptr& node);
    // Adds a member to a group entry of the list.
    void appendMember(const NXBasicMediaNode::Ptr& group, const NXBasicMediaNode::Ptr& member);
    void clear();
    // Every row's text again, after the nodes changed under the model.
    void refreshAll();
    // A conversion wrote the entry to `path`, which may carry a number that
    // kept it unique: the output column shows that name until the entry's
    // planned name changes.
    void setWrittenOutput(const NXBasicMediaNode::Ptr& node, const QString& path);
    // The entry failed in the last conversion: its row is marked and tells
    // why until the next conversion clears the marks.
    void setFailure(const NXBasicMediaNode::Ptr& node, const QString& reason);
    void clearFailures();

    NXBasicMediaNode::Ptr nodeAt(const QModelIndex& index) const;
    QModelIndex indexOf(const NXBasicMediaNode::Ptr& node) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    Qt::DropActions supportedDropActions() const override;

private:
    struct WrittenOutput {
        QString planned;
        QString written;
    };

    NXBasicMediaNode* rawNode(const QModelIndex& index) const;
    QVariant dvdData(const NXBasicMediaNode& node, int column, int role) const;
    bool setDVDData(const QModelIndex& index, const QVariant& value, int role);
    // The DVD entry's row and its titles' rows show their texts again.
    void dvdChanged(const NXBasicMediaNode::Ptr& entry);
    void rowAndChildrenChanged(const QModelIndex& row);
    QString outputText(const NXBasicMediaNode& node) const;
    QVariant failureData(const NXBasicMediaNode& node, int column, int role) const;
    void watchThumbnail(const NXBasicMediaNode::Ptr& node);
    int rowOfTopLevel(const NXBasicMediaNode* node) const;

    std::vector<NXBasicMediaNode::Ptr>& m_nodes;
    std::unordered_map<quint64, WrittenOutput> m_writtenOutputs; // by node id
    std::unordered_map<quint64, QString> m_failures; // reasons by node id
};

// The texts of a row.
QString NXMediaDisplayName(const NXBasicMediaNode& node);
QString NXMediaDurationText(const NXBasicMediaNode& node);
QString NXMediaProfileName(const NXBasicMediaNode& node);
QString NXMediaOutputName(const NXBasicMediaNode& node);
// The picture a row shows until its thumbnail arrives, or when none can be made.
QImage NXNeutralThumbnail();

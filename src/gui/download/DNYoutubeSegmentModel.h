#pragma once

#include "download/DNYoutubeLinkNode.h"

#include <QAbstractTableModel>

#include <optional>

// The variants of the analysed page as table rows. Columns go by identifier,
// "colum1" to "colum5": the selection mark, "480P", "12.34 M", codec, container.
class DNYoutubeSegmentModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static const QStringList& columnIdentifiers();
    // The value a column shows for a variant; an unknown column shows "".
    static QVariant valueForColumn(const QString& identifier, const DNYoutubeVideoSegment& segment);

    explicit DNYoutubeSegmentModel(
        const std::optional<DNYoutubeLinkNode>& node, QObject* parent = nullptr);

    // The rows follow the link node again after it changed.
    void reload();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const std::optional<DNYoutubeLinkNode>& m_node;
};

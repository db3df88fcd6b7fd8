#include "download/DNYoutubeSegmentModel.h"

const QStringList& DNYoutubeSegmentModel::columnIdentifiers()
{
    static const QStringList identifiers { "colum1", "colum2", "colum3", "colum4", "colum5" };
    return identifiers;
}

QVariant DNYoutubeSegmentModel::valueForColumn(
    const QString& identifier, const DNYoutubeVideoSegment& segment)
{
    if (identifier == QLatin1String("colum1"))
        return segment.isSelected ? 1 : 0;
    if (identifier == QLatin1String("colum2"))
        return segment.resolution > 0 ? QStringLiteral("%1P").arg(segment.resolution)
                                      : QStringLiteral("N/A");
    if (identifier == QLatin1String("colum3"))
        return QStringLiteral("%1 M").arg(QString::number(segment.videoSize / 1048576.0, 'f', 2));
    if (identifier == QLatin1String("colum4"))
        return segment.videoFormat;
    if (identifier == QLatin1String("colum5"))
        return segment.containerFormat;
    return QString();
}

DNYoutubeSegmentModel::DNYoutubeSegmentModel(
    const std::optional<DNYoutubeLinkNode>& node, QObject* parent)
    : QAbstractTableModel(parent)
    , m_node(node)
{ }

void DNYoutubeSegmentModel::reload()
{
    beginResetModel();
    endResetModel();
}

int DNYoutubeSegmentModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_node ? 0 : static_cast<int>(m_node->videosSegments.size());
}

int DNYoutubeSegmentModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(columnIdentifiers().size());
}

QVariant DNYoutubeSegmentModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const QVariant value = valueForColumn(
        columnIdentifiers().value(index.column()), m_node->videosSegments.at(index.row()));
    // The mark shows as a check box, the other columns as text.
    if (index.column() == 0)
        return role == Qt::CheckStateRole ? QVariant(value.toBool() ? Qt::Checked : Qt::Unchecked)
                                          : QVariant();
    return role == Qt::DisplayRole ? value : QVariant();
}

QVariant DNYoutubeSegmentModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const QStringList titles { "", "Resolution", "Size", "Codec", "Format" };
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return titles.value(section);
}

#include "list/NXMediaListModel.h"

#include "builders/video/BuilderServices.h"
#include "list/NXDVDRows.h"
#include "model/DNDVDNode.h"
#include "model/DNFileGroupNode.h"
#include "model/DNFileNode.h"
#include "model/ThumbnailQueue.h"
#include "profiles/DNProfile.h"
#include "services/DNHelpers.h"
#include "slideshow/DNGraphicsNode.h"

#include <QColor>
#include <QFileInfo>
#include <QFont>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const DNFileNode* asFileNode(const NXBasicMediaNode& node)
{
    return dynamic_cast<const DNFileNode*>(&node);
}

const DNGraphicsNode* asAlbum(const NXBasicMediaNode& node)
{
    return dynamic_cast<const DNGraphicsNode*>(&node);
}

const DNDVDNode* asDVD(const NXBasicMediaNode& node)
{
    return isMemberOf<DNDVDNode>(&node) ? static_cast<const DNDVDNode*>(&node) : nullptr;
}

const DNDVDTitle* asTitle(const NXBasicMediaNode& node)
{
    return isMemberOf<DNDVDTitle>(&node) ? static_cast<const DNDVDTitle*>(&node) : nullptr;
}

// The rows that have rows of their own under them.
bool hasChildRows(const NXBasicMediaNode* node)
{
    return isMemberOf<DNFileGroupNode>(node) || isMemberOf<DNDVDNode>(node);
}

const QSize kAlbumIconSize(64, 48);

// "Holiday (12 photos, 3.4 MB)".
QString albumName(const DNGraphicsNode& album)
{
    return QStringLiteral("%1 (%2 photos, %3 MB)")
        .arg(album.nodeInfo().displayName.value_or(QString()))
        .arg(album.countOfPhotos())
        .arg(QString::number(double(album.sizeOfPhotos()) / (1024 * 1024), 'f', 1));
}

} // namespace

QString NXMediaDisplayName(const NXBasicMediaNode& node)
{
    if (const auto* album = asAlbum(node))
        return albumName(*album);
    if (const auto* dvd = asDVD(node))
        return dvd->nodeInfo().displayName.value_or(dvd->sourceInfo().path);
    if (const auto* title = asTitle(node))
        return NXDVDTitleName(*title);
    const auto* file = asFileNode(node);
    if (!file)
        return {};
    if (isMemberOf<DNFileGroupNode>(&node))
        return QStringLiteral("Merged: %1").arg(QFileInfo(file->path()).completeBaseName());
    return QFileInfo(file->path()).fileName();
}

QString NXMediaDurationText(const NXBasicMediaNode& node)
{
    if (const auto* album = asAlbum(node))
        return DNTimeStringFromSeconds(int(std::lround(album->videoDuration())));
    if (const auto* dvd = asDVD(node))
        return DNTimeStringFromSeconds(NXDVDSelectedLength(*dvd));
    if (const auto* title = asTitle(node))
        return DNTimeStringFromSeconds(title->length());
    const auto* file = asFileNode(node);
    if (!file)
        return {};
    double seconds = file->duration();
    if (isMemberOf<DNFileGroupNode>(&node)) {
        seconds = 0;
        for (const auto& member : node.children())
            if (const auto* memberFile = asFileNode(*member))
                seconds += memberFile->duration();
    }
    return DNTimeStringFromSeconds(int(std::lround(seconds)));
}

QString NXMediaProfileName(const NXBasicMediaNode& node)
{
    if (const auto* album = asAlbum(node))
        return album->profile() ? album->profile()->profileName() : QString();
    if (const auto* dvd = asDVD(node))
        return dvd->profile() ? dvd->profile()->profileName() : QString();
    const auto* file = asFileNode(node);
    if (!file || node.mediaType() == NXMediaType::MergeMember || !file->profile())
        return {};
    return file->profile()->profileName();
}

namespace {

// The name the builder will write, before a number keeps it unique.
QString plannedOutputName(const QString& requested, const DNProfile* profile)
{
    const QString suffix = profile ? profile->fileNameSuffix() : QString();
    QString name = OutputFileName(requested, suffix);
    if (suffix.isEmpty())
        name.chop(1); // no profile yet: no extension, nor its point
    return name;
}

} // namespace

QString NXMediaOutputName(const NXBasicMediaNode& node)
{
    if (const auto* dvd = asDVD(node))
        return NXDVDMergedOutputName(*dvd);
    if (const auto* title = asTitle(node))
        return NXDVDTitleOutputName(*title);
    // The album's movie is converted under the album's output name.
    if (const auto* album = asAlbum(node)) {
        const std::optional<QString> requested = album->nodeInfo().outputName;
        return requested ? plannedOutputName(*requested, album->profile().get()) : QString();
    }
    const auto* file = asFileNode(node);
    if (!file || node.mediaType() == NXMediaType::MergeMember)
        return {};
    return plannedOutputName(
        file->nodeInfo().outputName.value_or(QFileInfo(file->path()).fileName()),
        file->profile().get());
}

QImage NXNeutralThumbnail()
{
    static const QImage picture = [] {
        QImage image(ThumbnailQueue::kThumbnailSize, QImage::Format_RGB32);
        image.fill(QColor(128, 128, 128));
        return image;
    }();
    return picture;
}

NXMediaListModel::NXMediaListModel(std::vector<NXBasicMediaNode::Ptr>& nodes, QObject* parent)
    : QAbstractItemModel(parent)
    , m_nodes(nodes)
{ }

void NXMediaListModel::appendNode(const NXBasicMediaNode::Ptr& node)
{
    insertNode(int(m_nodes.size()), node);
}

void NXMediaListModel::insertNode(int row, const NXBasicMediaNode::Ptr& node)
{
    if (!node)
        return;
    row = std::clamp(row, 0, int(m_nodes.size()));
    beginInsertRows({}, row, row);
    m_nodes.insert(m_nodes.begin() + row, node);
    endInsertRows();
    watchThumbnail(node);
    for (const auto& member : node->children())
        watchThumbnail(member);
}

void NXMediaListModel::watchThumbnail(const NXBasicMediaNode::Ptr& node)
{
    // A node that comes back (merged into a group) is watched twice: a second
    // repaint of its row costs less than keeping track of connections.
    const std::weak_ptr<NXBasicMediaNode> watched = node;
    const auto repaint = [this, watched] {
        const QModelIndex index = indexOf(watched.lock());
        if (index.isValid())
            emit dataChanged(index, index, { Qt::DecorationRole });
    };
    connect(node->notifier(), &NXMediaNodeNotifier::thumbnailChanged, this, repaint);
    // An album's thumbnail arrives from a thread of its own, after the row.
    if (const auto* album = asAlbum(*node))
        connect(
            album->graphicsNotifier(), &DNGraphicsNodeNotifier::thumbnailChanged, this, repaint);
}

void NXMediaListModel::setWrittenOutput(const NXBasicMediaNode::Ptr& node, const QString& path)
{
    if (!node)
        return;
    m_writtenOutputs[node->nodeID()] = { NXMediaOutputName(*node), QFileInfo(path).fileName() };
    const QModelIndex index = indexOf(node);
    if (index.isValid())
        emit dataChanged(index.siblingAtColumn(OutputColumn), index.siblingAtColumn(OutputColumn));
}

void NXMediaListModel::setFailure(const NXBasicMediaNode::Ptr& node, const QString& reason)
{
    if (!node)
        return;
    m_failures[node->nodeID()] = reason;
    const QModelIndex index = indexOf(node);
    if (index.isValid())
        emit dataChanged(index, index.siblingAtColumn(ColumnCount - 1));
}

void NXMediaListModel::clearFailures()
{
    if (std::exchange(m_failures, {}).empty())
        return;
    for (const auto& entry : m_nodes)
        rowAndChildrenChanged(indexOf(entry));
}

QVariant NXMediaListModel::failureData(const NXBasicMediaNode& node, int column, int role) const
{
    const auto failure = m_failures.find(node.nodeID());
    if (failure == m_failures.end())
        return {};
    switch (role) {
    case FailureRole:
    case Qt::ToolTipRole:
        return failure->second;
    case Qt::ForegroundRole:
        return QColor(190, 20, 20);
    case Qt::DisplayRole:
        return column == OutputColumn ? QStringLiteral("Not converted") : QVariant();
    default:
        return {};
    }
}

QString NXMediaListModel::outputText(const NXBasicMediaNode& node) const
{
    const QString planned = NXMediaOutputName(node);
    const auto written = m_writtenOutputs.find(node.nodeID());
    if (written == m_writtenOutputs.end() || written->second.planned != planned)
        return planned;
    return written->second.written;
}

void NXMediaListModel::removeNode(const NXBasicMediaNode::Ptr& node)
{
    const QModelIndex index = indexOf(node);
    if (!index.isValid())
        return;
    if (!index.parent().isValid()) {
        beginRemoveRows({}, index.row(), index.row());
        m_nodes.erase(m_nodes.begin() + index.row());
        endRemoveRows();
        return;
    }
    const auto group = node->parent();
    beginRemoveRows(index.parent(), index.row(), index.row());
    group->removeChild(node);
    endRemoveRows();
    // A group that lost its last member is no entry any more.
    if (group->children().empty())
        removeNode(group);
}

void NXMediaListModel::appendMember(
    const NXBasicMediaNode::Ptr& group, const NXBasicMediaNode::Ptr& member)
{
    const QModelIndex parentIndex = indexOf(group);
    if (!parentIndex.isValid() || !member)
        return;
    const int row = int(group->children().size());
    beginInsertRows(parentIndex.siblingAtColumn(0), row, row);
    group->appendChild(member);
    if (member->mediaType() == NXMediaType::VideoFile)
        member->setMediaType(NXMediaType::MergeMember);
    endInsertRows();
    watchThumbnail(member);
    emit dataChanged(parentIndex, parentIndex.siblingAtColumn(ColumnCount - 1));
}

void NXMediaListModel::clear()
{
    beginResetModel();
    m_nodes.clear();
    endResetModel();
}

// The rows stay as they are: a reset would empty the view's selection, and
// the next command would act on every entry instead of the chosen ones.
void NXMediaListModel::refreshAll()
{
    if (m_nodes.empty())
        return;
    emit dataChanged(index(0, 0), index(int(m_nodes.size()) - 1, ColumnCount - 1));
    for (int row = 0; row < int(m_nodes.size()); ++row) {
        const QModelIndex entry = index(row, 0);
        const int children = rowCount(entry);
        if (children > 0)
            emit dataChanged(index(0, 0, entry), index(children - 1, ColumnCount - 1, entry));
    }
}

NXBasicMediaNode* NXMediaListModel::rawNode(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<NXBasicMediaNode*>(index.internalPointer()) : nullptr;
}

NXBasicMediaNode::Ptr NXMediaListModel::nodeAt(const QModelIndex& index) const
{
    auto* node = rawNode(index);
    return node ? node->shared_from_this() : nullptr;
}

int NXMediaListModel::rowOfTopLevel(const NXBasicMediaNode* node) const
{
    const auto found = std::find_if(
        m_nodes.begin(), m_nodes.end(), [node](const auto& entry) { return entry.get() == node; });
    return found == m_nodes.end() ? -1 : int(found - m_nodes.begin());
}

QModelIndex NXMediaListModel::indexOf(const NXBasicMediaNode::Ptr& node) const
{
    if (!node)
        return {};
    const int row = rowOfTopLevel(node.get());
    if (row >= 0)
        return createIndex(row, 0, node.get());
    const auto group = node->parent();
    if (!group || rowOfTopLevel(group.get()) < 0)
        return {};
    const auto& members = group->children();
    const auto found = std::find(members.begin(), members.end(), node);
    return found == members.end() ? QModelIndex()
                                  : createIndex(int(found - members.begin()), 0, node.get());
}

QModelIndex NXMediaListModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= ColumnCount)
        return {};
    if (!parent.isValid())
        return row < int(m_nodes.size()) ? createIndex(row, column, m_nodes[row].get())
                                         : QModelIndex();
    const auto* group = rawNode(parent);
    if (!group || parent.parent().isValid() || row >= int(group->children().size()))
        return {};
    return createIndex(row, column, group->children()[row].get());
}

QModelIndex NXMediaListModel::parent(const QModelIndex& child) const
{
    const auto* node = rawNode(child);
    if (!node || rowOfTopLevel(node) >= 0)
        return {};
    const auto group = node->parent();
    const int row = group ? rowOfTopLevel(group.get()) : -1;
    return row < 0 ? QModelIndex() : createIndex(row, 0, group.get());
}

int NXMediaListModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return int(m_nodes.size());
    if (parent.column() != 0 || parent.parent().isValid())
        return 0;
    const auto* node = rawNode(parent);
    return hasChildRows(node) ? int(node->children().size()) : 0;
}

int NXMediaListModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

QVariant NXMediaListModel::data(const QModelIndex& index, int role) const
{
    const auto* node = rawNode(index);
    if (!node)
        return {};
    if (const QVariant dvd = dvdData(*node, index.column(), role); dvd.isValid())
        return dvd;
    if (const QVariant failure = failureData(*node, index.column(), role); failure.isValid())
        return failure;
    if (role == Qt::ToolTipRole && index.column() == NameColumn)
        if (const auto* file = asFileNode(*node))
            return file->path();
    if (role == Qt::DecorationRole && index.column() == NameColumn) {
        if (const auto* album = asAlbum(*node); album && !album->thumbnail().isNull())
            return album->thumbnail().scaled(kAlbumIconSize, Qt::KeepAspectRatio);
        if (const auto* file = asFileNode(*node))
            return file->thumbnail().isNull() ? NXNeutralThumbnail() : file->thumbnail();
    }
    // The entry in the preview is marked in bold.
    if (role == Qt::FontRole && node->isPlaying()) {
        QFont font;
        font.setBold(true);
        return font;
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case NameColumn:
        return NXMediaDisplayName(*node);
    case DurationColumn:
        return NXMediaDurationText(*node);
    case ProfileColumn:
        return NXMediaProfileName(*node);
    case OutputColumn:
        return outputText(*node);
    default:
        return {};
    }
}

QVariant NXMediaListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const QStringList titles { QStringLiteral("Name"), QStringLiteral("Duration"),
        QStringLiteral("Profile"), QStringLiteral("Output"), QStringLiteral("Audio"),
        QStringLiteral("Subtitle") };
    return titles.value(section);
}

Qt::ItemFlags NXMediaListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const auto* node = rawNode(index);
    if (const auto* dvd = asDVD(*node))
        return index.column() == OutputColumn && NXDVDMergeOffered(*dvd)
            ? flags | Qt::ItemIsUserCheckable
            : flags;
    const auto* title = asTitle(*node);
    if (!title)
        return flags;
    switch (index.column()) {
    case NameColumn:
        return flags | Qt::ItemIsUserCheckable;
    case AudioColumn:
        return title->audioTracks().size() > 1 ? flags | Qt::ItemIsEditable : flags;
    case SubtitleColumn:
        return title->subtitleTracks().empty() ? flags : flags | Qt::ItemIsEditable;
    default:
        return flags;
    }
}

QVariant NXMediaListModel::dvdData(const NXBasicMediaNode& node, int column, int role) const
{
    if (const auto* dvd = asDVD(node)) {
        if (column != OutputColumn || !NXDVDMergeOffered(*dvd))
            return {};
        if (role == Qt::CheckStateRole)
            return dvd->mergeIntoOne() ? Qt::Checked : Qt::Unchecked;
        if (role == Qt::DisplayRole && !dvd->mergeIntoOne())
            return QStringLiteral("Merge into one");
        return {};
    }
    const auto* title = asTitle(node);
    if (!title)
        return {};
    if (column == NameColumn && role == Qt::CheckStateRole)
        return title->isSelected() ? Qt::Checked : Qt::Unchecked;
    const bool audio = column == AudioColumn;
    if (!audio && column != SubtitleColumn)
        return {};
    const QStringList choices = audio ? NXDVDAudioChoices(*title) : NXDVDSubtitleChoices(*title);
    const int chosen = audio ? NXDVDAudioChoice(*title) : NXDVDSubtitleChoice(*title);
    switch (role) {
    case ChoicesRole:
        return choices;
    case Qt::EditRole:
        return chosen;
    case Qt::DisplayRole:
        return chosen < 0 ? QStringLiteral("No Audio") : choices.value(chosen);
    default:
        return {};
    }
}

bool NXMediaListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!(flags(index) & (Qt::ItemIsUserCheckable | Qt::ItemIsEditable)))
        return false;
    return setDVDData(index, value, role);
}

bool NXMediaListModel::setDVDData(const QModelIndex& index, const QVariant& value, int role)
{
    const auto node = nodeAt(index);
    auto entry = asDVD(*node) ? node : node->parent();
    auto& dvd = static_cast<DNDVDNode&>(*entry);
    auto* title = isMemberOf<DNDVDTitle>(node) ? static_cast<DNDVDTitle*>(node.get()) : nullptr;
    const bool checked = value.toInt() == Qt::Checked;
    if (role == Qt::CheckStateRole && !title)
        dvd.setMergeIntoOne(checked);
    else if (role == Qt::CheckStateRole && index.column() == NameColumn) {
        title->setIsSelected(checked);
        NXDVDSettleMerge(dvd);
    } else if (role == Qt::EditRole && index.column() == AudioColumn)
        NXDVDChooseAudio(*title, value.toInt());
    else if (role == Qt::EditRole && index.column() == SubtitleColumn)
        NXDVDChooseSubtitle(*title, value.toInt());
    else
        return false;
    dvdChanged(entry);
    return true;
}

void NXMediaListModel::dvdChanged(const NXBasicMediaNode::Ptr& entry)
{
    rowAndChildrenChanged(indexOf(entry));
}

void NXMediaListModel::rowAndChildrenChanged(const QModelIndex& row)
{
    emit dataChanged(row, row.siblingAtColumn(ColumnCount - 1));
    const int children = rowCount(row);
    if (children > 0)
        emit dataChanged(index(0, 0, row), index(children - 1, ColumnCount - 1, row));
}

QStringList NXMediaListModel::mimeTypes() const
{
    return { QStringLiteral("text/uri-list") };
}

Qt::DropActions NXMediaListModel::supportedDropActions() const
{
    return Qt::CopyAction;
}

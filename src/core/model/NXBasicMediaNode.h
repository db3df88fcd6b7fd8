#pragma once

#include <QObject>

#include <memory>
#include <vector>

class DNFileNode;

// What a list node stands for; the values are those the list and the
// settings store.
enum class NXMediaType : qint32 {
    VideoFile = 0,
    PhotoAlbum = 1,
    DVD = 2,
    DVDTitle = 3,
    MergedDVDTitles = 4,
    MergeGroup = 5,
    MergeMember = 6,
};

// The concrete class of a node. Builders and the driver ask for the exact
// class ("exactly a DNFileNode" is false for a merge group); isKindOf asks
// the usual subclass question.
enum class NXNodeClass {
    FileNode,
    FileGroupNode,
    GraphicsNode,
    DVDNode,
    DVDTitle,
    DVDGroupTitle,
};

// Tells observers (the list rows) about changes of a node.
class NXMediaNodeNotifier : public QObject {
    Q_OBJECT
signals:
    void playingChanged(bool isPlaying);
    void thumbnailChanged();
};

// The base of every list node. Nodes have identity and are shared between
// the list, the editor and the conversion worker, so they live in
// std::shared_ptr; a child refers to its parent weakly.
class NXBasicMediaNode : public std::enable_shared_from_this<NXBasicMediaNode> {
public:
    using Ptr = std::shared_ptr<NXBasicMediaNode>;

    virtual ~NXBasicMediaNode();
    NXBasicMediaNode(const NXBasicMediaNode&) = delete;
    NXBasicMediaNode& operator=(const NXBasicMediaNode&) = delete;

    virtual NXNodeClass nodeClass() const = 0;

    // Unique among the nodes of one run of the program; never 0.
    quint64 nodeID() const { return m_nodeID; }

    NXMediaType mediaType() const { return m_mediaType; }
    void setMediaType(NXMediaType type) { m_mediaType = type; }

    bool isPlaying() const { return m_isPlaying; }
    void setIsPlaying(bool playing);

    std::shared_ptr<NXBasicMediaNode> parent() const { return m_parent.lock(); }

    // The members of a group or the titles of a DVD, in list order. A node
    // added here gets this node as its parent; a removed one loses it.
    const std::vector<Ptr>& children() const { return m_children; }
    void appendChild(const Ptr& child);
    void insertChild(std::size_t index, const Ptr& child);
    void removeChild(const Ptr& child);

    // The file node that stands for this node in a conversion: a file node
    // itself; a photo album the movie rendered from it; null for the rest.
    virtual std::shared_ptr<DNFileNode> fileNodeForConversion();

    NXMediaNodeNotifier* notifier() const { return m_notifier.get(); }

protected:
    explicit NXBasicMediaNode(NXMediaType type);

private:
    void adopt(const Ptr& child);

    const quint64 m_nodeID;
    NXMediaType m_mediaType;
    bool m_isPlaying = false;
    std::weak_ptr<NXBasicMediaNode> m_parent;
    std::vector<Ptr> m_children;
    std::unique_ptr<NXMediaNodeNotifier> m_notifier;
};

// "Exactly a T": the node's own class is T, not a subclass of it.
template<class T> bool isMemberOf(const NXBasicMediaNode* node)
{
    return node && node->nodeClass() == T::kNodeClass;
}

template<class T> bool isMemberOf(const std::shared_ptr<NXBasicMediaNode>& node)
{
    return isMemberOf<T>(node.get());
}

// "A T or a subclass of it".
template<class T> bool isKindOf(const NXBasicMediaNode* node)
{
    return dynamic_cast<const T*>(node) != nullptr;
}

template<class T> bool isKindOf(const std::shared_ptr<NXBasicMediaNode>& node)
{
    return isKindOf<T>(node.get());
}

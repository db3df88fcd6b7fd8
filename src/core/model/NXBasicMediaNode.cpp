#include "model/NXBasicMediaNode.h"

#include "model/DNFileNode.h"

#include <algorithm>
#include <atomic>

namespace {

quint64 nextNodeID()
{
    // Nodes are made on the loader threads as well as the main thread.
    static std::atomic<quint64> counter { 0 };
    return ++counter;
}

} // namespace

NXBasicMediaNode::NXBasicMediaNode(NXMediaType type)
    : m_nodeID(nextNodeID())
    , m_mediaType(type)
    , m_notifier(std::make_unique<NXMediaNodeNotifier>())
{ }

NXBasicMediaNode::~NXBasicMediaNode() = default;

void NXBasicMediaNode::setIsPlaying(bool playing)
{
    if (playing == m_isPlaying)
        return;
    m_isPlaying = playing;
    emit m_notifier->playingChanged(playing);
}

void NXBasicMediaNode::appendChild(const Ptr& child)
{
    insertChild(m_children.size(), child);
}

void NXBasicMediaNode::insertChild(std::size_t index, const Ptr& child)
{
    if (!child || child.get() == this)
        return;
    adopt(child);
    const auto at
        = m_children.begin() + static_cast<std::ptrdiff_t>(std::min(index, m_children.size()));
    m_children.insert(at, child);
}

void NXBasicMediaNode::removeChild(const Ptr& child)
{
    const auto found = std::find(m_children.begin(), m_children.end(), child);
    if (found == m_children.end())
        return;
    (*found)->m_parent.reset();
    m_children.erase(found);
}

std::shared_ptr<DNFileNode> NXBasicMediaNode::fileNodeForConversion()
{
    return nullptr;
}

void NXBasicMediaNode::adopt(const Ptr& child)
{
    // A node sits in one place of the tree: leaving an old parent first keeps
    // it from being converted twice.
    if (const auto old = child->parent())
        old->removeChild(child);
    child->m_parent = weak_from_this();
}

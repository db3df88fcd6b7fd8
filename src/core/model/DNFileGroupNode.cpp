#include "model/DNFileGroupNode.h"

DNFileGroupNode::DNFileGroupNode()
    : DNFileNode(NXMediaType::MergeGroup, QString())
{ }

std::shared_ptr<DNFileGroupNode> DNFileGroupNode::fileGroupNodeWithNodes(
    const std::vector<NXBasicMediaNode::Ptr>& nodes)
{
    auto group = std::make_shared<DNFileGroupNode>();
    for (const auto& member : nodes) {
        if (!member)
            continue;
        group->appendChild(member);
        if (member->mediaType() == NXMediaType::VideoFile)
            member->setMediaType(NXMediaType::MergeMember);
    }
    if (group->children().empty())
        return group;
    if (const auto first = group->children().front()->fileNodeForConversion()) {
        group->setPath(first->path());
        group->setNodeInfo(
            DNNodeInfo::nodeInfoForFile(first->path(), first->title(), first->performer()));
    }
    return group;
}

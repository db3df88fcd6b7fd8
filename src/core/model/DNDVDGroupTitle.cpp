#include "model/DNDVDGroupTitle.h"

DNDVDGroupTitle::DNDVDGroupTitle()
    : DNDVDNode(NXMediaType::MergedDVDTitles, {})
{ }

std::shared_ptr<DNDVDGroupTitle> DNDVDGroupTitle::dvdGroupTitleWithDVDNode(
    const std::shared_ptr<DNDVDNode>& node)
{
    if (!node || !node->mergeIntoOne())
        return nullptr;
    auto group = std::make_shared<DNDVDGroupTitle>();
    group->setSourceInfo(node->sourceInfo());
    group->setProfile(node->profile());
    group->setNodeInfo(node->nodeInfo());
    group->m_originalDVDNode = node;
    for (const auto& title : node->titles()) {
        if (title->isSelected())
            group->m_titles.push_back(title);
    }
    return group;
}

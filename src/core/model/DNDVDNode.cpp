#include "model/DNDVDNode.h"

DNDVDNode::DNDVDNode(const NXDVDSourceInfo& source)
    : DNDVDNode(NXMediaType::DVD, source)
{ }

DNDVDNode::DNDVDNode(NXMediaType type, const NXDVDSourceInfo& source)
    : NXBasicMediaNode(type)
    , m_sourceInfo(source)
{ }

std::vector<std::shared_ptr<DNDVDTitle>> DNDVDNode::titles() const
{
    std::vector<std::shared_ptr<DNDVDTitle>> list;
    list.reserve(children().size());
    for (const auto& child : children()) {
        if (isMemberOf<DNDVDTitle>(child))
            list.push_back(std::static_pointer_cast<DNDVDTitle>(child));
    }
    return list;
}

std::shared_ptr<DNDVDTitle> DNDVDNode::titleAt(qint32 index) const
{
    const auto list = titles();
    if (index < 0 || static_cast<std::size_t>(index) >= list.size())
        return nullptr;
    return list[static_cast<std::size_t>(index)];
}

std::shared_ptr<DNDVDTitle> DNDVDNode::selectedTitle() const
{
    return titleAt(m_titleSelected);
}

DNDVDTitleSetting DNDVDNode::currentSetting() const
{
    const auto title = selectedTitle();
    return title ? title->setting() : DNDVDTitleSetting();
}

void DNDVDNode::setEditSetting(const DNDVDTitleSetting& setting)
{
    edit([&](DNDVDTitleSetting& own) { own = setting; });
}

QSizeF DNDVDNode::aspectOfSelectedVideoTrack() const
{
    const auto title = selectedTitle();
    const DNDVDTVideo* track = title ? title->selectedVideoTrack() : nullptr;
    return track ? track->videoAspect : QSizeF();
}

QStringList DNDVDNode::NXMPlayerPlaybackParameters() const
{
    // The disc's own title number: a title left out as unreadable would shift
    // every later position by one.
    const auto title = selectedTitle();
    const qint32 number = title ? title->titleNumber() : m_titleSelected + 1;
    return { QStringLiteral("dvdnav://%1").arg(number), QStringLiteral("-dvd-device"),
        m_sourceInfo.playbackPath(), QStringLiteral("-identify"), QStringLiteral("-slave"),
        QStringLiteral("-nosub"), QStringLiteral("-vf"), QStringLiteral("yadif=0") };
}

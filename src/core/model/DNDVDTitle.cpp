#include "model/DNDVDTitle.h"

DNDVDTitle::DNDVDTitle()
    : NXBasicMediaNode(NXMediaType::DVDTitle)
{ }

const DNDVDTVideo* DNDVDTitle::selectedVideoTrack() const
{
    const qint32 index = m_setting.videoIndex();
    if (index < 0 || static_cast<std::size_t>(index) >= m_videoTracks.size())
        return nullptr;
    return &m_videoTracks[static_cast<std::size_t>(index)];
}

DNDVDTVideo* DNDVDTitle::selectedVideoTrack()
{
    return const_cast<DNDVDTVideo*>(std::as_const(*this).selectedVideoTrack());
}

#include "model/DNDVDTitle.h"

#include <cmath>

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

void DNDVDTitle::setLength(qint32 seconds)
{
    m_length = seconds;
    if (std::floor(m_exactLength) != seconds)
        m_exactLength = 0;
}

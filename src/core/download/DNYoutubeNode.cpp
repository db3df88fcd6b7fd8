#include "download/DNYoutubeNode.h"

namespace {

constexpr double kBytesPerMiB = 1048576.0;

} // namespace

std::shared_ptr<DNYoutubeNode> DNYoutubeNode::youtubeNode()
{
    return std::make_shared<DNYoutubeNode>();
}

void DNYoutubeNode::setState(DNYoutubeNodeState state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

void DNYoutubeNode::setDownloadSize(qint64 bytes)
{
    if (m_downloadSize == bytes)
        return;
    m_downloadSize = bytes;
    emit downloadSizeChanged(bytes);
}

void DNYoutubeNode::setIsPlaying(bool playing)
{
    if (m_isPlaying == playing)
        return;
    m_isPlaying = playing;
    emit isPlayingChanged(playing);
}

double DNYoutubeNode::videoSize() const
{
    const DNYoutubeVideoSegment* selected = selectedSgmt();
    return selected ? selected->videoSize / kBytesPerMiB : 0.0;
}

double DNYoutubeNode::bestCacheSizeForVideo() const
{
    // The last variant of the list decides, whichever one is selected.
    const qint64 duration = m_youtubeLink.duration;
    const qint64 size = m_youtubeLink.videosSegments.isEmpty()
        ? 0
        : static_cast<qint64>(m_youtubeLink.videosSegments.last().videoSize);
    if (duration < 120 || size < 2097152)
        return -1.0;
    const double twentySeconds = static_cast<double>(size) / static_cast<double>(duration) * 20.0;
    return twentySeconds < 65536.0 ? 0.0625 : twentySeconds / kBytesPerMiB;
}

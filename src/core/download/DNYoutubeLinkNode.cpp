#include "download/DNYoutubeLinkNode.h"

const DNYoutubeVideoSegment* DNYoutubeLinkNode::selectedSgmt() const
{
    for (const DNYoutubeVideoSegment& segment : videosSegments) {
        if (segment.isSelected)
            return &segment;
    }
    return nullptr;
}

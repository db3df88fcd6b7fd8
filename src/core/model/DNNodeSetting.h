#pragma once

#include "model/DNBaseEditSetting.h"

// The edit settings of a file node: the edits plus the chosen tracks, as
// positions in the node's video, audio and subtitle lists. A negative audio
// index means no audio, a negative subtitle index no subtitle.
class DNNodeSetting : public DNBaseEditSetting {
public:
    bool operator==(const DNNodeSetting&) const = default;

    // A fresh setting carrying this one's edits and tracks: what a node keeps
    // when a setting is handed to it, and what "apply to all" gives every node.
    DNNodeSetting copy() const;

    qint32 videoIndex() const { return m_videoIndex; }
    void setVideoIndex(qint32 index) { m_videoIndex = index; }
    qint32 audioIndex() const { return m_audioIndex; }
    void setAudioIndex(qint32 index) { m_audioIndex = index; }
    qint32 subtitleIndex() const { return m_subtitleIndex; }
    void setSubtitleIndex(qint32 index) { m_subtitleIndex = index; }

private:
    qint32 m_videoIndex = 0;
    qint32 m_audioIndex = 0;
    qint32 m_subtitleIndex = -1;
};

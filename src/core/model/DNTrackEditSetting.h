#pragma once

#include "model/DNBaseEditSetting.h"

// The edits plus the chosen tracks, as positions in the source's video, audio
// and subtitle lists: what a file node's and a DVD title's settings share. A
// negative audio index means no audio, a negative subtitle index no subtitle.
// The two stay types of their own, so that neither is taken for the other.
class DNTrackEditSetting : public DNBaseEditSetting {
public:
    bool operator==(const DNTrackEditSetting&) const = default;

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

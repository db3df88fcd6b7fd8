#pragma once

#include "model/DNBaseEditSetting.h"

// The edit settings of one DVD title: the edits plus the chosen tracks, as
// positions in the title's video, audio and subtitle lists; a negative index
// means none chosen.
class DNDVDTitleSetting : public DNBaseEditSetting {
public:
    bool operator==(const DNDVDTitleSetting&) const = default;

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

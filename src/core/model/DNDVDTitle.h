#pragma once

#include "model/DNDVDTitleSetting.h"
#include "model/NXBasicMediaNode.h"
#include "services/DNDVDTracks.h"

#include <QString>

#include <vector>

// One title of a DVD source: what the title reader found, the user's edits,
// whether it is converted, and the output its last build chose. Its parent
// is the DVD node.
class DNDVDTitle : public NXBasicMediaNode {
public:
    static constexpr NXNodeClass kNodeClass = NXNodeClass::DVDTitle;

    DNDVDTitle();

    NXNodeClass nodeClass() const override { return kNodeClass; }

    // The title's number on the disc, from 1: what "dvd://" takes. It equals
    // the position in the node's titles plus 1 unless an unreadable title
    // was left out before it.
    qint32 titleNumber() const { return m_titleNumber; }
    void setTitleNumber(qint32 number) { m_titleNumber = number; }
    // Whole seconds. Setting them keeps the exact length when it lies
    // within them: the player, which tells whole seconds, confirms it.
    qint32 length() const { return m_length; }
    void setLength(qint32 seconds);
    // Seconds to the frame, as the disc's tables give them: where a title
    // ends, which its whole seconds fall short of. The whole seconds when
    // nothing finer is known.
    double exactLength() const { return m_exactLength > 0 ? m_exactLength : m_length; }
    void setExactLength(double seconds) { m_exactLength = seconds; }
    double fps() const { return m_fps; }
    void setFps(double fps) { m_fps = fps; }

    const std::vector<DNDVDTVideo>& videoTracks() const { return m_videoTracks; }
    std::vector<DNDVDTVideo>& videoTracks() { return m_videoTracks; }
    void setVideoTracks(std::vector<DNDVDTVideo> tracks) { m_videoTracks = std::move(tracks); }
    const std::vector<DNDVDTAudio>& audioTracks() const { return m_audioTracks; }
    void setAudioTracks(std::vector<DNDVDTAudio> tracks) { m_audioTracks = std::move(tracks); }
    const std::vector<DNDVDSubtitleTrack>& subtitleTracks() const { return m_subtitleTracks; }
    std::vector<DNDVDSubtitleTrack>& subtitleTracks() { return m_subtitleTracks; }
    void setSubtitleTracks(std::vector<DNDVDSubtitleTrack> tracks)
    {
        m_subtitleTracks = std::move(tracks);
    }

    // The chosen video track, or null when the index points nowhere.
    const DNDVDTVideo* selectedVideoTrack() const;
    DNDVDTVideo* selectedVideoTrack();

    const DNDVDTitleSetting& setting() const { return m_setting; }
    DNDVDTitleSetting& setting() { return m_setting; }
    void setSetting(const DNDVDTitleSetting& setting) { m_setting = setting; }

    // The full path of the output the last build of this title chose.
    QString outputName() const { return m_outputName; }
    void setOutputName(const QString& path) { m_outputName = path; }

    // Converted when the DVD entry is.
    bool isSelected() const { return m_isSelected; }
    void setIsSelected(bool selected) { m_isSelected = selected; }

private:
    qint32 m_titleNumber = 1;
    qint32 m_length = 0;
    double m_exactLength = 0;
    double m_fps = 0.0;
    std::vector<DNDVDTVideo> m_videoTracks;
    std::vector<DNDVDTAudio> m_audioTracks;
    std::vector<DNDVDSubtitleTrack> m_subtitleTracks;
    DNDVDTitleSetting m_setting;
    QString m_outputName;
    bool m_isSelected = false;
};

#pragma once

#include <cstddef>
#include <deque>
#include <string>

// Watches mplayer's standard output, which the tool forwards unchanged, for
// what the tool itself needs: whether playback began, and the display aspect
// of the pictures it writes.
class MPlayerOutput {
public:
    void feed(const char* bytes, std::size_t count);

    bool playbackStarted() const { return m_playbackStarted; }
    // An audio status line came after the start.
    bool audioPlayed() const { return m_audioPlayed; }
    // The aspect x 100 of the display size on the last "VO: [...] WxH => DWxDH"
    // line, which is the size after the filters (a turn of the picture
    // included); else that of the last non-zero "ID_VIDEO_ASPECT=", which is
    // the stream's own; else 0.
    int aspectTimes100() const
    {
        return m_outputAspectTimes100 > 0 ? m_outputAspectTimes100 : m_aspectTimes100;
    }
    // The last status line ("A:", "V:" or "Cache fill:"): while mplayer
    // moves on, it changes.
    const std::string& lastStatus() const { return m_lastStatus; }
    // mplayer said it paused and has shown no status line since.
    bool paused() const { return m_paused; }
    // The picture times of the status lines not taken yet, oldest first:
    // mplayer writes one status line after each picture it shows, in tenths
    // of a second.
    std::deque<double>& pictureTimes() { return m_pictureTimes; }
    // The pictures a second, from "ID_VIDEO_FPS="; 0 before it.
    double framesPerSecond() const { return m_framesPerSecond; }

private:
    void takeLine(const std::string& line);
    void takeOutputLine(const std::string& line);

    std::string m_line;
    bool m_playbackStarted = false;
    bool m_audioPlayed = false;
    int m_aspectTimes100 = 0;
    int m_outputAspectTimes100 = 0;
    std::string m_lastStatus;
    bool m_paused = false;
    std::deque<double> m_pictureTimes;
    double m_framesPerSecond = 0;
};

#pragma once

#include <cstddef>
#include <string>

// Watches mplayer's standard output, which the tool forwards unchanged, for
// the two lines the tool itself needs: whether playback began, and the last
// non-zero display aspect.
class MPlayerOutput {
public:
    void feed(const char* bytes, std::size_t count);

    bool playbackStarted() const { return m_playbackStarted; }
    // The aspect x 100 of the last non-zero "ID_VIDEO_ASPECT=", or 0.
    int aspectTimes100() const { return m_aspectTimes100; }

private:
    void takeLine(const std::string& line);

    std::string m_line;
    bool m_playbackStarted = false;
    int m_aspectTimes100 = 0;
};

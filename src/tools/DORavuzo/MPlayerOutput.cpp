#include "MPlayerOutput.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

namespace {

// The lines we look for are short; status lines that never end in '\n' or
// '\r' must not grow the buffer without bound.
constexpr std::size_t kLongestLine = 4096;
// Status lines kept for pictures that do not come: a bound, not a wait.
constexpr std::size_t kMostPictureTimes = 64;

// The number after `key` in `line`, when there is one.
std::optional<double> numberAfter(const std::string& line, std::string_view key)
{
    const std::size_t at = line.find(key);
    if (at == std::string::npos)
        return std::nullopt;
    const char* first = line.data() + at + key.size();
    const char* const end = line.data() + line.size();
    while (first != end && *first == ' ')
        ++first;
    double value = 0;
    const auto [rest, error] = std::from_chars(first, end, value);
    return error == std::errc() ? std::optional(value) : std::nullopt;
}

} // namespace

void MPlayerOutput::feed(const char* bytes, std::size_t count)
{
    for (std::size_t index = 0; index < count; ++index) {
        const char character = bytes[index];
        if (character == '\n' || character == '\r') {
            takeLine(m_line);
            m_line.clear();
        } else if (m_line.size() < kLongestLine) {
            m_line.push_back(character);
        }
    }
}

void MPlayerOutput::takeLine(const std::string& line)
{
    if (line.rfind("A:", 0) == 0 || line.rfind("V:", 0) == 0 || line.rfind("Cache fill:", 0) == 0) {
        m_lastStatus = line;
        m_paused = false;
        if (const std::optional<double> time = numberAfter(line, "V:")) {
            if (m_pictureTimes.size() == kMostPictureTimes)
                m_pictureTimes.pop_front();
            m_pictureTimes.push_back(*time);
        }
    }
    if (const std::optional<double> rate = numberAfter(line, "ID_VIDEO_FPS="); rate && *rate > 0)
        m_framesPerSecond = *rate;
    else if (line == "ID_PAUSED" || line.find("=====  PAUSE  =====") != std::string::npos) {
        m_paused = true;
    }
    if (line.rfind("Starting playback...", 0) == 0) {
        m_playbackStarted = true;
        return;
    }
    if (m_playbackStarted && line.rfind("A:", 0) == 0) {
        m_audioPlayed = true;
        return;
    }
    if (line.rfind("VO: ", 0) == 0) {
        takeOutputLine(line);
        return;
    }
    constexpr std::string_view aspectKey = "ID_VIDEO_ASPECT=";
    if (line.rfind(aspectKey, 0) != 0)
        return;
    double aspect = 0;
    const char* end = line.data() + line.size();
    const auto [rest, error] = std::from_chars(line.data() + aspectKey.size(), end, aspect);
    if (error == std::errc() && aspect > 0 && aspect < 100)
        m_aspectTimes100 = static_cast<int>(std::lround(aspect * 100));
}

void MPlayerOutput::takeOutputLine(const std::string& line)
{
    constexpr std::string_view arrow = " => ";
    const std::size_t at = line.find(arrow);
    if (at == std::string::npos)
        return;
    const char* const end = line.data() + line.size();
    int width = 0;
    int height = 0;
    const auto [cross, widthError] = std::from_chars(line.data() + at + arrow.size(), end, width);
    if (widthError != std::errc() || cross == end || *cross != 'x')
        return;
    const auto [rest, heightError] = std::from_chars(cross + 1, end, height);
    if (heightError == std::errc() && width > 0 && height > 0)
        m_outputAspectTimes100
            = static_cast<int>(std::lround(static_cast<double>(width) * 100 / height));
}

#include "CommandRelay.h"

#include <array>
#include <cerrno>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

namespace {

// No command comes near this; of a longer line only the start is looked at.
constexpr std::size_t kLongestLine = 4096;

// mplayer's "quit", with or without a "pausing" prefix and an exit status.
bool isQuitCommand(const std::string& line)
{
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word.starts_with("pausing"))
        words >> word;
    return word == "quit";
}

} // namespace

CommandRelay::CommandRelay(int input, int playerInput)
    : m_input(input)
    , m_playerInput(playerInput)
{
    // mplayer may not read for a long while: a full pipe must not stop the tool.
    ::fcntl(m_playerInput, F_SETFL, ::fcntl(m_playerInput, F_GETFL) | O_NONBLOCK);
}

CommandRelay::~CommandRelay()
{
    if (m_playerInput >= 0)
        ::close(m_playerInput);
}

bool CommandRelay::relay()
{
    std::array<char, 4096> buffer {};
    ssize_t count = 0;
    do
        count = ::read(m_input, buffer.data(), buffer.size());
    while (count < 0 && errno == EINTR);
    if (count <= 0) {
        // mplayer plays on when its input ends, as it does when started alone.
        m_input = -1;
        ::close(m_playerInput);
        m_playerInput = -1;
        return false;
    }
    const auto bytes = static_cast<std::size_t>(count);
    passOn(buffer.data(), bytes);
    return takeLines(buffer.data(), bytes);
}

void CommandRelay::passOn(const char* bytes, std::size_t count)
{
    while (m_playerInput >= 0 && count > 0) {
        const ssize_t written = ::write(m_playerInput, bytes, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno != EAGAIN) {
            // mplayer has gone: there is no one to tell anything any more.
            ::close(m_playerInput);
            m_playerInput = -1;
        }
        if (written <= 0)
            return;
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

bool CommandRelay::takeLines(const char* bytes, std::size_t count)
{
    bool quit = false;
    for (std::size_t index = 0; index < count; ++index) {
        if (bytes[index] == '\n') {
            quit = quit || isQuitCommand(m_line);
            m_line.clear();
        } else if (m_line.size() < kLongestLine) {
            m_line += bytes[index];
        }
    }
    return quit;
}

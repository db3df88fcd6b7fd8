#include "Y4mStream.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <sstream>
#include <utility>

namespace {

// Header and frame lines are short; anything longer is not this format.
constexpr std::size_t kLongestLine = 1024;
// Far beyond any picture mplayer hands on, and small enough to allocate.
constexpr int kLargestSide = 16384;

int chromaSide(int side)
{
    return (side + 1) / 2;
}

std::size_t pictureBytes(int width, int height)
{
    const auto luma = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const auto chroma = static_cast<std::size_t>(chromaSide(width))
        * static_cast<std::size_t>(chromaSide(height));
    return luma + 2 * chroma;
}

bool startsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

int numberAfter(const std::string& token)
{
    int value = 0;
    const char* end = token.data() + token.size();
    const auto [rest, error] = std::from_chars(token.data() + 1, end, value);
    return error == std::errc() && rest == end ? value : 0;
}

} // namespace

Y4mStream::Y4mStream(HeaderHandler onHeader, PictureHandler onPicture)
    : m_onHeader(std::move(onHeader))
    , m_onPicture(std::move(onPicture))
{ }

void Y4mStream::feed(const std::uint8_t* bytes, std::size_t count)
{
    while (count > 0 && m_state != State::Broken) {
        if (m_state == State::Planes) {
            const std::size_t taken = std::min(count, m_planes.size() - m_filled);
            std::memcpy(m_planes.data() + m_filled, bytes, taken);
            m_filled += taken;
            bytes += taken;
            count -= taken;
            if (m_filled == m_planes.size())
                takePlanes();
            continue;
        }
        const auto* end = static_cast<const std::uint8_t*>(std::memchr(bytes, '\n', count));
        const std::size_t length = end ? static_cast<std::size_t>(end - bytes) : count;
        m_line.append(reinterpret_cast<const char*>(bytes), length);
        const std::size_t taken = end ? length + 1 : length;
        bytes += taken;
        count -= taken;
        if (m_line.size() > kLongestLine)
            breakWith("a line of the picture stream is too long");
        else if (end)
            takeLine();
    }
}

void Y4mStream::takeLine()
{
    const std::string line = std::exchange(m_line, {});
    if (startsWith(line, "YUV4MPEG2 ")) {
        takeHeader(line);
    } else if (startsWith(line, "FRAME") && m_width > 0) {
        m_filled = 0;
        m_state = State::Planes;
    } else {
        breakWith("the picture stream holds an unknown line");
    }
}

void Y4mStream::takeHeader(const std::string& line)
{
    std::istringstream tokens(line.substr(10));
    int width = 0;
    int height = 0;
    for (std::string token; tokens >> token;) {
        if (token[0] == 'W')
            width = numberAfter(token);
        else if (token[0] == 'H')
            height = numberAfter(token);
        else if (token[0] == 'C' && !startsWith(token, "C420"))
            return breakWith("the picture stream is not 4:2:0 (" + token + ")");
    }
    if (width <= 0 || height <= 0 || width > kLargestSide || height > kLargestSide)
        return breakWith("the picture stream announces no usable size");
    m_width = width;
    m_height = height;
    m_planes.resize(pictureBytes(width, height));
    m_onHeader(width, height);
}

void Y4mStream::takePlanes()
{
    m_state = State::Line;
    Picture picture;
    picture.width = m_width;
    picture.height = m_height;
    const std::size_t luma = static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height);
    const std::size_t chroma = static_cast<std::size_t>(chromaSide(m_width))
        * static_cast<std::size_t>(chromaSide(m_height));
    picture.planes[0] = m_planes.data();
    picture.planes[1] = m_planes.data() + luma;
    picture.planes[2] = m_planes.data() + luma + chroma;
    picture.strides[0] = m_width;
    picture.strides[1] = picture.strides[2] = chromaSide(m_width);
    m_onPicture(picture);
}

void Y4mStream::breakWith(std::string fault)
{
    m_state = State::Broken;
    m_fault = std::move(fault);
    m_line.clear();
    m_planes = {};
}

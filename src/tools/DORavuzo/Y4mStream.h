#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Reads mplayer's yuv4mpeg output in pieces of any size: a "YUV4MPEG2" header
// line with the picture size, then pictures, each a "FRAME" line and the three
// 4:2:0 planes. A new header (the picture size changed) may come at any time.
class Y4mStream {
public:
    struct Picture {
        int width = 0;
        int height = 0;
        const std::uint8_t* planes[3] = {}; // Y, Cb, Cr
        int strides[3] = {};
    };

    using HeaderHandler = std::function<void(int width, int height)>;
    using PictureHandler = std::function<void(const Picture& picture)>;

    Y4mStream(HeaderHandler onHeader, PictureHandler onPicture);

    void feed(const std::uint8_t* bytes, std::size_t count);
    // Why the stream stopped being read, or empty while it is fine. Once
    // broken, the rest is drained unread.
    const std::string& fault() const { return m_fault; }

private:
    enum class State { Line, Planes, Broken };

    void takeLine();
    void takeHeader(const std::string& line);
    void takePlanes();
    void breakWith(std::string fault);

    HeaderHandler m_onHeader;
    PictureHandler m_onPicture;
    State m_state = State::Line;
    std::string m_line;
    std::vector<std::uint8_t> m_planes;
    std::size_t m_filled = 0;
    int m_width = 0;
    int m_height = 0;
    std::string m_fault;
};

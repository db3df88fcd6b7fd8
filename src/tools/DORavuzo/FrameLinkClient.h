#pragma once

#include "Y4mStream.h"
#include "player/MPlayerOSXVOProto.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <sys/types.h>

struct SwsContext;

// The tool's end of the frame link: announces each picture stream to the
// server, writes its pictures into the shared object in the order the server
// asked for, and says when the stream ends. Every message waits for its
// answer, so the server has taken a picture before the next one is written.
// Without a server, or once the server refuses or fails, it does nothing: the
// tool keeps reading mplayer's pictures and its output still flows.
class FrameLinkClient {
public:
    FrameLinkClient(pid_t serverPid, std::string bufferName);
    ~FrameLinkClient();
    FrameLinkClient(const FrameLinkClient&) = delete;
    FrameLinkClient& operator=(const FrameLinkClient&) = delete;

    void start(int width, int height, int aspectTimes100);
    void render(const Y4mStream::Picture& picture);
    void stop();

private:
    bool connectToServer();
    bool readFormat();
    bool makeSharedObject(const std::string& name, std::size_t bytes);
    bool startConverter(int width, int height);
    bool send(const unsigned char* bytes, std::size_t count);
    bool receive(unsigned char* bytes, std::size_t count);
    bool exchange(MPlayerOSXVOProto::Message message);
    void releasePicture();
    void drop(const std::string& reason);

    const pid_t m_serverPid;
    const std::string m_bufferName;
    int m_socket = -1;
    std::optional<MPlayerOSXVOProto::PixelFormat> m_format;
    SwsContext* m_converter = nullptr;
    std::uint8_t* m_picture = nullptr;
    std::size_t m_pictureBytes = 0;
    int m_width = 0;
    int m_height = 0;
    bool m_started = false;
};

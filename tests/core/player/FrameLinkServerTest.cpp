// What the frame link server refuses or ignores from a tool that does not
// keep to the protocol: it answers 0 or nothing happens, and it serves on.
#include "core/player/PlayerTestSupport.h"

#include "player/MPlayerOSXVOProto.h"

#include <gtest/gtest.h>

#include <QFile>
#include <array>

#include <cstring>
#include <string_view>

#include <dirent.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

namespace Proto = MPlayerOSXVOProto;

// A tool of the test's own making, speaking the wire format by hand.
class FakeTool {
public:
    explicit FakeTool(const FrameLinkServer& server)
        : m_name(Proto::sharedMemoryName(::getpid(), server.bufferName().toStdString()))
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const std::string path = server.socketPath().toStdString();
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        m_socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        char format[4] = {};
        m_connected
            = ::connect(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
            && ::recv(m_socket, format, sizeof format, MSG_WAITALL) == sizeof format;
    }
    ~FakeTool()
    {
        cut();
        ::shm_unlink(m_name.c_str());
    }
    FakeTool(const FakeTool&) = delete;
    FakeTool& operator=(const FakeTool&) = delete;

    bool connected() const { return m_connected; }

    // A shared picture of `bytes` bytes.
    void makeObject(std::size_t bytes)
    {
        const int fd = ::shm_open(m_name.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(bytes)), 0);
        ::close(fd);
    }

    int start(int width, int height, int bytesPerPixel)
    {
        unsigned char message[1 + Proto::kStartBytes] = { 'S' };
        Proto::putInt32(message + 1, width);
        Proto::putInt32(message + 5, height);
        Proto::putInt32(message + 9, bytesPerPixel);
        Proto::putInt32(message + 13, 133);
        unsigned char answer[4] = {};
        if (::send(m_socket, message, sizeof message, MSG_NOSIGNAL) != sizeof message
            || ::recv(m_socket, answer, sizeof answer, MSG_WAITALL) != sizeof answer)
            return -1;
        return Proto::getInt32(answer);
    }

    // Sends a one-byte message; true when it was answered.
    bool exchange(char message)
    {
        unsigned char answer = 0;
        return ::send(m_socket, &message, 1, MSG_NOSIGNAL) == 1
            && ::recv(m_socket, &answer, 1, 0) == 1 && answer == Proto::kDone;
    }

    void cut()
    {
        if (m_socket >= 0)
            ::close(m_socket);
        m_socket = -1;
    }

private:
    std::string m_name;
    int m_socket = -1;
    bool m_connected = false;
};

// Read with readlink: QDir leaves out links to removed files.
int sharedObjectDescriptors()
{
    int count = 0;
    DIR* folder = ::opendir("/proc/self/fd");
    while (const dirent* entry = folder ? ::readdir(folder) : nullptr) {
        std::array<char, 256> target {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        if (::readlink(link.c_str(), target.data(), target.size() - 1) > 0)
            count += std::string_view(target.data()).starts_with("/dev/shm/") ? 1 : 0;
    }
    if (folder)
        ::closedir(folder);
    return count;
}

} // namespace

TEST(FrameLinkServer, RefusesOrIgnoresWhatItCannotMapSafely)
{
    constexpr std::size_t kPicture = 320 * 240 * 2;
    struct Row {
        const char* name;
        std::size_t objectBytes; // 0: no object
        int width;
        int height;
        int bytesPerPixel;
        const char* script; // 'S' start, 'R' render, 'E' stop, 'C' cut the connection
        int answer; // to the start
        int pictures;
        int stops;
    };
    const Row rows[] = {
        { "no object", 0, 320, 240, 2, "SR", 0, 0, 0 },
        { "object too small", kPicture - 1, 320, 240, 2, "SR", 0, 0, 0 },
        { "width 0", kPicture, 0, 240, 2, "SR", 0, 0, 0 },
        { "width 100000", kPicture, 100000, 240, 2, "SR", 0, 0, 0 },
        { "odd width", kPicture + 480, 321, 240, 2, "SR", 0, 0, 0 },
        { "3 bytes per pixel", kPicture * 2, 320, 240, 3, "SR", 0, 0, 0 },
        { "render before start", kPicture, 320, 240, 2, "R", 0, 0, 0 },
        { "render after stop", kPicture, 320, 240, 2, "SRER", 1, 1, 1 },
        { "connection cut", kPicture, 320, 240, 2, "SRC", 1, 1, 1 },
    };
    RecordedServer recorded("Refusals");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const int pictures = recorded.count("picture");
        const int stops = recorded.count("stop");
        {
            FakeTool tool(recorded.server);
            ASSERT_TRUE(tool.connected());
            if (row.objectBytes > 0)
                tool.makeObject(row.objectBytes);
            for (const char* step = row.script; *step; ++step) {
                if (*step == 'S')
                    EXPECT_EQ(tool.start(row.width, row.height, row.bytesPerPixel), row.answer);
                else if (*step == 'C')
                    tool.cut();
                else
                    EXPECT_TRUE(tool.exchange(*step));
            }
        }
        // The server takes the next tool only once it is done with this one.
        ASSERT_TRUE(FakeTool(recorded.server).connected());
        EXPECT_EQ(recorded.count("picture") - pictures, row.pictures);
        EXPECT_EQ(recorded.count("stop") - stops, row.stops);
        // Nothing of a refused or ended stream stays open.
        EXPECT_EQ(sharedObjectDescriptors(), 0);
    }
}

// Ending the server must not wait for a tool that keeps its connection open.
TEST(FrameLinkServer, TerminatesWhileAToolIsConnected)
{
    RecordedServer recorded("Terminated");
    FakeTool tool(recorded.server);
    tool.makeObject(320 * 240 * 2);
    ASSERT_EQ(tool.start(320, 240, 2), 1);
    recorded.server.terminateConnection();
    EXPECT_EQ(recorded.count("stop"), 1);
    EXPECT_FALSE(QFile::exists(recorded.server.socketPath()));
}

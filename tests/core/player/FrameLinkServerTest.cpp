// What the frame link server refuses or ignores from a tool that does not
// keep to the protocol: it answers 0 or nothing happens, and it serves on.
#include "core/player/PlayerTestSupport.h"

#include "player/MPlayerOSXVOProto.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <array>
#include <condition_variable>
#include <mutex>

#include <cstring>
#include <string_view>
#include <utility>

#include <dirent.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
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
        sockaddr_un address { AF_UNIX, {} };
        std::strncpy(address.sun_path, server.socketPath().toUtf8().constData(),
            sizeof address.sun_path - 1);
        m_socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            cut();
    }
    // Leaves its object as a killed tool does: the server must remove it.
    ~FakeTool() { cut(); }
    FakeTool(const FakeTool&) = delete;
    FakeTool& operator=(const FakeTool&) = delete;

    // The server's pixel format comes first, once it has taken us.
    bool connected() { return request({}, 4).size() == 4; }
    void makeObject(std::size_t bytes)
    {
        const int fd = ::shm_open(m_name.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(bytes)), 0);
        ::close(fd);
    }
    int start(int width, int height, int bytesPerPixel)
    {
        QByteArray message(1 + Proto::kStartBytes, 'S');
        auto* field = reinterpret_cast<unsigned char*>(message.data()) + 1;
        for (const int value : { width, height, bytesPerPixel, 133 })
            Proto::putInt32(std::exchange(field, field + 4), value);
        const QByteArray answer = request(message, 4);
        return answer.size() == 4
            ? Proto::getInt32(reinterpret_cast<const unsigned char*>(answer.data()))
            : -1;
    }
    bool exchange(char message) { return request(QByteArray(1, message), 1) == "."; }
    void cut()
    {
        ::close(m_socket);
        m_socket = -1;
    }

private:
    QByteArray request(const QByteArray& message, int answerBytes)
    {
        QByteArray answer(answerBytes, 0);
        if (::send(m_socket, message.constData(), static_cast<std::size_t>(message.size()),
                MSG_NOSIGNAL)
                != message.size()
            || ::recv(m_socket, answer.data(), static_cast<std::size_t>(answerBytes), MSG_WAITALL)
                != answerBytes)
            return {};
        return answer;
    }

    std::string m_name;
    int m_socket = -1;
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
        // Nothing of a refused or ended stream stays open or named.
        EXPECT_EQ(sharedObjectDescriptors(), 0);
        EXPECT_FALSE(QFile::exists(
            QString::fromStdString("/dev/shm" + Proto::sharedMemoryName(::getpid(), "Refusals"))));
    }
}

// Ending the server must not wait for a tool that keeps its connection open.
TEST(FrameLinkServer, TerminatesWhileAToolIsConnected)
{
    RecordedServer recorded("Terminated");
    FakeTool tool(recorded.server);
    ASSERT_TRUE(tool.connected());
    tool.makeObject(320 * 240 * 2);
    ASSERT_EQ(tool.start(320, 240, 2), 1);
    recorded.server.terminateConnection();
    EXPECT_EQ(recorded.count("stop"), 1);
    EXPECT_FALSE(QFile::exists(recorded.server.socketPath()));
}

// Pictures come at the size asked when it is smaller on both sides, else at
// the stream's own; a size asked between pictures, as while paused, brings
// the last picture again at that size.
TEST(FrameLinkServer, MakesPicturesAtTheSizeAskedWhenItIsSmaller)
{
    FrameLinkServer server("Sizes");
    std::mutex mutex;
    std::condition_variable changed;
    QList<QSize> sizes;
    QObject::connect(
        &server, &FrameLinkServer::pictureReady, &server,
        [&] {
            const QImage picture = server.takePicture();
            const std::lock_guard lock(mutex);
            sizes << picture.size();
            changed.notify_all();
        },
        Qt::DirectConnection);
    ASSERT_TRUE(server.listen());
    FakeTool tool(server);
    ASSERT_TRUE(tool.connected());
    tool.makeObject(320 * 240 * 2);
    ASSERT_EQ(tool.start(320, 240, 2), 1);
    const auto lastSize = [&] {
        const std::lock_guard lock(mutex);
        return sizes.value(sizes.size() - 1);
    };
    struct Row {
        const char* name;
        QSize asked;
        QSize made;
    };
    const Row rows[] = {
        { "nothing asked", {}, { 320, 240 } },
        { "smaller", { 160, 90 }, { 160, 90 } },
        { "larger", { 640, 480 }, { 320, 240 } },
        { "lower only", { 320, 120 }, { 320, 120 } },
        { "wider", { 400, 120 }, { 320, 240 } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        server.setPictureSize(row.asked);
        ASSERT_TRUE(tool.exchange('R'));
        EXPECT_EQ(lastSize(), row.made);
    }
    server.setPictureSize({ 80, 60 });
    std::unique_lock lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, 5s, [&] { return sizes.last() == QSize(80, 60); }));
}

// The converter reads a little past a picture whose rows are not whole
// vectors: past the end of the tool's object, whose size is a whole number of
// pages here, there must still be something to read.
TEST(FrameLinkServer, ReadsNoFurtherThanItMappedPastThePicture)
{
    FrameLinkServer server("Spare");
    ASSERT_TRUE(server.listen());
    FakeTool tool(server);
    ASSERT_TRUE(tool.connected());
    tool.makeObject(1366 * 1024 * 2);
    ASSERT_EQ(tool.start(1366, 1024, 2), 1);
    server.setPictureSize({ 683, 512 });
    ASSERT_TRUE(tool.exchange('R'));
    EXPECT_EQ(server.takePicture().size(), QSize(683, 512));
}

// The socket lies only where no one else can reach it, on a path that fits.
TEST(FrameLinkServer, ListensOnlyInAPrivateFolderOnAPathThatFits)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QString fallback = QDir::tempPath() + QStringLiteral("/quillon-%1").arg(::getuid());
    struct Row {
        const char* name;
        QString bufferName;
        bool runtimeFolder; // else the fallback in the temporary folder
        int fallbackMode; // of a fallback folder made beforehand, or 0 for none
        bool listens;
    };
    const Row rows[] = {
        { "path too long", QString(100, 'x'), true, 0, false },
        { "fallback made private", "Fallback", false, 0, true },
        { "fallback open to others", "Fallback", false, 0777, false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QDir(fallback).removeRecursively();
        const QByteArray folder = QFile::encodeName(fallback);
        if (row.fallbackMode != 0) {
            ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
            ASSERT_EQ(::chmod(folder.constData(), static_cast<mode_t>(row.fallbackMode)), 0);
        }
        row.runtimeFolder ? qputenv("XDG_RUNTIME_DIR", runtime) : qunsetenv("XDG_RUNTIME_DIR");
        FrameLinkServer server(row.bufferName);
        EXPECT_EQ(server.listen(), row.listens);
        if (row.listens) {
            EXPECT_TRUE(server.socketPath().startsWith(fallback + "/"));
            struct stat info { };
            EXPECT_EQ(::stat(folder.constData(), &info), 0);
            EXPECT_EQ(info.st_mode & 0777, 0700u);
        }
    }
    qputenv("XDG_RUNTIME_DIR", runtime);
}

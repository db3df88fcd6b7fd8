#include "FrameLinkClient.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

namespace Proto = MPlayerOSXVOProto;

// A server answers at once, since it never waits for its interface; one that
// has not answered in this time has hung, and the pictures go unsent.
constexpr int kAnswerTimeoutMs = 5000;

void complain(const std::string& text)
{
    std::fprintf(stderr, "DORavuzo: %s\n", text.c_str());
}

AVPixelFormat converterFormat(const Proto::PixelFormat& format)
{
    return format == Proto::kFormat2vuy ? AV_PIX_FMT_UYVY422 : AV_PIX_FMT_YUYV422;
}

} // namespace

FrameLinkClient::FrameLinkClient(pid_t serverPid, std::string bufferName)
    : m_serverPid(serverPid)
    , m_bufferName(std::move(bufferName))
{
    connectToServer();
}

FrameLinkClient::~FrameLinkClient()
{
    stop();
    if (m_socket >= 0)
        ::close(m_socket);
}

bool FrameLinkClient::connectToServer()
{
    const std::string path = Proto::socketPath(m_serverPid, m_bufferName);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() > Proto::kSocketPathLimit) {
        complain("the frame link's path is too long: " + path);
        return false;
    }
    // A socket in a folder others may write to could be anyone's.
    if (!Proto::isPrivateFolder(Proto::socketFolder()))
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    m_socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0)
        return false;
    if (::connect(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return true;
    // No server: the pictures are read and dropped.
    ::close(m_socket);
    m_socket = -1;
    return false;
}

// The server writes its pixel format on accept; it is read when the first
// stream begins, by which time it has long been sent.
bool FrameLinkClient::readFormat()
{
    Proto::PixelFormat format {};
    if (!receive(reinterpret_cast<unsigned char*>(format.data()), format.size()))
        return false;
    if (format != Proto::kFormatYuvs && format != Proto::kFormat2vuy) {
        drop("the frame link asks for an unknown pixel format");
        return false;
    }
    m_format = format;
    return true;
}

void FrameLinkClient::start(int width, int height, int aspectTimes100)
{
    stop();
    if (m_socket < 0 || (!m_format && !readFormat()))
        return;
    if (width % 2 != 0) {
        complain("a picture of odd width cannot be packed two pixels at a time");
        return;
    }
    const std::string name = Proto::sharedMemoryName(m_serverPid, m_bufferName);
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height)
        * Proto::kBytesPerPixel;
    if (!makeSharedObject(name, bytes))
        return;
    unsigned char message[1 + Proto::kStartBytes]
        = { static_cast<unsigned char>(Proto::Message::Start) };
    Proto::putInt32(message + 1, width);
    Proto::putInt32(message + 5, height);
    Proto::putInt32(message + 9, Proto::kBytesPerPixel);
    Proto::putInt32(message + 13, aspectTimes100);
    unsigned char answer[4] = {};
    const bool answered = send(message, sizeof message) && receive(answer, sizeof answer);
    // The server has mapped the object or refused it: the name is no longer needed.
    ::shm_unlink(name.c_str());
    m_width = width;
    m_height = height;
    if (!answered || Proto::getInt32(answer) != Proto::kStartAccepted
        || !startConverter(width, height)) {
        releasePicture();
        return;
    }
    m_started = true;
}

bool FrameLinkClient::makeSharedObject(const std::string& name, std::size_t bytes)
{
    int fd = ::shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
        // Left by a tool of ours killed between making it and the answer: the
        // name holds our uid and our server's pid.
        ::shm_unlink(name.c_str());
        fd = ::shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    }
    if (fd < 0) {
        complain("cannot make the shared picture " + name + ": " + std::strerror(errno));
        return false;
    }
    void* mapping = MAP_FAILED;
    if (::ftruncate(fd, static_cast<off_t>(bytes)) == 0)
        mapping = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (mapping == MAP_FAILED) {
        complain("cannot map the shared picture " + name + ": " + std::strerror(errno));
        ::shm_unlink(name.c_str());
        return false;
    }
    m_picture = static_cast<std::uint8_t*>(mapping);
    m_pictureBytes = bytes;
    return true;
}

bool FrameLinkClient::startConverter(int width, int height)
{
    m_converter = ::sws_getContext(width, height, AV_PIX_FMT_YUV420P, width, height,
        converterFormat(*m_format), SWS_POINT, nullptr, nullptr, nullptr);
    return m_converter != nullptr;
}

void FrameLinkClient::render(const Y4mStream::Picture& picture)
{
    if (!m_started || picture.width != m_width || picture.height != m_height)
        return;
    std::uint8_t* const target[4] = { m_picture, nullptr, nullptr, nullptr };
    const int targetStrides[4] = { m_width * Proto::kBytesPerPixel, 0, 0, 0 };
    ::sws_scale(m_converter, picture.planes, picture.strides, 0, m_height, target, targetStrides);
    exchange(Proto::Message::Render);
}

void FrameLinkClient::stop()
{
    if (!m_started)
        return;
    m_started = false;
    exchange(Proto::Message::Stop);
    releasePicture();
}

void FrameLinkClient::releasePicture()
{
    if (m_picture)
        ::munmap(m_picture, m_pictureBytes);
    m_picture = nullptr;
    m_pictureBytes = 0;
    ::sws_freeContext(m_converter);
    m_converter = nullptr;
}

bool FrameLinkClient::exchange(Proto::Message message)
{
    const auto byte = static_cast<unsigned char>(message);
    unsigned char answer = 0;
    return send(&byte, 1) && receive(&answer, 1);
}

bool FrameLinkClient::send(const unsigned char* bytes, std::size_t count)
{
    while (m_socket >= 0 && count > 0) {
        const ssize_t sent = ::send(m_socket, bytes, count, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0) {
            drop("the frame link was cut");
            return false;
        }
        bytes += sent;
        count -= static_cast<std::size_t>(sent);
    }
    return m_socket >= 0;
}

bool FrameLinkClient::receive(unsigned char* bytes, std::size_t count)
{
    while (m_socket >= 0 && count > 0) {
        pollfd watched { m_socket, POLLIN, 0 };
        const int ready = ::poll(&watched, 1, kAnswerTimeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            drop("the frame link stopped answering");
            return false;
        }
        const ssize_t received = ::recv(m_socket, bytes, count, 0);
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0) {
            drop("the frame link was cut");
            return false;
        }
        bytes += received;
        count -= static_cast<std::size_t>(received);
    }
    return m_socket >= 0;
}

void FrameLinkClient::drop(const std::string& reason)
{
    complain(reason);
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    m_started = false;
    releasePicture();
}

#include "player/FrameLinkServer.h"

#include "platform/DNLogger.h"

#include <QtEndian>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace Proto = MPlayerOSXVOProto;

namespace {

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "QImage::Format_RGB32 is BGRA in memory here");

// swscale may read a little past the last pixel of a row with its vector code.
constexpr std::size_t kReadPadding = 64;

std::uint32_t packFormat(const Proto::PixelFormat& format)
{
    std::uint32_t packed = 0;
    std::memcpy(&packed, format.data(), sizeof packed);
    return packed;
}

Proto::PixelFormat unpackFormat(std::uint32_t packed)
{
    Proto::PixelFormat format {};
    std::memcpy(format.data(), &packed, sizeof packed);
    return format;
}

bool writeAll(int fd, const void* bytes, std::size_t count)
{
    const auto* next = static_cast<const char*>(bytes);
    while (count > 0) {
        const ssize_t written = ::send(fd, next, count, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        next += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

// The stream the connected tool announced: its shared picture, mapped
// read-only, and what turns a copy of it into an image.
struct Stream {
    const unsigned char* mapping = nullptr;
    std::size_t bytes = 0;
    QSize size;
    std::vector<unsigned char> copy;
    SwsContext* converter = nullptr;
    bool firstShown = false;

    bool running() const { return mapping != nullptr; }
};

// Why a start is refused, or empty when its numbers can be mapped.
QString refusalOf(std::int32_t width, std::int32_t height, std::int32_t bytes)
{
    const auto fits = [](std::int32_t side) { return side >= 1 && side <= Proto::kLargestSide; };
    if (!fits(width) || !fits(height))
        return QStringLiteral("a picture of %1x%2").arg(width).arg(height);
    if (bytes != Proto::kBytesPerPixel)
        return QStringLiteral("%1 bytes per pixel").arg(bytes);
    // Packed 4:2:2 holds pixels in pairs.
    if (width % 2 != 0)
        return QStringLiteral("an odd width of %1").arg(width);
    return {};
}

} // namespace

struct FrameLinkServer::Impl {
    FrameLinkServer* owner = nullptr;
    QString bufferName;
    std::string socketPath;
    int listening = -1;
    int wake = -1;
    std::thread thread;
    std::atomic<std::uint32_t> pixelFormat { packFormat(Proto::kFormatYuvs) };
    std::mutex pictureMutex;
    QImage latest; // guarded by pictureMutex
    Stream stream; // the server thread's alone

    bool bindSocket();
    void serve();
    void serveConnection(int connection);
    bool answer(int connection, unsigned char message);
    bool waitReadable(int fd) const;
    bool readExact(int fd, unsigned char* bytes, std::size_t count) const;
    std::int32_t start(const unsigned char* fields, const Proto::PixelFormat& format);
    bool mapPicture(std::size_t bytes);
    void render();
    void stop();
    void release();
    void closeAll();
};

FrameLinkServer::FrameLinkServer(QString bufferName, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Impl>())
{
    d->owner = this;
    d->bufferName = std::move(bufferName);
    d->socketPath = Proto::socketPath(::getpid(), d->bufferName.toStdString());
}

FrameLinkServer::~FrameLinkServer()
{
    terminateConnection();
}

QString FrameLinkServer::bufferName() const
{
    return d->bufferName;
}

QString FrameLinkServer::socketPath() const
{
    return QString::fromStdString(d->socketPath);
}

void FrameLinkServer::setPixFormat(Proto::PixelFormat format)
{
    d->pixelFormat = packFormat(format);
}

QImage FrameLinkServer::takePicture()
{
    const std::lock_guard lock(d->pictureMutex);
    return std::exchange(d->latest, QImage());
}

bool FrameLinkServer::listen()
{
    if (d->thread.joinable())
        return true;
    if (!d->bindSocket()) {
        d->closeAll();
        return false;
    }
    d->thread = std::thread([this] { d->serve(); });
    return true;
}

void FrameLinkServer::terminateConnection()
{
    if (d->thread.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(d->wake, &one, sizeof one);
        d->thread.join();
    }
    d->closeAll();
}

bool FrameLinkServer::Impl::bindSocket()
{
    const std::string folder = Proto::socketFolder();
    ::mkdir(folder.c_str(), 0700);
    if (!Proto::isPrivateFolder(folder)) {
        DNLog(QStringLiteral("The frame link is not served: %1 is not a private folder of ours.")
                  .arg(QString::fromStdString(folder)));
        return false;
    }
    if (socketPath.size() > Proto::kSocketPathLimit) {
        DNLog(QStringLiteral("The frame link is not served: its socket path is too long: %1")
                  .arg(QString::fromStdString(socketPath)));
        return false;
    }
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    wake = ::eventfd(0, EFD_CLOEXEC);
    // A socket file of this name is an earlier server's of this very process.
    ::unlink(socketPath.c_str());
    if (listening < 0 || wake < 0
        || ::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
        || ::listen(listening, 4) != 0) {
        DNLog(QStringLiteral("The frame link cannot listen on %1: %2")
                  .arg(QString::fromStdString(socketPath),
                      QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    return true;
}

void FrameLinkServer::Impl::closeAll()
{
    if (listening >= 0) {
        ::close(listening);
        ::unlink(socketPath.c_str());
    }
    if (wake >= 0)
        ::close(wake);
    listening = wake = -1;
}

// One tool at a time; the next one (a later player under the same name)
// waits in the backlog until the current one has gone.
void FrameLinkServer::Impl::serve()
{
    while (waitReadable(listening)) {
        const int connection = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        serveConnection(connection);
        ::close(connection);
    }
    stop();
}

void FrameLinkServer::Impl::serveConnection(int connection)
{
    const Proto::PixelFormat format = unpackFormat(pixelFormat);
    bool serving = writeAll(connection, format.data(), format.size());
    unsigned char message = 0;
    while (serving && readExact(connection, &message, 1))
        serving = answer(connection, message);
    // A tool that dies sends no stop, and one killed before its start was
    // answered leaves its picture's name behind.
    stop();
    ::shm_unlink(Proto::sharedMemoryName(::getpid(), bufferName.toStdString()).c_str());
}

bool FrameLinkServer::Impl::answer(int connection, unsigned char message)
{
    switch (static_cast<Proto::Message>(message)) {
    case Proto::Message::Start: {
        unsigned char fields[Proto::kStartBytes] = {};
        if (!readExact(connection, fields, sizeof fields))
            return false;
        unsigned char reply[4] = {};
        Proto::putInt32(reply, start(fields, unpackFormat(pixelFormat)));
        return writeAll(connection, reply, sizeof reply);
    }
    case Proto::Message::Render:
        render();
        break;
    case Proto::Message::Stop:
        stop();
        break;
    case Proto::Message::ToggleFullscreen:
    case Proto::Message::OnTop:
        break;
    default:
        DNLog(QStringLiteral("The frame link ended a connection that sent the unknown message %1.")
                  .arg(message));
        return false;
    }
    return writeAll(connection, &Proto::kDone, 1);
}

// False once the server is asked to end.
bool FrameLinkServer::Impl::waitReadable(int fd) const
{
    while (true) {
        pollfd watched[2] = { { fd, POLLIN, 0 }, { wake, POLLIN, 0 } };
        const int ready = ::poll(watched, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || watched[1].revents != 0)
            return false;
        if (watched[0].revents != 0)
            return true;
    }
}

bool FrameLinkServer::Impl::readExact(int fd, unsigned char* bytes, std::size_t count) const
{
    while (count > 0) {
        if (!waitReadable(fd))
            return false;
        const ssize_t received = ::recv(fd, bytes, count, 0);
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0)
            return false;
        bytes += received;
        count -= static_cast<std::size_t>(received);
    }
    return true;
}

std::int32_t FrameLinkServer::Impl::start(
    const unsigned char* fields, const Proto::PixelFormat& format)
{
    stop();
    const std::int32_t width = Proto::getInt32(fields);
    const std::int32_t height = Proto::getInt32(fields + 4);
    const std::int32_t bytesPerPixel = Proto::getInt32(fields + 8);
    const std::int32_t aspect = Proto::getInt32(fields + 12);
    const QString refusal = refusalOf(width, height, bytesPerPixel);
    if (!refusal.isEmpty()) {
        DNLog(QStringLiteral("The frame link refused %1.").arg(refusal));
        return Proto::kStartRefused;
    }
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height)
        * static_cast<std::size_t>(bytesPerPixel);
    if (!mapPicture(bytes))
        return Proto::kStartRefused;
    const AVPixelFormat source
        = format == Proto::kFormat2vuy ? AV_PIX_FMT_UYVY422 : AV_PIX_FMT_YUYV422;
    stream.converter = ::sws_getContext(width, height, source, width, height, AV_PIX_FMT_BGRA,
        SWS_POINT, nullptr, nullptr, nullptr);
    stream.size = QSize(width, height);
    stream.copy.assign(bytes + kReadPadding, 0);
    stream.firstShown = false;
    if (!stream.converter) {
        release();
        return Proto::kStartRefused;
    }
    emit owner->mplayerWillStart(stream.size, aspect);
    return Proto::kStartAccepted;
}

// Maps the tool's object once it has proved to be ours and as large as announced.
bool FrameLinkServer::Impl::mapPicture(std::size_t bytes)
{
    const std::string name = Proto::sharedMemoryName(::getpid(), bufferName.toStdString());
    const int fd = ::shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) {
        DNLog(QStringLiteral("The frame link cannot open the shared picture %1: %2")
                  .arg(QString::fromStdString(name), QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    struct stat info { };
    void* mapping = MAP_FAILED;
    if (::fstat(fd, &info) == 0 && info.st_uid == ::getuid() && info.st_size >= 0
        && static_cast<std::size_t>(info.st_size) >= bytes)
        mapping = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
    // The mapping keeps the object; the descriptor is not needed either way.
    ::close(fd);
    if (mapping == MAP_FAILED) {
        DNLog(QStringLiteral("The frame link refused the shared picture %1: it is not ours or "
                             "smaller than announced.")
                  .arg(QString::fromStdString(name)));
        return false;
    }
    stream.mapping = static_cast<const unsigned char*>(mapping);
    stream.bytes = bytes;
    return true;
}

void FrameLinkServer::Impl::render()
{
    // A render outside a stream would read a picture that is not mapped.
    if (!stream.running())
        return;
    std::memcpy(stream.copy.data(), stream.mapping, stream.bytes);
    QImage image(stream.size, QImage::Format_RGB32);
    const std::uint8_t* const source[4] = { stream.copy.data(), nullptr, nullptr, nullptr };
    const int sourceStrides[4] = { stream.size.width() * Proto::kBytesPerPixel, 0, 0, 0 };
    std::uint8_t* const target[4] = { image.bits(), nullptr, nullptr, nullptr };
    const int targetStrides[4] = { static_cast<int>(image.bytesPerLine()), 0, 0, 0 };
    ::sws_scale(
        stream.converter, source, sourceStrides, 0, stream.size.height(), target, targetStrides);
    bool wasTaken = false;
    {
        const std::lock_guard lock(pictureMutex);
        wasTaken = latest.isNull();
        latest = std::move(image);
    }
    // One notice until the picture is taken: a slow receiver sees the latest only.
    if (wasTaken)
        emit owner->pictureReady();
    if (!stream.firstShown) {
        stream.firstShown = true;
        emit owner->mplayerDidStart();
    }
}

void FrameLinkServer::Impl::stop()
{
    if (!stream.running())
        return;
    release();
    emit owner->mplayerDidEnded();
}

void FrameLinkServer::Impl::release()
{
    ::munmap(const_cast<unsigned char*>(stream.mapping), stream.bytes);
    ::sws_freeContext(stream.converter);
    stream = Stream();
}

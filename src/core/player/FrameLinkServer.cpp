#include "player/FrameLinkServer.h"

#include "platform/DNLogger.h"
#include "player/PackedPictureConverter.h"

#include <QtEndian>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace Proto = MPlayerOSXVOProto;

namespace {

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
// read-only, and what turns it into an image of the size asked.
struct Stream {
    const unsigned char* mapping = nullptr;
    // The mapping's length: the picture and the readable bytes past it.
    std::size_t bytes = 0;
    QSize size;
    std::unique_ptr<PackedPictureConverter> converter;
    bool firstShown = false;

    bool running() const { return mapping != nullptr; }
};

std::uint64_t packSize(QSize size)
{
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(size.width())) << 32
        | static_cast<std::uint32_t>(size.height());
}

QSize unpackSize(std::uint64_t packed)
{
    return { static_cast<int>(packed >> 32), static_cast<int>(packed & 0xffffffffU) };
}

// The stream's own size unless a smaller one is asked on both sides: the
// server only ever scales down, where scaling while converting costs less
// than converting every pixel and scaling the image afterwards.
QSize pictureSizeFor(QSize streamSize, QSize asked)
{
    if (asked.isEmpty() || asked.width() > streamSize.width()
        || asked.height() > streamSize.height())
        return streamSize;
    return asked;
}

// The picture mapped read-only with zeros past its end for the converter to
// read: an anonymous area of that length, the picture mapped over its start.
void* mapWithSpare(int fd, std::size_t bytes)
{
    const std::size_t length = bytes + PackedPictureConverter::kReadablePastPicture;
    void* const area = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED)
        return MAP_FAILED;
    if (::mmap(area, bytes, PROT_READ, MAP_SHARED | MAP_FIXED, fd, 0) == MAP_FAILED) {
        ::munmap(area, length);
        return MAP_FAILED;
    }
    return area;
}

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
    int resized = -1;
    std::thread thread;
    std::atomic<std::uint32_t> pixelFormat { packFormat(Proto::kFormatYuvs) };
    std::atomic<std::uint64_t> pictureSize { 0 };
    std::mutex pictureMutex;
    QImage latest; // guarded by pictureMutex
    Stream stream; // the server thread's alone

    bool bindSocket();
    void serve();
    void serveConnection(int connection);
    bool answer(int connection, unsigned char message);
    bool waitReadable(int fd);
    bool readExact(int fd, unsigned char* bytes, std::size_t count);
    std::int32_t start(const unsigned char* fields, const Proto::PixelFormat& format);
    bool mapPicture(std::size_t bytes);
    bool prepareConverter();
    void render();
    void renderAgainIfResized();
    void publish(QImage image);
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

void FrameLinkServer::setPictureSize(QSize size)
{
    if (d->pictureSize.exchange(packSize(size)) == packSize(size) || d->resized < 0)
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(d->resized, &one, sizeof one);
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
    resized = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // A socket file of this name is an earlier server's of this very process.
    ::unlink(socketPath.c_str());
    if (listening < 0 || wake < 0 || resized < 0
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
    if (resized >= 0)
        ::close(resized);
    listening = wake = resized = -1;
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

// False once the server is asked to end. A new picture size asked meanwhile
// is served at once, so that a paused stream shows its picture at that size.
bool FrameLinkServer::Impl::waitReadable(int fd)
{
    while (true) {
        pollfd watched[3] = { { fd, POLLIN, 0 }, { wake, POLLIN, 0 }, { resized, POLLIN, 0 } };
        const int ready = ::poll(watched, 3, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || watched[1].revents != 0)
            return false;
        if (watched[2].revents != 0)
            renderAgainIfResized();
        if (watched[0].revents != 0)
            return true;
    }
}

bool FrameLinkServer::Impl::readExact(int fd, unsigned char* bytes, std::size_t count)
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
    stream.size = QSize(width, height);
    stream.converter = std::make_unique<PackedPictureConverter>(stream.size, format);
    stream.firstShown = false;
    if (!prepareConverter()) {
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
        mapping = mapWithSpare(fd, bytes);
    // The mapping keeps the object; the descriptor is not needed either way.
    ::close(fd);
    if (mapping == MAP_FAILED) {
        DNLog(QStringLiteral("The frame link refused the shared picture %1: it is not ours or "
                             "smaller than announced.")
                  .arg(QString::fromStdString(name)));
        return false;
    }
    stream.mapping = static_cast<const unsigned char*>(mapping);
    stream.bytes = bytes + PackedPictureConverter::kReadablePastPicture;
    return true;
}

// The converter set to the size asked now, else to the stream's own.
bool FrameLinkServer::Impl::prepareConverter()
{
    const QSize size = pictureSizeFor(stream.size, unpackSize(pictureSize));
    return stream.converter->setImageSize(size)
        || (size != stream.size && stream.converter->setImageSize(stream.size));
}

// The picture is read where it lies: the tool writes the next one only after
// our answer.
void FrameLinkServer::Impl::render()
{
    // A render outside a stream would read a picture that is not mapped.
    if (!stream.running() || !prepareConverter())
        return;
    publish(stream.converter->convert(stream.mapping));
    if (!stream.firstShown) {
        stream.firstShown = true;
        emit owner->mplayerDidStart();
    }
}

// The picture shown last is converted again. The tool writes a picture right
// before it sends 'R': while it is paused nothing changes the picture, and
// while it plays a picture caught as it is written is replaced at once by the
// render that follows.
void FrameLinkServer::Impl::renderAgainIfResized()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t ignored = ::read(resized, &count, sizeof count);
    if (!stream.running() || !stream.firstShown
        || pictureSizeFor(stream.size, unpackSize(pictureSize)) == stream.converter->imageSize()
        || !prepareConverter())
        return;
    publish(stream.converter->convert(stream.mapping));
}

void FrameLinkServer::Impl::publish(QImage image)
{
    if (image.isNull())
        return;
    bool wasTaken = false;
    {
        const std::lock_guard lock(pictureMutex);
        wasTaken = latest.isNull();
        latest = std::move(image);
    }
    // One notice until the picture is taken: a slow receiver sees the latest only.
    if (wasTaken)
        emit owner->pictureReady();
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
    stream = Stream();
}

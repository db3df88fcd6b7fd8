#include "platform/SingleInstance.h"

#include "platform/AppPaths.h"
#include "platform/DNLogger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QtEndian>

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The message: a 32-bit big-endian byte count, then the absolute paths in
// UTF-8, each ended by a NUL (a byte no path holds). The running copy answers
// one byte once it has taken them.
namespace {

constexpr char kTaken = 1;

QByteArray messageOf(const QStringList& files)
{
    QByteArray paths;
    for (const QString& file : files)
        paths += QFileInfo(file).absoluteFilePath().toUtf8() + '\0';
    QByteArray message(4, '\0');
    qToBigEndian(quint32(paths.size()), message.data());
    return message + paths;
}

QStringList filesOf(const QByteArray& paths)
{
    QStringList files;
    for (const QByteArray& path : paths.split('\0'))
        if (!path.isEmpty())
            files << QString::fromUtf8(path);
    return files;
}

class Descriptor {
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    { }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    const int m_fd;
};

bool connectTo(int fd, const QByteArray& path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    // A socket no copy listens on any more refuses at once.
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool sendAll(int fd, const QByteArray& bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n
            = ::send(fd, bytes.constData() + sent, std::size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

bool answered(int fd, std::chrono::milliseconds timeout)
{
    pollfd waiting { fd, POLLIN, 0 };
    int ready = 0;
    do
        ready = ::poll(&waiting, 1, int(timeout.count()));
    while (ready < 0 && errno == EINTR);
    char answer = 0;
    return ready == 1 && ::recv(fd, &answer, 1, 0) == 1 && answer == kTaken;
}

} // namespace

QString SingleInstance::socketPath()
{
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime + '/' + AppPaths::productName() + QStringLiteral("/instance");
}

bool SingleInstance::handOver(const QStringList& files, std::chrono::milliseconds timeout)
{
    const Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.get() < 0 || !connectTo(socket.get(), QFile::encodeName(socketPath())))
        return false;
    return sendAll(socket.get(), messageOf(files)) && answered(socket.get(), timeout);
}

InstanceServer::InstanceServer(QObject* parent)
    : QObject(parent)
    , m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &InstanceServer::accept);
}

InstanceServer::~InstanceServer()
{
    m_server->close();
}

bool InstanceServer::listen()
{
    const QString path = SingleInstance::socketPath();
    if (!AppPaths::ensurePrivateFolder(QFileInfo(path).absolutePath())) {
        DNLog(QStringLiteral("Cannot make the private folder of %1").arg(path));
        return false;
    }
    // This start found no copy answering there: what is left is a crashed one's.
    QLocalServer::removeServer(path);
    if (m_server->listen(path))
        return true;
    DNLog(QStringLiteral("Cannot listen for later starts at %1: %2")
              .arg(path, m_server->errorString()));
    return false;
}

void InstanceServer::accept()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->bytesAvailable() < 4)
                return;
            const qint64 size = qFromBigEndian<quint32>(socket->peek(4).constData());
            if (size > kMaxMessageBytes) {
                socket->abort();
                return;
            }
            if (socket->bytesAvailable() < 4 + size)
                return;
            socket->read(4);
            const QStringList files = filesOf(socket->read(size));
            socket->write(&kTaken, 1);
            socket->disconnectFromServer();
            emit filesReceived(files);
        });
    }
}

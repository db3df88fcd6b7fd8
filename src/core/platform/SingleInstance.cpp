#include "platform/SingleInstance.h"

#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/Fd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The message: a 32-bit big-endian byte count, then the absolute paths in
// UTF-8, each ended by a NUL (a byte no path holds). The running copy answers
// one byte once it has taken them.
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kTaken = 1;
// How often a later start looks again for a copy that holds the claim but
// does not listen yet.
constexpr milliseconds kConnectRetry { 50 };

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

bool connectTo(int fd, const QByteArray& path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || path.size() >= qsizetype(sizeof address.sun_path)) {
        errno = ENAMETOOLONG; // not to be taken for a copy that is not there yet
        return false;
    }
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

// A blocking socket whose connect, sends and receives each give up after `limit`.
int boundedSocket(milliseconds limit)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval time { limit.count() / 1000, (limit.count() % 1000) * 1000 };
    if (fd >= 0)
        for (const int option : { SO_SNDTIMEO, SO_RCVTIMEO })
            ::setsockopt(fd, SOL_SOCKET, option, &time, sizeof time);
    return fd;
}

// The files go only to a copy of this user: a socket of someone else's at
// that path (a shared /tmp as the runtime folder) learns nothing.
bool servedByUs(int fd)
{
    ucred peer {};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
}

// A socket connected to the running copy, or -1 once `deadline` has passed.
// The copy that holds the claim may not listen yet (its window is still
// being made), so a missing or refusing socket is tried again.
int connectToRunningCopy(const QByteArray& path, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left <= milliseconds::zero())
            return -1;
        const int fd = boundedSocket(left);
        if (fd < 0)
            return -1;
        if (connectTo(fd, path))
            return fd;
        const bool notYet = errno == ENOENT || errno == ECONNREFUSED;
        ::close(fd);
        if (!notYet)
            return -1;
        std::this_thread::sleep_for(std::min(kConnectRetry, left));
    }
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

bool answered(int fd, Clock::time_point deadline)
{
    pollfd waiting { fd, POLLIN, 0 };
    int ready = 0;
    do {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        ready = ::poll(&waiting, 1, int(std::max(left, milliseconds::zero()).count()));
    } while (ready < 0 && errno == EINTR);
    char answer = 0;
    return ready == 1 && ::recv(fd, &answer, 1, 0) == 1 && answer == kTaken;
}

} // namespace

QString SingleInstance::socketPath()
{
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    // Qt gives none when its fallback folder in /tmp is someone else's.
    if (runtime.isEmpty())
        return {};
    return runtime + '/' + AppPaths::productName() + QStringLiteral("/instance");
}

SingleInstance::Claim SingleInstance::Claim::take()
{
    const QString path = socketPath();
    if (path.isEmpty() || !AppPaths::ensurePrivateFolder(QFileInfo(path).absolutePath()))
        return { -1, State::Unavailable };
    const int fd = ::open(QFile::encodeName(path + QStringLiteral(".lock")).constData(),
        O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return { -1, State::Unavailable };
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return { fd, State::Held };
    const State state = errno == EWOULDBLOCK ? State::HeldElsewhere : State::Unavailable;
    ::close(fd);
    return { -1, state };
}

SingleInstance::Claim::Claim(int fd, State state)
    : m_fd(fd)
    , m_state(state)
{ }

SingleInstance::Claim::Claim(Claim&& other) noexcept
    : m_fd(std::move(other.m_fd))
    , m_state(std::exchange(other.m_state, State::Unavailable))
{ }

SingleInstance::Claim& SingleInstance::Claim::operator=(Claim&& other) noexcept
{
    std::swap(m_fd, other.m_fd);
    std::swap(m_state, other.m_state);
    return *this;
}

bool SingleInstance::handOver(const QStringList& files, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    const Fd socket(connectToRunningCopy(QFile::encodeName(socketPath()), deadline));
    if (socket.get() < 0 || !servedByUs(socket.get()))
        return false;
    return sendAll(socket.get(), messageOf(files)) && answered(socket.get(), deadline);
}

InstanceServer::InstanceServer(SingleInstance::Claim claim, QObject* parent)
    : QObject(parent)
    , m_claim(std::move(claim))
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
    if (m_claim.state() != SingleInstance::Claim::State::Held) {
        DNLog(QStringLiteral("Later starts are not taken: %1")
                  .arg(m_claim.state() == SingleInstance::Claim::State::HeldElsewhere
                          ? QStringLiteral("another copy listens at %1").arg(path)
                          : QStringLiteral("no private runtime folder")));
        return false;
    }
    // Only the claim's holder listens: what is left there is a crashed copy's.
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
        QTimer::singleShot(kMessageTimeLimit, socket, &QLocalSocket::abort);
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

#pragma once

// The small HTTP servers the download benchmarks fetch from over loopback, so
// that the network is out of what they measure, and curl, the client they
// measure against.

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace bench {

struct LoopbackListener {
    int socket = -1;
    quint16 port = 0;
};

// A socket listening on 127.0.0.1, on a port the system chooses.
inline LoopbackListener listenOnLoopback()
{
    LoopbackListener listener;
    listener.socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener.socket, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(listener.socket, 16);
    ::getsockname(listener.socket, reinterpret_cast<sockaddr*>(&address), &length);
    listener.port = ntohs(address.sin_port);
    return listener;
}

// Sends the whole of `data`; false when the connection ended first.
inline bool sendAll(int connection, const char* data, qint64 length)
{
    while (length > 0) {
        const ssize_t sent = ::send(connection, data, size_t(length), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        length -= sent;
    }
    return true;
}

// Answers every request on a connection with `size` made-up bytes, made as
// they are sent so that nothing is stored, and keeps the connection for the
// next request until the client closes it. One thread per connection.
class BodyServer {
public:
    BodyServer(qint64 size, QString path, std::string contentType)
        : m_size(size)
        , m_path(std::move(path))
        , m_contentType(std::move(contentType))
        , m_block(1 << 20, '\0')
        , m_listener(listenOnLoopback())
    {
        for (size_t i = 0; i < m_block.size(); ++i)
            m_block[i] = char(i * 31 + i / 4093);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }

    ~BodyServer()
    {
        m_stopping = true;
        ::shutdown(m_listener.socket, SHUT_RDWR);
        ::close(m_listener.socket);
        m_acceptor.join();
        // Connections a client keeps open end here.
        for (const int connection : m_connections)
            ::shutdown(connection, SHUT_RDWR);
        for (std::thread& worker : m_workers)
            worker.join();
        for (const int connection : m_connections)
            ::close(connection);
    }

    BodyServer(const BodyServer&) = delete;
    BodyServer& operator=(const BodyServer&) = delete;

    QString url() const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_listener.port).arg(m_path);
    }

private:
    void acceptLoop()
    {
        while (!m_stopping) {
            const int connection = ::accept(m_listener.socket, nullptr, nullptr);
            if (connection < 0)
                return;
            m_connections.push_back(connection);
            m_workers.emplace_back([this, connection] { serve(connection); });
        }
    }

    void serve(int connection) const
    {
        std::string pending;
        char buffer[4096];
        for (ssize_t got = ::recv(connection, buffer, sizeof buffer, 0); got > 0;
             got = ::recv(connection, buffer, sizeof buffer, 0)) {
            pending.append(buffer, size_t(got));
            const size_t end = pending.find("\r\n\r\n");
            if (end == std::string::npos)
                continue;
            pending.erase(0, end + 4);
            if (!sendBody(connection))
                return;
        }
    }

    bool sendBody(int connection) const
    {
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: " + m_contentType
            + "\r\nContent-Length: " + std::to_string(m_size) + "\r\n\r\n";
        if (!sendAll(connection, head.data(), qint64(head.size())))
            return false;
        for (qint64 sent = 0; sent < m_size;) {
            const qint64 piece = std::min<qint64>(qint64(m_block.size()), m_size - sent);
            if (!sendAll(connection, m_block.data(), piece))
                return false;
            sent += piece;
        }
        return true;
    }

    const qint64 m_size;
    const QString m_path;
    const std::string m_contentType;
    std::string m_block;
    const LoopbackListener m_listener;
    std::atomic<bool> m_stopping { false };
    std::thread m_acceptor;
    std::vector<std::thread> m_workers;
    std::vector<int> m_connections;
};

// Seconds `curl -o` took to fetch `url` into `file`; negative when it failed.
inline double curlSeconds(const QString& url, const QString& file)
{
    QProcess curl;
    QElapsedTimer clock;
    clock.start();
    curl.start(QStringLiteral("curl"), { QStringLiteral("-s"), QStringLiteral("-o"), file, url });
    if (!curl.waitForFinished(-1) || curl.exitCode() != 0)
        return -1;
    return double(clock.nsecsElapsed()) / 1e9;
}

} // namespace bench

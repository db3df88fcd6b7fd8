// Download speed over loopback: the request object against curl, on the same
// small server that makes the body up as it sends it (nothing is stored).
// Each client fetches the body into /dev/null and into a file; the best of
// three runs counts. Run by hand:
//   build/<dir>/bench/http_download [MiB]        (2048 unless given)
// The ratio is curl's time over ours: 1.0 is as fast, above is faster.
#include "http/NXHTTPRequest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "BenchSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int kRuns = 3;

// Answers every request on a connection with `size` made-up bytes, keeping
// the connection for the next request, until the client closes it.
class BodyServer {
public:
    explicit BodyServer(qint64 size)
        : m_size(size)
        , m_block(1 << 20, '\0')
    {
        for (size_t i = 0; i < m_block.size(); ++i)
            m_block[i] = char(i * 31 + i / 4093);
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length);
        ::listen(m_listener, 16);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }

    ~BodyServer()
    {
        m_stopping = true;
        ::shutdown(m_listener, SHUT_RDWR);
        ::close(m_listener);
        m_acceptor.join();
        // Connections a client keeps open end here.
        for (const int connection : m_connections)
            ::shutdown(connection, SHUT_RDWR);
        for (std::thread& worker : m_workers)
            worker.join();
        for (const int connection : m_connections)
            ::close(connection);
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1/body").arg(m_port); }

private:
    void acceptLoop()
    {
        while (!m_stopping) {
            const int connection = ::accept(m_listener, nullptr, nullptr);
            if (connection < 0)
                return;
            m_connections.push_back(connection);
            m_workers.emplace_back([this, connection] { serve(connection); });
        }
    }

    void serve(int connection)
    {
        std::string pending;
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            pending.append(buffer, size_t(got));
            const size_t end = pending.find("\r\n\r\n");
            if (end == std::string::npos)
                continue;
            pending.erase(0, end + 4);
            if (!sendBody(connection))
                break;
        }
    }

    bool sendBody(int connection) const
    {
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                                 "Content-Length: "
            + std::to_string(m_size) + "\r\n\r\n";
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

    static bool sendAll(int connection, const char* data, qint64 length)
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

    qint64 m_size;
    std::string m_block;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping { false };
    std::thread m_acceptor;
    std::vector<std::thread> m_workers;
    std::vector<int> m_connections;
};

const QString kSink = QStringLiteral("/dev/null");

// Seconds one download through the request object took; negative on failure.
double oursOnce(const QString& url, const QString& file, qint64 expected)
{
    const auto request = NXHTTPRequest::requestWithURL(QUrl(url));
    request->setDownloadDestinationPath(file);
    QEventLoop loop;
    request->setCompletionBlock([&loop] { loop.quit(); });
    request->setFailedBlock([&loop] { loop.quit(); });
    QElapsedTimer clock;
    clock.start();
    request->startAsynchronous();
    loop.exec();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (request->totalBytesRead() != quint64(expected)
        || (file != kSink && QFile(file).size() != expected))
        return -1;
    return request->error().isNull() ? seconds : -1;
}

double curlOnce(const QString& url, const QString& file, qint64 expected)
{
    QProcess curl;
    QElapsedTimer clock;
    clock.start();
    curl.start(QStringLiteral("curl"), { QStringLiteral("-s"), QStringLiteral("-o"), file, url });
    if (!curl.waitForFinished(-1) || curl.exitCode() != 0)
        return -1;
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (file != kSink && QFile(file).size() != expected)
        return -1;
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const qint64 mebibytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 2048;
    const qint64 size = mebibytes * 1024 * 1024;
    if (size <= 0) {
        std::fprintf(stderr, "usage: http_download [MiB]\n");
        return 2;
    }
    BodyServer server(size);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("body"));
    std::printf("%lld MiB over loopback, best of %d runs\n", mebibytes, kRuns);
    bool ok = true;
    for (const bool toFile : { false, true }) {
        const QString target = toFile ? file : kSink;
        const double ours
            = bench::fastestOf(kRuns, [&] { return oursOnce(server.url(), target, size); });
        QFile::remove(file);
        const double theirs
            = bench::fastestOf(kRuns, [&] { return curlOnce(server.url(), target, size); });
        QFile::remove(file);
        if (ours < 0 || theirs < 0) {
            std::printf("%-5s failed\n", toFile ? "file" : "sink");
            ok = false;
            continue;
        }
        const double mb = double(size) / 1e6;
        std::printf("%-5s ours %.2f s (%.0f MB/s)  curl %.2f s (%.0f MB/s)  ratio %.2f\n",
            toFile ? "file" : "sink", ours, mb / ours, theirs, mb / theirs, theirs / ours);
    }
    return ok ? 0 : 1;
}

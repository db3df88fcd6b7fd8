// One download job through the download manager (the request into its
// partial file in Downloads, the move onto the stream file, the move onto the
// output name) against `curl -o` on the same loopback server, which makes the
// body up as it sends it. Best of three runs each. Run by hand:
//   build/<dir>/bench/video_download [MiB]        (1024 unless given)
// The ratio is curl's time over the manager's: 1.0 is as fast.
#include "download/DNYoutubeDownloadManager.h"
#include "platform/NotificationCenter.h"

#include <QCoreApplication>
#include <QDir>
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
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kRuns = 3;

// Answers every request with `size` made-up bytes, one thread per connection.
class BodyServer {
public:
    explicit BodyServer(qint64 size)
        : m_size(size)
        , m_block(1 << 20, '\0')
    {
        for (size_t i = 0; i < m_block.size(); ++i)
            m_block[i] = char(i * 7 + i / 1021);
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
        ::shutdown(m_listener, SHUT_RDWR);
        ::close(m_listener);
        m_acceptor.join();
        for (const int connection : m_connections)
            ::shutdown(connection, SHUT_RDWR);
        for (std::thread& worker : m_workers)
            worker.join();
        for (const int connection : m_connections)
            ::close(connection);
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1/video.mp4").arg(m_port); }

private:
    void acceptLoop()
    {
        for (;;) {
            const int connection = ::accept(m_listener, nullptr, nullptr);
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
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: video/mp4\r\nContent-Length: "
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
    std::thread m_acceptor;
    std::vector<std::thread> m_workers;
    std::vector<int> m_connections;
};

std::shared_ptr<DNYoutubeNode> benchNode(const QString& url, qint64 size)
{
    DNYoutubeVideoSegment segment;
    segment.containerFormat = QStringLiteral("mp4");
    segment.videoFormat = QStringLiteral("h264");
    segment.videoURLs = { url };
    segment.videoSize = double(size);
    segment.resolution = 1080;
    segment.isSelected = true;
    DNYoutubeLinkNode link;
    link.sourceURL = QStringLiteral("http://bench/page");
    link.title = QStringLiteral("Bench");
    link.videosSegments = { segment };
    auto node = DNYoutubeNode::youtubeNode();
    node->setYoutubeLink(link);
    return node;
}

// Seconds one job took from queueing to the end of the run; negative on failure.
double managerOnce(const QString& url, const QString& folder, qint64 size)
{
    const auto node = benchNode(url, size);
    QEventLoop loop;
    NotificationCenter::defaultCenter().addObserver(
        DNYoutubeDownloadManager::kFinishedDownloadProcessNotification, nullptr, &loop,
        [&loop](const Notification&) { loop.quit(); });
    QElapsedTimer clock;
    clock.start();
    if (!DNYoutubeDownloadManager::addYoutubeDownloadJob(node, folder))
        return -1;
    if (DNYoutubeDownloadManager::isYoutubeDownloaderDownloading())
        loop.exec();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const QString output = node->outputFile();
    const bool whole
        = node->state() == DNYoutubeNodeState::Finished && QFile(output).size() == size;
    QFile::remove(output);
    return whole ? seconds : -1;
}

double curlOnce(const QString& url, const QString& file, qint64 size)
{
    QProcess curl;
    QElapsedTimer clock;
    clock.start();
    curl.start(QStringLiteral("curl"), { QStringLiteral("-s"), QStringLiteral("-o"), file, url });
    if (!curl.waitForFinished(-1) || curl.exitCode() != 0)
        return -1;
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const bool whole = QFile(file).size() == size;
    QFile::remove(file);
    return whole ? seconds : -1;
}

} // namespace

int main(int argc, char** argv)
{
    // The partial files go to Downloads: a home of our own keeps the user's clean.
    const QTemporaryDir home;
    bench::useHome(home.path());
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const qint64 mebibytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024;
    const qint64 size = mebibytes * 1024 * 1024;
    if (size <= 0) {
        std::fprintf(stderr, "usage: video_download [MiB]\n");
        return 2;
    }
    const BodyServer server(size);
    const QString folder = home.filePath(QStringLiteral("Movies"));
    QDir().mkpath(folder);
    std::printf("%lld MiB over loopback, best of %d runs\n", mebibytes, kRuns);
    const double ours
        = bench::fastestOf(kRuns, [&] { return managerOnce(server.url(), folder, size); });
    const double theirs = bench::fastestOf(
        kRuns, [&] { return curlOnce(server.url(), folder + QStringLiteral("/curl.mp4"), size); });
    if (ours < 0 || theirs < 0) {
        std::printf("failed\n");
        return 1;
    }
    const double megabytes = double(size) / 1e6;
    std::printf("manager %.2f s (%.0f MB/s)  curl %.2f s (%.0f MB/s)  ratio %.2f\n", ours,
        megabytes / ours, theirs, megabytes / theirs, theirs / ours);
    return 0;
}

// The page analysis (yt-dlp run bounded, its JSON read, the sizes it lacks
// asked for with HEAD) against `yt-dlp -J` alone with the same options, on a
// loopback page with two sources of a clip made by ffmpeg. Best of five runs
// each. Run by hand:
//   build/<dir>/bench/page_analysis
// The ratio is yt-dlp's time over the analysis's: 1.0 is as fast.
#include "download/DNYoutubeParser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "BenchSupport.h"
#include "LoopbackServer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kRuns = 5;

// Serves fixed files by path, GET and HEAD, one connection at a time
// (yt-dlp and the analysis ask one thing after the other).
class PageServer {
public:
    explicit PageServer(QMap<QByteArray, QByteArray> files)
        : m_files(std::move(files))
        , m_listener(bench::listenOnLoopback())
    {
        m_acceptor = std::thread([this] { acceptLoop(); });
    }

    ~PageServer()
    {
        ::shutdown(m_listener.socket, SHUT_RDWR);
        ::close(m_listener.socket);
        m_acceptor.join();
    }

    QString url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_listener.port).arg(path);
    }

private:
    void acceptLoop() const
    {
        for (int connection = ::accept(m_listener.socket, nullptr, nullptr); connection >= 0;
             connection = ::accept(m_listener.socket, nullptr, nullptr)) {
            serve(connection);
            ::close(connection);
        }
    }

    // One request per connection: the answer says "Connection: close".
    void serve(int connection) const
    {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
            if (got <= 0)
                return;
            request.append(buffer, size_t(got));
        }
        const QList<QByteArray> words = QByteArray::fromStdString(request).split(' ');
        const QByteArray path = words.value(1);
        const bool found = m_files.contains(path);
        const QByteArray body = found ? m_files.value(path) : QByteArray("not here");
        const QByteArray type = path.endsWith(".html") ? "text/html" : "video/mp4";
        QByteArray answer = QByteArray(found ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n")
            + "Content-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\nConnection: close\r\n\r\n";
        if (words.value(0) != "HEAD")
            answer += body;
        bench::sendAll(connection, answer.constData(), answer.size());
    }

    QMap<QByteArray, QByteArray> m_files;
    const bench::LoopbackListener m_listener;
    std::thread m_acceptor;
};

QByteArray makeClip(const QString& folder, const QString& size)
{
    const QString path = folder + QStringLiteral("/clip-") + size + QStringLiteral(".mp4");
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
        { "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
            "testsrc2=size=" + size + ":rate=10:duration=1", "-c:v", "libx264", "-preset",
            "ultrafast", "-pix_fmt", "yuv420p", path });
    ffmpeg.waitForFinished(-1);
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The analysis blocks and needs a thread with an event loop of its own.
double analysisOnce(const QString& url, const QString& program)
{
    bool found = false;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    const std::unique_ptr<QThread> thread(QThread::create([&found, url, program] {
        const auto node = DNYoutubeParser::analysisYoutubeWebSource(url, program);
        found = node && node->videosSegments.size() == 2;
    }));
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    thread->wait();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    return found ? seconds : -1;
}

double ytDlpOnce(const QString& url, const QString& program)
{
    QProcess ytDlp;
    QElapsedTimer clock;
    clock.start();
    ytDlp.start(program,
        { "-J", "--ignore-config", "--no-playlist", "--playlist-items", "1", "--no-warnings",
            "--socket-timeout", "15", "--", url });
    if (!ytDlp.waitForFinished(-1) || ytDlp.exitCode() != 0)
        return -1;
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    return ytDlp.readAllStandardOutput().contains("\"formats\"") ? seconds : -1;
}

} // namespace

int main(int argc, char** argv)
{
    // The log and the settings go to a home of our own.
    const QTemporaryDir home;
    bench::useHome(home.path());
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const QString program = DNYoutubeParseLibrary::youtubeParseDylibPath();
    if (program.isEmpty()) {
        std::printf("yt-dlp is not installed\n");
        return 1;
    }
    const QByteArray page = "<html><head><title>Bench Page</title></head><body><video controls>"
                            "<source src=\"/clip-640x480.mp4\" type=\"video/mp4\" res=\"480\">"
                            "<source src=\"/clip-320x240.mp4\" type=\"video/mp4\" res=\"240\">"
                            "</video></body></html>";
    const PageServer server({ { "/page.html", page },
        { "/clip-640x480.mp4", makeClip(home.path(), QStringLiteral("640x480")) },
        { "/clip-320x240.mp4", makeClip(home.path(), QStringLiteral("320x240")) } });
    const QString url = server.url(QStringLiteral("/page.html"));
    std::printf("%s on a loopback page with two sources, best of %d runs\n",
        QFile::encodeName(program).constData(), kRuns);
    const double ours = bench::fastestOf(kRuns, [&] { return analysisOnce(url, program); });
    const double theirs = bench::fastestOf(kRuns, [&] { return ytDlpOnce(url, program); });
    if (ours < 0 || theirs < 0) {
        std::printf("failed\n");
        return 1;
    }
    std::printf("analysis %.3f s  yt-dlp -J %.3f s  ratio %.3f\n", ours, theirs, theirs / ours);
    return 0;
}

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
#include <QTemporaryDir>

#include "BenchSupport.h"
#include "LoopbackServer.h"

#include <cstdio>
#include <memory>

namespace {

constexpr int kRuns = 3;

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
    const double seconds = bench::curlSeconds(url, file);
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
    const auto mebibytes = bench::numberArgument(argc, argv, 1024, "video_download [MiB]");
    if (!mebibytes)
        return 2;
    const qint64 size = *mebibytes * 1024 * 1024;
    const bench::BodyServer server(size, "/video.mp4", "video/mp4");
    const QString folder = home.filePath(QStringLiteral("Movies"));
    QDir().mkpath(folder);
    std::printf("%lld MiB over loopback, best of %d runs\n", *mebibytes, kRuns);
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

// Download speed over loopback: the request object against curl, on the same
// small server that makes the body up as it sends it (nothing is stored).
// Each client fetches the body into /dev/null and into a file; the best of
// three runs counts. Run by hand:
//   build/<dir>/bench/http_download [MiB]        (2048 unless given)
// The ratio is curl's time over ours: 1.0 is as fast, above is faster. The
// processor time each client took (ours: the network thread, where all of a
// download's work runs) follows: on a loaded machine it says more than times.
#include "http/NXHTTPRequest.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include "BenchSupport.h"
#include "LoopbackServer.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kRuns = 3;

const QString kSink = QStringLiteral("/dev/null");

// Processor seconds the request object's network thread has taken so far
// (from the scheduler's own count, in nanoseconds); 0 before it runs.
double networkThreadSeconds()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks.filePath(task + QStringLiteral("/comm")));
        if (!name.open(QIODevice::ReadOnly) || name.readAll().trimmed() != "network")
            continue;
        QFile schedule(tasks.filePath(task + QStringLiteral("/schedstat")));
        return schedule.open(QIODevice::ReadOnly)
            ? schedule.readAll().split(' ').value(0).toDouble() / 1e9
            : 0;
    }
    return 0;
}

// The least processor time of the runs measured, ours and curl's.
struct ProcessorTimes {
    double ours = -1;
    double curl = -1;
};

void keepLeast(double& least, double seconds)
{
    least = least < 0 ? seconds : std::min(least, seconds);
}

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
    const double seconds = bench::curlSeconds(url, file);
    if (file != kSink && QFile(file).size() != expected)
        return -1;
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const auto mebibytes = bench::numberArgument(argc, argv, 2048, "http_download [MiB]");
    if (!mebibytes)
        return 2;
    const qint64 size = *mebibytes * 1024 * 1024;
    bench::BodyServer server(size, "/body", "application/octet-stream");
    QTemporaryDir dir;
    std::printf("%lld MiB over loopback, best of %d runs\n", *mebibytes, kRuns);
    bool ok = true;
    for (const bool toFile : { false, true }) {
        // Each run writes a file of its own (a download never replaces one),
        // removed once it is measured.
        int run = 0;
        ProcessorTimes processor;
        const auto timed = [&](double (*once)(const QString&, const QString&, qint64)) {
            const QString target
                = toFile ? dir.filePath(QStringLiteral("body-%1").arg(++run)) : kSink;
            const bool isCurl = once == &curlOnce;
            const auto processorSoFar = [isCurl] {
                return isCurl ? bench::usageSeconds(RUSAGE_CHILDREN) : networkThreadSeconds();
            };
            const double before = processorSoFar();
            const double seconds = once(server.url(), target, size);
            keepLeast(isCurl ? processor.curl : processor.ours, processorSoFar() - before);
            if (toFile)
                QFile::remove(target);
            return seconds;
        };
        const double ours = bench::fastestOf(kRuns, [&] { return timed(&oursOnce); });
        const double theirs = bench::fastestOf(kRuns, [&] { return timed(&curlOnce); });
        if (ours < 0 || theirs < 0) {
            std::printf("%-5s failed\n", toFile ? "file" : "sink");
            ok = false;
            continue;
        }
        const double mb = double(size) / 1e6;
        std::printf("%-5s ours %.2f s (%.0f MB/s)  curl %.2f s (%.0f MB/s)  ratio %.2f\n",
            toFile ? "file" : "sink", ours, mb / ours, theirs, mb / theirs, theirs / ours);
        std::printf("      processor: ours %.2f s  curl %.2f s  curl's over ours %.2f\n",
            processor.ours, processor.curl, processor.curl / processor.ours);
    }
    return ok ? 0 : 1;
}

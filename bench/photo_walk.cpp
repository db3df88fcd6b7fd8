// What making a photo album costs against reading the same metadata with the
// exiv2 tool: 1,000 small JPEG photos with a capture date and a position,
// walked into an album (which also reads each file's size and resolution and
// sorts the photos) and, side by side, one `exiv2 -g` process over the same
// files. Alternating order, several rounds; reports the median wall time of
// each and the ratio album/tool.
//
//   build/<dir>/bench/photo_walk
#include "platform/ProcessRunner.h"
#include "slideshow/DNGraphicsNode.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

namespace {

using bench::Clock;
using bench::secondsSince;

constexpr int kPhotos = 1000;
constexpr int kRounds = 5;

bool runTool(const QString& program, const QStringList& arguments)
{
    ProcessRunner runner;
    runner.setStdoutHandler([](const QString&) {});
    runner.setStderrHandler([](const QString&) {});
    return runner.run(program, arguments).succeeded();
}

QStringList makePhotos(const QString& folder)
{
    QImage image(64, 48, QImage::Format_RGB32);
    QStringList paths;
    for (int index = 0; index < kPhotos; ++index) {
        image.fill(qRgb(index % 256, 100, 200));
        paths << QDir(folder).filePath(QStringLiteral("photo%1.jpg").arg(index));
        image.save(paths.last());
    }
    runTool("exiv2",
        QStringList { "-M", "set Exif.Photo.DateTimeOriginal 2021:06:01 12:00:00", "-M",
            "set Exif.GPSInfo.GPSLongitudeRef E", "-M",
            "set Exif.GPSInfo.GPSLongitude 10/1 30/1 0/1", "-M",
            "set Exif.GPSInfo.GPSLatitudeRef N", "-M", "set Exif.GPSInfo.GPSLatitude 45/1 0/1 0/1" }
            + paths);
    return paths;
}

double album(const QString& folder)
{
    const auto start = Clock::now();
    QString error;
    const auto node = DNGraphicsNode::graphicsNodeWithDirs({ folder }, nullptr, error);
    const double seconds = secondsSince(start);
    return node && node->countOfPhotos() == kPhotos ? seconds : -1;
}

double tool(const QStringList& photos)
{
    const auto start = Clock::now();
    // exiv2 ends with status 253 when a key is absent in some file; any run counts.
    ProcessRunner runner;
    runner.setStdoutHandler([](const QString&) {});
    runner.setStderrHandler([](const QString&) {});
    const ProcessRunner::Result result = runner.run("exiv2",
        QStringList { "-g", "Exif.Photo.DateTimeOriginal", "-g", "Exif.GPSInfo" } + photos);
    const double seconds = secondsSince(start);
    return result.started && result.signal == 0 ? seconds : -1;
}

void AlbumAgainstExiv2(benchmark::State& state)
{
    QTemporaryDir folder;
    const QStringList photos = makePhotos(folder.path());
    std::optional<bench::PairedMedians> medians;
    for (auto _ : state) {
        // A warm-up fills the disk caches and loads the profile catalogue.
        album(folder.path());
        medians = bench::alternateRounds(
            kRounds, [&] { return album(folder.path()); }, [&] { return tool(photos); });
        if (!medians) {
            state.SkipWithError("a walk failed");
            return;
        }
    }
    bench::reportPair(state, *medians, "album_s", "exiv2_s", "ratio");
}

BENCHMARK(AlbumAgainstExiv2)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    // The album asks the profile catalogue, which reads user defaults: keep
    // them out of the real user's folders.
    return bench::runBenchmarksInOwnHome<QCoreApplication>(argc, argv);
}

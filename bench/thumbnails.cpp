// What a list of 200 files costs in pictures: our in-process capture, one
// file after another as the thumbnail queue runs it, against one
// `ffmpeg -ss <tenth> -i <file> -frames:v 1` process per file writing the
// same scaled picture. Reports both wall times and the ratio ours/ffmpeg
// (the target is at most 0.5).
//
//   build/<dir>/bench/thumbnails
#include "fixtures/TestMedia.h"
#include "model/ThumbnailQueue.h"
#include "platform/ProcessRunner.h"
#include "services/ThumbnailCapture.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

using bench::Clock;

constexpr int kFiles = 200;

// Every fixture file lasts about two seconds: a tenth into it.
constexpr double kTenth = 0.2;

// The fixture files with a video track, repeated up to kFiles.
QStringList sources()
{
    const QStringList set { TestMedia::path(TestMedia::kVideoWithAudio),
        TestMedia::path(TestMedia::kTwoAudioAndText), TestMedia::path(TestMedia::kPictureSubtitle),
        TestMedia::path(TestMedia::kProgramStream), TestMedia::path(TestMedia::kTransportStream),
        TestMedia::path(TestMedia::kOddSize2997), TestMedia::path(TestMedia::kRate50),
        TestMedia::path(TestMedia::kAvi) };
    QStringList list;
    while (list.size() < kFiles)
        list << set.at(list.size() % set.size());
    return list;
}

double ours(const QStringList& files)
{
    const auto start = Clock::now();
    for (const QString& file : files) {
        QString error;
        if (captureThumbnail(file, ThumbnailQueue::kThumbnailSize, &error).isNull()) {
            std::fprintf(stderr, "thumbnails: %s: %s\n", qPrintable(file), qPrintable(error));
            return -1;
        }
    }
    return bench::secondsSince(start);
}

double ffmpegPerFile(const QStringList& files, const QString& folder)
{
    const QString box = QStringLiteral("scale=%1:%2:force_original_aspect_ratio=decrease")
                            .arg(ThumbnailQueue::kThumbnailSize.width())
                            .arg(ThumbnailQueue::kThumbnailSize.height());
    const auto start = Clock::now();
    for (const QString& file : files) {
        ProcessRunner runner;
        runner.setStderrHandler([](const QString&) {});
        const auto result = runner.run(QStringLiteral("ffmpeg"),
            { "-v", "error", "-y", "-ss", QString::number(kTenth, 'f', 3), "-i", file, "-frames:v",
                "1", "-vf", box, folder + "/picture.png" });
        if (!result.succeeded())
            return -1;
    }
    return bench::secondsSince(start);
}

void ThumbnailsAgainstFfmpeg(benchmark::State& state)
{
    if (const QString error = TestMedia::ensure(); !error.isEmpty()) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    QTemporaryDir folder;
    const QStringList files = sources();
    double ourSeconds = 0;
    double ffmpegSeconds = 0;
    for (auto _ : state) {
        ours(files); // fills the disk caches for both
        ourSeconds = ours(files);
        ffmpegSeconds = ffmpegPerFile(files, folder.path());
        if (ourSeconds < 0 || ffmpegSeconds < 0) {
            state.SkipWithError("a picture could not be made");
            return;
        }
    }
    state.counters["ours_s"] = ourSeconds;
    state.counters["ffmpeg_s"] = ffmpegSeconds;
    state.counters["ratio"] = ourSeconds / ffmpegSeconds;
}

BENCHMARK(ThumbnailsAgainstFfmpeg)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    // The capture writes to the application log: keep it out of the real user's data.
    return bench::runBenchmarksInOwnHome<QCoreApplication>(argc, argv);
}

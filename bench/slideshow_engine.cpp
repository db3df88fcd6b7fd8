// What the slideshow engine costs against ffmpeg doing the same slideshow on
// its own: six photos at 1280x720, 30 fps, two seconds each with one-second
// transitions (fade and push, xfade's fade and slideright), music faded out at
// the end, the same encoder options. Both are run in alternating order,
// several rounds; reports the median wall time of each, the ratio
// engine/direct, and how many times faster than real time the engine renders
// (also with the twirl, the most expensive transition, everywhere).
//
//   build/<dir>/bench/slideshow_engine
#include "platform/AppPaths.h"
#include "platform/ProcessRunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

constexpr int kRounds = 3;
constexpr int kPhotos = 6;
constexpr int kShowSeconds = 2;
constexpr int kRate = 30;
constexpr double kMovieSeconds = kPhotos * (kShowSeconds + 1.0);
const QString kSize = QStringLiteral("1280x720");

double run(const QString& program, const QStringList& arguments)
{
    ProcessRunner runner;
    QStringList complaints;
    runner.setStdoutHandler([](const QString&) {});
    runner.setStderrHandler([&complaints](const QString& line) { complaints << line; });
    const auto start = bench::Clock::now();
    const ProcessRunner::Result result = runner.run(program, arguments);
    const double seconds = bench::secondsSince(start);
    if (result.succeeded())
        return seconds;
    std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), qPrintable(complaints.join('\n')));
    return -1;
}

QStringList makeInputs(const QTemporaryDir& folder)
{
    QStringList photos;
    for (int index = 0; index < kPhotos; ++index) {
        photos << folder.filePath(QStringLiteral("photo%1.jpg").arg(index));
        run("ffmpeg",
            { "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=2000x1500", "-vf",
                QStringLiteral("hue=h=%1").arg(index * 60), "-frames:v", "1", photos.last() });
    }
    run("ffmpeg",
        { "-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=12",
            folder.filePath("music.mp3") });
    return photos;
}

QString jobFile(const QTemporaryDir& folder, const QStringList& photos, const QString& effects)
{
    QString xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>";
    xml += "<key>targetPath</key><string>" + folder.filePath("engine.mov") + "</string>";
    xml += QStringLiteral("<key>showDuration</key><real>%1</real>").arg(kShowSeconds);
    xml += "<key>effectList</key><array>" + effects + "</array>";
    xml += "<key>imageSquenes</key><array>";
    for (const QString& photo : photos)
        xml += "<string>" + photo + "</string>";
    xml += "</array><key>audioList</key><array><string>" + folder.filePath("music.mp3")
        + "</string></array>";
    xml += QStringLiteral("<key>videoFPS</key><real>%1</real>").arg(kRate);
    xml += "<key>videoSize</key><string>{1280, 720}</string></dict></plist>";
    const QString path = folder.filePath("job" + QString::number(qHash(effects)) + ".plist");
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(xml.toUtf8());
    return path;
}

// The same slideshow as one ffmpeg graph: each photo scaled and padded,
// chained through xfade, the last one into black.
QStringList directCommand(const QTemporaryDir& folder, const QStringList& photos)
{
    QStringList words { "-v", "error", "-y" };
    for (const QString& photo : photos)
        words << "-loop"
              << "1"
              << "-framerate" << QString::number(kRate) << "-t" << QString::number(kShowSeconds + 2)
              << "-i" << photo;
    words << "-f"
          << "lavfi"
          << "-i" << QStringLiteral("color=black:size=%1:rate=%2:duration=1").arg(kSize).arg(kRate);
    words << "-i" << folder.filePath("music.mp3");
    QString graph;
    for (int index = 0; index < kPhotos; ++index)
        graph += QStringLiteral("[%1:v]scale=1280:720:force_original_aspect_ratio=decrease,"
                                "pad=1280:720:(ow-iw)/2:(oh-ih)/2,setsar=1,format=yuv420p[p%1];")
                     .arg(index);
    graph += QStringLiteral("[%1:v]format=yuv420p[p%1];").arg(kPhotos);
    QString previous = "p0";
    for (int index = 1; index <= kPhotos; ++index) {
        const QString transition = index % 2 ? "fade" : "slideright";
        const int offset = (index - 1) * (kShowSeconds + 1) + kShowSeconds;
        const QString next = QStringLiteral("x%1").arg(index);
        graph += QStringLiteral("[%1][p%2]xfade=transition=%3:duration=1:offset=%4[%5];")
                     .arg(previous)
                     .arg(index)
                     .arg(transition)
                     .arg(offset)
                     .arg(next);
        previous = next;
    }
    graph += QStringLiteral("[%1:a]concat=n=1:v=0:a=1,apad,atrim=0:%2,afade=t=out:st=%3:d=2[music]")
                 .arg(kPhotos + 1)
                 .arg(kMovieSeconds)
                 .arg(kMovieSeconds - 2);
    words << "-filter_complex" << graph << "-map"
          << "[" + previous + "]"
          << "-map"
          << "[music]"
          << "-c:v"
          << "libx264"
          << "-preset"
          << "veryfast"
          << "-crf"
          << "18"
          << "-pix_fmt"
          << "yuv420p"
          << "-c:a"
          << "aac"
          << "-b:a"
          << "160k"
          << "-t" << QString::number(kMovieSeconds) << folder.filePath("direct.mov");
    return words;
}

double engineRun(const QTemporaryDir& folder, const QString& job)
{
    QFile::remove(folder.filePath("engine.mov"));
    return run(QDir(AppPaths::toolsFolder()).filePath("quillon-slideshow-engine"), { job });
}

void EngineAgainstDirect(benchmark::State& state)
{
    QTemporaryDir folder;
    const QStringList photos = makeInputs(folder);
    const QString pushAndFade
        = jobFile(folder, photos, "<integer>7</integer><integer>11</integer>");
    const QString twirl = jobFile(folder, photos, "<integer>9</integer>");
    const QStringList direct = directCommand(folder, photos);
    std::optional<bench::PairedMedians> medians;
    double twirlTime = 0;
    for (auto _ : state) {
        medians = bench::alternateRounds(
            kRounds, [&] { return engineRun(folder, pushAndFade); },
            [&] { return run("ffmpeg", direct); });
        if (!medians) {
            state.SkipWithError("a render failed");
            return;
        }
        twirlTime = engineRun(folder, twirl);
    }
    bench::reportPair(state, *medians, "engine_s", "direct_s", "ratio");
    state.counters["x_realtime"] = kMovieSeconds / medians->ours;
    state.counters["twirl_x_realtime"] = twirlTime > 0 ? kMovieSeconds / twirlTime : 0;
}

BENCHMARK(EngineAgainstDirect)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    return bench::runBenchmarks(&argc, argv);
}

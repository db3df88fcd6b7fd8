// What the slideshow engine costs against one well-formed ffmpeg graph doing
// the same slideshow: six photos at 1280x720, 30 fps, two seconds each with
// one-second transitions (fade and push, xfade's fade and slideright), music
// faded out at the end, the same encoder options. The graph decodes, scales
// and pads each photo once and loops the result. Both run back to back,
// alternating, several rounds, once pinned to two cores (taskset -c 0,1) and
// once on all cores; reports the median wall times, the ratios engine/direct
// ("ratio_2cores", "ratio_all"), and how many times faster than real time the
// engine renders on all cores (also with the twirl, the most expensive
// transition, everywhere).
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

constexpr int kRounds = 5;
constexpr int kPhotos = 6;
constexpr int kShowSeconds = 2;
constexpr int kRate = 30;
constexpr double kMovieSeconds = kPhotos * (kShowSeconds + 1.0);
const QString kSize = QStringLiteral("1280x720");

// The wall time of a run, or -1 when it failed. With `cores`, the run is
// pinned to those cores.
double run(const QString& program, const QStringList& arguments, const QString& cores = {})
{
    ProcessRunner runner;
    QStringList complaints;
    runner.setStdoutHandler([](const QString&) {});
    runner.setStderrHandler([&complaints](const QString& line) { complaints << line; });
    const auto start = bench::Clock::now();
    const ProcessRunner::Result result = cores.isEmpty()
        ? runner.run(program, arguments)
        : runner.run("taskset", QStringList { "-c", cores, program } + arguments);
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

// The same slideshow as one ffmpeg graph: each photo decoded, scaled and
// padded once and then looped for as long as it is on screen, chained through
// xfade, the last one into black.
QStringList directCommand(const QTemporaryDir& folder, const QStringList& photos)
{
    QStringList words { "-v", "error", "-y" };
    for (const QString& photo : photos)
        words << "-framerate" << QString::number(kRate) << "-i" << photo;
    words << "-f"
          << "lavfi"
          << "-i" << QStringLiteral("color=black:size=%1:rate=%2:duration=1").arg(kSize).arg(kRate);
    words << "-i" << folder.filePath("music.mp3");
    // The first photo is on screen for its hold and one transition, the
    // others for a transition more.
    const int shownFrames = (kShowSeconds + 2) * kRate;
    QString graph;
    for (int index = 0; index < kPhotos; ++index)
        graph += QStringLiteral("[%1:v]scale=1280:720:force_original_aspect_ratio=decrease,"
                                "pad=1280:720:(ow-iw)/2:(oh-ih)/2,setsar=1,format=yuv420p,"
                                "loop=loop=%2:size=1:start=0[p%1];")
                     .arg(index)
                     .arg(shownFrames - 1);
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
          << "-colorspace"
          << "bt709"
          << "-color_primaries"
          << "bt709"
          << "-color_trc"
          << "bt709"
          << "-color_range"
          << "tv"
          << "-c:a"
          << "aac"
          << "-b:a"
          << "160k"
          << "-t" << QString::number(kMovieSeconds) << folder.filePath("direct.mov");
    return words;
}

double engineRun(const QTemporaryDir& folder, const QString& job, const QString& cores = {})
{
    QFile::remove(folder.filePath("engine.mov"));
    return run(QDir(AppPaths::toolsFolder()).filePath("quillon-slideshow-engine"), { job }, cores);
}

// Engine and graph back to back, alternating, on `cores` (all when empty).
std::optional<bench::PairedMedians> compare(const QTemporaryDir& folder, const QString& job,
    const QStringList& direct, const QString& cores)
{
    return bench::alternateRounds(
        kRounds, [&] { return engineRun(folder, job, cores); },
        [&] { return run("ffmpeg", direct, cores); });
}

void EngineAgainstDirect(benchmark::State& state)
{
    QTemporaryDir folder;
    const QStringList photos = makeInputs(folder);
    const QString pushAndFade
        = jobFile(folder, photos, "<integer>7</integer><integer>11</integer>");
    const QString twirl = jobFile(folder, photos, "<integer>9</integer>");
    const QStringList direct = directCommand(folder, photos);
    std::optional<bench::PairedMedians> twoCores;
    std::optional<bench::PairedMedians> allCores;
    double twirlTime = 0;
    for (auto _ : state) {
        twoCores = compare(folder, pushAndFade, direct, "0,1");
        allCores = compare(folder, pushAndFade, direct, {});
        if (!twoCores || !allCores) {
            state.SkipWithError("a render failed");
            return;
        }
        twirlTime = engineRun(folder, twirl);
    }
    bench::reportPair(state, *twoCores, "engine_2cores_s", "direct_2cores_s", "ratio_2cores");
    bench::reportPair(state, *allCores, "engine_all_s", "direct_all_s", "ratio_all");
    state.counters["x_realtime"] = kMovieSeconds / allCores->ours;
    state.counters["twirl_x_realtime"] = twirlTime > 0 ? kMovieSeconds / twirlTime : 0;
}

BENCHMARK(EngineAgainstDirect)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    return bench::runBenchmarks(&argc, argv);
}

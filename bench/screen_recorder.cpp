// What the screen recorder costs on top of ffmpeg: 8 s of a 1280x720 region
// of moving pictures at 30 frames a second, no sound, recorded through the
// recorder (as record-one does) and by its own ffmpeg command run directly,
// in alternating order, three rounds each. Reports the CPU time per recorded
// frame of each (ours: this process and its children; direct: the child),
// their ratio and the frames ffmpeg dropped. Runs on a private X display.
//
//   build/<dir>/bench/screen_recorder
#include "platform/ProcessRunner.h"
#include "record/DNScreenRecorder.h"
#include "support/PrivateDisplay.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <csignal>
#include <optional>
#include <vector>

namespace {

constexpr int kRounds = 3;
constexpr double kSeconds = 8.0;
constexpr int kFrameRate = 30;

struct Run {
    double cpuSeconds = 0;
    qint64 frames = 0;
    qint64 dropped = 0;
    double perFrame() const { return frames > 0 ? cpuSeconds / double(frames) : 0; }
};

double ourCpuSeconds()
{
    return bench::usageSeconds(RUSAGE_SELF) + bench::usageSeconds(RUSAGE_CHILDREN);
}

struct Keeper : DNScreenRecorderDelegate {
    std::optional<DNRecordingResult> result;
    void screenRecorder(DNScreenRecorder&, const DNRecordingResult& finished) override
    {
        result = finished;
    }
};

std::optional<Run> throughRecorder(const QString& path, QStringList* command)
{
    QFile::remove(path);
    const std::unique_ptr<DNScreenRecorder> recorder = DNScreenRecorder::create();
    if (!recorder)
        return std::nullopt;
    Keeper keeper;
    recorder->setDelegate(&keeper);
    recorder->setSessionPreset(CaptureSessionPreset::High);
    recorder->setMaxScreenInputFramerate(kFrameRate);
    recorder->addDislayInputTocaptureSession(recorder->displayID(), QRect(100, 100, 1280, 720));
    QObject::connect(recorder.get(), &DNScreenRecorder::recordingProgress, recorder.get(),
        [&recorder](double seconds) {
            if (seconds >= kSeconds)
                recorder->stopRecord();
        });
    // From the start of the recording: making the recorder (which probes the
    // display once) belongs to opening the recorder window, not to a recording.
    const double start = ourCpuSeconds();
    recorder->startRecord(path);
    const bool ended = QTest::qWaitFor([&keeper] { return keeper.result.has_value(); }, 60000);
    if (!ended || !keeper.result->succeeded)
        return std::nullopt;
    *command = recorder->lastCommand();
    return Run { ourCpuSeconds() - start, keeper.result->framesRecorded,
        keeper.result->framesDropped };
}

// The recorder's command as it stands, stopped the same way after as many
// seconds of pictures.
std::optional<Run> direct(const QStringList& command, const QString& path)
{
    QFile::remove(path);
    Run run;
    ProcessRunner runner;
    runner.setGentleStop({ SIGINT, {} }, std::chrono::milliseconds(5000));
    runner.setStdoutHandler([&run, &runner](const QString& line) {
        if (line.startsWith("frame="))
            run.frames = line.mid(6).toLongLong();
        else if (line.startsWith("drop_frames="))
            run.dropped = line.mid(12).toLongLong();
        if (run.frames >= qint64(kSeconds * kFrameRate))
            runner.stop();
    });
    runner.setStderrHandler([](const QString&) {});
    const double start = bench::usageSeconds(RUSAGE_CHILDREN);
    const ProcessRunner::Result result = runner.run(command.first(), command.mid(1));
    run.cpuSeconds = bench::usageSeconds(RUSAGE_CHILDREN) - start;
    if (!result.started || !QFile::exists(path))
        return std::nullopt;
    return run;
}

void RecorderAgainstDirect(benchmark::State& state)
{
    PrivateDisplay display;
    const QString problem = display.start();
    if (!problem.isEmpty() || !display.showMovingPicture().isEmpty()) {
        state.SkipWithError("cannot start the private display");
        return;
    }
    ::setenv("DISPLAY", display.display().toUtf8().constData(), 1);
    QTemporaryDir folder;
    const QString path = folder.filePath("bench.mov");
    std::vector<double> ours;
    std::vector<double> direct_;
    qint64 dropped = 0;
    for (auto _ : state) {
        QStringList command;
        for (int round = 0; round < kRounds * 2; ++round) {
            const bool recorderTurn = round % 2 == 0;
            const std::optional<Run> run
                = recorderTurn ? throughRecorder(path, &command) : direct(command, path);
            if (!run) {
                state.SkipWithError("a recording failed");
                return;
            }
            (recorderTurn ? ours : direct_).push_back(run->perFrame());
            dropped += run->dropped;
        }
    }
    state.counters["recorder_ms_per_frame"] = bench::median(ours) * 1000;
    state.counters["direct_ms_per_frame"] = bench::median(direct_) * 1000;
    state.counters["ratio"] = bench::median(ours) / bench::median(direct_);
    state.counters["dropped"] = double(dropped);
}

BENCHMARK(RecorderAgainstDirect)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    // The recorder writes the application log: keep it out of the real user's data.
    QTemporaryDir home;
    if (!home.isValid())
        return 2;
    for (const char* name : { "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME" })
        ::setenv(name, QFile::encodeName(home.path()).constData(), 1);
    QCoreApplication app(argc, argv);
    return bench::runBenchmarks(&argc, argv);
}

// What the file encoder bridge costs on top of ffmpeg: the same encode run
// directly through the process runner and through the bridge, in alternating
// order, several rounds. Reports the median wall time of each and the ratio
// bridge/direct (the bridge parses progress and writes every engine line to
// the log; that should stay within a couple of percent).
//
//   build/<dir>/bench/avencoder_bridge
#include "engine/AVEncoder.h"
#include "platform/ProcessRunner.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

namespace {

using bench::Clock;
using bench::secondsSince;

constexpr int kRounds = 11;

// Some tenths of a second of work: long enough that start-up noise does not decide.
QStringList builderList(const QString& output)
{
    return { "encoder", "-d", "-y", "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25:duration=8",
        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=8", "-c:v", "libx264",
        "-preset", "veryfast", "-c:a", "libfdk_aac", "-b:a", "128k", output };
}

double throughBridge(const QStringList& list)
{
    std::vector<QByteArray> words;
    for (const QString& word : list)
        words.push_back(word.toUtf8());
    std::vector<const char*> argv;
    for (const QByteArray& word : words)
        argv.push_back(word.constData());
    const auto start = Clock::now();
    const int status = AVEncoderEncode(int(argv.size()), argv.data(), 8);
    const double seconds = secondsSince(start);
    return status == 0 ? seconds : -1;
}

// The command the bridge ran, run again as it stands with nothing read.
double direct(const QStringList& command)
{
    ProcessRunner runner;
    runner.setStdoutHandler([](const QString&) {});
    runner.setStderrHandler([](const QString&) {});
    const auto start = Clock::now();
    const ProcessRunner::Result result = runner.run(command.first(), command.mid(1));
    const double seconds = secondsSince(start);
    return result.succeeded() ? seconds : -1;
}

void BridgeAgainstDirect(benchmark::State& state)
{
    QTemporaryDir folder;
    const QStringList list = builderList(folder.filePath("out.mp4"));
    std::optional<bench::PairedMedians> medians;
    for (auto _ : state) {
        // One warm-up run gives the command and fills the disk caches.
        if (throughBridge(list) < 0) {
            state.SkipWithError("the bridge run failed");
            return;
        }
        const QStringList command = AVEncoderLastCommand();
        medians = bench::alternateRounds(
            kRounds, [&] { return throughBridge(list); }, [&] { return direct(command); });
        if (!medians) {
            state.SkipWithError("an encode failed");
            return;
        }
    }
    bench::reportPair(state, *medians, "bridge_s", "direct_s", "ratio");
}

BENCHMARK(BridgeAgainstDirect)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    // The bridge writes the application log: keep it out of the real user's data.
    return bench::runBenchmarksInOwnHome<QCoreApplication>(argc, argv);
}

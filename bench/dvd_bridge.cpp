// What the encoder-core bridge costs on top of mencoder: the H.264 list of a
// DVD profile for a 60 s NTSC title, through the bridge (mencoder into its
// FIFO, ffmpeg finishing the sound alongside) and as the same mencoder
// command run directly into a plain file, in alternating order. Reports the
// median wall time of each, the ratio bridge/direct, and the finishing
// stage's extra wall time over mencoder alone (the difference of the two),
// and the same for the processor time each took.
//
// The same for the backup bridges, each against the command it ran, run
// directly: the MKV backup through HandBrakeCLI, the ISO backup of the
// folder through genisoimage and the stream dump through mplayer.
//
//   build/<dir>/bench/dvd_bridge
#include "engine/ArgvAssemblerTables.h"
#include "engine/DVDToMKV.h"
#include "engine/DiscBackupTool.h"
#include "engine/EncoderCore.h"
#include "engine/PlayerStreamDump.h"
#include "model/DNDVDNode.h"
#include "platform/ProcessRunner.h"
#include "profiles/DNProfileManager.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using bench::Clock;
using bench::secondsSince;

constexpr int kRounds = 5;
constexpr int kTitleSeconds = 60;
constexpr const char* kProfileName = "iPad 2 (H.264)";

bool runQuietly(const QString& program, const QStringList& arguments)
{
    ProcessRunner runner;
    runner.setStdoutHandler([](const QString&) {});
    runner.setStderrHandler([](const QString&) {});
    return runner.run(program, arguments).succeeded();
}

// A one-title NTSC disc folder: 60 s of moving picture with AC-3 sound.
QString makeDisc(const QTemporaryDir& folder)
{
    const QString title = folder.filePath("title.mpg");
    const QString disc = folder.filePath("disc");
    const QString length = QString::number(kTitleSeconds);
    // dvdauthor's table of contents takes the video standard from here.
    ::setenv("VIDEO_FORMAT", "NTSC", 1);
    // ffmpeg's DVD muxer with a short preload, as for the test disc: with the
    // default one mencoder loses the sound after a fraction of a second.
    const bool made
        = runQuietly("ffmpeg",
              { "-v", "error", "-y", "-f", "lavfi", "-i",
                  "testsrc2=size=720x480:rate=30000/1001:duration=" + length, "-f", "lavfi", "-i",
                  "sine=frequency=440:sample_rate=48000:duration=" + length, "-map", "0:v", "-map",
                  "1:a", "-c:v", "mpeg2video", "-b:v", "3000k", "-aspect", "4:3", "-c:a", "ac3",
                  "-b:a", "128k", "-ac", "2", "-f", "dvd", "-muxpreload", "0.2", "-muxdelay", "0.2",
                  title })
        && runQuietly("dvdauthor", { "-o", disc, "-t", title })
        && runQuietly("dvdauthor", { "-o", disc, "-T" });
    return made ? disc : QString();
}

std::shared_ptr<DNProfile> findProfile()
{
    for (const DNProfileCategory& category :
        DNProfileManager::profileManager().categoriesOfType(DNProfileTypeDVD)) {
        for (const auto& profile : category.profiles) {
            if (profile->profileName() == QLatin1String(kProfileName))
                return profile->copy();
        }
    }
    return nullptr;
}

// The profile's builder's list for the disc's title, output in `folder`.
ArgumentBlockPtr buildList(const QString& disc, const QTemporaryDir& folder)
{
    const auto node = DNDVDNode::dvdNodeWithSourceInfo(NXDVDSourceInfo::sourceInfoWithPath(disc));
    const auto profile = findProfile();
    if (!node || !profile)
        return nullptr;
    node->setProfile(profile);
    const QByteArray name = profile->argvAssembler().toUtf8();
    const ArgvAssembler builder = findArgvAssembler(name.constData());
    EncodeConfig config;
    if (!builder || !setConfigPath(config.outputDir, folder.path()))
        return nullptr;
    return builder(node, 0, config);
}

// A run's wall time and the processor time it took: this process's
// (the bridge's own threads) and its children's, ended by then.
struct Run {
    double seconds = -1;
    double processorSeconds = 0;
    double ownProcessorSeconds = 0;
};

bool completed(const Run& run)
{
    return run.seconds >= 0;
}

template<typename Work> Run measured(const Work& work)
{
    const double own = bench::usageSeconds(RUSAGE_SELF);
    const double children = bench::usageSeconds(RUSAGE_CHILDREN);
    const auto start = Clock::now();
    const bool succeeded = work();
    Run run;
    run.seconds = succeeded ? secondsSince(start) : -1;
    run.ownProcessorSeconds = bench::usageSeconds(RUSAGE_SELF) - own;
    run.processorSeconds
        = run.ownProcessorSeconds + bench::usageSeconds(RUSAGE_CHILDREN) - children;
    return run;
}

Run throughBridge(const ArgumentBlock& block)
{
    const Run run = measured(
        [&] { return EncoderCoreEncode(block.argc, block.argv.data(), block.duration) == 0; });
    const QStringList words = block.arguments();
    QFile::remove(words[words.indexOf("-o") + 1]);
    return run;
}

double direct(const QStringList& command)
{
    const auto start = Clock::now();
    const bool succeeded = runQuietly(command.first(), command.mid(1));
    return succeeded ? secondsSince(start) : -1;
}

Run measuredDirect(const QStringList& command)
{
    return measured([&] { return runQuietly(command.first(), command.mid(1)); });
}

// The bridge's mencoder command, writing its NUT into a plain file instead
// of the FIFO that the finishing stage read.
QStringList mencoderAlone(const QStringList& lastCommand, const QString& output)
{
    QStringList command = lastCommand.mid(0, lastCommand.indexOf("|"));
    command[command.indexOf("-o") + 1] = output;
    return command;
}

void BridgeAgainstMencoder(benchmark::State& state)
{
    QTemporaryDir folder;
    const auto made = Clock::now();
    const QString disc = makeDisc(folder);
    const double makingSeconds = secondsSince(made);
    const ArgumentBlockPtr block = disc.isEmpty() ? nullptr : buildList(disc, folder);
    if (!block) {
        state.SkipWithError("the disc or the list could not be made");
        return;
    }
    // One warm-up run gives the command and fills the disk caches.
    if (!completed(throughBridge(*block))) {
        state.SkipWithError("the bridge run failed");
        return;
    }
    const QStringList command
        = mencoderAlone(EncoderCoreLastCommand(), folder.filePath("alone.nut"));
    const auto rounds = bench::alternateIn(
        state, kRounds, [&] { return throughBridge(*block); },
        [&] { return measuredDirect(command); }, completed);
    if (!rounds)
        return;
    using bench::medianOf;
    const auto& [bridge, alone] = *rounds;
    state.counters["disc_made_s"] = makingSeconds;
    bench::reportPair(state, { medianOf(bridge, &Run::seconds), medianOf(alone, &Run::seconds) },
        "bridge_s", "mencoder_s", "ratio");
    state.counters["finishing_extra_s"]
        = medianOf(bridge, &Run::seconds) - medianOf(alone, &Run::seconds);
    // Processor time is what a busy machine shows where wall time does not:
    // the bridge's own threads, the finishing stage's ffmpeg and the probe.
    bench::reportPair(state,
        { medianOf(bridge, &Run::processorSeconds), medianOf(alone, &Run::processorSeconds) },
        "bridge_cpu_s", "mencoder_cpu_s", "cpu_ratio");
    state.counters["bridge_own_cpu_s"] = medianOf(bridge, &Run::ownProcessorSeconds);
}

BENCHMARK(BridgeAgainstMencoder)->Iterations(1)->Unit(benchmark::kSecond);

using Encode = int (*)(int argc, const char* const* argv, int duration);

struct BackupRun {
    const char* name;
    Encode encode;
    QStringList (*lastCommand)();
    QStringList list;
    QString output;
};

// One list through its bridge; the output is removed for the next run.
double throughBackupBridge(const BackupRun& run)
{
    ArgumentWriter writer("bench list");
    for (const QString& word : run.list)
        writer.add(word);
    const ArgumentBlockPtr block = writer.finish(kTitleSeconds);
    const auto start = Clock::now();
    const int status = block ? run.encode(block->argc, block->argv.data(), block->duration) : -1;
    const double seconds = secondsSince(start);
    QFile::remove(run.output);
    return status == 0 ? seconds : -1;
}

double directBackup(const QStringList& command, const QString& output)
{
    const double seconds = direct(command);
    QFile::remove(output);
    return seconds;
}

// Median bridge and direct times of one list, alternating which goes first.
bool compareBackup(const BackupRun& run, benchmark::State& state)
{
    if (throughBackupBridge(run) < 0) // warm-up: the command and the disk caches
        return false;
    const QStringList command = run.lastCommand();
    const auto medians = bench::alternateRounds(
        kRounds, [&] { return throughBackupBridge(run); },
        [&] { return directBackup(command, run.output); });
    if (!medians)
        return false;
    const std::string name = run.name;
    bench::reportPair(state, *medians, name + "_bridge_s", name + "_direct_s", name + "_ratio");
    return true;
}

void BackupBridgesAgainstTheirTools(benchmark::State& state)
{
    QTemporaryDir folder;
    const QString disc = makeDisc(folder);
    if (disc.isEmpty()) {
        state.SkipWithError("the disc could not be made");
        return;
    }
    const QString mkv = folder.filePath("backup.mkv");
    const QString iso = folder.filePath("backup.iso");
    const QString dump = folder.filePath("dump.vob");
    const BackupRun runs[] = {
        { "mkv", &appMain, &DVDToMKVLastCommand,
            { "encoder", "-i", disc, "-m", "-f", "mkv", "-e", "ffmpeg4", "-b", "2000", "-E",
                "copy:ac3", "-t", "1", "-a", "1", "-o", mkv },
            mkv },
        { "iso", &DiscBackupToolEncode, &DiscBackupToolLastCommand, { disc, iso, "iso" }, iso },
        { "dump", &PlayerStreamDumpEncode, &PlayerStreamDumpLastCommand,
            { "dvd://1", "-dvd-device", disc, "-ss", "0", "-dumpstream", "-dumpfile", dump },
            dump },
    };
    for (auto _ : state) {
        for (const BackupRun& run : runs) {
            if (!compareBackup(run, state)) {
                state.SkipWithError((std::string(run.name) + ": a run failed").c_str());
                return;
            }
        }
    }
}

BENCHMARK(BackupBridgesAgainstTheirTools)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    // The bridge writes the application log: keep it out of the real user's data.
    return bench::runBenchmarksInOwnHome<QCoreApplication>(argc, argv);
}

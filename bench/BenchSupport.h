#pragma once

// Timing helpers the benchmarks share, so that every one of them takes its
// medians, alternates its rounds and counts processor time the same way.

#include "platform/DNLogger.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The upper middle of an even count, as the benchmarks have always reported;
// -1 when nothing was timed.
inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

// Processor seconds, user and system, of RUSAGE_SELF or RUSAGE_CHILDREN so far.
inline double usageSeconds(int who)
{
    rusage usage {};
    ::getrusage(who, &usage);
    const auto seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The fields of /proc/<pid>/stat after the command name (the state is the
// first); empty when the process is gone.
inline QList<QByteArray> statFields(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2).split(' ');
}

// The running children of a process, found by their parent in /proc (the
// kernel's own children list is not built into every kernel).
inline std::vector<qint64> childProcesses(qint64 pid)
{
    std::vector<qint64> children;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isPid = false;
        const qint64 candidate = entry.toLongLong(&isPid);
        // The parent is field 4 of the line, 2 after the name.
        if (isPid && statFields(candidate).value(1).toLongLong() == pid)
            children.push_back(candidate);
    }
    return children;
}

// Processor seconds used so far by a process and its descendants still running.
inline double processorSeconds(qint64 pid)
{
    double seconds = 0;
    for (const qint64 child : childProcesses(pid))
        seconds += processorSeconds(child);
    const QList<QByteArray> fields = statFields(pid);
    // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
    return seconds
        + (fields.value(11).toDouble() + fields.value(12).toDouble())
        / double(::sysconf(_SC_CLK_TCK));
}

// Points HOME and the XDG folders at a folder of the run's own.
inline void useHome(const QString& home)
{
    for (const char* variable : { "HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME" })
        ::setenv(variable, QFile::encodeName(home).constData(), 1);
}

// The benchmarks named on the command line, after the application is made.
inline int runBenchmarks(int* argc, char** argv)
{
    benchmark::Initialize(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// The benchmarks named on the command line, with HOME and the XDG folders in
// a folder of the run's own, so that what the code measured writes (the
// application log, user defaults, pictures) stays out of the real user's
// data; 2 when that folder cannot be made.
template<typename Application> int runBenchmarksInOwnHome(int argc, char** argv)
{
    const QTemporaryDir home;
    if (!home.isValid())
        return 2;
    useHome(home.path());
    Application application(argc, argv);
    const int status = runBenchmarks(&argc, argv);
    // The log's run lock lies in the home, which goes first.
    DNLogger::shareRoughLog().close();
    return status;
}

// The one number a plain benchmark program takes (a count or a size), or
// `fallback` when none is given. Google Benchmark's own flags are passed over,
// so that every program can be run the same way; anything else that is not a
// whole number above zero is refused with the usage line.
inline std::optional<long long> numberArgument(
    int argc, char** argv, long long fallback, const char* usage)
{
    std::optional<long long> number;
    for (int i = 1; i < argc; ++i) {
        const QByteArray word(argv[i]);
        if (word.startsWith("--benchmark_"))
            continue;
        bool isNumber = false;
        const long long value = word.toLongLong(&isNumber);
        if (!isNumber || value <= 0 || number) {
            std::fprintf(stderr, "usage: %s\n", usage);
            return std::nullopt;
        }
        number = value;
    }
    return number.value_or(fallback);
}

// A timed run gives its seconds, or a negative number when it failed.
using TimedRun = std::function<double()>;

// The fastest of some runs; -1 as soon as one fails.
inline double fastestOf(int runs, const TimedRun& once)
{
    double fastest = -1;
    for (int run = 0; run < runs; ++run) {
        const double seconds = once();
        if (seconds < 0)
            return -1;
        fastest = fastest < 0 ? seconds : std::min(fastest, seconds);
    }
    return fastest;
}

struct PairedMedians {
    double ours = 0;
    double theirs = 0;
};

// A time or other measure of a run that gives a negative number when it failed.
inline bool succeeded(double measure)
{
    return measure >= 0;
}

// Both runs in each round, the one given first going first in the even
// rounds so that neither always finds the caches warmed by the other; the
// results of each, in the order the runs are given. Nothing as soon as a
// result is not complete.
template<typename FirstRun, typename SecondRun, typename Complete>
auto alternate(int rounds, const FirstRun& first, const SecondRun& second, const Complete& complete)
    -> std::optional<std::array<std::vector<std::invoke_result_t<FirstRun>>, 2>>
{
    std::array<std::vector<std::invoke_result_t<FirstRun>>, 2> results;
    for (int round = 0; round < rounds; ++round) {
        const bool inOrder = round % 2 == 0;
        const auto earlier = inOrder ? first() : second();
        const auto later = inOrder ? second() : first();
        if (!complete(earlier) || !complete(later))
            return std::nullopt;
        results[0].push_back(inOrder ? earlier : later);
        results[1].push_back(inOrder ? later : earlier);
    }
    return results;
}

// The benchmark's one iteration: the rounds of alternate(), the benchmark
// skipped when one did not complete.
template<typename FirstRun, typename SecondRun, typename Complete>
auto alternateIn(benchmark::State& state, int rounds, const FirstRun& first,
    const SecondRun& second, const Complete& complete)
{
    decltype(alternate(rounds, first, second, complete)) results;
    for (auto _ : state)
        results = alternate(rounds, first, second, complete);
    if (!results)
        state.SkipWithError("a round did not complete");
    return results;
}

// The median of one measure over the rounds, -1 when there were none.
template<typename Round> double medianOf(const std::vector<Round>& rounds, double Round::*measure)
{
    std::vector<double> values;
    for (const Round& round : rounds)
        values.push_back(round.*measure);
    return median(values);
}

// Both runs in each round, ours first in the even rounds. Nothing when a run
// failed.
inline std::optional<PairedMedians> alternateRounds(
    int rounds, const TimedRun& ours, const TimedRun& theirs)
{
    const auto times = alternate(rounds, ours, theirs, succeeded);
    if (!times)
        return std::nullopt;
    return PairedMedians { median((*times)[0]), median((*times)[1]) };
}

// Both medians and ours over theirs, under the benchmark's own counter names.
inline void reportPair(benchmark::State& state, const PairedMedians& medians,
    const std::string& oursKey, const std::string& theirsKey, const std::string& ratioKey)
{
    state.counters[oursKey] = medians.ours;
    state.counters[theirsKey] = medians.theirs;
    state.counters[ratioKey] = medians.ours / medians.theirs;
}

} // namespace bench

// What the player tool and its frame link cost on top of mplayer: a 10 s
// 1280x720 30 fps H.264/AAC clip played by mplayer alone (-vo null) and by
// the tool with a frame link server in this process, in alternating order,
// ten rounds. Reports the medians of: open to first status line (mplayer) or
// first picture (tool); "seek 7.0 2" to a status line at 7 s or a picture of
// second 7; processor time of 8 s of playback (the player's processes).
// Targets: picture within engine + 100 ms, seek within engine + 60 ms,
// processor time at most 1.5 x. The server's own processor time (picture
// conversion in this process) is reported beside them. The tool is told that
// the clip's sides are even ("-evensides"), as the main preview tells it of a
// media whose sides the probe found even.
//
//   build/<dir>/bench/player_link
#include "player/PlayerProcesses.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "BenchSupport.h"
#include "PlayerBenchSupport.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <optional>

namespace {

constexpr int kRounds = 10;

struct Round {
    double firstMs = -1;
    double seekMs = -1;
    double processorS = -1;
    double serverProcessorS = 0; // this process, where the server converts the pictures
};

// A player process whose output is read for its status lines.
class Player {
public:
    Player(const QStringList& command, const QElapsedTimer& clock)
        : m_clock(clock)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QUILLON_PLAYER_AO", "null");
        m_process.setProcessEnvironment(environment);
        m_process.start(command.first(), command.mid(1));
        m_process.waitForStarted();
    }
    ~Player()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    qint64 pid() const { return m_process.processId(); }
    void send(const QByteArray& command) { m_process.write(command); }

    // Reads output until a status line's video position satisfies `done`;
    // the time it did, in ms since the clock started, or -1.
    qint64 waitForStatus(const std::function<bool(double position)>& done)
    {
        static const QRegularExpression videoPosition("V:\\s*([0-9.]+)");
        const qint64 bound = m_clock.elapsed() + bench::kBoundMs;
        while (m_clock.elapsed() < bound && m_process.state() == QProcess::Running) {
            while (const std::optional<QByteArray> line = nextLine()) {
                const auto match = videoPosition.match(QString::fromLatin1(*line));
                if (match.hasMatch() && done(match.captured(1).toDouble()))
                    return m_clock.elapsed();
            }
            m_process.waitForReadyRead(20);
        }
        return -1;
    }

private:
    // The next whole line, ended by '\n' or '\r' (status lines end in '\r').
    std::optional<QByteArray> nextLine()
    {
        m_pending += m_process.readAllStandardOutput();
        const auto end = std::find_if(m_pending.begin(), m_pending.end(),
            [](char byte) { return byte == '\n' || byte == '\r'; });
        if (end == m_pending.end())
            return std::nullopt;
        const qsizetype length = end - m_pending.begin();
        const QByteArray line = m_pending.left(length);
        m_pending.remove(0, length + 1);
        return line;
    }

    QProcess m_process;
    const QElapsedTimer& m_clock;
    QByteArray m_pending;
};

QStringList playerWords(const QString& clip)
{
    return { clip, "-identify", "-slave", "-osdlevel", "0", "-vf", "screenshot", "-volume",
        "100.00" };
}

Round engineRound(const QString& clip, const QElapsedTimer& clock)
{
    const qint64 opened = clock.elapsed();
    Player player(QStringList { "mplayer", "-noconfig", "all", "-nolirc", "-nojoystick", "-ao",
                      "null", "-vo", "null" }
            + playerWords(clip),
        clock);
    Round round;
    round.firstMs = static_cast<double>(player.waitForStatus([](double) { return true; }) - opened);
    if (player.waitForStatus([](double position) { return position >= 8.0; }) < 0)
        return {};
    round.processorS = bench::processorSeconds(player.pid());
    const qint64 asked = clock.elapsed();
    player.send("seek 7.0 2\n");
    const qint64 shown
        = player.waitForStatus([](double position) { return position >= 7.0 && position < 8.0; });
    round.seekMs = shown < 0 ? -1 : static_cast<double>(shown - asked);
    return round;
}

Round toolRound(const QString& clip, bench::BareServer& server, const QElapsedTimer& clock)
{
    server.forget();
    const qint64 opened = clock.elapsed();
    const double ownAtOpen = bench::usageSeconds(RUSAGE_SELF);
    Player player(QStringList { PlayerProcesses::toolPath() } + playerWords(clip)
            + QStringList { "-ao", "coreaudio", "-vo",
                "corevideo:shared_buffer:buffer_name=\"" + server.name() + "\"", "-evensides" },
        clock);
    Round round;
    if (player.waitForStatus([&](double) { return server.firstAt() >= 0; }) < 0)
        return {};
    round.firstMs = static_cast<double>(server.firstAt() - opened);
    if (player.waitForStatus([](double position) { return position >= 8.0; }) < 0)
        return {};
    round.processorS = bench::processorSeconds(player.pid());
    round.serverProcessorS = bench::usageSeconds(RUSAGE_SELF) - ownAtOpen;
    // Playing to second 8 went through second 7, and the status runs ahead of
    // the pictures: a picture of second 7 may still be on its way. Once one
    // of a later second has come, every picture of second 7 is the seek's.
    server.forget();
    if (player.waitForStatus([&](double) { return server.otherAt() >= 0; }) < 0)
        return {};
    server.forget();
    const qint64 asked = clock.elapsed();
    player.send("seek 7.0 2\n");
    if (player.waitForStatus([&](double) { return server.secondSevenAt() >= 0; }) < 0)
        return {};
    round.seekMs = static_cast<double>(server.secondSevenAt() - asked);
    return round;
}

bool complete(const Round& round)
{
    return round.firstMs >= 0 && round.seekMs >= 0 && round.processorS >= 0;
}

void ToolAgainstEngine(benchmark::State& state)
{
    const QTemporaryDir folder;
    const QString clip
        = bench::makeClip(state, folder, bench::ClipMark::SecondSeven, bench::ClipSound::Tone);
    if (clip.isEmpty())
        return;
    QElapsedTimer clock;
    clock.start();
    bench::BareServer server("Bench", clock);
    if (!server.isListening()) {
        state.SkipWithError("the frame link cannot listen");
        return;
    }
    const auto rounds = bench::alternateIn(
        state, kRounds, [&] { return engineRound(clip, clock); },
        [&] { return toolRound(clip, server, clock); }, complete);
    if (!rounds)
        return;
    const auto& [engine, tool] = *rounds;
    using bench::medianOf;
    state.counters["engine_first_ms"] = medianOf(engine, &Round::firstMs);
    state.counters["tool_first_ms"] = medianOf(tool, &Round::firstMs);
    state.counters["engine_seek_ms"] = medianOf(engine, &Round::seekMs);
    state.counters["tool_seek_ms"] = medianOf(tool, &Round::seekMs);
    state.counters["engine_cpu_s"] = medianOf(engine, &Round::processorS);
    state.counters["tool_cpu_s"] = medianOf(tool, &Round::processorS);
    state.counters["server_cpu_s"] = medianOf(tool, &Round::serverProcessorS);
    state.counters["cpu_ratio"]
        = medianOf(tool, &Round::processorS) / medianOf(engine, &Round::processorS);
}

BENCHMARK(ToolAgainstEngine)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    // The server may write the application log: keep it out of the real user's data.
    return bench::runBenchmarksInOwnHome<QCoreApplication>(argc, argv);
}

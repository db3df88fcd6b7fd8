// What the main preview costs on top of the player tool with a bare frame
// link server: a 10 s 1280x720 30 fps H.264/AAC clip played, offscreen, by the
// preview (player control, renderer and a 640x360 picture view) and by the
// tool with a server alone, in alternating order, ten rounds. Reports the
// medians of: start to the first picture (painted, for the preview; handed
// on, for the bare server); "seek 7.0 2" to a picture of second 7; processor
// time per second of playback of the tool (with its mplayer) and of this
// process (the preview's side: conversion, copy and paint).
// Targets: first picture and seek within the bare tool's + 50 ms; the
// preview's side at most half the tool's processor time.
//
//   QT_QPA_PLATFORM=offscreen build/<dir>/bench/main_preview
#include "platform/UserDefaults.h"
#include "player/MPlayerVideoRenderer.h"
#include "player/NXMPlayerControl.h"
#include "player/NXMPlayerPictureView.h"
#include "player/NXMPlayerView.h"
#include "player/PlayerProcesses.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "BenchSupport.h"
#include "PlayerBenchSupport.h"

#include <benchmark/benchmark.h>

#include <functional>

#include <unistd.h>

namespace {

constexpr int kRounds = 10;
// Seconds of playback over which processor time is taken.
constexpr double kMeasuredFrom = 1.0;
constexpr double kMeasuredTo = 4.0;

// Waits check every 2 ms, not every 1: this process's processor time is
// measured, and the checks count in it.
bool spinUntil(const std::function<bool()>& done)
{
    return bench::spinUntil(done, 2);
}

struct Round {
    double firstMs = -1;
    double seekMs = -1;
    double toolCpuPerSecond = -1;
    double ownCpuPerSecond = -1;
};

// The tool's and this process's processor time over a stretch of playback.
struct CpuSpan {
    double tool = 0;
    double own = 0;
    void begin(qint64 pid)
    {
        tool = bench::processorSeconds(pid);
        own = bench::usageSeconds(RUSAGE_SELF);
    }
    void end(qint64 pid, Round& round) const
    {
        const double seconds = kMeasuredTo - kMeasuredFrom;
        round.toolCpuPerSecond = (bench::processorSeconds(pid) - tool) / seconds;
        round.ownCpuPerSecond = (bench::usageSeconds(RUSAGE_SELF) - own) / seconds;
    }
};

// The tool with a bare server, started as the main preview starts it.
class BareRun {
public:
    explicit BareRun(const QElapsedTimer& clock)
        : m_server("BenchBare", clock)
        , m_clock(clock)
    { }

    Round play(const QString& clip)
    {
        m_server.forget();
        m_output.clear();
        const qint64 opened = m_clock.elapsed();
        bench::ToolProcess tool({ clip, "-identify", "-slave", "-osdlevel", "0", "-ao", "coreaudio",
            "-vf", "screenshot", "-vo",
            "corevideo:shared_buffer:buffer_name=\"" + m_server.name() + "\"", "-volume",
            "100.00" });
        Round round;
        CpuSpan span;
        const auto position = [&] { return positionOf(tool); };
        if (!spinUntil([&] { return m_server.firstAt() >= 0; })
            || !spinUntil([&] { return position() >= kMeasuredFrom; }))
            return {};
        round.firstMs = static_cast<double>(m_server.firstAt() - opened);
        span.begin(tool.processId());
        if (!spinUntil([&] { return position() >= kMeasuredTo; }))
            return {};
        span.end(tool.processId(), round);
        const qint64 asked = m_clock.elapsed();
        tool.write("seek 7.0 2\n");
        if (!spinUntil([&] { return m_server.secondSevenAt() >= 0; }))
            return {};
        round.seekMs = static_cast<double>(m_server.secondSevenAt() - asked);
        return round;
    }

private:
    double positionOf(QProcess& tool)
    {
        static const QRegularExpression videoPosition("V:\\s*([0-9.]+)");
        m_output += tool.readAllStandardOutput();
        const qsizetype end = m_output.lastIndexOf('\r');
        const qsizetype start = m_output.lastIndexOf('\r', end - 1);
        if (end < 0)
            return -1;
        const auto match
            = videoPosition.match(QString::fromLatin1(m_output.mid(start + 1, end - start - 1)));
        return match.hasMatch() ? match.captured(1).toDouble() : -1;
    }

    bench::BareServer m_server;
    const QElapsedTimer& m_clock;
    QByteArray m_output;
};

// The preview as the main window has it, with the time each wanted picture
// began to be painted.
class PreviewRun : public QObject {
public:
    PreviewRun(const QElapsedTimer& clock, const QString& folder)
        : m_defaults(folder + "/defaults.conf")
        , m_control(m_defaults)
        , m_view(*m_control.render())
        , m_clock(clock)
    {
        m_view.setDelegate(&m_control);
        m_control.setSurface(&m_view);
        m_view.show();
        m_control.adjust(QRectF(0, 0, 640, 360));
        m_view.pictureView()->installEventFilter(this);
    }

    Round play(const QString& clip)
    {
        m_firstAt = m_sevenAt = -1;
        const qint64 opened = m_clock.elapsed();
        m_control.startPlaybackWithParams({ clip, "-identify", "-slave" });
        const qint64 pid = toolPid();
        if (pid == 0)
            return {};
        Round round;
        CpuSpan span;
        const auto position = [&] { return m_control.currentPlaybackTime(); };
        if (!spinUntil([&] { return m_firstAt >= 0; })
            || !spinUntil([&] { return position() >= kMeasuredFrom; }))
            return {};
        round.firstMs = static_cast<double>(m_firstAt - opened);
        span.begin(pid);
        if (!spinUntil([&] { return position() >= kMeasuredTo; }))
            return {};
        span.end(pid, round);
        const qint64 asked = m_clock.elapsed();
        m_control.seekToDuration(7);
        if (!spinUntil([&] { return m_sevenAt >= 0; }))
            return {};
        round.seekMs = static_cast<double>(m_sevenAt - asked);
        m_control.stopPlay();
        spinUntil([&] { return PlayerProcesses::shared().count() == 0; });
        return round;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            const QImage picture = m_control.render()->picture();
            if (!picture.isNull() && m_firstAt < 0)
                m_firstAt = m_clock.elapsed();
            if (bench::isSecondSeven(picture) && m_sevenAt < 0)
                m_sevenAt = m_clock.elapsed();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    // Our one running tool: the child of this process named after it.
    static qint64 toolPid()
    {
        for (const qint64 child : bench::childProcesses(::getpid())) {
            QFile name(QStringLiteral("/proc/%1/comm").arg(child));
            if (name.open(QIODevice::ReadOnly) && name.readAll().trimmed() == "DORavuzo")
                return child;
        }
        return 0;
    }

    UserDefaults m_defaults;
    NXMPlayerControl m_control;
    NXMPlayerView m_view;
    const QElapsedTimer& m_clock;
    qint64 m_firstAt = -1;
    qint64 m_sevenAt = -1;
};

// A tool that plays three seconds of video cannot have used no processor time:
// a round that measured none did not find the tool or its player.
bool complete(const Round& round)
{
    return round.firstMs >= 0 && round.seekMs >= 0 && round.toolCpuPerSecond > 0;
}

void PreviewAgainstBareTool(benchmark::State& state)
{
    const QTemporaryDir folder;
    const QString clip
        = bench::makeClip(state, folder, bench::ClipMark::SecondSeven, bench::ClipSound::Tone);
    if (clip.isEmpty())
        return;
    QElapsedTimer clock;
    clock.start();
    BareRun bare(clock);
    PreviewRun preview(clock, folder.path());
    const auto rounds = bench::alternateIn(
        state, kRounds, [&] { return bare.play(clip); }, [&] { return preview.play(clip); },
        complete);
    if (!rounds)
        return;
    const auto& [bareRounds, previewRounds] = *rounds;
    using bench::medianOf;
    state.counters["bare_first_ms"] = medianOf(bareRounds, &Round::firstMs);
    state.counters["preview_first_ms"] = medianOf(previewRounds, &Round::firstMs);
    state.counters["bare_seek_ms"] = medianOf(bareRounds, &Round::seekMs);
    state.counters["preview_seek_ms"] = medianOf(previewRounds, &Round::seekMs);
    state.counters["tool_cpu_per_s"] = medianOf(previewRounds, &Round::toolCpuPerSecond);
    state.counters["bare_side_cpu_per_s"] = medianOf(bareRounds, &Round::ownCpuPerSecond);
    state.counters["preview_side_cpu_per_s"] = medianOf(previewRounds, &Round::ownCpuPerSecond);
    state.counters["side_to_tool"] = medianOf(previewRounds, &Round::ownCpuPerSecond)
        / medianOf(previewRounds, &Round::toolCpuPerSecond);
}

BENCHMARK(PreviewAgainstBareTool)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    bench::playSilentlyOffscreen();
    // The preview writes the application log: keep it out of the real user's data.
    return bench::runBenchmarksInOwnHome<QApplication>(argc, argv);
}

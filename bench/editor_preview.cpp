// What the editor preview costs on top of the player tool with a bare frame
// link server: a 10 s 1280x720 30 fps clip played scaled to 400x225, offscreen,
// by the editor's preview control (both edit movie views shown) and by the
// tool with a server alone, in alternating order, ten rounds. Reports the
// medians of the time from a seek to 70 % (second 7) to the first picture of
// second 7: painted in both views, for the preview; handed on, for the bare
// server. Target: the preview within the bare tool's + 30 ms.
//
//   QT_QPA_PLATFORM=offscreen build/<dir>/bench/editor_preview
#include "editor/NXEditMovieView.h"
#include "editor/NXViewRenderControl.h"
#include "model/DNFileNode.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTemporaryDir>

#include "BenchSupport.h"
#include "PlayerBenchSupport.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>

namespace {

constexpr int kRounds = 10;
constexpr double kSeekPercent = 70;

// The tool with a bare server, started as the editor's previews start it:
// from its first picture, the seek to second 7.
double bareSeekMs(bench::BareServer& server, const QString& clip, const QElapsedTimer& clock)
{
    server.forget();
    bench::ToolProcess tool(bench::editorToolWords(clip, server.name()));
    if (!bench::spinUntil([&] { return server.firstAt() >= 0; }))
        return -1;
    const qint64 asked = clock.elapsed();
    tool.write("seek 7.0 2\n");
    if (!bench::spinUntil([&] { return server.secondSevenAt() >= 0; }))
        return -1;
    return static_cast<double>(server.secondSevenAt() - asked);
}

// The editor's preview, with the time the wanted picture had been painted in
// both views.
class PreviewRun : public QObject {
public:
    explicit PreviewRun(const QElapsedTimer& clock)
        : m_control(&m_window)
        , m_clock(clock)
    {
        m_window.resize(820, 240);
        m_control.originalView()->setGeometry(0, 0, 400, 225);
        m_control.effectView()->setGeometry(410, 0, 400, 225);
        m_control.setScaleVideoSize({ 400, 225 });
        m_control.setScaleVideoSizeFactor(1280 / 400.0);
        for (NXEditMovieView* view : { m_control.originalView(), m_control.effectView() })
            view->installEventFilter(this);
        m_window.show();
    }

    double seekMs(const QString& clip)
    {
        m_sevenPainted = { -1, -1 };
        // The views keep the last picture of the round before.
        for (NXEditMovieView* view : { m_control.originalView(), m_control.effectView() })
            view->setCurrentVideoFrame({});
        const DNFileNode node(clip);
        m_control.auto_detect_video_format_with_node(&node);
        m_control.startPlaybackWithParams({ clip, "-identify", "-slave" });
        if (!bench::spinUntil(
                [&] { return !m_control.originalView()->currentVideoFrame().isNull(); }))
            return -1;
        m_control.setDuration(10);
        const qint64 asked = m_clock.elapsed();
        m_control.seekToDurationInPercent(kSeekPercent);
        const bool shown
            = bench::spinUntil([&] { return m_sevenPainted[0] >= 0 && m_sevenPainted[1] >= 0; });
        bool stopped = false;
        const auto connection = QObject::connect(
            &m_control, &NXViewRenderControl::videoStopped, [&] { stopped = true; });
        m_control.stopPlay();
        bench::spinUntil([&] { return stopped; });
        QObject::disconnect(connection);
        return shown ? static_cast<double>(std::max(m_sevenPainted[0], m_sevenPainted[1]) - asked)
                     : -1;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            auto* view = static_cast<NXEditMovieView*>(watched);
            const int index = view == m_control.originalView() ? 0 : 1;
            if (bench::isSecondSeven(view->currentVideoFrame()) && m_sevenPainted[index] < 0)
                m_sevenPainted[index] = m_clock.elapsed();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget m_window;
    NXViewRenderControl m_control;
    const QElapsedTimer& m_clock;
    std::array<qint64, 2> m_sevenPainted { -1, -1 };
};

void SeekAgainstBareTool(benchmark::State& state)
{
    const QTemporaryDir folder;
    const QString clip
        = bench::makeClip(state, folder, bench::ClipMark::SecondSeven, bench::ClipSound::None);
    if (clip.isEmpty())
        return;
    QElapsedTimer clock;
    clock.start();
    bench::BareServer bare("BenchBare", clock);
    PreviewRun preview(clock);
    const auto times = bench::alternateIn(
        state, kRounds, [&] { return bareSeekMs(bare, clip, clock); },
        [&] { return preview.seekMs(clip); }, bench::succeeded);
    if (!times)
        return;
    const auto& [bareMs, previewMs] = *times;
    state.counters["bare_seek_ms"] = bench::median(bareMs);
    state.counters["preview_seek_ms"] = bench::median(previewMs);
    state.counters["preview_minus_bare_ms"] = bench::median(previewMs) - bench::median(bareMs);
}

BENCHMARK(SeekAgainstBareTool)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    bench::playSilentlyOffscreen();
    // The preview writes the application log and makes the pictures folder:
    // keep both out of the real user's data.
    return bench::runBenchmarksInOwnHome<QApplication>(argc, argv);
}

// What opening the editor costs on top of the player tool with a bare frame
// link server: a 10 s 1280x720 30 fps clip, offscreen. The editor round runs
// the main window's edit request (`setTabViewAppearItemIndex`, `setMediaNode`,
// `displayVideoEditorPanel`) and ends when both previews have painted a
// picture; the bare round starts the tool with a server alone and ends at the
// first picture handed on. Alternating order, ten rounds; reports the medians.
// Target: the editor within the bare tool's + 350 ms, its 0.25 s start delay
// included.
//
//   QT_QPA_PLATFORM=offscreen build/<dir>/bench/editor_open
#include "editor/DNVideoEditorController.h"
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
#include <memory>

namespace {

constexpr int kRounds = 10;

// The tool with a bare server, started as the editor's previews start it, to
// its first picture.
double bareOpenMs(bench::BareServer& server, const QString& clip, const QElapsedTimer& clock)
{
    server.forget();
    const qint64 asked = clock.elapsed();
    const bench::ToolProcess tool(bench::editorToolWords(clip, server.name()));
    if (!bench::spinUntil([&] { return server.firstAt() >= 0; }))
        return -1;
    return static_cast<double>(server.firstAt() - asked);
}

// The editor sheet opened on a window as the main window does, with the time
// a picture had been painted in both previews.
class EditorRun : public QObject {
public:
    explicit EditorRun(const QElapsedTimer& clock)
        : m_clock(clock)
    {
        m_window.resize(900, 700);
        m_window.show();
        m_editor = new DNVideoEditorController(&m_window);
        auto* control = m_editor->renderControl();
        for (NXEditMovieView* view : { control->originalView(), control->effectView() })
            view->installEventFilter(this);
    }

    double openMs(const QString& clip)
    {
        m_painted = { -1, -1 };
        auto* control = m_editor->renderControl();
        // The views keep the last picture of the round before.
        for (NXEditMovieView* view : { control->originalView(), control->effectView() })
            view->setCurrentVideoFrame({});
        DNTVideo track;
        track.duration = 10;
        track.width = 1280;
        track.height = 720;
        auto node = std::make_shared<DNFileNode>(clip);
        node->setVideoTracks({ track });
        const qint64 asked = m_clock.elapsed();
        m_editor->setTabViewAppearItemIndex(0);
        m_editor->setMediaNode(node);
        m_editor->displayVideoEditorPanel(&m_window);
        const bool shown = bench::spinUntil([&] { return m_painted[0] >= 0 && m_painted[1] >= 0; });
        m_editor->onEditorDone();
        return shown ? static_cast<double>(std::max(m_painted[0], m_painted[1]) - asked) : -1;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            auto* view = static_cast<NXEditMovieView*>(watched);
            const int index = view == m_editor->renderControl()->originalView() ? 0 : 1;
            if (!view->currentVideoFrame().isNull() && m_painted[index] < 0)
                m_painted[index] = m_clock.elapsed();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget m_window;
    DNVideoEditorController* m_editor = nullptr;
    const QElapsedTimer& m_clock;
    std::array<qint64, 2> m_painted { -1, -1 };
};

void OpenAgainstBareTool(benchmark::State& state)
{
    const QTemporaryDir folder;
    const QString clip
        = bench::makeClip(state, folder, bench::ClipMark::None, bench::ClipSound::None);
    if (clip.isEmpty())
        return;
    QElapsedTimer clock;
    clock.start();
    bench::BareServer bare("BenchBareOpen", clock);
    EditorRun editor(clock);
    const auto times = bench::alternateIn(
        state, kRounds, [&] { return bareOpenMs(bare, clip, clock); },
        [&] { return editor.openMs(clip); }, bench::succeeded);
    if (!times)
        return;
    const auto& [bareMs, editorMs] = *times;
    state.counters["bare_first_picture_ms"] = bench::median(bareMs);
    state.counters["editor_first_picture_ms"] = bench::median(editorMs);
    state.counters["editor_minus_bare_ms"] = bench::median(editorMs) - bench::median(bareMs);
}

BENCHMARK(OpenAgainstBareTool)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    bench::playSilentlyOffscreen();
    // The editor writes the application log and makes the pictures folder:
    // keep both out of the real user's data.
    return bench::runBenchmarksInOwnHome<QApplication>(argc, argv);
}

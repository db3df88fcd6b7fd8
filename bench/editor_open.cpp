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
#include "player/FrameLinkServer.h"
#include "player/PlayerProcesses.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kRounds = 10;
constexpr qint64 kBoundMs = 15'000;

bool makeClip(const QString& path)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
        { "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
            "testsrc2=size=1280x720:rate=30:duration=10", "-c:v", "libx264", "-preset", "veryfast",
            "-g", "30", "-pix_fmt", "yuv420p", path });
    return ffmpeg.waitForFinished(120'000) && ffmpeg.exitCode() == 0;
}

// Runs the event loop until `done` holds; false when the bound passed first.
bool spinUntil(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer check;
    check.setInterval(1);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > kBoundMs)
            loop.quit();
    });
    if (!done()) {
        check.start();
        loop.exec();
    }
    return done();
}

// The tool with a bare server: the first picture counts as it comes, on the
// server's thread, and nothing is painted.
class BareRun {
public:
    explicit BareRun(const QElapsedTimer& clock)
        : m_server("BenchBareOpen")
        , m_clock(clock)
    {
        QObject::connect(
            &m_server, &FrameLinkServer::pictureReady, &m_server,
            [this] {
                m_server.takePicture();
                qint64 none = -1;
                m_firstAt.compare_exchange_strong(none, m_clock.elapsed());
            },
            Qt::DirectConnection);
        m_server.listen();
    }

    double openMs(const QString& clip)
    {
        m_firstAt = -1;
        const qint64 asked = m_clock.elapsed();
        QProcess tool;
        tool.start(PlayerProcesses::toolPath(),
            { clip, "-identify", "-slave", "-osdlevel", "0", "-ao", "coreaudio", "-vf",
                "scale=400:225", "-ss", "0", "-vo", "corevideo:buffer_name=\"BenchBareOpen\"",
                "-volume", "50.00", "-loop", "0" });
        const bool shown = spinUntil([&] { return m_firstAt >= 0; });
        tool.kill();
        tool.waitForFinished();
        return shown ? static_cast<double>(m_firstAt - asked) : -1;
    }

private:
    FrameLinkServer m_server;
    const QElapsedTimer& m_clock;
    std::atomic<qint64> m_firstAt { -1 };
};

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
        const bool shown = spinUntil([&] { return m_painted[0] >= 0 && m_painted[1] >= 0; });
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

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

void OpenAgainstBareTool(benchmark::State& state)
{
    QTemporaryDir folder;
    const QString clip = folder.filePath("clip 720p.mp4");
    if (!makeClip(clip)) {
        state.SkipWithError("cannot make the clip");
        return;
    }
    QElapsedTimer clock;
    clock.start();
    BareRun bare(clock);
    EditorRun editor(clock);
    std::vector<double> bareMs;
    std::vector<double> editorMs;
    for (auto _ : state) {
        for (int index = 0; index < kRounds; ++index) {
            const bool bareFirst = index % 2 == 0;
            const double first = bareFirst ? bare.openMs(clip) : editor.openMs(clip);
            const double second = bareFirst ? editor.openMs(clip) : bare.openMs(clip);
            if (first < 0 || second < 0) {
                state.SkipWithError("a round did not complete");
                return;
            }
            bareMs.push_back(bareFirst ? first : second);
            editorMs.push_back(bareFirst ? second : first);
        }
    }
    state.counters["bare_first_picture_ms"] = median(bareMs);
    state.counters["editor_first_picture_ms"] = median(editorMs);
    state.counters["editor_minus_bare_ms"] = median(editorMs) - median(bareMs);
}

BENCHMARK(OpenAgainstBareTool)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    // The editor writes the application log and makes the pictures folder:
    // keep both out of the real user's data.
    QTemporaryDir home;
    if (!home.isValid())
        return 2;
    for (const char* name : { "HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME" })
        ::setenv(name, QFile::encodeName(home.path()).constData(), 1);
    ::setenv("QUILLON_PLAYER_AO", "null", 1);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

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

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <vector>

namespace {

constexpr int kRounds = 10;
constexpr qint64 kBoundMs = 15'000;
constexpr double kSeekPercent = 70;
const QStringList kScale { "-vf", "scale=400:225" };

// Second 7, and only second 7, shows a white box at the top left.
bool makeClip(const QString& path)
{
    const QString video = "testsrc2=size=1280x720:rate=30:duration=10,"
                          "drawbox=x=0:y=0:w=64:h=64:color=black:t=fill,"
                          "drawbox=x=0:y=0:w=64:h=64:color=white:t=fill:enable='between(t,7,7.99)'";
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
        { "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", video, "-c:v", "libx264", "-preset",
            "veryfast", "-g", "30", "-pix_fmt", "yuv420p", path });
    return ffmpeg.waitForFinished(120'000) && ffmpeg.exitCode() == 0;
}

// The box is 20x20 at 400x225.
bool isSecondSeven(const QImage& picture)
{
    return !picture.isNull() && qGray(picture.pixel(8, 8)) > 200;
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

// The tool with a bare server: pictures are taken as they come, on the
// server's thread, and nothing is painted.
class BareRun {
public:
    explicit BareRun(const QElapsedTimer& clock)
        : m_server("BenchBare")
        , m_clock(clock)
    {
        QObject::connect(
            &m_server, &FrameLinkServer::pictureReady, &m_server,
            [this] {
                const QImage picture = m_server.takePicture();
                m_pictures += 1;
                qint64 none = -1;
                if (isSecondSeven(picture))
                    m_sevenAt.compare_exchange_strong(none, m_clock.elapsed());
            },
            Qt::DirectConnection);
        m_server.listen();
    }

    double seekMs(const QString& clip)
    {
        m_pictures = 0;
        m_sevenAt = -1;
        QProcess tool;
        tool.start(PlayerProcesses::toolPath(),
            QStringList { clip, "-identify", "-slave", "-osdlevel", "0", "-ao", "coreaudio" }
                + kScale
                + QStringList { "-ss", "0", "-vo", "corevideo:buffer_name=\"BenchBare\"", "-volume",
                    "50.00", "-loop", "0" });
        if (!spinUntil([&] { return m_pictures > 0; }))
            return -1;
        const qint64 asked = m_clock.elapsed();
        tool.write("seek 7.0 2\n");
        const bool shown = spinUntil([&] { return m_sevenAt >= 0; });
        tool.kill();
        tool.waitForFinished();
        return shown ? static_cast<double>(m_sevenAt - asked) : -1;
    }

private:
    FrameLinkServer m_server;
    const QElapsedTimer& m_clock;
    std::atomic<int> m_pictures { 0 };
    std::atomic<qint64> m_sevenAt { -1 };
};

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
        if (!spinUntil([&] { return !m_control.originalView()->currentVideoFrame().isNull(); }))
            return -1;
        m_control.setDuration(10);
        const qint64 asked = m_clock.elapsed();
        m_control.seekToDurationInPercent(kSeekPercent);
        const bool shown
            = spinUntil([&] { return m_sevenPainted[0] >= 0 && m_sevenPainted[1] >= 0; });
        bool stopped = false;
        const auto connection = QObject::connect(
            &m_control, &NXViewRenderControl::videoStopped, [&] { stopped = true; });
        m_control.stopPlay();
        spinUntil([&] { return stopped; });
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
            if (isSecondSeven(view->currentVideoFrame()) && m_sevenPainted[index] < 0)
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
    QTemporaryDir folder;
    const QString clip = folder.filePath("clip 720p.mp4");
    if (!makeClip(clip)) {
        state.SkipWithError("cannot make the clip");
        return;
    }
    QElapsedTimer clock;
    clock.start();
    BareRun bare(clock);
    PreviewRun preview(clock);
    std::vector<double> bareMs;
    std::vector<double> previewMs;
    for (auto _ : state) {
        for (int index = 0; index < kRounds; ++index) {
            const bool bareFirst = index % 2 == 0;
            const double first = bareFirst ? bare.seekMs(clip) : preview.seekMs(clip);
            const double second = bareFirst ? preview.seekMs(clip) : bare.seekMs(clip);
            if (first < 0 || second < 0) {
                state.SkipWithError("a round did not complete");
                return;
            }
            bareMs.push_back(bareFirst ? first : second);
            previewMs.push_back(bareFirst ? second : first);
        }
    }
    state.counters["bare_seek_ms"] = bench::median(bareMs);
    state.counters["preview_seek_ms"] = bench::median(previewMs);
    state.counters["preview_minus_bare_ms"] = bench::median(previewMs) - bench::median(bareMs);
}

BENCHMARK(SeekAgainstBareTool)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    // The preview writes the application log and makes the pictures folder:
    // keep both out of the real user's data.
    QTemporaryDir home;
    if (!home.isValid())
        return 2;
    bench::useHome(home.path());
    ::setenv("QUILLON_PLAYER_AO", "null", 1);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    return bench::runBenchmarks(&argc, argv);
}

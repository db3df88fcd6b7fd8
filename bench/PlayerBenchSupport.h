#pragma once

// What the player benchmarks share: the clip they play, the waiting on the
// event loop, and the player tool run with a bare frame link server, the
// yardstick each part of the player is measured against.

#include "player/FrameLinkServer.h"
#include "player/PlayerProcesses.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <functional>

namespace bench {

// How long any one wait of a round may take before the round counts as failed.
constexpr qint64 kBoundMs = 15'000;

// The clip is 1280 pixels wide, 720 high; the mark is a square this wide at
// its top left.
constexpr int kClipWidth = 1280;
constexpr int kMarkSide = 64;

// Whether the mark at the top left is white only in second 7, so that a
// picture tells which second it is of without a timestamp.
enum class ClipMark { None, SecondSeven };
// Whether the clip carries a sound track for the player to decode too.
enum class ClipSound { None, Tone };

// A 10 s 1280x720 30 fps H.264 clip in `folder`, with AAC sound when asked;
// an empty path, the benchmark skipped, when it cannot be made.
inline QString makeClip(
    benchmark::State& state, const QTemporaryDir& folder, ClipMark mark, ClipSound sound)
{
    QString video = "testsrc2=size=1280x720:rate=30:duration=10";
    if (mark == ClipMark::SecondSeven)
        video += ",drawbox=x=0:y=0:w=64:h=64:color=black:t=fill,"
                 "drawbox=x=0:y=0:w=64:h=64:color=white:t=fill:enable='between(t,7,7.99)'";
    QStringList words { "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", video };
    if (sound == ClipSound::Tone)
        words += { "-f", "lavfi", "-i", "sine=frequency=440:duration=10" };
    words += { "-c:v", "libx264", "-preset", "veryfast", "-g", "30", "-pix_fmt", "yuv420p" };
    if (sound == ClipSound::Tone)
        words += { "-c:a", "aac", "-shortest" };
    const QString path = folder.filePath("clip 720p.mp4");
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", words + QStringList { path });
    if (ffmpeg.waitForFinished(120'000) && ffmpeg.exitCode() == 0)
        return path;
    state.SkipWithError("cannot make the clip");
    return {};
}

// Whether a picture of the marked clip, at any scale, is of second 7: the
// middle of the mark is white.
inline bool isSecondSeven(const QImage& picture)
{
    const int middle = kMarkSide / 2 * picture.width() / kClipWidth;
    return !picture.isNull() && qGray(picture.pixel(middle, middle)) > 200;
}

// Runs the event loop until `done` holds; false when the bound passed first.
// The check is a light timer: a loop that spins would be counted as the
// processor time of the code measured.
inline bool spinUntil(const std::function<bool()>& done, int checkEveryMs = 1)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer check;
    check.setInterval(checkEveryMs);
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

// The players play without sound, and off the screen unless a display is
// asked for, so that a run neither disturbs nor depends on the desktop.
inline void playSilentlyOffscreen()
{
    ::setenv("QUILLON_PLAYER_AO", "null", 1);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

// A frame link server alone: it takes each picture as it comes, on its own
// thread, and paints nothing. It notes, on the bench's clock, when the first
// picture came and when the first of second 7 did, so that what a player
// part adds on top of it is all that differs.
class BareServer {
public:
    BareServer(const QString& name, const QElapsedTimer& clock)
        : m_server(name)
        , m_clock(clock)
    {
        QObject::connect(
            &m_server, &FrameLinkServer::pictureReady, &m_server,
            [this] {
                const QImage picture = m_server.takePicture();
                qint64 none = -1;
                m_firstAt.compare_exchange_strong(none, m_clock.elapsed());
                none = -1;
                std::atomic<qint64>& noted = isSecondSeven(picture) ? m_secondSevenAt : m_otherAt;
                noted.compare_exchange_strong(none, m_clock.elapsed());
            },
            Qt::DirectConnection);
        m_listening = m_server.listen();
    }

    bool isListening() const { return m_listening; }
    QString name() const { return m_server.bufferName(); }

    // Forgets the pictures so far, before a run or a seek whose pictures count.
    void forget()
    {
        m_firstAt = -1;
        m_secondSevenAt = -1;
        m_otherAt = -1;
    }

    // When the first picture since forget() came, or -1.
    qint64 firstAt() const { return m_firstAt; }
    // When the first picture of second 7 since forget() came, or -1.
    qint64 secondSevenAt() const { return m_secondSevenAt; }
    // When the first picture not of second 7 since forget() came, or -1.
    qint64 otherAt() const { return m_otherAt; }

private:
    FrameLinkServer m_server;
    const QElapsedTimer& m_clock;
    bool m_listening = false;
    std::atomic<qint64> m_firstAt { -1 };
    std::atomic<qint64> m_secondSevenAt { -1 };
    std::atomic<qint64> m_otherAt { -1 };
};

// The player tool started on the words given, and ended with the scope,
// whichever way a round leaves it.
class ToolProcess : public QProcess {
public:
    explicit ToolProcess(const QStringList& words) { start(PlayerProcesses::toolPath(), words); }
    ~ToolProcess() override
    {
        kill();
        waitForFinished();
    }
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;
};

// The tool's words as the editor's previews start it on a clip, scaled to
// 400x225, its pictures going to the frame link server named `serverName`.
inline QStringList editorToolWords(const QString& clip, const QString& serverName)
{
    return { clip, "-identify", "-slave", "-osdlevel", "0", "-ao", "coreaudio", "-vf",
        "scale=400:225", "-ss", "0", "-vo", "corevideo:buffer_name=\"" + serverName + "\"",
        "-volume", "50.00", "-loop", "0" };
}

} // namespace bench

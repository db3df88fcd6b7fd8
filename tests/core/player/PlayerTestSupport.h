#pragma once

#include "player/FrameLinkServer.h"

#include <QImage>
#include <QProcess>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

using namespace std::chrono_literals;

// Reads a whole file (nothing when it cannot be read) and writes one (true
// when every byte was written).
QByteArray readAll(const QString& path);
bool writeAll(const QString& path, const QByteArray& bytes);

// Clips for the player, made with ffmpeg's lavfi sources once per build folder
// under a lock. In the "shades" clips (320x240, 10 fps, a key frame each
// second) the 64x64 box at the top left has the luma 30 + 20 x the second.
namespace PlayerClips {
inline constexpr const char* kShades3 = "shades3.mp4";
inline constexpr const char* kShades10 = "shades10.mp4";
inline constexpr const char* kShades10OneKeyFrame = "shades10key.mp4"; // its only key frame first
inline constexpr const char* kOddWidth = "odd853.mp4"; // 853x480, 1 s
// MPEG-4 Part 2 of odd sides, which its decoder hands on as they are: 1 s each.
inline constexpr const char* kOddWidthMpeg4 = "odd853-mpeg4.mp4"; // 853x480
inline constexpr const char* kOddSidesMpeg4 = "odd321x241-mpeg4.mp4"; // 321x241
inline constexpr const char* kOnePixelMpeg4 = "one-pixel-mpeg4.mp4"; // 1x1
inline constexpr const char* kWideMpeg2 = "wide.mpg"; // MPEG-2 720x480 16:9, 1 s
inline constexpr const char* kSizeChange = "change.ts"; // 320x240 1 s, then 160x120 1 s
inline constexpr const char* kEmpty = "empty.mp4";
inline constexpr const char* kRandomBytes = "random.bin";
QString path(const char* name);
} // namespace PlayerClips

// A frame link server under the given name, listening, with what it reported
// as events: "start 320x240 133" (size and aspect), "picture 3" (the second
// of a "shades" picture), "stop". They are recorded on the server's thread.
class RecordedServer {
public:
    explicit RecordedServer(const QString& name,
        MPlayerOSXVOProto::PixelFormat format = MPlayerOSXVOProto::kFormatYuvs);
    // Ends the server's thread before the events it records into are gone.
    ~RecordedServer();

    // Waits, at most `bound`, until `condition` holds for the events.
    bool waitUntil(const std::function<bool(const QStringList&)>& condition,
        std::chrono::milliseconds bound = 10s);
    bool waitFor(const QString& event, std::chrono::milliseconds bound = 10s);
    // The events so far, with repeats in a row shown once.
    QStringList events() const;
    // How many events begin with `prefix`, repeats included.
    int count(const QString& prefix) const;
    // The last picture that came, null before the first.
    QImage lastPicture() const;

    FrameLinkServer server;

private:
    void record(const QString& event);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QStringList m_events;
    QImage m_lastPicture;
};

// The command line of the mplayer that a tool of ours runs, none when none runs.
QList<QByteArray> ourMPlayerArguments();

// The process group that the tool's mplayer leads, 0 when there is none.
int playerGroupOf(qint64 tool);

// The player tool run as the previews run it, with commands and output.
class ToolRun {
public:
    // A preview's command line for `media`, the frame link named `bufferName`.
    static QStringList previewArguments(const QString& media, const QString& bufferName);

    explicit ToolRun(const QStringList& arguments, const QStringList& environment = {});
    ~ToolRun();

    void send(const QByteArray& command);
    // Waits until `text` has appeared `occurrence` times in the output.
    bool waitForOutput(const QByteArray& text, int occurrence = 1);
    // The exit status, or -1 when the tool has not ended normally within `bound`.
    int waitForExit(std::chrono::milliseconds bound = 10s);
    QByteArray output();
    QProcess process;

private:
    QByteArray m_output;
};

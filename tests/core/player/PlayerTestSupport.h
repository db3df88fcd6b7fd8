#pragma once

#include "player/FrameLinkServer.h"

#include <QByteArray>
#include <QImage>
#include <QProcess>
#include <QSize>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

using namespace std::chrono_literals;

// Clips for the player, made with ffmpeg's lavfi sources once per build folder
// under a lock. In the "shades" clips (320x240, 10 fps, a key frame each
// second) the 64x64 box at the top left has the luma 30 + 20 x the second.
namespace PlayerClips {
inline constexpr const char* kShades3 = "shades3.mp4";
inline constexpr const char* kShades10 = "shades10.mp4";
inline constexpr const char* kOddWidth = "odd853.mp4"; // 853x480, 1 s
inline constexpr const char* kWideMpeg2 = "wide.mpg"; // MPEG-2 720x480 16:9, 1 s
inline constexpr const char* kSizeChange = "change.ts"; // 320x240 1 s, then 160x120 1 s
inline constexpr const char* kEmpty = "empty.mp4";
inline constexpr const char* kRandomBytes = "random.bin";
// The path of a clip; fails the test when the clips cannot be made.
QString path(const char* name);
} // namespace PlayerClips

// The second of a "shades" picture, read from the luma of its box.
int secondOf(const QImage& picture);

// What a frame link server reported, recorded on its own thread.
class LinkRecorder {
public:
    struct Start {
        QSize size;
        int aspect = 0;
    };

    explicit LinkRecorder(FrameLinkServer& server);

    // Waits, at most `bound`, until `condition` holds; true when it does.
    bool waitUntil(const std::function<bool(const LinkRecorder&)>& condition,
        std::chrono::milliseconds bound = 10s);
    bool waitForPictureOf(int second, std::chrono::milliseconds bound = 10s);

    // Read these under waitUntil or once the tool has ended.
    std::vector<Start> starts;
    std::vector<int> seconds; // of every picture, in order
    int ends = 0;
    // "start", "picture", "stop" in the order they came.
    QStringList events;

    std::size_t pictureCount() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
};

// The player tool run as the previews run it, with commands and output.
class ToolRun {
public:
    // A preview's command line for `media`, the frame link named `bufferName`.
    static QStringList previewArguments(const QString& media, const QString& bufferName);

    explicit ToolRun(const QStringList& arguments, const QStringList& environment = {});
    ~ToolRun();

    void send(const QByteArray& command);
    // Waits until `text` has appeared `occurrence` times in the output.
    bool waitForOutput(
        const QByteArray& text, int occurrence = 1, std::chrono::milliseconds bound = 10s);
    // The exit status, or -1 when the tool has not ended within `bound`.
    int waitForExit(std::chrono::milliseconds bound = 10s);
    QByteArray output();
    QByteArray errors();
    qint64 pid() const { return m_process.processId(); }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    QByteArray m_output;
};

#pragma once

#include "gui/GuiTestSupport.h"
#include "shell/NXAppController.h"

#include <QImage>
#include <QProcess>
#include <QRectF>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

class NXMPlayerControl;
class NXMPlayerView;

// Clips for the preview, made with ffmpeg's lavfi sources in the test's own
// folder. In a "shades" clip (640x360, 10 fps, a key frame each second) the
// 64x64 box at the top left has the luma 30 + 20 x the second.
namespace PreviewClips {
bool ffmpeg(const QStringList& arguments, const QString& output);
// With a 440 Hz tone when `withSound`.
bool makeShades(
    const QString& output, int seconds, bool withSound = false, int keyFrameSeconds = 1);
// A phone's portrait clip: stored 1920x1080 and turned a quarter clockwise
// for display (1080x1920 upright), 2 s at 5 fps.
bool makePhoneClip(const QString& output);
// The second a painted "shades" picture shows, read in the middle of its box
// where the picture was painted at `picture`.
int secondShown(const QImage& painted, const QRectF& picture);
// A "numbered" clip: 320x180 at 25 fps, 30 s, a key frame every 40 pictures,
// with a tone of 440 Hz that turns 880 Hz at the picture of second 3. The top
// 24 rows carry the picture's number in ten bits, bit i white in the 32
// columns from 32 x i; below them grey, but for a black bar in the bottom 30
// rows in seconds 3 to 5. The pictures start `soundLead` seconds after the
// sound; `options` go to the output (a clock's start).
bool makeNumbered(const QString& output, double soundLead, const QStringList& options);
// The number a painted "numbered" picture shows where it was painted at
// `picture`; -1 for a picture without one.
int numberShown(const QImage& painted, const QRectF& picture);
} // namespace PreviewClips

// The main window as the application makes it, with what its player posted.
struct PreviewWindow {
    PreviewWindow();
    ~PreviewWindow();
    NXMPlayerControl* player() const;
    NXMPlayerView& view() const;
    bool waitFor(const QString& name, int count = 1);

    ScriptedDialogs dialogs;
    RecordingSystem recorder;
    NXSystemActions system = recorder.actions();
    std::optional<NXAppController> window;
    QStringList posted;
};

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
bool makeShades(const QString& output, int seconds, bool withSound = false);
// The second a painted "shades" picture shows, read in the middle of its box
// where the picture was painted at `picture`.
int secondShown(const QImage& painted, const QRectF& picture);
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

// An X server of its own for a test: Xvfb on the display it picks itself
// (-displayfd), stopped by pid when the object goes.
class XvfbServer {
public:
    XvfbServer();
    ~XvfbServer();
    // ":N", or empty when the server could not be started.
    QString display() const { return m_display; }

private:
    QProcess m_process;
    QString m_display;
};

// A private PulseAudio server with one null sink, in a runtime folder of its
// own, stopped by pid when the object goes.
class PulseServer {
public:
    PulseServer();
    ~PulseServer();
    // "unix:<socket>" for PULSE_SERVER, or empty when it did not start.
    QString address() const { return m_address; }
    // `pactl` with the arguments, against this server; its output.
    QString pactl(const QStringList& arguments) const;

private:
    QTemporaryDir m_runtime;
    QProcess m_process;
    QString m_address;
};

#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// A private X server for a test: Xvfb on a display number it picks itself
// (-displayfd), with programs shown on it. Everything is stopped by pid when
// the object goes.
class PrivateDisplay {
public:
    PrivateDisplay() = default;
    ~PrivateDisplay();
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    // Starts a 1920x1080 screen; the reason when it could not.
    QString start();
    // ":N", for DISPLAY.
    QString display() const { return m_display; }
    // Shows moving content: 1280x720 at (100,100), 30 frames a second.
    QString showMovingPicture();
    // Plays ffplay with these arguments on the display (its sound goes to the
    // default sound server) and returns at once: the player, which stays ours,
    // or nothing when it could not be started.
    QProcess* play(const QStringList& arguments);

private:
    std::unique_ptr<QProcess> m_server;
    std::vector<std::unique_ptr<QProcess>> m_players;
    QString m_display;
};

// Stops a child of ours by its pid: SIGTERM, then SIGKILL when it does not end.
void stopByPid(QProcess& process);

// One test of this executable (a DISABLED_ one, named in full) run in a child
// on a private X display with the xcb platform: a Qt application keeps the
// window system it started with, so an X test cannot run in an offscreen one.
// `environment` ("NAME=value") is added to the child's, e.g. QT_SCALE_FACTOR=2
// for a desktop at scale 2.
struct TestUnderX {
    QString skipped; // why no X server could be started; the rest is unset then
    int exitCode = -1;
    QByteArray output;
    bool passed() const { return exitCode == 0 && output.contains("[  PASSED  ] 1 test"); }
};
TestUnderX runTestUnderPrivateDisplay(const QString& testName, const QStringList& environment = {});

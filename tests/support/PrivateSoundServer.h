#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A private PulseAudio server for a test, with its own runtime and home
// folders and one null sink "speakers" as the default output. start() points
// PULSE_SERVER of this process (and so of every child) at it. Stopped by pid.
class PrivateSoundServer {
public:
    PrivateSoundServer() = default;
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    // The reason when it could not be started, else empty.
    QString start();
    // Runs pactl with the arguments against the server; its output, or
    // nothing when it failed.
    static QString pactl(const QStringList& arguments, bool* ok = nullptr);
    // Loads a source "microphone" that plays a sine of that frequency.
    QString addSineMicrophone(int frequency);
    // Points PULSE_SERVER at a socket that does not exist: no server answers.
    static void pointAtNoServer();
    // Points PULSE_SERVER back at this server.
    void pointAtThisServer() const;
    // Sends the server a signal (to stop, continue or kill it); false when it has none running.
    bool signal(int number) const;

private:
    QTemporaryDir m_root;
    std::unique_ptr<QProcess> m_server;
    QString m_address;
};

#pragma once

#include "record/CameraCapture.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QProcess>
#include <QTimer>

#include <memory>
#include <optional>

// One camera session: a single ffmpeg child that takes the camera (and the
// microphone), hands out the mirrored preview and the sound's peak level, and,
// when the plan names an output, records into it. Everything happens on the
// thread that made the session, through its event loop.
class CameraSession : public QObject {
    Q_OBJECT
public:
    explicit CameraSession(QObject* parent = nullptr);
    // Stops the child, waiting for it to finish its file: no child is left.
    ~CameraSession() override;

    // Starts a child for the plan, stopping (and waiting for) a running one
    // first. False with the reason in `error` when ffmpeg cannot be started.
    bool start(const CameraSessionPlan& plan, QString* error = nullptr);
    // Asks ffmpeg to finish a recording (SIGINT), and kills it when it has not
    // ended within the grace, or at once when there is no recording; returns
    // once it has ended. finished() has been emitted.
    // A recording with sound is then cut at the last picture handed out,
    // unless requestStop() began the stop: its caller cuts.
    void stop();
    // Asks as stop() does but returns at once: finished() follows from the
    // event loop, and a child still running after the grace is killed. The
    // cut is left to the caller (recordingCutSeconds()), as it reads the whole
    // file and may take seconds.
    void requestStop();
    // Where the sound of a recording stopped by us is to be cut: at the last
    // picture handed out before the stop. None when there is nothing to cut.
    std::optional<double> recordingCutSeconds() const;
    bool isRunning() const;
    // The running ffmpeg's pid, or -1.
    qint64 enginePid() const;
    const CameraSessionPlan& plan() const { return m_plan; }
    QStringList lastCommand() const { return m_lastCommand; }

signals:
    void previewFrameReady(const QImage& picture);
    // The sound's peak level in dB (0 is full scale), ten times a second.
    void audioLevel(double decibels);
    void recordingProgress(double seconds);
    // The child ended: by stop() (`stopped`), or by itself with ffmpeg's last
    // complaint in `reason`, or ended by us when it made no progress for the
    // engines' stall limit or did not end within the grace after it was told
    // to, which `reason` then says.
    void finished(bool stopped, int exitCode, const QString& reason);

private:
    void readFrames();
    void readMessages();
    void readMessage(const QString& line);
    void endChild();
    void killAfterGrace();
    void watchProgress();
    void childEnded();

    CameraSessionPlan m_plan;
    QStringList m_lastCommand;
    std::unique_ptr<QProcess> m_child;
    QByteArray m_pendingPicture;
    QByteArray m_pendingMessages;
    QString m_lastComplaint;
    qint64 m_framesShown = 0;
    qint64 m_framesShownAtStop = 0;
    qint64 m_framesRecorded = 0;
    qint64 m_levelsRead = 0;
    qint64 m_markAtLook = -1;
    QElapsedTimer m_sinceMove;
    QTimer m_stallWatch;
    // Why we ended the child, when we did: it stalled, or outlived the grace.
    QString m_endReason;
    bool m_stopping = false;
    bool m_waitingForEnd = false;
};

// Cuts a finished recording at `seconds` in place, with a stream copy; on any
// failure the recording stays as ffmpeg left it. Touches only the file, so it
// may run on any thread.
void cutRecording(const QString& recording, double seconds);

#pragma once

#include "record/ScreenCapture.h"

#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class AudioPassThrough;
class CatchUp;
class ProcessRunner;
class QTimer;
class DNScreenRecorder;

// How one recording ended.
struct DNRecordingResult {
    QString path;
    bool succeeded = false;
    // Why it failed, in ffmpeg's words where it gave any, and how much of the
    // file was kept; a file whose length falls short of the time recorded
    // fails too, and is kept.
    QString reason;
    qint64 framesRecorded = 0;
    qint64 framesDropped = 0;
};

class DNScreenRecorderDelegate {
public:
    virtual ~DNScreenRecorderDelegate() = default;
    // Every recording that was started ends here, good or not, on the
    // recorder's thread. A file read through without a single whole picture
    // has been removed; one that could not be read back is kept and fails.
    virtual void screenRecorder(DNScreenRecorder& recorder, const DNRecordingResult& result) = 0;
};

// One screen recording session on the X display of $DISPLAY: the screen,
// whole or a region of it (top-left origin, pixels), with at most one sound
// input, into a QuickTime movie. Each recording is one ffmpeg child run on a
// worker thread; everything else belongs to the thread that made the recorder.
//
// Recording the system's sound routes the sound server's default output into
// the virtual device for the recording's length (see DNScreenRecorderRouting.cpp).
class DNScreenRecorder : public QObject {
    Q_OBJECT
public:
    static constexpr float kDefaultFramerate = 24.0f;

    // A recorder for $DISPLAY, or nothing with the reason in `error` (no
    // display, no ffmpeg). Undoes a sound routing that an earlier run left.
    static std::unique_ptr<DNScreenRecorder> create(QString* error = nullptr);
    ~DNScreenRecorder() override;

    void setDelegate(DNScreenRecorderDelegate* delegate) { m_delegate = delegate; }

    // Starts handing out pictures of the region through previewFrameReady,
    // five a second. Needs a QGuiApplication on that display; without one,
    // nothing is handed out.
    void addCaptureVideoPreview();
    void setSessionPreset(CaptureSessionPreset preset) { m_preset = preset; }
    // Truncated to a whole number; startRecord refuses one outside 1 to
    // kMaxCaptureFrameRate. Not stored in maxFramerate().
    void setMaxScreenInputFramerate(float framesPerSecond) { m_framerate = framesPerSecond; }
    // The sound input by capture device ID (see audioCaptureDevices()). The
    // virtual device's ID routes the system's sound at once. False with the
    // reason in `problem` when the recording will have no sound.
    bool setAudioDevice(const QString& uniqueID, QString* problem = nullptr);
    // Another display (re-read, at maxFramerate()) and the region to record,
    // in the X root window's pixels (x11grab's, not Qt's device-independent ones).
    void addDislayInputTocaptureSession(const QString& display, const QRect& cropRect);

    // Starts recording to `path`, or, when another writer takes that name
    // before the recording ends, the next free one ("name (1).mov"): the
    // result names the file. False when a recording runs already, or
    // with the reason in `problem` when the region or the frame rate cannot
    // be recorded (see captureProblem()); the sound routing is undone then.
    // How a started recording ends, a failed start included, goes to the delegate.
    bool startRecord(const QString& path, QString* problem = nullptr);
    // Undoes the sound routing and has ffmpeg finish the file once it has
    // written what was recorded up to now, however long that takes while it
    // keeps writing; one that has written nothing for a few seconds is told
    // at once and keeps what it wrote. isRecording() and the result follow
    // when it has ended. The file ends at the stop, whatever ffmpeg wrote after it.
    void stopRecord();
    // From the start until the result has been handed out.
    bool isRecording() const { return m_worker.joinable() || m_heldResult.has_value(); }

    float maxFramerate() const { return m_maxFramerate; }
    QString displayID() const { return m_displayID; }
    QSize screenSize() const { return m_screenSize; }
    // The area the next recording takes: the region rounded to even sizes.
    QRect captureRegion() const { return captureArea(m_cropRect); }
    QString audioSource() const { return m_audioSource; }
    bool systemAudioRecord() const { return m_systemAudioRecord; }
    // ffmpeg's program and arguments of the last recording.
    QStringList lastCommand() const { return m_lastCommand; }
    // The running ffmpeg's pid, or -1.
    qint64 enginePid() const;

    // The virtual device of the system's sound is installed once, which the
    // user defaults remember, and is loaded into the sound server whenever a
    // recorder needs it: a null sink lives only as long as the server does.
    static bool virtualDeviceInstalled();
    // Loads the virtual device when the server lacks it and remembers it as
    // installed; false with the reason in `error`. A device this recorder
    // loaded is unloaded when the recorder goes.
    bool installVirtualDevice(QString* error = nullptr);

    // The system-sound routing (DNScreenRecorderRouting.cpp).
    void initConnections();
    // 0 when nothing was to undo or all was undone, else 1 (the reason on
    // standard error); the stashed volumes are not written back when the
    // default output could not be restored. A server that does not answer
    // keeps the routing written down for the next recorder or recording of
    // the system's sound.
    int restoreSystemOutputDevice();
    // Undoes a routing that a recorder of an earlier run left behind (it ended
    // without restoring, e.g. it crashed), or that a server that did not
    // answer kept. Kept for later when no server answers.
    static void undoLeftoverRouting();
    // The virtual device's volume for the real output's first two channel
    // volumes (0.0 to 1.0): their mean, or half volume when that is all but silent.
    static float virtualDeviceVolume(float left, float right);

signals:
    void previewFrameReady(const QImage& picture);
    // The time recorded so far, from the first picture by the clock, ten
    // times a second until the stop; the first report comes once ffmpeg has
    // written its first pictures (the sound server may take a second or
    // more to open). A recording is stopped by it, not by the frames
    // encoded, which trail the clock on a busy machine.
    void recordingProgress(double seconds);

private:
    struct Routing {
        QString stashedSink;
        std::vector<quint32> stashedVolumes;
        std::optional<quint32> loopbackModule;
    };

    DNScreenRecorder() = default;
    bool createCaptureSession(QString* error);
    CapturePlan capturePlan(const QString& path) const;
    void refuseStart();
    void runCapture(
        const QStringList& arguments, const QString& path, int frameRate, bool withSound);
    void finishRecording(DNRecordingResult result);
    void handOut(const DNRecordingResult& result);
    void endOnceWritten();
    void grabPreview();
    bool loadVirtualDevice(QString* error);
    void unloadVirtualDevice();
    // The routing (DNScreenRecorderRouting.cpp).
    std::optional<QString> realOutputSink() const;
    bool routeInto(const QString& realSink);
    std::optional<Routing> takeRouting();
    void giveSoundBack();
    void waitForSoundWork();
    void soundGivenBack(quint64 work);
    static void storeRouting(const Routing& routing);
    static void forgetRouting();
    static int undoRouting(const Routing& routing);

    DNScreenRecorderDelegate* m_delegate = nullptr;
    float m_maxFramerate = kDefaultFramerate;
    float m_framerate = kDefaultFramerate;
    QString m_displayID;
    QSize m_screenSize;
    QRect m_cropRect;
    CaptureSessionPreset m_preset = CaptureSessionPreset::Medium;
    QString m_audioSource;
    bool m_systemAudioRecord = false;
    std::optional<Routing> m_routing;
    std::unique_ptr<AudioPassThrough> mEngine;
    std::optional<quint32> m_virtualDeviceModule; // the null sink this recorder loaded
    QStringList m_lastCommand;
    // When the running recording was asked to stop: its end for the length
    // check, as ffmpeg takes a while to finish the file.
    std::atomic<std::chrono::steady_clock::time_point> m_stopAsked {
        std::chrono::steady_clock::time_point::max()
    };
    std::unique_ptr<ProcessRunner> m_runner;
    // How the running recording's ffmpeg came to its end after the stop.
    std::unique_ptr<CatchUp> m_catchUp;
    std::thread m_worker;
    // Gives the system's sound back after a stop; numbered, so that a late
    // report of an earlier one is known.
    std::thread m_soundWork;
    quint64 m_soundWorks = 0;
    // The result of a recording whose sound is still being given back.
    std::optional<DNRecordingResult> m_heldResult;
    QTimer* m_previewTimer = nullptr;
};

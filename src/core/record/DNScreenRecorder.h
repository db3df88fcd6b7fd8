#pragma once

#include "record/ScreenCapture.h"
#include "record/SoundServerCalls.h"

#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
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

// What the sound server answered about the virtual device of the system's sound.
struct VirtualDeviceState {
    bool serverAnswers = false;
    bool recordable = false; // one of the server's sources: sound can be recorded from it
    QString problem; // why it could not be loaded
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
// worker thread; everything else belongs to the thread that made the recorder,
// except its calls to the sound server, which run on the sound server's line
// (SoundServerCalls), so that this thread never waits on a server that does
// not answer.
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
    // The sound input by capture device ID (see audioCaptureDevices()), none
    // for an empty one. The virtual device's ID routes the system's sound.
    // The sound server is asked on its line: audioDeviceSet answers, and a
    // recording started meanwhile starts once it has.
    void setAudioDevice(const QString& uniqueID);
    // From setAudioDevice until its audioDeviceSet.
    bool isPreparingSound() const { return m_soundPreparations > 0; }
    // Another display (re-read, at maxFramerate()) and the region to record,
    // in the X root window's pixels (x11grab's, not Qt's device-independent ones).
    void addDislayInputTocaptureSession(const QString& display, const QRect& cropRect);

    // Starts recording to `path`, or, when another writer takes that name
    // before the recording ends, the next free one ("name (1).mov"): the
    // result names the file. False when a recording runs already, or
    // with the reason in `problem` when the region or the frame rate cannot
    // be recorded (see captureProblem()); the sound routing is undone then.
    // While the sound server has not answered setAudioDevice, ffmpeg (which
    // reads the sound from its start) waits for the answer; a stop meanwhile
    // calls the recording off, and its result says so. How a started
    // recording ends, a failed start included, goes to the delegate.
    bool startRecord(const QString& path, QString* problem = nullptr);
    // Undoes the sound routing and has ffmpeg finish the file once it has
    // written what was recorded up to now, however long that takes while it
    // keeps writing; one that has written nothing for a few seconds is told
    // at once and keeps what it wrote. isRecording() and the result follow
    // when it has ended. The file ends at the stop, whatever ffmpeg wrote after it.
    void stopRecord();
    // From the start until the result has been handed out.
    bool isRecording() const
    {
        return m_worker.joinable() || m_startWaits.has_value() || m_heldResult.has_value();
    }

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
    // Whether the server answers and has the virtual device; a blocking call
    // of the server, for the sound server's line.
    static VirtualDeviceState virtualDeviceState();
    // Loads the virtual device when the server lacks it and remembers it as
    // installed, on the sound server's line; `done` gets how it went, on
    // this thread. A device this recorder loaded is unloaded when the
    // recorder goes.
    void installVirtualDevice(std::function<void(const VirtualDeviceState&)> done);

    // Undoes a routing that a recorder of an earlier run left behind (it ended
    // without restoring, e.g. it crashed), or that a server that did not
    // answer kept. Kept for later when no server answers. A blocking call
    // of the server.
    static void undoLeftoverRouting();
    // The virtual device's volume for the real output's first two channel
    // volumes (0.0 to 1.0): their mean, or half volume when that is all but silent.
    static float virtualDeviceVolume(float left, float right);

signals:
    // The answer to setAudioDevice: whether the recording will have sound,
    // and why not (empty for no input).
    void audioDeviceSet(bool hasSound, const QString& problem);
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
    // The sound input the server answered for.
    struct SoundChoice {
        QString source; // empty: no sound
        bool systemAudio = false;
        QString problem;
    };
    // What this recorder holds on the sound server, and the work on it: run
    // only on the sound server's line, one piece after another, never on the
    // recorder's thread. The routing's part is in DNScreenRecorderRouting.cpp.
    struct ServerSide {
        ServerSide();
        ~ServerSide();
        std::optional<Routing> routing;
        std::unique_ptr<AudioPassThrough> mEngine;
        std::optional<quint32> virtualDeviceModule; // the null sink this recorder loaded

        SoundChoice chooseInput(const QString& uniqueID);
        VirtualDeviceState install();
        bool loadVirtualDevice(QString* error);
        void unloadVirtualDevice();
        void initConnections();
        bool routeInto(const QString& realSink);
        // 0 when nothing was to undo or all was undone, else 1 (the reason on
        // standard error); the stashed volumes are not written back when the
        // default output could not be restored. A server that does not
        // answer keeps the routing written down for the next recorder or
        // recording of the system's sound.
        int restoreSystemOutputDevice();
    };

    DNScreenRecorder() = default;
    bool createCaptureSession(QString* error);
    CapturePlan capturePlan(const QString& path) const;
    void refuseStart();
    void soundChosen(const SoundChoice& choice);
    void launch(const QString& path);
    void callOffStart(const QString& path);
    void runCapture(
        const QStringList& arguments, const QString& path, int frameRate, bool withSound);
    void finishRecording(DNRecordingResult result);
    void settle(DNRecordingResult result);
    void handOut(const DNRecordingResult& result);
    void endOnceWritten();
    void grabPreview();
    void giveSoundBack();
    void soundGivenBack();
    // The routing (DNScreenRecorderRouting.cpp).
    static std::optional<QString> realOutputSink();
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
    // As the server last answered setAudioDevice.
    QString m_audioSource;
    bool m_systemAudioRecord = false;
    std::shared_ptr<ServerSide> m_serverSide = std::make_shared<ServerSide>();
    SoundServerCalls m_soundCalls { this };
    int m_soundPreparations = 0;
    int m_soundGivebacks = 0;
    // The name a started recording took while it waits for the sound.
    std::optional<QString> m_startWaits;
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
    // The result of a recording whose sound is still being given back.
    std::optional<DNRecordingResult> m_heldResult;
    QTimer* m_previewTimer = nullptr;
};

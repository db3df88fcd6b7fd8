#pragma once

#include "common/NXAppPluginProtocol.h"
#include "common/NXDialogs.h"
#include "record/AudioDevice.h"
#include "record/CameraSession.h"
#include "record/RecordedFile.h"

#include <QDateTime>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class NXCameraRecorderSetting;
class NXTimerRemaidView;
class NXWaveView;
class QCheckBox;
class QComboBox;
class QFileSystemWatcher;
class QLabel;
class QProcess;
class QPushButton;

// Where the window finds cameras and microphones; tests give stand-ins.
struct NXCameraDeviceSource {
    std::function<std::vector<CameraDevice>()> cameras = [] { return cameraDevices(); };
    std::function<std::vector<AudioCaptureDevice>()> microphones
        = [] { return audioCaptureDevices(); };
    // Device changes are watched only for the real devices.
    bool watchDevices = true;
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
};

// The camera recorder's window: a mirrored preview, the sound's level, the
// recorded time, start and stop, and the settings. Each recording goes to a
// temporary file and is moved into the target folder under a dated name.
class NXCameraRecorderController : public QWidget, public NXAppPluginProtocol {
    Q_OBJECT
public:
    static inline const QString kWillCloseNotification
        = QStringLiteral("NXCameraRecorderWindowWillCloseNotification");
    static inline const QString kFilePrefix = QStringLiteral("Quillon Camera Recorder");

    NXCameraRecorderController(NXCameraRecorderSetting& setting, NXDialogs& dialogs,
        const NXSystemActions& system, NXCameraDeviceSource devices = {},
        QWidget* parent = nullptr);
    // Quitting while recording still keeps the recording: it is finished and moved.
    ~NXCameraRecorderController() override;

    void getReadyToRecord() { prepareForRecording(); }
    void prepareForRecording();
    void refreshDevices();
    void setSelectedVideoDevice(const std::optional<CameraDevice>& camera);
    // Refused while the camera brings its own sound.
    void setSelectedAudioDevice(const std::optional<AudioCaptureDevice>& microphone);
    // Starts a recording, or ends the running one: the file is finished (cut,
    // moved into the target folder) on a thread of its own, and no recording
    // starts until that is done.
    void setRecording();
    void setResolutions(const QSize& maximumSize);
    // The volume (0 to 1) at which the sound being taken plays, kept in the
    // setting; both apply it to the playing sound.
    double audioPreviewVolume();
    void setAudioPreviewVolume(double volume);
    QStringList fileListNeedToConvert() override;

    bool isRecording() const { return !m_recordingFile.isEmpty(); }
    // Between the end of a recording and its file being in place (or kept).
    bool isFinishing() const { return !m_finishingFile.isEmpty(); }
    bool hasRecordingDevice() const { return m_selectedVideoDevice.has_value(); }
    const std::vector<CameraDevice>& videoDevices() const { return m_videoDevices; }
    const std::vector<AudioCaptureDevice>& audioDevices() const { return m_audioDevices; }
    const std::optional<CameraDevice>& selectedVideoDevice() const { return m_selectedVideoDevice; }
    const std::optional<AudioCaptureDevice>& selectedAudioDevice() const
    {
        return m_selectedAudioDevice;
    }
    QString lastRecordedFile() const { return m_lastRecordedFile; }
    CameraSession& session() { return m_session; }
    QLabel* previewView() const { return m_preview; }
    QLabel* statusField() const { return m_status; }
    NXWaveView* audioLevelView() const { return m_audioLevelView; }
    NXTimerRemaidView* timeRecordView() const { return m_timeRecordView; }
    QPushButton* startAndStop() const { return m_startAndStop; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct SessionEnd {
        bool stopped = false;
        int exitCode = 0;
        QString reason;
    };
    // What the finishing thread gets: nothing of the window.
    struct FinishJob {
        QString recording;
        std::optional<double> cutSeconds;
        SessionEnd end;
        QString folder;
        QString fileName;
        bool withSound = false;
    };
    // Where the recording went, or why it did not and where it is kept.
    struct FinishedRecording {
        std::optional<QString> moved;
        QString failure;
        QString folder;
    };

    void buildWindow();
    QWidget* buildSettings();
    void watchDevices();
    void fillDeviceMenus();
    void restartSession();
    void applyPreviewVolume();
    void showPreviewFrame(const QImage& picture);
    void onSessionFinished(bool stopped, int exitCode, const QString& reason);
    void onSessionEndedByItself();
    void finishRecording();
    void startFinishing();
    static FinishedRecording finishRecordingFile(const FinishJob& job);
    void collectFinishedRecording();
    void recordingFinished(const FinishedRecording& finished);
    void updateStartAndStop();
    void chooseRecordTargetFolder();
    void openRecordTargetFolder();
    void endRecordingWhatever();

    NXCameraRecorderSetting& m_setting;
    NXDialogs& m_dialogs;
    const NXSystemActions& m_system;
    NXCameraDeviceSource m_devices;

    CameraSession m_session;
    SessionEnd m_lastEnd;
    bool m_ready = false;
    // The sound server knows the preview stream only some time after the
    // start; until then each level report tries again.
    bool m_previewVolumeApplied = false;
    bool m_shuttingDown = false;
    std::vector<CameraDevice> m_videoDevices;
    std::vector<AudioCaptureDevice> m_audioDevices;
    std::optional<CameraDevice> m_selectedVideoDevice;
    std::optional<AudioCaptureDevice> m_selectedAudioDevice;
    QSize m_maximumSize;
    QString m_recordingFile;
    QString m_finishingFile;
    QString m_statusBeforeFinishing;
    bool m_closeWhenFinished = false;
    // Written by m_finisher, read here only once it has been joined.
    FinishedRecording m_finished;
    std::thread m_finisher;
    QString m_lastRecordedFile;
    // Those made while "Add to conversion list" was on.
    QStringList m_filesToConvert;
    QFileSystemWatcher* m_deviceWatcher = nullptr;
    QProcess* m_soundServerEvents = nullptr;

    QLabel* m_preview = nullptr;
    QLabel* m_status = nullptr;
    NXWaveView* m_audioLevelView = nullptr;
    NXTimerRemaidView* m_timeRecordView = nullptr;
    QPushButton* m_startAndStop = nullptr;
    QComboBox* m_cameraMenu = nullptr;
    QComboBox* m_microphoneMenu = nullptr;
    QLabel* m_targetField = nullptr;
};

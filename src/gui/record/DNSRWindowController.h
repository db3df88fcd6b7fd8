#pragma once

#include "common/NXAppPluginProtocol.h"
#include "common/NXDialogs.h"
#include "record/AudioDevice.h"
#include "record/DNCountDown.h"
#include "record/DNScreenRecorder.h"
#include "record/SoundServerCalls.h"

#include <QDateTime>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>
#include <memory>

class ClickRings;
class DNAreaSelectWindow;
class DNButton;
class DNRecordFrame;
class DNRecordStatusItem;
class DNScreenRecorderSetting;
class DNSRSettingPanel;
class QCheckBox;
class QEventLoop;
class QLabel;
class QScreen;
class QTimer;
class UserDefaults;

// The waits of the recorder window; tests shorten them instead of sleeping.
struct DNSRTimings {
    int countdownTickMs = 1000;
    // Between the end of the countdown and the start, so the countdown is
    // gone from the screen before the first picture is taken.
    int startDelayMs = 1500;
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
};

// The screen recorder's window: a live preview, start and stop, the region
// to record, the settings sheet, and the hand-over of the recordings to the
// conversion list when it closes.
class DNSRWindowController : public QWidget,
                             public DNScreenRecorderDelegate,
                             public NXAppPluginProtocol {
    Q_OBJECT
public:
    static inline const QString kWillDisappear = QStringLiteral("DNScreenRecorderWillDisappear_");
    static inline const QString kNotRemindKey = QStringLiteral("NotRemindUserChangeSoundDevice");
    static inline const QString kFilePrefix = QStringLiteral("Quillon Screen Recorder");

    enum State { Idle = 0, CountingDown = 1, Recording = 2 };

    DNSRWindowController(DNScreenRecorderSetting& setting, UserDefaults& defaults,
        NXDialogs& dialogs, const NXSystemActions& system, DNSRTimings timings = {},
        QWidget* parent = nullptr);
    ~DNSRWindowController() override;

    // Makes the capture session; on failure tells why and closes the window,
    // so the main window takes over again.
    bool createCaptureRecorder();
    QStringList fileListNeedToConvert() override;
    // Quitting: stops a recording and waits, answering events and saying so,
    // until its file is written; its result goes to the log, not an alert.
    void finishBeforeQuit();
    // Stopped, and ffmpeg still writes what was recorded up to the stop.
    bool isFinishing() const;
    void setTimings(DNSRTimings timings) { m_timings = std::move(timings); }

    // The window's actions.
    void onStartRecord();
    void onStatusBarStopClicked();
    void onSetRecordRegion();
    void onKeepFullScreen();
    void onOpenRecordLocation();
    void onSettingClick();
    void onAddToConvertListChanged(bool on);
    void onAreaSelectDidFinished(DNAreaSelectWindow* picker);

    void screenRecorder(DNScreenRecorder& recorder, const DNRecordingResult& result) override;

    int recorderState() const { return m_recorderState; }
    DNScreenRecorder* screenRecorder() const { return m_screenRecorder.get(); }
    // In Qt's screen coordinates (top-left origin).
    QRect recordRegion() const { return m_recordRegion; }
    QStringList recordFiles() const { return m_recordFiles; }
    QString selectedAudioDevUniqueID() const { return m_selectedAudioDevUniqueID; }
    // From a choice in the audio menu that asks the sound server (the
    // system's sound) until it is taken or turned down.
    bool isChoosingAudioDevice() const { return m_audioChoicePending; }
    DNCountDown* countdown() const { return m_countdown; }
    DNAreaSelectWindow* screenAreaSelector() const { return m_screenAreaSelector.get(); }
    DNRecordFrame* recordFrame() const { return m_recordFrame.get(); }
    DNRecordStatusItem* statusBarItem() const { return m_statusBarItem.get(); }
    // While recording with "Show mouse clicks" on X; null otherwise.
    ClickRings* clickRings() const { return m_clickRings.get(); }
    DNSRSettingPanel* settingPannel() const { return m_settingPannel; }
    QLabel* recordDurationField() const { return m_recordDurationField; }
    DNButton* startButton() const { return m_startButton; }
    QLabel* finishingNote() const { return m_finishingNote; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWindow();
    // The region in Qt's pixels on `screen`: shown, and handed to the
    // recorder in the X root's pixels.
    void setRecordRegion(const QRect& region, QScreen* screen);
    void recordWholeScreen();
    void onCountdownFinished();
    void readyStartRecording();
    // The window's side of a recording's end: timer, tray, frame, state 0.
    void leaveRecordingState();
    void updateStartButtonImage();
    void timerCallback_updateDuration();
    bool confirmSystemSoundRecording();

    // The settings sheet (DNSRWindowController_Settings.cpp).
    void buildSettingPannel();
    void initializeSettings();
    void buildAudioDeviceMenu();
    void fillAudioDeviceMenu();
    void onAudioDeviceChanged(int index);
    void virtualDeviceAnswered(quint64 choice, const VirtualDeviceState& state);
    void offerVirtualDevice(quint64 choice);
    void installVirtualDevice(quint64 choice, bool offerOnFailure);
    void takeAudioChoice(quint64 choice, const QString& uniqueID);
    void turnDownAudioChoice(quint64 choice);
    void onBrowseOutputFolder();

    DNScreenRecorderSetting& m_setting;
    UserDefaults& m_defaults;
    NXDialogs& m_dialogs;
    const NXSystemActions& m_system;
    DNSRTimings m_timings;

    std::unique_ptr<DNScreenRecorder> m_screenRecorder;
    std::unique_ptr<DNRecordFrame> m_recordFrame;
    std::unique_ptr<DNRecordStatusItem> m_statusBarItem;
    std::unique_ptr<ClickRings> m_clickRings;
    QTimer* m_recordDurationUpdate = nullptr;
    QDateTime m_dateOfStartRecording;
    QRect m_recordRegion;
    QPointer<QScreen> m_recordScreen;
    QString m_latestRecordMovie;
    QStringList m_recordFiles;
    // Those made while "Add to conversion list" was on.
    QStringList m_filesToConvert;
    std::unique_ptr<DNAreaSelectWindow> m_screenAreaSelector;
    QString m_selectedAudioDevUniqueID;
    // The sound server is asked for the audio menu's devices and the
    // virtual device off this thread; the menu shows what it last answered.
    SoundServerCalls m_soundCalls { this };
    std::vector<AudioCaptureDevice> m_audioDevices;
    bool m_askingAudioDevices = false;
    // Numbered: only the answer to the latest choice counts.
    quint64 m_audioChoices = 0;
    bool m_audioChoicePending = false;
    int m_recorderState = Idle;
    QPointer<DNCountDown> m_countdown;

    QLabel* m_captureView = nullptr;
    QLabel* m_recordDurationField = nullptr;
    QLabel* m_recordRegionField = nullptr;
    // Shown from the stop until the recording is written.
    QLabel* m_finishingNote = nullptr;
    bool m_closeWhenFinished = false;
    bool m_quitting = false;
    QEventLoop* m_quitWait = nullptr;
    QCheckBox* m_fullscreen = nullptr;
    QCheckBox* m_addToConvertList = nullptr;
    DNButton* m_cropButton = nullptr;
    DNButton* m_startButton = nullptr;
    DNButton* m_openFolderButton = nullptr;
    DNButton* m_settingButton = nullptr;
    DNSRSettingPanel* m_settingPannel = nullptr;
};

#include "record/DNSRWindowController.h"

#include "controls/DNButton.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "record/AudioDevice.h"
#include "record/ClickRings.h"
#include "record/DNAreaSelectWindow.h"
#include "record/DNCountDown.h"
#include "record/DNRecordFrame.h"
#include "record/DNRecordStatusItem.h"
#include "record/DNSRSettingPanel.h"
#include "record/RecordingName.h"
#include "record/RecordingScreen.h"
#include "services/DNHelpers.h"
#include "services/DNScreenRecorderSetting.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QScreen>
#include <QTimer>

namespace {

constexpr int kDurationTickMs = 1000;

QPixmap recorderImage(const QString& name)
{
    return QPixmap(QDir(AppPaths::resourcesFolder()).filePath(QStringLiteral("images/") + name));
}

// An image button from the "<name>_nor.png" / "<name>_on.png" pair.
DNButton* imageButton(const QString& name, const QString& toolTip, QWidget* parent)
{
    auto* button = new DNButton(parent);
    button->setNormalImage(recorderImage(name + QStringLiteral("_nor.png")));
    button->setHighlightImage(recorderImage(name + QStringLiteral("_on.png")));
    button->setToolTip(toolTip);
    return button;
}

QString regionText(const QSize& size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

QRect geometryOf(const QScreen* screen)
{
    return screen ? screen->geometry() : QRect();
}

} // namespace

DNSRWindowController::DNSRWindowController(DNScreenRecorderSetting& setting, UserDefaults& defaults,
    NXDialogs& dialogs, const NXSystemActions& system, DNSRTimings timings, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_setting(setting)
    , m_defaults(defaults)
    , m_dialogs(dialogs)
    , m_system(system)
    , m_timings(std::move(timings))
{
    setWindowTitle(DNApplicationName() + tr(" - Screen Recorder"));
    m_recordDurationUpdate = new QTimer(this);
    m_recordDurationUpdate->setInterval(kDurationTickMs);
    connect(m_recordDurationUpdate, &QTimer::timeout, this,
        &DNSRWindowController::timerCallback_updateDuration);
    buildWindow();
    buildSettingPannel();
    recordWholeScreen();
}

DNSRWindowController::~DNSRWindowController()
{
    // The recorder reports to us until it is gone.
    if (m_screenRecorder)
        m_screenRecorder->setDelegate(nullptr);
    delete m_countdown;
}

void DNSRWindowController::buildWindow()
{
    m_captureView = new QLabel(this);
    m_captureView->setMinimumSize(480, 270);
    m_captureView->setAlignment(Qt::AlignCenter);
    m_captureView->setStyleSheet(QStringLiteral("background: black"));
    m_recordDurationField = new QLabel(DNTimeStringFromSeconds(0), this);
    m_recordRegionField = new QLabel(this);
    m_finishingNote = new QLabel(tr("Finishing the recording..."), this);
    m_finishingNote->hide();
    m_fullscreen = new QCheckBox(tr("Full Screen"), this);
    m_addToConvertList = new QCheckBox(tr("Add to conversion list"), this);
    m_addToConvertList->setChecked(m_setting.addToConvertList());
    m_cropButton = imageButton(QStringLiteral("sr_crop"), tr("Crop Region"), this);
    m_startButton = new DNButton(this);
    m_openFolderButton = imageButton(QStringLiteral("sr_open_folder"), tr("Open"), this);
    m_settingButton = imageButton(QStringLiteral("sr_setting"), tr("Setting"), this);
    updateStartButtonImage();

    connect(m_startButton, &QPushButton::clicked, this, &DNSRWindowController::onStartRecord);
    connect(m_cropButton, &QPushButton::clicked, this, &DNSRWindowController::onSetRecordRegion);
    connect(m_fullscreen, &QCheckBox::clicked, this, &DNSRWindowController::onKeepFullScreen);
    connect(m_openFolderButton, &QPushButton::clicked, this,
        &DNSRWindowController::onOpenRecordLocation);
    connect(m_settingButton, &QPushButton::clicked, this, &DNSRWindowController::onSettingClick);
    connect(m_addToConvertList, &QCheckBox::toggled, this,
        &DNSRWindowController::onAddToConvertListChanged);

    auto* layout = new QGridLayout(this);
    layout->addWidget(m_captureView, 0, 0, 1, 6);
    layout->addWidget(m_cropButton, 1, 0);
    layout->addWidget(m_recordRegionField, 1, 1);
    layout->addWidget(m_fullscreen, 1, 2);
    layout->addWidget(m_startButton, 1, 3);
    layout->addWidget(m_openFolderButton, 1, 4);
    layout->addWidget(m_settingButton, 1, 5);
    layout->addWidget(m_addToConvertList, 2, 0, 1, 3);
    layout->addWidget(m_recordDurationField, 2, 3, 1, 3, Qt::AlignRight);
    layout->addWidget(m_finishingNote, 3, 0, 1, 6);
}

void DNSRWindowController::setRecordRegion(const QRect& region, QScreen* screen)
{
    m_recordRegion = region;
    m_recordScreen = screen;
    const QRect pixels = screen ? rootPixels(region, *screen) : QRect();
    m_recordRegionField->setText(regionText(pixels.size()));
    if (m_screenRecorder)
        m_screenRecorder->addDislayInputTocaptureSession(m_screenRecorder->displayID(), pixels);
}

// Full screen is the screen the window is on, before a region is picked and
// after, whatever the screens around it.
void DNSRWindowController::recordWholeScreen()
{
    QScreen* const screen = recordingScreen(this);
    m_fullscreen->setChecked(true);
    setRecordRegion(geometryOf(screen), screen);
}

bool DNSRWindowController::createCaptureRecorder()
{
    // x11grab sees only X11 windows: under Wayland it records the XWayland
    // ones and nothing else.
    if (qgetenv("XDG_SESSION_TYPE") == "wayland") {
        m_dialogs.runAlert(this,
            { tr("Only X11 windows can be recorded."),
                tr("This is a Wayland session: windows of Wayland programs will not show in "
                   "the recording."),
                { tr("OK") }, {} });
    }
    QString error;
    m_screenRecorder = DNScreenRecorder::create(&error);
    if (!m_screenRecorder) {
        DNLog(QStringLiteral("The screen recorder cannot start: %1").arg(error));
        m_dialogs.runAlert(this, { tr("Screen Record Unavailable!"), error, { tr("OK") }, {} });
        QTimer::singleShot(0, this, &QWidget::close);
        return false;
    }
    m_screenRecorder->setDelegate(this);
    connect(m_screenRecorder.get(), &DNScreenRecorder::audioDeviceSet, this,
        [](bool hasSound, const QString& problem) {
            if (!hasSound && !problem.isEmpty())
                DNLog(QStringLiteral("The screen recording has no sound: %1").arg(problem));
        });
    connect(m_screenRecorder.get(), &DNScreenRecorder::previewFrameReady, this,
        [this](const QImage& picture) {
            m_captureView->setPixmap(QPixmap::fromImage(picture).scaled(
                m_captureView->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        });
    m_screenRecorder->addCaptureVideoPreview();
    m_screenRecorder->setSessionPreset(sessionPresetAtIndex(m_setting.sessionPresetIndex()));
    m_screenRecorder->setMaxScreenInputFramerate(float(m_setting.maxFramerate()));
    if (m_fullscreen->isChecked())
        recordWholeScreen();
    else
        setRecordRegion(m_recordRegion, m_recordScreen);
    return true;
}

QStringList DNSRWindowController::fileListNeedToConvert()
{
    return m_setting.addToConvertList() ? m_filesToConvert : QStringList();
}

void DNSRWindowController::onAddToConvertListChanged(bool on)
{
    m_setting.setAddToConvertList(on);
}

bool DNSRWindowController::confirmSystemSoundRecording()
{
    if (m_selectedAudioDevUniqueID != QLatin1String(kSystemAudioDeviceID)
        || m_defaults.boolValue(kNotRemindKey))
        return true;
    const NXAlertAnswer answer = m_dialogs.runAlert(this,
        { QStringLiteral("Please do NOT change any setting in System Sounds while recording."),
            QStringLiteral("For a proper sound recording, you are advised not to adjust any "
                           "setting in System Sounds. Otherwise, it may threaten your hearing "
                           "caused by the suddenly increased volume."),
            { QStringLiteral("Continue"), QStringLiteral("Cancel") },
            QStringLiteral("Do not show this message again") });
    if (answer.button != 0)
        return false;
    m_defaults.setValue(kNotRemindKey, answer.suppressed);
    return true;
}

void DNSRWindowController::onStartRecord()
{
    if (m_recorderState == Recording) {
        onStatusBarStopClicked();
        return;
    }
    if (m_recorderState != Idle || !m_screenRecorder || !confirmSystemSoundRecording())
        return;
    auto* countdown = new DNCountDown(m_timings.countdownTickMs);
    countdown->setCountDownNumber(int(m_setting.countDown()));
    countdown->setAction([this] { onCountdownFinished(); });
    m_countdown = countdown;
    // Hidden rather than minimized: without a window manager minimizing does
    // nothing, and the window would be recorded.
    hide();
    m_recorderState = CountingDown;
    m_startButton->setEnabled(false);
    updateStartButtonImage();
    countdown->displayCountdown();
}

void DNSRWindowController::onCountdownFinished()
{
    QTimer::singleShot(m_timings.startDelayMs, this, &DNSRWindowController::readyStartRecording);
}

void DNSRWindowController::readyStartRecording()
{
    if (m_recorderState != CountingDown)
        return;
    // The window may have gone to another screen since.
    if (m_fullscreen->isChecked())
        recordWholeScreen();
    const QRect screen = geometryOf(m_recordScreen);
    if (m_recordRegion != screen) {
        m_recordFrame = std::make_unique<DNRecordFrame>(m_recordRegion, screen);
        m_recordFrame->displayFrame();
    }
    // After the frame, so that it lies above the frame's dimming.
    m_statusBarItem = std::make_unique<DNRecordStatusItem>(screen);
    connect(m_statusBarItem.get(), &DNRecordStatusItem::stopClicked, this,
        &DNSRWindowController::onStatusBarStopClicked);
    QString why;
    if (m_setting.captureMouse() && !(m_clickRings = ClickRings::start(&why)))
        DNLog(QStringLiteral("The screen recording shows no clicks: %1").arg(why));
    const QString folder = m_setting.targetFolder();
    QDir().mkpath(folder);
    const QString path
        = DNUniqueFilePath(folder, recordingFileName(kFilePrefix, m_timings.now()), 0);
    m_screenRecorder->setSessionPreset(sessionPresetAtIndex(m_setting.sessionPresetIndex()));
    m_screenRecorder->setMaxScreenInputFramerate(float(m_setting.maxFramerate()));
    // Set at every start, "None" included: the session must not keep the
    // input of an earlier recording when the user asked for no sound. The
    // recording starts once the sound server has answered for it.
    m_screenRecorder->setAudioDevice(m_selectedAudioDevUniqueID);
    QString problem;
    if (!m_screenRecorder->startRecord(path, &problem)) {
        leaveRecordingState();
        m_dialogs.runAlert(this, { tr("The screen recording failed."), problem, { tr("OK") }, {} });
        return;
    }
    m_recorderState = Recording;
    m_startButton->setEnabled(true);
    m_dateOfStartRecording = m_timings.now();
    m_recordDurationUpdate->start();
    timerCallback_updateDuration();
}

// The time counts from when the recording has its sound and starts.
void DNSRWindowController::timerCallback_updateDuration()
{
    const bool preparing = m_screenRecorder && m_screenRecorder->isPreparingSound();
    if (preparing)
        m_dateOfStartRecording = m_timings.now();
    const qint64 seconds = m_dateOfStartRecording.secsTo(m_timings.now());
    const QString text
        = preparing ? tr("Preparing the sound...") : DNTimeStringFromSeconds(int(seconds));
    m_recordDurationField->setText(text);
    if (m_statusBarItem)
        m_statusBarItem->setElapsedText(text);
}

void DNSRWindowController::onStatusBarStopClicked()
{
    if (m_recorderState != Recording)
        return;
    m_screenRecorder->stopRecord();
    leaveRecordingState();
}

void DNSRWindowController::leaveRecordingState()
{
    m_recordDurationUpdate->stop();
    m_dateOfStartRecording = {};
    m_statusBarItem.reset();
    m_clickRings.reset();
    if (m_recordFrame)
        m_recordFrame->destroyFrame();
    m_recorderState = Idle;
    // A stopped recording is still being written until its result comes.
    m_startButton->setEnabled(!isFinishing());
    m_finishingNote->setVisible(isFinishing());
    updateStartButtonImage();
    show();
    raise();
    activateWindow();
}

void DNSRWindowController::screenRecorder(DNScreenRecorder&, const DNRecordingResult& result)
{
    // A recording that ended by itself (a full disk) ends the recording
    // state as Stop would; the recorder has undone the sound routing.
    if (m_recorderState == Recording)
        leaveRecordingState();
    else if (m_recorderState == Idle)
        m_startButton->setEnabled(true);
    m_finishingNote->hide();
    if (m_quitWait)
        m_quitWait->quit();
    if (m_closeWhenFinished)
        QTimer::singleShot(0, this, &QWidget::close);
    if (!result.succeeded && !m_quitting) {
        m_dialogs.runAlert(
            this, { tr("The screen recording failed."), result.reason, { tr("OK") }, {} });
        return;
    }
    if (m_setting.openRecordMovie())
        m_system.openFile(result.path);
    m_latestRecordMovie = result.path;
    m_recordFiles << result.path;
    if (m_setting.addToConvertList())
        m_filesToConvert << result.path;
}

void DNSRWindowController::updateStartButtonImage()
{
    const QString name = m_recorderState == Idle ? QStringLiteral("sr_video_record")
                                                 : QStringLiteral("sr_stop_record");
    m_startButton->setNormalImage(recorderImage(name + QStringLiteral("_nor.png")));
    m_startButton->setHighlightImage(recorderImage(name + QStringLiteral("_on.png")));
    m_startButton->setAlternateImage(recorderImage(name + QStringLiteral("_down.png")));
    m_startButton->setToolTip(m_recorderState == Idle ? tr("Record") : tr("Stop"));
}

bool DNSRWindowController::isFinishing() const
{
    return m_recorderState == Idle && m_screenRecorder && m_screenRecorder->isRecording();
}

void DNSRWindowController::finishBeforeQuit()
{
    m_quitting = true;
    m_closeWhenFinished = false;
    if (m_recorderState == Recording)
        onStatusBarStopClicked();
    if (!isFinishing())
        return;
    QEventLoop wait;
    m_quitWait = &wait;
    wait.exec();
    m_quitWait = nullptr;
}

void DNSRWindowController::closeEvent(QCloseEvent* event)
{
    if (m_recorderState != Idle) {
        m_dialogs.runAlert(this,
            { tr("Please stop video recording before leaving screen recorder."), {}, { tr("OK") },
                {} });
        event->ignore();
        return;
    }
    // Closed once the file is written, so that it is handed over.
    if (isFinishing()) {
        m_closeWhenFinished = true;
        event->ignore();
        return;
    }
    event->accept();
    NotificationCenter::defaultCenter().post(kWillDisappear);
}

void DNSRWindowController::onSetRecordRegion()
{
    m_screenAreaSelector = std::make_unique<DNAreaSelectWindow>(geometryOf(recordingScreen(this)));
    connect(m_screenAreaSelector.get(), &DNAreaSelectWindow::areaSelectDidFinished, this,
        &DNSRWindowController::onAreaSelectDidFinished);
    m_screenAreaSelector->show();
    m_screenAreaSelector->raise();
    m_screenAreaSelector->activateWindow();
}

void DNSRWindowController::onAreaSelectDidFinished(DNAreaSelectWindow* picker)
{
    const QRect screen = picker->geometry();
    const QRect region = screenRegionFromSelection(picker->selectionArea(), screen);
    if (region == screen || region.isEmpty()) {
        recordWholeScreen();
        return;
    }
    m_fullscreen->setChecked(false);
    setRecordRegion(region, picker->screen());
}

void DNSRWindowController::onKeepFullScreen()
{
    recordWholeScreen();
}

void DNSRWindowController::onOpenRecordLocation()
{
    if (!m_latestRecordMovie.isEmpty() && QFileInfo::exists(m_latestRecordMovie)) {
        m_system.openFolder(QFileInfo(m_latestRecordMovie).absolutePath());
        return;
    }
    m_system.openFolder(m_setting.targetFolder());
}

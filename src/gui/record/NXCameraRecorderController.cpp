#include "record/NXCameraRecorderController.h"

#include "platform/DNLogger.h"
#include "platform/NotificationCenter.h"
#include "platform/TemporaryFile.h"
#include "record/NXCameraViews.h"
#include "record/NXResolutionTransformer.h"
#include "record/PulseAudio.h"
#include "record/RecordedFile.h"
#include "record/RecordingName.h"
#include "record/RecordingTrim.h"
#include "record/ScreenCapture.h"
#include "services/DNHelpers.h"
#include "services/NXCameraRecorderSetting.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

const QSize kPreviewSize(480, 360);
const QString kNoSoundServer = QStringLiteral("No sound server found: recording video only.");

} // namespace

NXCameraRecorderController::NXCameraRecorderController(NXCameraRecorderSetting& setting,
    NXDialogs& dialogs, const NXSystemActions& system, NXCameraDeviceSource devices,
    QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_setting(setting)
    , m_dialogs(dialogs)
    , m_system(system)
    , m_devices(std::move(devices))
{
    setWindowTitle(DNApplicationName() + tr(" - Video Recorder"));
    buildWindow();
    connect(&m_session, &CameraSession::previewFrameReady, this,
        &NXCameraRecorderController::showPreviewFrame);
    connect(&m_session, &CameraSession::audioLevel, m_audioLevelView, &NXWaveView::setLevel);
    connect(&m_session, &CameraSession::audioLevel, this, [this] {
        if (!m_previewVolumeApplied)
            applyPreviewVolume();
    });
    connect(&m_session, &CameraSession::recordingProgress, this, [this](double seconds) {
        if (isRecording())
            m_timeRecordView->setTimeSeconds(quint32(std::floor(seconds)));
    });
    connect(
        &m_session, &CameraSession::finished, this, &NXCameraRecorderController::onSessionFinished);
}

NXCameraRecorderController::~NXCameraRecorderController()
{
    endRecordingWhatever();
}

void NXCameraRecorderController::buildWindow()
{
    m_preview = new NXMovableImageView(this);
    m_preview->setFixedSize(kPreviewSize);
    m_preview->setAlignment(Qt::AlignCenter);
    m_preview->setStyleSheet(QStringLiteral("background: black; color: white"));
    m_audioLevelView = new NXWaveView(this);
    m_timeRecordView = new NXTimerRemaidView(this);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    m_startAndStop = new QPushButton(this);
    connect(m_startAndStop, &QPushButton::clicked, this, &NXCameraRecorderController::setRecording);
    auto* openFolder = new QPushButton(tr("Open Folder"), this);
    connect(openFolder, &QPushButton::clicked, this,
        &NXCameraRecorderController::openRecordTargetFolder);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_timeRecordView);
    buttons->addStretch();
    buttons->addWidget(openFolder);
    buttons->addWidget(m_startAndStop);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_preview);
    layout->addWidget(m_audioLevelView);
    layout->addLayout(buttons);
    layout->addWidget(m_status);
    layout->addWidget(buildSettings());
    updateStartAndStop();
}

QWidget* NXCameraRecorderController::buildSettings()
{
    auto* settings = new QWidget(this);
    m_cameraMenu = new QComboBox(settings);
    connect(m_cameraMenu, &QComboBox::activated, this,
        [this](int index) { setSelectedVideoDevice(m_videoDevices.at(size_t(index))); });
    m_microphoneMenu = new QComboBox(settings);
    connect(m_microphoneMenu, &QComboBox::activated, this, [this](int index) {
        setSelectedAudioDevice(
            index == 0 ? std::nullopt : std::optional(m_audioDevices.at(size_t(index - 1))));
    });
    auto* sizes = new QComboBox(settings);
    for (const QVariant& title : NXRArrayTransformer::transformedValue({ QSize() }))
        sizes->addItem(title.toString());
    connect(sizes, &QComboBox::textActivated, this, [this](const QString& title) {
        setResolutions(NXResolutionTransformer::reverseTransformedValue(title));
    });
    auto* volume = new QSlider(Qt::Horizontal, settings);
    volume->setRange(0, 100);
    volume->setValue(int(std::lround(m_setting.volume() * 100)));
    connect(volume, &QSlider::valueChanged, this,
        [this](int percent) { setAudioPreviewVolume(percent / 100.0); });
    m_targetField = new QLabel(m_setting.defaultTargetPlace(), settings);
    auto* choose = new QPushButton(tr("Choose..."), settings);
    connect(
        choose, &QPushButton::clicked, this, &NXCameraRecorderController::chooseRecordTargetFolder);
    const auto option = [this, settings](const QString& title, bool on, auto store) {
        auto* box = new QCheckBox(title, settings);
        box->setChecked(on);
        connect(box, &QCheckBox::toggled, this,
            [this, store](bool checked) { (m_setting.*store)(checked); });
        return box;
    };
    auto* layout = new QVBoxLayout(settings);
    layout->setContentsMargins(0, 0, 0, 0);
    for (auto [label, widget] :
        std::vector<std::pair<QString, QWidget*>> { { tr("Camera:"), m_cameraMenu },
            { tr("Microphone:"), m_microphoneMenu }, { tr("Maximum video size:"), sizes },
            { tr("Preview volume:"), volume }, { tr("Save to:"), m_targetField } }) {
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel(label, settings));
        row->addWidget(widget, 1);
        if (widget == m_targetField)
            row->addWidget(choose);
        layout->addLayout(row);
    }
    layout->addWidget(option(tr("Open the movie when the recording ends"),
        m_setting.isFinishedOpenIt(), &NXCameraRecorderSetting::setIsFinishedOpenIt));
    layout->addWidget(option(tr("Show the movie in its folder"), m_setting.isShowInFinder(),
        &NXCameraRecorderSetting::setIsShowInFinder));
    layout->addWidget(option(tr("Add the movie to the conversion list"),
        m_setting.isAutoAdd2ConvertList(), &NXCameraRecorderSetting::setIsAutoAdd2ConvertList));
    return settings;
}

void NXCameraRecorderController::prepareForRecording()
{
    refreshDevices();
    if (!m_videoDevices.empty())
        setSelectedVideoDevice(m_videoDevices.back());
    if (!m_audioDevices.empty())
        setSelectedAudioDevice(m_audioDevices.back());
    if (m_devices.watchDevices)
        watchDevices();
    // Ready only now: the engine starts once, with both devices chosen.
    m_ready = true;
    restartSession();
    updateStartAndStop();
}

// A camera shows up as a node in /dev; a microphone as a source of the sound
// server, which announces it on `pactl subscribe`.
void NXCameraRecorderController::watchDevices()
{
    m_deviceWatcher = new QFileSystemWatcher({ QStringLiteral("/dev") }, this);
    connect(m_deviceWatcher, &QFileSystemWatcher::directoryChanged, this,
        &NXCameraRecorderController::refreshDevices);
    m_soundServerEvents = new QProcess(this);
    connect(m_soundServerEvents, &QProcess::readyReadStandardOutput, this, [this] {
        bool sourcesChanged = false;
        while (m_soundServerEvents->canReadLine())
            sourcesChanged |= m_soundServerEvents->readLine().contains(" on source ");
        if (sourcesChanged)
            refreshDevices();
    });
    m_soundServerEvents->start(QStringLiteral("pactl"), { QStringLiteral("subscribe") });
}

void NXCameraRecorderController::refreshDevices()
{
    m_videoDevices = m_devices.cameras();
    m_audioDevices = m_devices.microphones();
    const auto listedCamera = [this] {
        return std::any_of(
            m_videoDevices.begin(), m_videoDevices.end(), [this](const CameraDevice& camera) {
                return camera.uniqueID == m_selectedVideoDevice->uniqueID;
            });
    };
    const auto listedMicrophone = [this] {
        return std::any_of(m_audioDevices.begin(), m_audioDevices.end(),
            [this](const AudioCaptureDevice& microphone) {
                return microphone.uniqueID == m_selectedAudioDevice->uniqueID;
            });
    };
    if (m_selectedVideoDevice && !listedCamera())
        setSelectedVideoDevice(std::nullopt);
    if (m_selectedAudioDevice && !listedMicrophone())
        setSelectedAudioDevice(std::nullopt);
    fillDeviceMenus();
}

void NXCameraRecorderController::fillDeviceMenus()
{
    m_cameraMenu->clear();
    for (const CameraDevice& camera : m_videoDevices) {
        m_cameraMenu->addItem(camera.localizedName);
        if (m_selectedVideoDevice && camera.uniqueID == m_selectedVideoDevice->uniqueID)
            m_cameraMenu->setCurrentIndex(m_cameraMenu->count() - 1);
    }
    m_microphoneMenu->clear();
    m_microphoneMenu->addItem(tr("None"));
    for (const AudioCaptureDevice& microphone : m_audioDevices) {
        m_microphoneMenu->addItem(microphone.localizedName);
        if (m_selectedAudioDevice && microphone.uniqueID == m_selectedAudioDevice->uniqueID)
            m_microphoneMenu->setCurrentIndex(m_microphoneMenu->count() - 1);
    }
    const bool cameraHasSound = m_selectedVideoDevice && m_selectedVideoDevice->hasSound;
    m_microphoneMenu->setEnabled(!cameraHasSound);
    if (m_videoDevices.empty() && m_audioDevices.empty())
        m_status->setText(tr("No camera and no microphone found."));
    else if (m_videoDevices.empty())
        m_status->setText(tr("No camera found."));
    else if (m_audioDevices.empty() && !cameraHasSound && !PulseAudio::serverReachable())
        m_status->setText(kNoSoundServer);
    updateStartAndStop();
}

void NXCameraRecorderController::setSelectedVideoDevice(const std::optional<CameraDevice>& camera)
{
    m_selectedVideoDevice = camera;
    if (camera && camera->hasSound)
        m_selectedAudioDevice.reset();
    fillDeviceMenus();
    restartSession();
}

void NXCameraRecorderController::setSelectedAudioDevice(
    const std::optional<AudioCaptureDevice>& microphone)
{
    if (microphone && m_selectedVideoDevice && m_selectedVideoDevice->hasSound)
        return;
    m_selectedAudioDevice = microphone;
    fillDeviceMenus();
    restartSession();
}

void NXCameraRecorderController::setResolutions(const QSize& maximumSize)
{
    m_maximumSize = maximumSize;
}

// The preview runs whenever the window is ready with a camera and no
// recording: a change of device takes effect at once.
void NXCameraRecorderController::restartSession()
{
    // While finishing, the recording's child may still be writing its end.
    if (!m_ready || isRecording() || isFinishing())
        return;
    m_session.stop();
    m_audioLevelView->setLevel(-1000);
    if (!m_selectedVideoDevice)
        return;
    CameraSessionPlan plan;
    plan.camera = *m_selectedVideoDevice;
    plan.microphoneSource = m_selectedAudioDevice ? m_selectedAudioDevice->source : QString();
    plan.previewSize = kPreviewSize;
    if ((plan.camera.hasSound || !plan.microphoneSource.isEmpty()) && PulseAudio::serverReachable())
        plan.soundPreviewStream = kFilePrefix + QStringLiteral(" preview ")
            + QString::number(QCoreApplication::applicationPid());
    m_previewVolumeApplied = false;
    QString error;
    if (!m_session.start(plan, &error))
        m_status->setText(error);
}

double NXCameraRecorderController::audioPreviewVolume()
{
    applyPreviewVolume();
    return m_setting.volume();
}

void NXCameraRecorderController::setAudioPreviewVolume(double volume)
{
    m_setting.setVolume(volume);
    applyPreviewVolume();
}

void NXCameraRecorderController::applyPreviewVolume()
{
    const QString stream = m_session.plan().soundPreviewStream;
    if (stream.isEmpty() || !m_session.isRunning())
        return;
    const double volume = std::max(0.0, m_setting.volume()) * PulseAudio::kNormalVolume;
    m_previewVolumeApplied
        = PulseAudio::setStreamVolume(stream, quint32(std::lround(volume))).isEmpty();
}

void NXCameraRecorderController::showPreviewFrame(const QImage& picture)
{
    m_preview->setPixmap(QPixmap::fromImage(picture));
}

void NXCameraRecorderController::setRecording()
{
    if (isRecording()) {
        finishRecording();
        return;
    }
    if (!hasRecordingDevice() || isFinishing())
        return;
    const QString temporary
        = makeTemporaryFile(QStringLiteral("QTRecorder_"), QStringLiteral("mov"));
    if (temporary.isEmpty()) {
        m_status->setText(tr("Cannot make a temporary file for the recording."));
        return;
    }
    m_session.stop();
    CameraSessionPlan plan = m_session.plan();
    plan.outputPath = temporary;
    if (!m_maximumSize.isEmpty())
        plan.maximumSize = m_maximumSize;
    m_timeRecordView->setTimeSeconds(0);
    m_previewVolumeApplied = false;
    QString error;
    if (!m_session.start(plan, &error)) {
        QFile::remove(temporary);
        m_status->setText(error);
        return;
    }
    m_recordingFile = temporary;
    updateStartAndStop();
}

void NXCameraRecorderController::onSessionFinished(
    bool stopped, int exitCode, const QString& reason)
{
    m_lastEnd = { stopped, exitCode, reason };
    // An end of our own while finishing is the recording's child having
    // written its file; one by itself (a camera pulled out) is handled once the
    // child is gone.
    if (!stopped)
        QTimer::singleShot(0, this, &NXCameraRecorderController::onSessionEndedByItself);
    else if (isFinishing() && !m_finisher.joinable())
        startFinishing();
}

void NXCameraRecorderController::onSessionEndedByItself()
{
    if (isRecording())
        finishRecording();
    else
        m_status->setText(tr("The camera stopped: %1").arg(m_lastEnd.reason));
}

// The child is asked to end; the rest follows once it has written its file.
void NXCameraRecorderController::finishRecording()
{
    // Cleared first: the child's last reports may come back to setRecording().
    m_finishingFile = std::exchange(m_recordingFile, QString());
    m_statusBeforeFinishing = m_status->text();
    m_status->setText(tr("Saving the recording..."));
    updateStartAndStop();
    if (m_session.isRunning())
        m_session.requestStop();
    else
        startFinishing();
}

void NXCameraRecorderController::startFinishing()
{
    const CameraSessionPlan& plan = m_session.plan();
    const FinishJob job { m_finishingFile, m_session.recordingCutSeconds(), m_lastEnd,
        m_setting.defaultTargetPlace(), recordingFileName(kFilePrefix, m_devices.now()),
        plan.camera.hasSound || !plan.microphoneSource.isEmpty() };
    m_finisher = std::thread([this, job] {
        m_finished = finishRecordingFile(job);
        QMetaObject::invokeMethod(
            this, &NXCameraRecorderController::collectFinishedRecording, Qt::QueuedConnection);
    });
}

// On the finishing thread: cutting and moving a long recording takes seconds.
// A recording that holds pictures goes to the target folder however its
// ffmpeg ended: what was recorded is the user's, and they look for it there.
NXCameraRecorderController::FinishedRecording NXCameraRecorderController::finishRecordingFile(
    const FinishJob& job)
{
    // A killed ffmpeg may have left its last fragment cut short, which players refuse.
    QString trimProblem;
    const TrimOutcome trimmed
        = trimRecording(job.recording, std::numeric_limits<double>::infinity(), &trimProblem);
    if (trimmed == TrimOutcome::Unreadable || trimmed == TrimOutcome::Unwritable)
        DNLog(QStringLiteral("The camera recording \"%1\" could not be cut back to its last "
                             "whole picture: %2")
                  .arg(job.recording, trimProblem));
    if (job.cutSeconds)
        cutRecording(job.recording, *job.cutSeconds);
    // Stopped by us ffmpeg ends with 255; on its own, a good end is 0.
    const SessionEnd& end = job.end;
    const bool endedWell
        = end.stopped ? end.exitCode == 0 || end.exitCode == 255 : end.exitCode == 0;
    QString reason = endedWell ? QString()
        : end.reason.isEmpty() ? tr("nothing was recorded")
                               : end.reason;
    const PictureCheck check = checkRecordedPictures(job.recording);
    // A sound server that went away leaves the picture going on without sound.
    if (reason.isEmpty() && job.withSound && check.pictures == RecordedPictures::Found)
        reason = recordedSoundProblem(recordedSoundSeconds(job.recording),
            recordedPictureSeconds(job.recording).value_or(0.0));
    if (check.pictures == RecordedPictures::None) {
        QFile::remove(job.recording);
        return { std::nullopt,
            (reason.isEmpty() ? tr("nothing was recorded") : reason) + QLatin1Char('\n')
                + tr("Not one picture of it could be read, and it was removed."),
            job.folder };
    }
    if (check.pictures == RecordedPictures::Unchecked)
        return { std::nullopt,
            (reason.isEmpty() ? tr("The recording could not be checked.") : reason)
                + QLatin1Char('\n')
                + tr("It could not be read (%1) and is kept at \"%2\".")
                      .arg(check.problem, job.recording),
            job.folder };
    QDir().mkpath(job.folder);
    QString error;
    const std::optional<QString> moved
        = moveRecording(job.recording, job.folder, job.fileName, &error);
    const QString kept = moved.value_or(job.recording);
    if (moved && reason.isEmpty())
        return { moved, {}, job.folder };
    const QString seconds = QString::number(recordedPictureSeconds(kept).value_or(0.0), 'f', 1);
    return { std::nullopt,
        (reason.isEmpty() ? error : reason) + QLatin1Char('\n')
            + tr("The %1 s of pictures recorded are kept at \"%2\".").arg(seconds, kept),
        job.folder };
}

// Called on the window's thread once the finishing thread is done (queued),
// or at once by a close or quit, which then waits for it.
void NXCameraRecorderController::collectFinishedRecording()
{
    if (!m_finisher.joinable())
        return;
    m_finisher.join();
    const SessionEnd end = m_lastEnd;
    m_finishingFile.clear();
    m_status->setText(m_statusBeforeFinishing);
    recordingFinished(m_finished);
    if (std::exchange(m_closeWhenFinished, false)) {
        close();
        return;
    }
    // A camera that ended by itself is not started again.
    if (end.stopped)
        restartSession();
}

void NXCameraRecorderController::recordingFinished(const FinishedRecording& finished)
{
    m_timeRecordView->setTimeSeconds(0);
    updateStartAndStop();
    if (!finished.moved) {
        DNLog(QStringLiteral("The camera recording failed: ") + finished.failure);
        m_status->setText(finished.failure);
        if (!m_shuttingDown)
            m_dialogs.runAlert(
                this, { tr("The camera recording failed."), finished.failure, { tr("OK") }, {} });
        return;
    }
    const QString& moved = *finished.moved;
    m_lastRecordedFile = moved;
    if (m_setting.isAutoAdd2ConvertList())
        m_filesToConvert << moved;
    DNLog(QStringLiteral("The camera recording \"%1\" is finished.").arg(moved));
    if (m_setting.isFinishedOpenIt() && m_system.openFile)
        m_system.openFile(moved);
    if (m_setting.isShowInFinder() && m_system.openFolder)
        m_system.openFolder(finished.folder);
}

void NXCameraRecorderController::updateStartAndStop()
{
    m_startAndStop->setText(isRecording() ? tr("Stop") : tr("Record"));
    m_startAndStop->setEnabled(
        isRecording() || (hasRecordingDevice() && m_ready && !isFinishing()));
}

QStringList NXCameraRecorderController::fileListNeedToConvert()
{
    return m_setting.isAutoAdd2ConvertList() ? m_filesToConvert : QStringList();
}

void NXCameraRecorderController::chooseRecordTargetFolder()
{
    const QString folder
        = m_dialogs.chooseFolder(this, tr("Choose a folder"), m_setting.defaultTargetPlace());
    if (folder.isEmpty())
        return;
    m_setting.setDefaultTargetPlace(folder);
    m_targetField->setText(folder);
}

void NXCameraRecorderController::openRecordTargetFolder()
{
    if (!m_system.openFolder)
        return;
    const bool recorded = !m_lastRecordedFile.isEmpty() && QFileInfo::exists(m_lastRecordedFile);
    m_system.openFolder(
        recorded ? QFileInfo(m_lastRecordedFile).absolutePath() : m_setting.defaultTargetPlace());
}

void NXCameraRecorderController::closeEvent(QCloseEvent* event)
{
    if (isRecording()) {
        m_dialogs.runAlert(this,
            { tr("Please stop video recording before leaving screen recorder."), {}, { tr("OK") },
                {} });
        event->ignore();
        return;
    }
    // Closed once the file is in place, so that it is handed over.
    if (isFinishing()) {
        m_closeWhenFinished = true;
        event->ignore();
        return;
    }
    event->accept();
    endRecordingWhatever();
    NotificationCenter::defaultCenter().post(kWillCloseNotification);
}

// Leaves no child behind; a running recording is finished and moved.
void NXCameraRecorderController::endRecordingWhatever()
{
    m_shuttingDown = true;
    m_ready = false;
    // Quitting: the window is going, it cannot close itself later.
    m_closeWhenFinished = false;
    if (isRecording())
        finishRecording();
    // Its end starts the finishing, which is then waited for.
    m_session.stop();
    collectFinishedRecording();
    if (m_soundServerEvents) {
        m_soundServerEvents->kill();
        m_soundServerEvents->waitForFinished();
    }
}

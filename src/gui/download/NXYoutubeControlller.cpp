#include "download/NXYoutubeControlller.h"

#include "controls/NXPathField.h"
#include "controls/NXPreloadSlider.h"
#include "download/DNYoutubeCell.h"
#include "download/DNYoutubeDownloadManager.h"
#include "download/DNYoutubeImageView.h"
#include "download/DNYoutubeNode.h"
#include "download/DNYoutubeParseController.h"
#include "download/DNYoutubeParser.h"
#include "download/NXOVPictureView.h"
#include "download/NXVideoDownloadOption.h"
#include "download/NXYoutubeView.h"
#include "platform/AppPaths.h"
#include "platform/NotificationCenter.h"
#include "services/DNHelpers.h"
#include "services/NXVideoDownloadSetting.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString kZeroTime = QStringLiteral("00:00:00");

QString playText(bool playing)
{
    return playing ? QStringLiteral("Stop") : QStringLiteral("Play");
}

} // namespace

NXYoutubeControlller::NXYoutubeControlller(NXVideoDownloadSetting& setting, NXDialogs& dialogs,
    const NXSystemActions& system, EngineCheck engineCheck, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_setting(setting)
    , m_dialogs(dialogs)
    , m_system(system)
    , m_engineCheck(engineCheck
              ? std::move(engineCheck)
              : [](const std::stop_token&
                        stop) { return DNYoutubeParser::needUpdateYoutubeDownloader(stop); })
    , m_timer([](std::chrono::milliseconds delay, std::function<void()> work) {
        QTimer::singleShot(delay, std::move(work));
    })
{
    m_destFolderPath = m_setting.downloadTarget();
    connect(&m_setting, &NXVideoDownloadSetting::downloadTargetChanged, this,
        [this](const QString& folder) {
            m_destFolderPath = folder;
            m_destFolderField->setPath(folder);
        });
    m_ovPlaybackControl.setDelegate(this);
    m_ovPlaybackControl.setPlayerVolume(m_setting.volume());
    buildWindow();
    setWindowTitle(DNApplicationName() + tr(" - YouTube Downloader"));
    observeDownloads();
    startEngineCheck();
}

NXYoutubeControlller::~NXYoutubeControlller()
{
    stopEngineCheck();
    NotificationCenter::defaultCenter().removeObserver(this);
    m_ovPlaybackControl.setDelegate(nullptr);
}

void NXYoutubeControlller::buildWindow()
{
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(buildListPane(), 3);
    layout->addWidget(buildPreviewPane(), 2);
    m_youtubeTable->setDelegate(this);
    resize(1000, 658);
}

QWidget* NXYoutubeControlller::buildListPane()
{
    auto* pane = new QWidget(this);
    auto* layout = new QVBoxLayout(pane);
    auto* commands = new QHBoxLayout;
    const auto addButton = [&](const QString& title, void (NXYoutubeControlller::*action)()) {
        auto* button = new QPushButton(title, pane);
        connect(button, &QPushButton::clicked, this, action);
        commands->addWidget(button);
        return button;
    };
    addButton(tr("Add"), &NXYoutubeControlller::userWantAddNew);
    m_downloadNowButton = addButton(tr("Download Now"), &NXYoutubeControlller::userStartDownload);
    addButton(tr("Clean Finished"), &NXYoutubeControlller::userWantCleanFinished);
    addButton(tr("Clean All"), &NXYoutubeControlller::userWantCleanAll);
    addButton(tr("Options"), &NXYoutubeControlller::userWantOptionSetting);
    addButton(tr("YouTube"), &NXYoutubeControlller::onOpenYoutube);
    layout->addLayout(commands);
    m_youtubeTable = new NXYoutubeView(pane);
    m_youtubeTable->setSystemActions(m_system);
    // Wide enough for a row's progress text.
    m_youtubeTable->setMinimumWidth(580);
    layout->addWidget(m_youtubeTable, 1);

    auto* folder = new QHBoxLayout;
    m_destFolderField = new NXPathField(pane);
    m_destFolderField->setPath(m_destFolderPath);
    auto* folderLabel = new QLabel(tr("Save to:"), pane);
    folderLabel->setBuddy(m_destFolderField);
    folder->addWidget(folderLabel);
    folder->addWidget(m_destFolderField, 1);
    commands = folder;
    addButton(tr("Browse…"), &NXYoutubeControlller::browse2SelectDestFolder);
    addButton(tr("Open"), &NXYoutubeControlller::OpenDestFolder);
    layout->addLayout(folder);
    m_extFuncCheckButton = new QCheckBox(tr("Add downloaded videos to the conversion list"), pane);
    m_extFuncCheckButton->setChecked(m_setting.isAdd2ListOrCopy2iTunes());
    layout->addWidget(m_extFuncCheckButton);
    return pane;
}

QWidget* NXYoutubeControlller::buildPreviewPane()
{
    auto* pane = new QWidget(this);
    auto* layout = new QVBoxLayout(pane);
    m_previewPane = new QStackedWidget(pane);
    m_logo = new QLabel(DNApplicationName(), m_previewPane);
    m_logo->setAlignment(Qt::AlignCenter);
    m_videoView = new NXOVPictureView(m_ovPlaybackControl, m_previewPane);
    m_previewPane->addWidget(m_logo);
    m_previewPane->addWidget(m_videoView);
    m_thumbnail = new DNYoutubeImageView(m_previewPane);
    m_previewPane->addWidget(m_thumbnail);
    layout->addWidget(m_previewPane, 1);

    m_ytDurationControl = new NXPreloadSlider(pane);
    m_ytDurationControl->setDoubleValue(0);
    m_ytDurationControl->setEnabled(false);
    connect(m_ytDurationControl, &NXSlider::actionTriggered, this,
        &NXYoutubeControlller::changeVideoDrution);
    layout->addWidget(m_ytDurationControl);

    auto* times = new QHBoxLayout;
    m_playedTimeField = new QLabel(kZeroTime, pane);
    m_leftTimeField = new QLabel(kZeroTime, pane);
    times->addWidget(m_playedTimeField);
    times->addStretch();
    times->addWidget(m_leftTimeField);
    layout->addLayout(times);

    auto* controls = new QHBoxLayout;
    m_ytPlayStop = new QPushButton(playText(false), pane);
    m_ytPauseGoon = new QPushButton(tr("Pause"), pane);
    auto* snapshot = new QPushButton(tr("Snapshot"), pane);
    auto* snapshotFolder = new QPushButton(tr("Snapshots…"), pane);
    m_ytVolumeControl = new NXSlider(pane);
    m_ytVolumeControl->setDoubleValue(m_setting.volume());
    m_ytVolumeControl->setMinimumSize(80, 16);
    connect(m_ytPlayStop, &QPushButton::clicked, this, &NXYoutubeControlller::playAndStopYTVideo);
    connect(m_ytPauseGoon, &QPushButton::clicked, this, &NXYoutubeControlller::pauseAndGoonYTVideo);
    connect(snapshot, &QPushButton::clicked, this, &NXYoutubeControlller::userWantGetSnapshot);
    connect(snapshotFolder, &QPushButton::clicked, this,
        &NXYoutubeControlller::userWantOpenSnapshotDir);
    connect(m_ytVolumeControl, &NXSlider::actionTriggered, this,
        &NXYoutubeControlller::changeVideoVolume);
    // The preview's controls follow whether there is something to play.
    connect(this, &NXYoutubeControlller::playbackStateChanged, this, [=, this] {
        m_ytPlayStop->setEnabled(isCanPlayback() || m_flag.isPlayerStarted);
        m_ytPauseGoon->setEnabled(isPlayBackReady());
        snapshot->setEnabled(isSnapshotReady());
    });
    for (QWidget* control :
        { static_cast<QWidget*>(m_ytPlayStop), static_cast<QWidget*>(m_ytPauseGoon),
            static_cast<QWidget*>(snapshot), static_cast<QWidget*>(snapshotFolder) })
        controls->addWidget(control);
    controls->addWidget(m_ytVolumeControl, 1);
    layout->addLayout(controls);

    m_refeshUpdateTimer = new QTimer(this);
    m_refeshUpdateTimer->setInterval(1000);
    connect(
        m_refeshUpdateTimer, &QTimer::timeout, this, &NXYoutubeControlller::refreshPlaybackTime);
    emit playbackStateChanged();
    return pane;
}

void NXYoutubeControlller::observeDownloads()
{
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.addObserver(DNYoutubeDownloadManager::kDownloadFinishedNotification, nullptr, this,
        [this](const Notification& notification) {
            if (m_extFuncCheckButton->isChecked())
                downloadedURLCache_.append(
                    notification.userInfo.value(QStringLiteral("outputFile")).toString());
        });
    center.addObserver(DNYoutubeDownloadManager::kFinishedDownloadProcessNotification, nullptr,
        this, [this](const Notification&) { finishedDownloadProcess(); });
}

void NXYoutubeControlller::startEngineCheck()
{
    QPointer<NXYoutubeControlller> window(this);
    m_engineCheckThread.reset(QThread::create(
        [window, engineCheck = m_engineCheck, stop = m_engineCheckStop.get_token()] {
            const bool outdated = engineCheck(stop);
            if (stop.stop_requested())
                return;
            // Told on the main thread, without holding up the check's thread.
            QMetaObject::invokeMethod(qApp, [window, outdated] {
                if (!window)
                    return;
                emit window->engineChecked(outdated);
                if (!outdated)
                    return;
                NXAlert alert;
                alert.title = tr("YouTube Download Engine Outdated");
                alert.text = tr("The newest YouTube download engine (yt-dlp) needs a newer "
                                "python3 than this system has, so downloads go on with the engine "
                                "installed now. Update python3 and yt-dlp with the system's "
                                "package manager to use the newest one.");
                alert.buttons = { tr("OK"), tr("Cancel") };
                window->m_dialogs.runAlert(window, alert);
            });
        }));
    m_engineCheckThread->start();
}

// The fetch may wait minutes on the network; the settings, the log and the
// user defaults it uses must not go from under it.
void NXYoutubeControlller::stopEngineCheck()
{
    m_engineCheckStop.request_stop();
    if (m_engineCheckThread)
        m_engineCheckThread->wait();
}

QStringList NXYoutubeControlller::fileListNeedToConvert()
{
    return m_extFuncCheckButton->isChecked() ? downloadedURLCache_ : QStringList();
}

bool NXYoutubeControlller::isCanPlayback() const
{
    return m_youtubeTable->selelectedNode() != nullptr;
}

// --- the download list ------------------------------------------------------------------

void NXYoutubeControlller::userWantAddNew()
{
    if (!m_youtubeParseController) {
        m_youtubeParseController = new DNYoutubeParseController(this);
        connect(m_youtubeParseController, &DNYoutubeParseController::userHaveChoosedWhatHeWant,
            this, &NXYoutubeControlller::userHaveChoosedWhatHeWant);
    }
    m_youtubeParseController->displayPanelWithWindow(this);
}

DNYoutubeParseController* NXYoutubeControlller::youtubeParseController() const
{
    return m_youtubeParseController;
}

void NXYoutubeControlller::userHaveChoosedWhatHeWant()
{
    const DNYoutubeParseController::NodeAndCover chosen
        = m_youtubeParseController->needDownloadNodeAndCover();
    const Node node = DNYoutubeNode::youtubeNode();
    node->setYoutubeLink(chosen.linkNode);
    m_youtubeTable->addYoutubeVideoWith(node, QPixmap::fromImage(chosen.cover));
    if (DNYoutubeDownloadManager::isYoutubeDownloaderDownloading())
        DNYoutubeDownloadManager::addYoutubeDownloadJob(node, m_destFolderPath);
    m_youtubeTable->reloadData();
}

void NXYoutubeControlller::userStartDownload()
{
    if (m_youtubeTable->dataSource().isEmpty())
        return;
    if (m_flag.isDownloadStarted) {
        stopAll();
        setDownloadStarted(false);
        return;
    }
    if (DNYoutubeDownloadManager::addYoutubeDownloadJobs(
            m_youtubeTable->dataSource(), m_destFolderPath)
        > 0)
        setDownloadStarted(true);
}

void NXYoutubeControlller::setDownloadStarted(bool started)
{
    m_flag.isDownloadStarted = started;
    m_downloadNowButton->setText(started ? tr("Stop All") : tr("Download Now"));
}

void NXYoutubeControlller::stopAll()
{
    DNYoutubeDownloadManager::cancelAll();
    putUnfinishedBackToNew();
}

void NXYoutubeControlller::putUnfinishedBackToNew()
{
    for (const Node& node : m_youtubeTable->dataSource())
        if (node->state() != DNYoutubeNodeState::Finished)
            node->setState(DNYoutubeNodeState::New);
}

void NXYoutubeControlller::finishedDownloadProcess()
{
    putUnfinishedBackToNew();
    setDownloadStarted(false);
    QApplication::alert(this);
    if (m_extFuncCheckButton->isChecked() && m_setting.isFinishedShutdown() && m_system.shutDown)
        m_system.shutDown();
}

void NXYoutubeControlller::userWantCleanFinished()
{
    showLogo();
    m_youtubeTable->removeFinishedVideo();
    m_youtubeTable->reloadData();
    stopPreviewOrAnnounce();
}

void NXYoutubeControlller::userWantCleanAll()
{
    if (m_youtubeTable->dataSource().isEmpty())
        return;
    NXAlert alert;
    alert.title = tr("Are you sure you want to remove all download jobs?");
    alert.buttons = { tr("OK"), tr("Cancel") };
    if (m_dialogs.runAlert(this, alert).button != 0)
        return;
    // The rows' jobs go with them: left queued they would download unseen
    // and still reach the conversion list.
    stopAll();
    m_youtubeTable->removeAllVideo();
    showLogo();
    stopPreviewOrAnnounce();
    setDownloadStarted(false);
}

void NXYoutubeControlller::selectYoutubeNode(const Node& node)
{
    auto* cell = qobject_cast<DNYoutubeCell*>(node->cell());
    if (cell) {
        cell->setIsSelected(true);
        m_thumbnail->setImage(cell->thumbnailView()->image());
        if (!m_flag.isPlayerStarted)
            m_previewPane->setCurrentWidget(m_thumbnail);
    }
    emit playbackStateChanged();
}

void NXYoutubeControlller::playYoutubeNode(const Node&)
{
    playAndStopYTVideo();
}

void NXYoutubeControlller::removeYoutubeNode(const Node& node)
{
    // A removed row's job must not go on downloading out of sight.
    DNYoutubeDownloadManager::cancelYoutubeDownloadJob(node);
    stopPreviewOrAnnounce();
    showLogo();
}

void NXYoutubeControlller::skippedYoutubeNode(const Node& node)
{
    DNYoutubeDownloadManager::cancelYoutubeDownloadJob(node);
}

// --- options and folders ----------------------------------------------------------------

void NXYoutubeControlller::userWantOptionSetting()
{
    if (!m_downloadOptionController)
        m_downloadOptionController = new NXVideoDownloadOption(m_setting, m_dialogs, this);
    m_downloadOptionController->displayPanelWithWindow(this);
}

void NXYoutubeControlller::OpenDestFolder()
{
    if (!m_destFolderPath.isEmpty() && m_system.openFolder)
        m_system.openFolder(m_destFolderPath);
}

void NXYoutubeControlller::onOpenYoutube()
{
    QDesktopServices::openUrl(DNYoutubeParseController::siteHomePage());
}

void NXYoutubeControlller::browse2SelectDestFolder()
{
    const QString folder = m_dialogs.chooseFolder(this, tr("Choose"), m_destFolderPath);
    if (folder.isEmpty())
        return;
    m_destFolderPath = folder;
    m_setting.setDownloadTarget(folder);
}

// --- the preview ------------------------------------------------------------------------

void NXYoutubeControlller::playAndStopYTVideo()
{
    if (m_flag.isPlayerStarted) {
        m_ovPlaybackControl.stopPlay();
        showLogo();
    } else {
        m_logo->setText(DNApplicationName());
        m_previewPane->setCurrentWidget(m_videoView);
        if (const Node node = m_youtubeTable->selelectedNode()) {
            m_ovPlaybackControl.setCacheBufferSizeInMB(node->bestCacheSizeForVideo());
            m_ovPlaybackControl.setVideoSizeInMB(node->videoSize());
            if (const DNYoutubeVideoSegment* variant = node->selectedSgmt();
                variant && !variant->videoURLs.isEmpty())
                m_ovPlaybackControl.playOnlineVideoWidthAddress(variant->videoURLs.first());
            node->setIsPlaying(true);
        }
    }
    setPlayerStarted(!m_flag.isPlayerStarted);
    m_ytPlayStop->setText(playText(m_flag.isPlayerStarted));
}

void NXYoutubeControlller::pauseAndGoonYTVideo()
{
    if (m_ovPlaybackControl.status() == 2)
        return;
    m_ovPlaybackControl.pauseOrContinue();
    m_ytPauseGoon->setText(m_ovPlaybackControl.status() == 3 ? tr("Continue") : tr("Pause"));
}

void NXYoutubeControlller::changeVideoVolume()
{
    m_setting.setVolume(m_ytVolumeControl->doubleValue());
    m_ovPlaybackControl.setPlayerVolume(m_ytVolumeControl->doubleValue());
}

void NXYoutubeControlller::changeVideoDrution()
{
    m_ovPlaybackControl.seekToDurationInPercent(m_ytDurationControl->doubleValue());
}

void NXYoutubeControlller::userWantGetSnapshot()
{
    m_ovPlaybackControl.saveSnapshotToDirectory(AppPaths::picturesFolder());
}

void NXYoutubeControlller::userWantOpenSnapshotDir()
{
    if (m_system.openFolder)
        m_system.openFolder(AppPaths::picturesFolder());
}

void NXYoutubeControlller::stopPreviewOrAnnounce()
{
    if (m_flag.isPlayerStarted)
        playAndStopYTVideo();
    else
        emit playbackStateChanged();
}

void NXYoutubeControlller::showLogo()
{
    m_previewPane->setCurrentWidget(m_logo);
}

void NXYoutubeControlller::setPlayerStarted(bool started)
{
    m_flag.isPlayerStarted = started;
    emit playbackStateChanged();
}

void NXYoutubeControlller::playbackDidStarted(NXOVPlayerControl*)
{
    m_ytDurationControl->setEnabled(true);
    m_refeshUpdateTimer->start();
}

void NXYoutubeControlller::playbackDidPaused(NXOVPlayerControl*)
{
    m_refeshUpdateTimer->stop();
}

void NXYoutubeControlller::playbackDidContinued(NXOVPlayerControl*)
{
    m_refeshUpdateTimer->start();
}

// Said in the preview pane, where the picture was, until the next preview.
void NXYoutubeControlller::playbackDidFail(NXOVPlayerControl*, const QString& reason)
{
    m_logo->setText(reason);
}

void NXYoutubeControlller::playbackDidEnded(NXOVPlayerControl*)
{
    m_refeshUpdateTimer->stop();
    showLogo();
    m_ytPlayStop->setText(playText(false));
    m_ytPauseGoon->setText(tr("Pause"));
    m_playedTimeField->setText(kZeroTime);
    m_leftTimeField->setText(kZeroTime);
    m_ytDurationControl->setDoubleValue(0);
    m_ytDurationControl->setEnabled(false);
    if (const Node node = m_youtubeTable->selelectedNode())
        node->setIsPlaying(false);
    setPlayerStarted(false);
}

void NXYoutubeControlller::refreshPlaybackTime()
{
    m_playedTimeField->setText(
        DNTimeStringFromSeconds(int(m_ovPlaybackControl.currentPlaybackTime())));
    m_leftTimeField->setText(DNTimeStringFromSeconds(int(m_ovPlaybackControl.currentLeftTime())));
    m_ytDurationControl->setValue(float(m_ovPlaybackControl.currentPlaybackPercent()),
        m_ovPlaybackControl.currentLoadingPercent());
}

// --- closing ----------------------------------------------------------------------------

bool NXYoutubeControlller::hasUnfinishedRows() const
{
    const auto& nodes = m_youtubeTable->dataSource();
    return std::any_of(nodes.begin(), nodes.end(),
        [](const Node& node) { return node->state() != DNYoutubeNodeState::Finished; });
}

void NXYoutubeControlller::closeEvent(QCloseEvent* event)
{
    if (!m_closeAllowed && hasUnfinishedRows() && !m_setting.donotShowQuitWarningAgain()) {
        event->ignore();
        confirmQuit();
        return;
    }
    windowWillClose();
    QWidget::closeEvent(event);
}

void NXYoutubeControlller::confirmQuit()
{
    NXAlert alert;
    alert.title = tr("Are you sure you want to quit %1?").arg(DNApplicationName());
    alert.buttons = { tr("OK"), tr("Cancel") };
    alert.suppressionText = tr("Do not show this message again");
    const NXAlertAnswer answer = m_dialogs.runAlert(this, alert);
    if (answer.button != 0)
        return;
    m_setting.setDonotShowQuitWarningAgain(answer.suppressed);
    DNYoutubeDownloadManager::cancelAll();
    m_youtubeTable->removeAllVideo();
    m_closeAllowed = true;
    QPointer<NXYoutubeControlller> window(this);
    m_timer(kCloseDelay, [window] {
        if (window)
            window->close();
    });
}

void NXYoutubeControlller::windowWillClose()
{
    if (m_willClosePosted)
        return;
    m_willClosePosted = true;
    m_setting.setIsAdd2ListOrCopy2iTunes(m_extFuncCheckButton->isChecked());
    DNYoutubeDownloadManager::cancelAll();
    if (m_ovPlaybackControl.status() != 0)
        m_ovPlaybackControl.stopPlay();
    NotificationCenter::defaultCenter().post(kWillCloseNotification, this);
}

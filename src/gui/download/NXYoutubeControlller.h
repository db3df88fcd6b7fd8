#pragma once

#include "common/NXAppPluginProtocol.h"
#include "common/NXDialogs.h"
#include "download/NXYoutubeViewDelegate.h"
#include "player/NXOVPlayerControl.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>

class DNYoutubeImageView;
class DNYoutubeParseController;
class NXOVPictureView;
class NXPreloadSlider;
class NXSlider;
class NXVideoDownloadOption;
class NXVideoDownloadSetting;
class NXYoutubeView;
class QCheckBox;
class QLabel;
class NXPathField;
class QPushButton;
class QStackedWidget;
class QThread;
class QTimer;

// The window's three marks; isLoaded is kept only for its name's sake.
struct NXYTFlag {
    bool isLoaded = false;
    bool isDownloadStarted = false;
    bool isPlayerStarted = false;
};

// The online-video downloader's window: the download list, the URL sheet
// that adds to it, Download Now / Stop All through the shared download
// manager, the preview of the selected row, and the hand-over of the files
// finished while the after-download box was on to the conversion list.
class NXYoutubeControlller : public QWidget,
                             public NXYoutubeViewDelegate,
                             public NXOVPlayerControlDelegate,
                             public NXAppPluginProtocol {
    Q_OBJECT
public:
    static inline const QString kWillCloseNotification
        = QStringLiteral("NXYoutubeWindowWillCloseNotification");
    // Runs `work` once after `delay`; tests run it when they choose.
    using Timer = std::function<void(std::chrono::milliseconds delay, std::function<void()> work)>;
    // True when the download engine is outdated; runs on a background thread
    // and ends early when the token asks it to.
    using EngineCheck = std::function<bool(const std::stop_token&)>;
    static constexpr std::chrono::milliseconds kCloseDelay { 250 };

    NXYoutubeControlller(NXVideoDownloadSetting& setting, NXDialogs& dialogs,
        const NXSystemActions& system, EngineCheck engineCheck = {}, QWidget* parent = nullptr);
    ~NXYoutubeControlller() override;

    void setTimer(Timer timer) { m_timer = std::move(timer); }
    QStringList fileListNeedToConvert() override;

    // Derived states: a row is selected; and the preview plays it.
    bool isCanPlayback() const;
    bool isPlayBackReady() const { return isCanPlayback() && m_flag.isPlayerStarted; }
    bool isSnapshotReady() const { return isPlayBackReady(); }
    const NXYTFlag& flag() const { return m_flag; }
    QString destFolderPath() const { return m_destFolderPath; }
    NXPathField* destFolderField() const { return m_destFolderField; }

    // Actions.
    void userWantAddNew();
    void userHaveChoosedWhatHeWant();
    void userStartDownload();
    void userWantCleanFinished();
    void userWantCleanAll();
    void userWantOptionSetting();
    void OpenDestFolder();
    // The video site's home page in the desktop's browser.
    void onOpenYoutube();
    void browse2SelectDestFolder();
    void playAndStopYTVideo();
    void pauseAndGoonYTVideo();
    void changeVideoVolume();
    void changeVideoDrution();
    void userWantOpenSnapshotDir();
    void userWantGetSnapshot();

    // The download list's requests.
    void selectYoutubeNode(const Node& node) override;
    void playYoutubeNode(const Node& node) override;
    void removeYoutubeNode(const Node& node) override;
    void skippedYoutubeNode(const Node& node) override;

    // The preview's events.
    void playbackDidStarted(NXOVPlayerControl* control) override;
    void playbackDidEnded(NXOVPlayerControl* control) override;
    void playbackDidPaused(NXOVPlayerControl* control) override;
    void playbackDidContinued(NXOVPlayerControl* control) override;
    void playbackDidFail(NXOVPlayerControl* control, const QString& reason) override;

    NXYoutubeView* youtubeTable() const { return m_youtubeTable; }
    NXOVPlayerControl& ovPlaybackControl() { return m_ovPlaybackControl; }
    DNYoutubeParseController* youtubeParseController() const;
    QPushButton* downloadNowButton() const { return m_downloadNowButton; }
    QCheckBox* extFuncCheckButton() const { return m_extFuncCheckButton; }
    QLabel* playedTimeField() const { return m_playedTimeField; }
    QLabel* leftTimeField() const { return m_leftTimeField; }
    NXPreloadSlider* ytDurationControl() const { return m_ytDurationControl; }
    QStackedWidget* previewPane() const { return m_previewPane; }

signals:
    // The derived states may have changed.
    void playbackStateChanged();
    // The engine check of the window's opening has answered.
    void engineChecked(bool outdated);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWindow();
    QWidget* buildListPane();
    QWidget* buildPreviewPane();
    void startEngineCheck();
    void stopEngineCheck();
    void observeDownloads();
    void stopAll();
    void finishedDownloadProcess();
    void setDownloadStarted(bool started);
    void putUnfinishedBackToNew();
    bool hasUnfinishedRows() const;
    void confirmQuit();
    void windowWillClose();
    void stopPreviewOrAnnounce();
    void showLogo();
    void setPlayerStarted(bool started);
    void refreshPlaybackTime();

    NXVideoDownloadSetting& m_setting;
    NXDialogs& m_dialogs;
    const NXSystemActions& m_system;
    EngineCheck m_engineCheck;
    Timer m_timer;
    NXYTFlag m_flag;
    QString m_destFolderPath;
    QStringList downloadedURLCache_;
    // Closing was confirmed (or needs no question): the next close goes through.
    bool m_closeAllowed = false;
    bool m_willClosePosted = false;

    NXOVPlayerControl m_ovPlaybackControl;
    NXYoutubeView* m_youtubeTable = nullptr;
    QPointer<DNYoutubeParseController> m_youtubeParseController;
    QPointer<NXVideoDownloadOption> m_downloadOptionController;
    QPushButton* m_downloadNowButton = nullptr;
    QCheckBox* m_extFuncCheckButton = nullptr;
    NXPathField* m_destFolderField = nullptr;
    QStackedWidget* m_previewPane = nullptr;
    QLabel* m_logo = nullptr;
    NXOVPictureView* m_videoView = nullptr;
    DNYoutubeImageView* m_thumbnail = nullptr;
    QPushButton* m_ytPlayStop = nullptr;
    QPushButton* m_ytPauseGoon = nullptr;
    NXSlider* m_ytVolumeControl = nullptr;
    NXPreloadSlider* m_ytDurationControl = nullptr;
    QLabel* m_playedTimeField = nullptr;
    QLabel* m_leftTimeField = nullptr;
    QTimer* m_refeshUpdateTimer = nullptr;
    // The engine check outlives no window: cut short and joined when it goes.
    std::stop_source m_engineCheckStop;
    std::unique_ptr<QThread> m_engineCheckThread;
};

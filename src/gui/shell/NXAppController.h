#pragma once

#include "common/NXDialogs.h"
#include "model/NXBasicMediaNode.h"
#include "shell/NXProfileChooser.h"
#include "shell/NXProgressController.h"
#include "slideshow/AlbumConversion.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class DNFileLoader;
class NXDVDSourceChooser;
class DNSRWindowController;
class NXCameraRecorderController;
struct NXCameraDeviceSource;
class DNImageEditor;
class DNVideoEditorController;
class DNProfile;
class DNProfileManager;
class DNSetting;
class NXAppPluginProtocol;
class NXMediaListModel;
class NXMediaLoader;
class NXMediaTableView;
class NXMPlayerControl;
class NXMPlayerView;
class NXYoutubeControlller;
class QLabel;
class QTimer;
class QToolBar;
class UserDefaults;
struct DNEngineRun;

// The main window: the conversion list, the ways files get onto it, the
// profile chooser, the preferences and the conversion with its progress sheet.
class NXAppController : public QMainWindow {
    Q_OBJECT
public:
    static inline const QString kMergeModeKey = QStringLiteral("MergeExistsMediaNode");
    static inline const QString kNoConflictQuestionKey = QStringLiteral("_NotPressentDiffType_");
    static inline const QString kApplyToAllNodeInfo
        = QStringLiteral("DNNotificationApplytoAllNodeInfo");

    // Dialogs and system calls are the caller's; tests pass their own.
    NXAppController(DNSetting& setting, DNProfileManager& profiles, UserDefaults& defaults,
        NXDialogs& dialogs, const NXSystemActions& system, QWidget* parent = nullptr);
    ~NXAppController() override;

    // The conversion list, in order: the very collection the list view shows.
    const std::vector<NXBasicMediaNode::Ptr>& mediaNodes() const { return m_mediaNodes; }
    NXMediaTableView* tableView() const { return m_tableView; }
    NXMediaListModel* listModel() const { return m_model; }
    NXMediaLoader* loader() const { return m_loader; }
    DNFileLoader* photoLoader() const { return m_photoLoader; }
    NXDVDSourceChooser* dvdSourceChooser() const { return m_dvdChooser; }
    NXProfileChooser* profileChooser() const { return m_chooser; }
    NXProgressController* progressSheet() const { return m_progress; }

    // Adding sources.
    void addFilesWithPanel();
    // The DVD source chooser: a disc, a VIDEO_TS folder or an image.
    void addDVDWithChooser();
    // Through the loader sheets (open panel and drops): DVD folders and
    // images to the DVD reader, other folders to the photo loader.
    void addFiles(const QStringList& paths);
    // False while a conversion runs or a batch of files, photo folders or
    // discs loads: addFiles would then drop what it is given.
    bool takesFilesNow() const;
    // Files opened from the file manager: probed and added without the sheet.
    void addOpenedFiles(const QStringList& paths);
    // One probed entry, with the conflict and merge rules.
    void addMediaNode(const NXBasicMediaNode::Ptr& node);
    // A tool window closed: the files it hands over join the list.
    void toolWindowDidClose(NXAppPluginProtocol& tool);
    // The tool windows (NXAppController_Tools.cpp): the main window hides
    // while one is open and comes back when it closes.
    void showScreenRecorder();
    DNSRWindowController* screenRecorderController() const;
    void showDownloader();
    NXYoutubeControlller* youtubeController() const;
    void showCameraRecorder();
    // With other cameras and microphones than the system's.
    void showCameraRecorder(const NXCameraDeviceSource& devices);
    NXCameraRecorderController* cameraRecorderController() const;

    void removeSelected();
    void clearList();
    // Merges the selected files into one group entry.
    void mergeSelected();
    bool mergeMode() const;
    void setMergeMode(bool on);

    // Opens the profile chooser for the selected entries (every entry when
    // none is selected).
    void chooseProfile();
    // The edit request of an entry: a photo album opens in the slideshow
    // editor, a file or a DVD title in the video editor on tab `tabIndex`;
    // both are sheets on this window.
    void editNode(const NXBasicMediaNode::Ptr& node, int tabIndex = 0);
    // A list row's request: the editor opens on the tab of that identifier.
    void editNodeOnTab(const NXBasicMediaNode::Ptr& node, const QString& tabIdentifier);
    // Made on the first album edit, then kept; null until then.
    DNImageEditor* imageEditor() const;
    // Made on the first video edit, then kept; null until then.
    DNVideoEditorController* videoEditor() const;
    void applyProfile(const DNProfile& profile, bool toAll);
    void showPreferences();

    // Checks what a conversion needs and opens the progress sheet.
    bool startConversion();
    bool isConverting() const;
    // Stops a running conversion and waits for its engine to end.
    void stopConversionAndWait();
    // Stops a screen recording and waits, the windows still answering, until
    // its file is written.
    void finishRecordings();
    // The files the last conversion wrote completely.
    QStringList convertedOutputs() const;

    // The preview (NXAppController_Player.cpp).
    NXMPlayerControl* playerControl() const { return m_player; }
    NXMPlayerView* playerView() const { return m_playerView; }
    QLabel* playbackTimeLabel() const { return m_timeLabel; }
    QLabel* previewMessage() const { return m_previewMessage; }
    // Plays the entry in the preview; with a player begun, it follows once
    // that one has ended, and the entry playing stops.
    void playNode(const NXBasicMediaNode::Ptr& node);
    // The toolbar's Play: stops a begun player, else plays the selected entry.
    void playOrStop();
    void toggleFullScreen();
    // Ends every player tool of ours and waits a moment for them.
    void stopPlayers();

signals:
    void batchAdded();
    // The window was closed: the application is to quit.
    void windowClosed();

protected:
    // Closing quits; during a conversion only when the user agrees to stop it.
    void closeEvent(QCloseEvent* event) override;

private:
    bool confirmStopForClose();
    // Hides the main window behind a tool window and brings it back, with
    // the tool's files for the list, when the tool posts `willClose`.
    void turnToToolWindow(
        QWidget* window, NXAppPluginProtocol* tool, const QString& willClose, const void* sender);
    void buildActions();
    QSize defaultSize() const;
    void observeNotifications();
    void loaderFinished(const QStringList& failures);
    bool resolveKindConflict(const NXBasicMediaNode::Ptr& node);
    void addToMergeGroup(const NXBasicMediaNode::Ptr& node);
    void giveDefaultProfile(const NXBasicMediaNode::Ptr& node);
    static bool hasSound(const NXBasicMediaNode& node);
    bool checkSoundOfEntries();
    bool showAlert(const QString& title, const QString& text);
    std::vector<NXBasicMediaNode::Ptr> targetNodes() const;

    QWidget* buildPreview();
    void observePlayer();
    void showPlaybackTime();
    void playbackDidEnd();
    void showPreviewMessage(const QString& message);
    void hidePreviewMessageOfRemovedEntry();

    void setConversionControlsEnabled(bool enabled);
    // After a run, the names the entries were really written under.
    void showWrittenOutputs();

    // One call of the conversion driver: an entry, one title of a DVD, or a
    // DVD's titles merged (a DNDVDGroupTitle).
    struct ConversionJob {
        NXBasicMediaNode::Ptr node;
        int32_t titleIndex = 0;
    };
    // The job that ended a run, and why.
    struct FailedJob {
        std::size_t index = 0;
        QString reason; // empty: only the log tells
    };
    // The row that stands for the job: the entry, or the DVD title.
    static NXBasicMediaNode::Ptr rowOf(const ConversionJob& job);
    static QString nameOf(const ConversionJob& job);
    static QString outputOf(const ConversionJob& job);

    // Conversion, on the worker thread unless said otherwise.
    bool checkOutputFolder();
    bool checkDVDTitles(); // main thread
    // Turns off a merge the row no longer offers.
    std::vector<ConversionJob> planJobs(); // main thread
    bool converter();
    int convertEntry(const ConversionJob& job);
    void noteFailedJob(std::size_t index);
    void reportFailedJob(const FailedJob& failure); // main thread
    AlbumConversion::Hooks albumStepHooks();
    bool pauseBetweenEntries();
    void endRun(); // main thread
    QVariantMap progressGetter() const; // main thread
    void interrupter(); // main thread
    static void engineState(int state, void* context);
    static void engineRunEnded(const DNEngineRun& run, void* context);

    DNSetting& m_setting;
    DNProfileManager& m_profiles;
    UserDefaults& m_defaults;
    NXDialogs& m_dialogs;
    const NXSystemActions& m_system;

    std::vector<NXBasicMediaNode::Ptr> m_mediaNodes;
    NXMediaListModel* m_model = nullptr;
    NXMediaTableView* m_tableView = nullptr;
    QToolBar* m_toolbar = nullptr;
    QToolBar* m_convertBar = nullptr;
    NXMediaLoader* m_loader = nullptr;
    DNFileLoader* m_photoLoader = nullptr;
    NXDVDSourceChooser* m_dvdChooser = nullptr;
    QPointer<NXProfileChooser> m_chooser;
    // New entries of one kind share one copy of the last-used profile until
    // the user chooses another: nothing changes a node's profile in place
    // (the chooser gives every node a copy of its own), and ten thousand
    // entries then cost one profile, not ten thousand.
    // Keyed by profile type and whether the entry has sound.
    std::map<std::pair<int, bool>, std::shared_ptr<DNProfile>> m_defaultProfiles;
    QPointer<NXProgressController> m_progress;
    QPointer<DNImageEditor> m_imageEditor;
    QPointer<DNVideoEditorController> m_videoEditor;
    bool m_listWasEmptyBeforeBatch = false;

    std::vector<ConversionJob> m_jobs;
    std::atomic_bool m_stopFlag { false };
    mutable std::mutex m_mutex; // guards m_entryOutputs and m_outputs
    std::condition_variable m_wake;
    NXProgressController* m_sheetOfRun = nullptr; // read on the worker thread
    // Renders a photo album on the worker thread before it is converted.
    AlbumConversion m_albumStep { albumStepHooks() };
    QStringList m_entryOutputs;
    QStringList m_outputs;
    std::optional<FailedJob> m_failure; // guarded by m_mutex
    bool m_movieRendered = false; // the album of the running job

    NXMPlayerControl* m_player = nullptr;
    NXMPlayerView* m_playerView = nullptr;
    QLabel* m_timeLabel = nullptr;
    QLabel* m_previewMessage = nullptr;
    // The entry the preview's message is about: it goes when that entry leaves the list.
    std::weak_ptr<NXBasicMediaNode> m_previewMessageNode;
    QTimer* m_playbackTimer = nullptr;

    QPointer<DNSRWindowController> m_screenRecorderController;
    QPointer<NXYoutubeControlller> m_youtubeController;
    QPointer<NXCameraRecorderController> m_cameraRecorderController;
};

#pragma once

#include "editor/DNAreaSelectView.h"
#include "model/NXBasicMediaNode.h"

#include <QDialog>
#include <QPointer>
#include <QSizeF>

#include <map>

class DNProgressIndicator;
class DNTabViewItem;
class DNVideoEditProtocol;
class NXSegmentSlider;
class NXTimePicker;
class NXViewRenderControl;
class QLabel;
class QPushButton;
class QSlider;
class QDoubleSpinBox;
class QTabWidget;
class QTimer;

// The editor's state for the node being edited.
struct NXECFlags {
    qint64 timeOfLoop = 0; // player starts seen since the node was entered
    QSizeF videoSize; // the source size divided by videoScale
    double videoScale = 1; // source pixels per selector point
    qint32 indexOfSubtitleMode = 0;
    qint32 indexOfInnerSubtitle = 0;
    qint32 codePageIndex = 0;
    qint32 tabViewItemIndex = 0; // the tab shown when the sheet opens
    qint32 tryPlaybackCount = 0; // player starts since the sheet opened
    bool isUserWantExit = false; // Done was pressed: no more restarts
    qint32 skipFlagCount = 0; // interface ticks still to skip
    bool isDVDNode = false;
};

// The video editor sheet: a live preview of one list entry and the tabs that
// change its edit settings, written back on Done or Apply to All. Every value
// reaches the node through its edit operations. The sheet is window-modal;
// Escape and the close button leave it without writing the preview's crop,
// rotation and mirror back, as a cancel would.
class DNVideoEditorController : public QDialog, public DNAreaSelectViewDelegate {
    Q_OBJECT
public:
    static inline const QString kTabGeneral = QStringLiteral("tabGeneral");
    static inline const QString kTabTrimming = QStringLiteral("tabTrimming");
    static inline const QString kTabCrop = QStringLiteral("tabCrop");
    static inline const QString kCannotPlay = QStringLiteral("This file cannot be played.");
    // The preview box the video is brought down to.
    static constexpr double kBoxWidth = 400;
    static constexpr double kBoxHeight = 300;

    explicit DNVideoEditorController(QWidget* parent = nullptr);
    ~DNVideoEditorController() override;

    // The edit request, in this order: the tab to show, the node, the window.
    void setTabViewAppearItemIndex(int index) { m_flags.tabViewItemIndex = index; }
    // Where the tab of an identifier stands now; -1 when it is absent.
    int indexOfTabViewItemWithIdentifier(const QString& identifier) const;
    void setMediaNode(NXBasicMediaNode::Ptr node);
    NXBasicMediaNode::Ptr mediaNode() const { return m_mediaNode; }
    void displayVideoEditorPanel(QWidget* window);

    void onEditorDone();
    void onApplytoAll();
    // Shows the node in the shared floating media-information window.
    void infoButtonClicked();
    void startPlayAction();
    void stopPlayAction();
    void pauseAndContinesEditVideo();
    void update_UI_timer_callback();
    void autoEnableDoneButton();
    void playbackCountChecker();

    // General tab.
    bool enableGeneral() const;
    void setEnableGeneral(bool on);
    double editVideoVolume() const;
    void setEditVideoVolume(double volume);

    // Trim tab.
    int limitation() const;
    bool editEnableTrimming() const;
    void setEditEnableTrimming(bool on);
    void taggeDurationSlider();
    void updateWithTraggeDurationSlider();
    // A null picker stands for both, the start first.
    void timePickerAction(NXTimePicker* sender);
    void resetTimeTrimming();

    // Crop tab: values in source pixels, the origin's top from the top edge.
    bool editorEnableCrop() const;
    void setEditorEnableCrop(bool on);
    int indexOfCropMode() const;
    void setIndexOfCropMode(int index);
    double videoCropWidth() const;
    double videoCropHeight() const;
    double videoCropOriginLeft() const;
    double videoCropOriginTop() const;
    double videoCropOriginBottom() const;
    double videoMaxCropWidth() const;
    double videoMaxCropHeight() const;
    double videoMaxCropLeft() const;
    double videoMaxCropTop() const;
    double videoMinCropWidth() const;
    double videoMinCropHeight() const;
    // Typed values are held to the bounds above.
    void setVideoCropWidth(double pixels);
    void setVideoCropHeight(double pixels);
    void setVideoCropOriginLeft(double pixels);
    void setVideoCropOriginTop(double pixels);
    void resetVideoCrop();
    void onAreaSelectDidChanged();
    bool canCropBlackRegion() override;
    QRectF rectByCoppingBlackRegion() override;

    // The player's callbacks.
    void videoWillStartAction();
    void videoStarted();
    void videoStopped();

    // The scale of a node's own size, and the one of the decoded picture,
    // which keeps `current` while either side is unknown.
    static double scaleForSize(const QSizeF& size);
    static double scaleOnVideoStart(const QSizeF& picture, double current);
    // The rectangle a picture takes inside `bounds` fitted with its aspect kept, centred.
    static QRectF aspectFit(const QSizeF& picture, const QSizeF& bounds);
    // Even source pixels, as every crop value is shown.
    static double evenPixels(double value);

    const NXECFlags& flags() const { return m_flags; }
    NXViewRenderControl* renderControl() const { return m_renderControl; }
    NXTimePicker* startTrimTime() const { return m_startTrimTime; }
    NXTimePicker* endTrimTime() const { return m_endTrimTime; }
    NXSegmentSlider* editDurationSlider() const { return m_editDurationSlider; }
    DNAreaSelectView* selectionView() const { return m_selectionView; }
    QTabWidget* editorTabView() const { return m_editorTabView; }
    QPushButton* doneButton() const { return m_doneButton; }
    QPushButton* apply2AllButton() const { return m_apply2AllButton; }
    QPushButton* infoButton() const { return m_infoButton; }
    QLabel* editPlayTime() const { return m_editPlayTime; }
    QLabel* editLeftTime() const { return m_editLeftTime; }
    QLabel* gernalTimeTrimDuration() const { return m_gernalTimeTrimDuration; }
    QLabel* playbackMessage() const { return m_playbackMessage; }
    QTimer* startTimer() const { return m_startTimer; }
    QTimer* restartTimer() const { return m_restartTimer; }
    QTimer* enableButtonsTimer() const { return m_enableButtonsTimer; }

signals:
    // The node's settings were reloaded.
    void updateMediaNodeInformation();
    // The crop selection moved.
    void selectedRectChanged();

public slots:
    void done(int result) override;

private:
    void buildInterface();
    QWidget* buildGeneralTab();
    QWidget* buildTrimTab();
    QWidget* buildCropTab();
    void addTab(QWidget* page, const QString& identifier, const QString& label);
    void showTabFlag(const QString& identifier, bool on);
    void refreshControls();
    void updateVideoEditConfigureOnEnter();
    void loadTrimOnEnter();
    void loadCropOnEnter();
    void updateVideoEditConfigureOnVideoStart();
    void updateVideoEditConfigureOnExit();
    void saveMediaNodeInfomation();
    void videoEditorDidEnd();
    void tabDidSelect(int index);
    void setBusy(bool busy);
    void setButtonsEnabled(bool on);
    void applySelection(QRectF area);
    void showTrimDuration(int seconds);
    QRectF selectorFrame() const;
    DNVideoEditProtocol* edit() const;

    NXECFlags m_flags;
    NXBasicMediaNode::Ptr m_mediaNode;
    NXViewRenderControl* m_renderControl = nullptr;
    QPointer<DNAreaSelectView> m_selectionView;
    NXSegmentSlider* m_editDurationSlider = nullptr;
    NXTimePicker* m_startTrimTime = nullptr;
    NXTimePicker* m_endTrimTime = nullptr;
    QLabel* m_gernalTimeTrimDuration = nullptr;
    QLabel* m_editPlayTime = nullptr;
    QLabel* m_editLeftTime = nullptr;
    QLabel* m_playbackMessage = nullptr;
    QTabWidget* m_editorTabView = nullptr;
    std::map<QString, DNTabViewItem*> m_tabs;
    QSlider* m_volumeSlider = nullptr;
    QDoubleSpinBox* m_cropFields[4] = {};
    QPushButton* m_doneButton = nullptr;
    QPushButton* m_apply2AllButton = nullptr;
    QPushButton* m_infoButton = nullptr;
    DNProgressIndicator* m_progressIndicatorONE = nullptr;
    DNProgressIndicator* m_progressIndicatorTWO = nullptr;
    QTimer* m_startTimer = nullptr;
    QTimer* m_restartTimer = nullptr;
    QTimer* m_enableButtonsTimer = nullptr;
    QTimer* m_editTimeRemaind = nullptr;
};

#pragma once

#include "common/EditorTabs.h"
#include "editor/DNAreaSelectView.h"
#include "editor/DNEffectsView.h"
#include "model/NXBasicMediaNode.h"

#include <QDialog>
#include <QPointer>
#include <QSizeF>
#include <QStringList>

#include <map>
#include <utility>
#include <vector>

class DNDVDNode;
class DNProgressIndicator;
class DNTabViewItem;
class DNVideoEditProtocol;
class DNWatermarkView;
class NXDialogs;
class NXFloatInfoWindowController;
class NXSegmentSlider;
class NXTimePicker;
class NXViewRenderControl;
struct SelectionFields;
class QColor;
class QComboBox;
class QFont;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QDoubleSpinBox;
class QFormLayout;
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

// One language an external subtitle can be marked with: its code and its
// name in the user's language.
struct NXSubtitleLanguage {
    QString languageName;
    QString languageCode;

    bool operator==(const NXSubtitleLanguage&) const = default;
};

// The video editor sheet: a live preview of one list entry and the tabs that
// change its edit settings, written back on Done or Apply to All. Every value
// reaches the node through its edit operations. The sheet is window-modal;
// Escape and the close button end it as Done does.
class DNVideoEditorController : public QDialog,
                                public DNAreaSelectViewDelegate,
                                public DNEffectsViewProtocol {
    Q_OBJECT
public:
    // Posted by Apply to All with the edit setting to give every other entry.
    static inline const QString kApplyToAllEdit
        = QStringLiteral("DNNotificationApplytoAllEditSetting");
    // The languages an external subtitle can be marked with, in the order offered.
    static inline const QStringList kSubtitleLanguages = { QStringLiteral("zh-Hans"),
        QStringLiteral("en"), QStringLiteral("fr"), QStringLiteral("de"), QStringLiteral("it"),
        QStringLiteral("pt"), QStringLiteral("es") };
    static inline const QStringList kSubtitleFileTypes
        = { QStringLiteral("srt"), QStringLiteral("ass"), QStringLiteral("ssa"),
              QStringLiteral("json"), QStringLiteral("aqt"), QStringLiteral("sub") };
    static constexpr int kEffectCount = 14;
    static inline const QString kCannotPlay = QStringLiteral("This file cannot be played.");
    // The preview box the video is brought down to.
    static constexpr double kBoxWidth = 400;
    static constexpr double kBoxHeight = 300;

    // Without dialogs of its own the sheet asks through the real ones.
    explicit DNVideoEditorController(QWidget* parent = nullptr, NXDialogs* dialogs = nullptr);
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
    // Shows the node in the shared floating media-information window, beside the sheet.
    void infoButtonClicked();
    // Where a window goes beside a sheet on a screen: right of it, else left
    // of it, else at the screen's right edge; top with the sheet's, inside the screen.
    static QPoint placeBeside(const QRect& sheet, const QSize& window, const QRect& screen);
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
    // What the general tab's lamp shows.
    bool generalChangesOutput() const;

    // Trim tab.
    int limitation() const;
    bool editEnableTrimming() const;
    void setEditEnableTrimming(bool on);
    void taggeDurationSlider();
    void updateWithTraggeDurationSlider();
    // A null picker stands for both, the start first.
    void timePickerAction(NXTimePicker* sender);
    void resetTimeTrimming();
    // A trim range held to [0, length] (no bound for length 0) and to the
    // minimum trimmed length: when too short, the side not kept moves out,
    // and the kept one only where the clip ends.
    static std::pair<int, int> heldTrimRange(
        int start, int end, int length, int minimum, bool keepEnd = false);

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
    // The node's switch that pads the picture to the profile's frame size.
    bool canExpand() const;
    void setCanExpand(bool on);
    // The profile's video resolution, as the crop tab shows it.
    QString videoResolutionStringValue() const;
    // The source's upright picture size while the preview shows it; 0 while
    // no player shows one.
    double videoWidth() const;
    double videoHeight() const;
    void onAreaSelectDidChanged();
    bool canCropBlackRegion() override;
    QRectF rectByCoppingBlackRegion() override;

    // Watermark tab: sizes in source pixels, the origin's top from the top
    // edge. Only a plain file can carry a watermark.
    bool canEnableWaterMark() const;
    bool enableWaterMark() const;
    void setEnableWaterMark(bool on);
    bool enableImageWatermark() const;
    int watermarkTypeIndex() const;
    void setWatermarkTypeIndex(int kind);
    double wmTransparency() const;
    void setWmTransparency(double percent);
    double watermarkWidth() const;
    double watermarkHeight() const;
    double watermarkOriginLeft() const;
    double watermarkOriginTop() const;
    double watermarkOriginBottom() const;
    double watermarkMaxWidth() const;
    double watermarkMaxHeight() const;
    double watermarkMaxLeft() const;
    double watermarkMaxTop() const;
    // Typed values are held to the bounds above.
    void setWatermarkWidth(double pixels);
    void setWatermarkHeight(double pixels);
    void setWatermarkOriginLeft(double pixels);
    void setWatermarkOriginTop(double pixels);
    void textWatermarkNewInput(const QString& text);
    // A chosen file that is no readable picture is refused with a message.
    void openImageForWatermark();
    void openFontSetPanel();
    void openColorPanel();
    void changeFont(const QFont& font);
    void changeFontColor(const QColor& colour);
    void onWatermarkAreaChanged();

    // Effect tab: the grid's entries carry no picture and no name; the tab is
    // taken away at every entry, so the index is chosen in code only.
    bool enableVideoEffect() const;
    void setEnableVideoEffect(bool on);
    int countOfEffectPreview() override { return kEffectCount; }
    QImage effectImageAtIndex(int) override { return {}; }
    void effectSelectedAtIndex(int index) override;

    // Subtitle tab. The mode and the track live here until Done or Apply to All.
    bool enableVideoSubtitle() const;
    void setEnableVideoSubtitle(bool on);
    int subtitleMode() const { return m_flags.indexOfSubtitleMode; }
    void setSubtitleMode(int mode);
    bool isForExtraSubtitle() const { return m_flags.indexOfSubtitleMode != 0; }
    QStringList innerSubtitile() const;
    int innerSubtitleSelectIndex() const { return m_flags.indexOfInnerSubtitle; }
    void setInnerSubtitleSelectIndex(int index);
    static QStringList allSubtitlePosition();
    QString subtitlePosition() const;
    // A name that is none of allSubtitlePosition changes nothing.
    void setSubtitlePosition(const QString& name);
    // Named in the language the "AppleLanguages" default names first, else
    // in the application's.
    static std::vector<NXSubtitleLanguage> extSubtitleLanguageDics();
    NXSubtitleLanguage curLanguageDic() const;
    void setCurLanguageDic(const NXSubtitleLanguage& language);
    QString extraSRTFilePath() const;
    void openPanelForChooseSRTFile();
    // The sheet that asks a DVD title's external subtitle its language.
    void forceUserChooseLanguagePanel();
    void doneForceLanguageChoose();

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
    // Under the time fields: why a typed trim was held to the shortest allowed.
    QLabel* trimLimitMessage() const { return m_trimLimitMessage; }
    QLabel* playbackMessage() const { return m_playbackMessage; }
    QTimer* startTimer() const { return m_startTimer; }
    QTimer* restartTimer() const { return m_restartTimer; }
    QTimer* enableButtonsTimer() const { return m_enableButtonsTimer; }
    QTimer* languagePanelTimer() const { return m_languagePanelTimer; }
    QDialog* languageChoosePanel() const { return m_languageChoosePanel; }
    DNWatermarkView* watermark() const { return m_watermark; }
    QLineEdit* watermarkTextInput() const { return m_watermarkTextInput; }
    DNEffectsView* effectView() const { return m_effectView; }

signals:
    // The node's settings were reloaded.
    void updateMediaNodeInformation();
    // The crop selection moved.
    void selectedRectChanged();
    // The watermark box moved.
    void watermarkFrameChanged();
    // The watermark's kind, or the subtitle's mode or file, changed.
    void watermarkKindChanged();
    void subtitleChoiceChanged();

public slots:
    void reject() override;
    void done(int result) override;

private:
    void buildInterface();
    QWidget* buildGeneralTab();
    QWidget* buildTrimTab();
    QWidget* buildCropTab();
    void buildExpandRow(QWidget* page, QFormLayout* form);
    QWidget* buildEffectTab();
    QWidget* buildWatermarkTab();
    QWidget* buildSubtitleTab();
    QWidget* buildWatermarkFields(QWidget* page);
    void buildLanguageChoosePanel();
    void arrangeTabsForNode();
    void loadWatermarkOnEnter();
    void loadWatermarkSelection();
    void saveWatermarkRect();
    void saveSubtitleChoice();
    // Gives the preview the subtitle the choice shown would give the output,
    // before Done saves it.
    void showChosenSubtitle();
    void applyWatermarkSelection(QRectF area);
    QRectF watermarkFrame() const;
    QRectF editedPictureFrame() const;
    void refreshWatermarkFrame();
    SelectionFields watermarkFields() const;
    QString identifierOfTab(int index) const;
    void addTab(QWidget* page, const QString& identifier, const QString& label);
    void showTabFlag(const QString& identifier, bool on);
    void refreshControls();
    void updateVideoEditConfigureOnEnter();
    void loadTrimOnEnter();
    void loadCropOnEnter();
    void updateVideoEditConfigureOnVideoStart();
    void updateVideoEditConfigureOnExit();
    void saveMediaNodeInfomation();
    void applyToOtherTitles(const DNDVDNode& dvd);
    void clearPreviews();
    void videoEditorDidEnd();
    void tabDidSelect(int index);
    void setBusy(bool busy);
    void setButtonsEnabled(bool on);
    void applySelection(QRectF area);
    void showTrimDuration(int seconds);
    // The clip's length in whole seconds: the player's, else the node's.
    int trimLength() const;
    // Node, pickers, slider ends, player limits and duration label, all from
    // one held range.
    void setTrimRange(int start, int end, bool keepEnd = false);
    void followTrimInPreview();
    QRectF selectorFrame() const;
    SelectionFields cropFields() const;
    // Source pixels per selector point, across and down.
    QSizeF cropScale() const;
    // The node's crop on the selector.
    void loadCropSelection();
    QSizeF shownSourceSize() const;
    DNVideoEditProtocol* edit() const;

    NXECFlags m_flags;
    NXBasicMediaNode::Ptr m_mediaNode;
    NXViewRenderControl* m_renderControl = nullptr;
    QPointer<DNAreaSelectView> m_selectionView;
    NXSegmentSlider* m_editDurationSlider = nullptr;
    NXTimePicker* m_startTrimTime = nullptr;
    NXTimePicker* m_endTrimTime = nullptr;
    QLabel* m_gernalTimeTrimDuration = nullptr;
    QLabel* m_trimLimitMessage = nullptr;
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
    // The media information window the Info button showed: it goes with the sheet.
    QPointer<NXFloatInfoWindowController> m_infoWindow;
    DNProgressIndicator* m_progressIndicatorONE = nullptr;
    DNProgressIndicator* m_progressIndicatorTWO = nullptr;
    QTimer* m_startTimer = nullptr;
    QTimer* m_restartTimer = nullptr;
    QTimer* m_enableButtonsTimer = nullptr;
    QTimer* m_editTimeRemaind = nullptr;
    NXDialogs& m_dialogs;
    DNWatermarkView* m_watermark = nullptr;
    DNEffectsView* m_effectView = nullptr;
    QLineEdit* m_watermarkImageAddress = nullptr;
    QLineEdit* m_watermarkTextInput = nullptr;
    QDialog* m_languageChoosePanel = nullptr;
    QComboBox* m_forcedLanguage = nullptr;
    QTimer* m_languagePanelTimer = nullptr;
};

#pragma once

#include "slideshow/DNImageNode.h"
#include "slideshow/SlideshowSupport.h"

#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

class DNEffectPreview;
class DNGraphicsNode;
struct DNLeftOutPhoto;
class DNImageBrowserModel;
class DNImageBrowserView;
class NXDialogs;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;
class SlideshowView;

// The slideshow editor, a sheet on the main window over one photo album:
// browse, add and remove folders and photos, reorder the folders, sort, add
// and remove music, choose how long each photo shows and which transitions
// the slideshow may use, and watch a live preview. Every change goes to the
// album at once, so Cancel closes the sheet like Done.
class DNImageEditor : public QDialog {
    Q_OBJECT
public:
    static inline const QString kPreviewImage = QStringLiteral("P2VPreview.png");
    static inline const QString kStopImage = QStringLiteral("P2VStopView.png");
    // Items of the sort pop-up, in order.
    enum SortKeyItem { SortByPosition = 0, SortByDate = 1, SortByName = 2 };
    // Photos shown in the preview and on the transition grid, at most this large.
    static constexpr int kSlideWidth = 600;
    static constexpr int kSlideHeight = 400;
    static constexpr int kDemoWidth = 100;
    static constexpr int kDemoHeight = 80;

    DNImageEditor(NXDialogs& dialogs, QWidget* parent);
    ~DNImageEditor() override;

    // The clock of the preview's transitions and the grid's cells.
    void setClock(SlideshowClock clock);

    void setGraphicsNode(std::shared_ptr<DNGraphicsNode> album);
    // Shows the sheet over `window` (window-modal).
    void displayOnWindow(QWidget* window);

    // The sheet's actions.
    void onPlay();
    void onDone();
    void onCancel();
    void onGoToRoot();
    void onAddPhotoFolder();
    void onRemove();
    void onTransitionPressed();
    void onSortImageTypeChanged();
    void addMovieMusic();
    void buttonCellClick();
    void onEffectsSelectionChanged(const QList<qint64>& selected);
    void setValueOfDuration(const QString& text);
    // Shows a folder record's photos (a double click on it).
    void openRecord(int row);
    // The browser's move of records, at the top level only; false elsewhere.
    bool moveRecords(QList<int> indexes, int destination);
    // One firing of the preview timer: the next photo.
    void showNextSlide();

    float slideshowInterval() const;
    QString imageForPreviewButton() const;
    QString totalVideoDuration() const;
    QString totalAudioDuration() const;
    // The records the browser shows; null without an album.
    std::vector<DNImageNode>* imageNodesAtCurrentLevel() const;
    // Every photo of every folder record, in order.
    std::vector<DNImageNode> allImagesNodesWithoutFolderNode() const;
    bool stateOfGoRoot() const;
    bool stateOfAutoCaltulate() const;
    QStringList display_durations() const { return m_displayDurations; }
    QString valueOfDuration() const { return m_valueOfDuration; }
    // The path of the photo the preview showed last, if any.
    std::optional<QString> slideshowCurrentAsset() const { return m_slideshowCurrentAsset; }

    SlideshowView* slideshowViewer() const { return m_slideshowViewer; }
    DNImageBrowserView* imageBrowserView() const { return m_imageBrowserView; }
    QComboBox* sortType() const { return m_sortType; }
    QComboBox* sortBy() const { return m_sortBy; }
    QTableWidget* audioList() const { return m_audioList; }
    QPushButton* previewButton() const { return m_previewButton; }
    DNEffectPreview* effectsView() const;
    // The preview timer, null while the preview is stopped.
    QTimer* slideshowTimer() const { return m_slideshowTimer; }

protected:
    // Escape and the window's close button end the sheet as Cancel does.
    void reject() override;

private:
    QWidget* makeBrowserColumn();
    QWidget* makePreviewColumn();
    QWidget* makeMusicBox();
    void closeSheet(int result);
    void sheetDidEnd();
    void showLevel(std::vector<DNImageNode>* records, bool topLevel);
    void tellLeftOut(const std::vector<DNLeftOutPhoto>& leftOut);
    void refuseMusic(const QStringList& refusals);
    void reloadMusic();
    void fitDurationToMusic();
    void setDurationChoices(const QStringList& choices, const QString& value);
    void startSlideshow();
    void stopSlideshow();
    void refreshStates();
    void showFirstPhoto();

    NXDialogs& m_dialogs;
    SlideshowClock m_clock = steadyClock();
    std::shared_ptr<DNGraphicsNode> m_graphicsNode;
    std::vector<DNImageNode>* m_nodeDisplaying = nullptr;
    std::optional<QString> m_slideshowCurrentAsset;
    QStringList m_displayDurations;
    QString m_valueOfDuration = QStringLiteral("2.0");
    bool m_previewLowered = false;

    DNImageBrowserModel* m_browserModel = nullptr;
    DNImageBrowserView* m_imageBrowserView = nullptr;
    QComboBox* m_sortType = nullptr;
    QComboBox* m_sortBy = nullptr;
    QPushButton* m_goToRootButton = nullptr;
    QWidget* m_previewArea = nullptr;
    SlideshowView* m_slideshowViewer = nullptr;
    QPushButton* m_previewButton = nullptr;
    QComboBox* m_durationBox = nullptr;
    QLabel* m_totalVideoLabel = nullptr;
    QLabel* m_totalAudioLabel = nullptr;
    QTableWidget* m_audioList = nullptr;
    QPointer<DNEffectPreview> m_effectsView;
    QPointer<QTimer> m_slideshowTimer;
};

#include "editor/DNVideoEditorController.h"

#include "common/NXDialogs.h"
#include "common/NXFloatInfoWindowController.h"
#include "controls/DNProgressIndicator.h"
#include "controls/NXSegmentSlider.h"
#include "controls/NXTimePicker.h"
#include "editor/DNTabViewItem.h"
#include "editor/DNWatermarkView.h"
#include "editor/NXEditMovieView.h"
#include "editor/NXViewRenderControl.h"
#include "editor/SelectionFields.h"
#include "list/NXMediaTableView.h"
#include "model/DNDVDNode.h"
#include "model/DNFileNode.h"
#include "model/DNVideoEditProtocol.h"
#include "model/NXMPlayerPlaybackProtocol.h"
#include "platform/DNLogger.h"
#include "platform/NotificationCenter.h"
#include "player/BlackRegion.h"
#include "player/PlayerProcesses.h"
#include "player/PlayerTask.h"
#include "profiles/DNProfile.h"
#include "services/DNHelpers.h"
#include "services/ThumbnailCapture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

namespace {

constexpr double kWideRatio = 1.3333;
constexpr auto kKillBound = std::chrono::milliseconds(2000);
constexpr int kPreviewGap = 20;

QTimer* singleShotTimer(QObject* owner, int milliseconds)
{
    auto* timer = new QTimer(owner);
    timer->setSingleShot(true);
    timer->setInterval(milliseconds);
    return timer;
}

NXDialogs& realDialogs()
{
    static NXQtDialogs dialogs;
    return dialogs;
}

} // namespace

DNVideoEditorController::DNVideoEditorController(QWidget* parent, NXDialogs* dialogs)
    : QDialog(parent)
    , m_startTimer(singleShotTimer(this, 250))
    , m_restartTimer(singleShotTimer(this, 100))
    , m_enableButtonsTimer(singleShotTimer(this, 10'000))
    , m_dialogs(dialogs ? *dialogs : realDialogs())
    , m_languagePanelTimer(singleShotTimer(this, 350))
{
    setWindowModality(Qt::WindowModal);
    buildInterface();
    connect(m_startTimer, &QTimer::timeout, this, &DNVideoEditorController::startPlayAction);
    connect(m_restartTimer, &QTimer::timeout, this, &DNVideoEditorController::playbackCountChecker);
    connect(m_enableButtonsTimer, &QTimer::timeout, this,
        &DNVideoEditorController::autoEnableDoneButton);
    connect(m_languagePanelTimer, &QTimer::timeout, this,
        &DNVideoEditorController::forceUserChooseLanguagePanel);
    connect(m_renderControl, &NXViewRenderControl::videoWillStartAction, this,
        &DNVideoEditorController::videoWillStartAction);
    connect(m_renderControl, &NXViewRenderControl::videoStarted, this,
        &DNVideoEditorController::videoStarted);
    connect(m_renderControl, &NXViewRenderControl::videoStopped, this,
        &DNVideoEditorController::videoStopped);
    connect(this, &DNVideoEditorController::updateMediaNodeInformation, this,
        &DNVideoEditorController::refreshControls);
    connect(this, &DNVideoEditorController::selectedRectChanged, this,
        &DNVideoEditorController::refreshControls);
}

DNVideoEditorController::~DNVideoEditorController() = default;

void DNVideoEditorController::buildInterface()
{
    auto* previews = new QWidget(this);
    previews->setFixedSize(int(kBoxWidth) * 2 + kPreviewGap, int(kBoxHeight));
    m_renderControl = new NXViewRenderControl(previews, this);
    m_renderControl->originalView()->setGeometry(0, 0, int(kBoxWidth), int(kBoxHeight));
    m_renderControl->effectView()->setGeometry(
        int(kBoxWidth) + kPreviewGap, 0, int(kBoxWidth), int(kBoxHeight));
    m_progressIndicatorONE = new DNProgressIndicator(previews);
    m_progressIndicatorTWO = new DNProgressIndicator(previews);
    m_progressIndicatorONE->setGeometry(120, 145, 160, 10);
    m_progressIndicatorTWO->setGeometry(int(kBoxWidth) + kPreviewGap + 120, 145, 160, 10);
    m_playbackMessage = new QLabel(kCannotPlay, previews);
    m_playbackMessage->setAlignment(Qt::AlignCenter);
    m_playbackMessage->setGeometry(previews->rect());
    m_playbackMessage->hide();
    m_selectionView = new DNAreaSelectView(QRect(), m_renderControl->originalView());
    m_selectionView->setDelegate(this);
    connect(m_selectionView, &DNAreaSelector::areaSelectDidChanged, this,
        &DNVideoEditorController::onAreaSelectDidChanged);
    m_watermark = new DNWatermarkView(QRect(), m_renderControl->effectView());
    m_watermark->hide();
    connect(m_watermark, &DNAreaSelector::areaSelectDidChanged, this,
        &DNVideoEditorController::onWatermarkAreaChanged);

    m_editDurationSlider = new NXSegmentSlider(this);
    connect(m_editDurationSlider, &NXSegmentSlider::actionTriggered, this,
        &DNVideoEditorController::taggeDurationSlider);
    m_editPlayTime = new QLabel(DNTimeStringFromSeconds(0), this);
    m_editLeftTime = new QLabel(DNTimeStringFromSeconds(0), this);
    auto* playButton = new QPushButton(QStringLiteral("Pause"), this);
    connect(playButton, &QPushButton::clicked, this,
        &DNVideoEditorController::pauseAndContinesEditVideo);
    // The button offers what a click does: play while paused, else pause.
    const auto showPlayState = [this, playButton] {
        playButton->setText(
            m_renderControl->isPaused() ? QStringLiteral("Play") : QStringLiteral("Pause"));
    };
    connect(m_renderControl, &NXViewRenderControl::videoPaused, playButton, showPlayState);
    connect(m_renderControl, &NXViewRenderControl::videoContinus, playButton, showPlayState);
    auto* stopButton = new QPushButton(QStringLiteral("Stop"), this);
    connect(stopButton, &QPushButton::clicked, this, &DNVideoEditorController::stopPlayAction);
    auto* position = new QHBoxLayout;
    position->addWidget(playButton);
    position->addWidget(stopButton);
    position->addWidget(m_editPlayTime);
    position->addWidget(m_editDurationSlider, 1);
    position->addWidget(m_editLeftTime);

    m_editorTabView = new QTabWidget(this);
    addTab(buildGeneralTab(), EditorTab::kGeneral, QStringLiteral("General"));
    addTab(buildTrimTab(), EditorTab::kTrimming, QStringLiteral("Trim"));
    addTab(buildCropTab(), EditorTab::kCrop, QStringLiteral("Crop"));
    addTab(buildEffectTab(), EditorTab::kEffect, QStringLiteral("Effect"));
    addTab(buildWatermarkTab(), EditorTab::kWatermark, QStringLiteral("Watermark"));
    addTab(buildSubtitleTab(), EditorTab::kSubtitle, QStringLiteral("Subtitle"));
    buildLanguageChoosePanel();
    connect(
        m_editorTabView, &QTabWidget::currentChanged, this, &DNVideoEditorController::tabDidSelect);

    m_doneButton = new QPushButton(QStringLiteral("Done"), this);
    m_apply2AllButton = new QPushButton(QStringLiteral("Apply to All"), this);
    connect(m_doneButton, &QPushButton::clicked, this, &DNVideoEditorController::onEditorDone);
    connect(m_apply2AllButton, &QPushButton::clicked, this, &DNVideoEditorController::onApplytoAll);
    m_infoButton = new QPushButton(QStringLiteral("Info"), this);
    connect(m_infoButton, &QPushButton::clicked, this, &DNVideoEditorController::infoButtonClicked);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_infoButton);
    buttons->addStretch();
    buttons->addWidget(m_apply2AllButton);
    buttons->addWidget(m_doneButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(previews);
    layout->addLayout(position);
    layout->addWidget(m_editorTabView);
    layout->addLayout(buttons);
    showTrimDuration(0);
}

QWidget* DNVideoEditorController::buildGeneralTab()
{
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    m_volumeSlider = new QSlider(Qt::Horizontal, page);
    m_volumeSlider->setRange(0, 200);
    connect(m_volumeSlider, &QSlider::valueChanged, this,
        [this](int value) { setEditVideoVolume(value); });
    auto* enable = new QPushButton(QStringLiteral("Volume"), page);
    enable->setCheckable(true);
    connect(enable, &QPushButton::toggled, this, &DNVideoEditorController::setEnableGeneral);
    connect(this, &DNVideoEditorController::updateMediaNodeInformation, enable, [this, enable] {
        const QSignalBlocker block(enable);
        enable->setChecked(enableGeneral());
    });
    form->addRow(enable);
    form->addRow(QStringLiteral("Volume:"), m_volumeSlider);
    return page;
}

QWidget* DNVideoEditorController::buildTrimTab()
{
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    m_startTrimTime = new NXTimePicker(page);
    m_endTrimTime = new NXTimePicker(page);
    m_gernalTimeTrimDuration = new QLabel(page);
    m_trimLimitMessage = new QLabel(page);
    m_trimLimitMessage->setWordWrap(true);
    m_trimLimitMessage->hide();
    for (auto* picker : { m_startTrimTime, m_endTrimTime })
        connect(picker, &NXTimePicker::actionTriggered, this,
            &DNVideoEditorController::timePickerAction);
    auto* enable = new QPushButton(QStringLiteral("Trim"), page);
    enable->setCheckable(true);
    connect(enable, &QPushButton::toggled, this, &DNVideoEditorController::setEditEnableTrimming);
    connect(this, &DNVideoEditorController::updateMediaNodeInformation, enable, [this, enable] {
        const QSignalBlocker block(enable);
        enable->setChecked(editEnableTrimming());
    });
    auto* reset = new QPushButton(QStringLiteral("Reset"), page);
    connect(reset, &QPushButton::clicked, this, &DNVideoEditorController::resetTimeTrimming);
    form->addRow(enable);
    form->addRow(QStringLiteral("Start:"), m_startTrimTime);
    form->addRow(QStringLiteral("End:"), m_endTrimTime);
    form->addRow(m_trimLimitMessage);
    form->addRow(QStringLiteral("Duration:"), m_gernalTimeTrimDuration);
    form->addRow(reset);
    return page;
}

QWidget* DNVideoEditorController::buildCropTab()
{
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    auto* enable = new QPushButton(QStringLiteral("Crop"), page);
    enable->setCheckable(true);
    connect(enable, &QPushButton::toggled, this, &DNVideoEditorController::setEditorEnableCrop);
    auto* presets = new QComboBox(page);
    presets->addItems(
        NXCropCfgValueTransform::transformedValue(m_selectionView->cropConfigItems()));
    connect(presets, &QComboBox::activated, this, &DNVideoEditorController::setIndexOfCropMode);
    connect(
        this, &DNVideoEditorController::updateMediaNodeInformation, page, [this, enable, presets] {
            const QSignalBlocker blockEnable(enable);
            const QSignalBlocker blockPresets(presets);
            enable->setChecked(editorEnableCrop());
            presets->setCurrentIndex(indexOfCropMode());
        });
    form->addRow(enable);
    form->addRow(QStringLiteral("Preset:"), presets);
    const QString labels[4] = { QStringLiteral("Width:"), QStringLiteral("Height:"),
        QStringLiteral("Left:"), QStringLiteral("Top:") };
    void (DNVideoEditorController::*setters[4])(double)
        = { &DNVideoEditorController::setVideoCropWidth,
              &DNVideoEditorController::setVideoCropHeight,
              &DNVideoEditorController::setVideoCropOriginLeft,
              &DNVideoEditorController::setVideoCropOriginTop };
    for (int index = 0; index < 4; ++index) {
        auto* field = new QDoubleSpinBox(page);
        field->setDecimals(0);
        field->setRange(-1e6, 1e6);
        m_cropFields[index] = field;
        const auto setter = setters[index];
        connect(field, &QDoubleSpinBox::editingFinished, this,
            [this, field, setter] { (this->*setter)(field->value()); });
        form->addRow(labels[index], field);
    }
    // The turn and the mirror live in the filtered preview until Done or
    // Apply to All takes them into the node; the crop reset clears them.
    auto* effect = m_renderControl->effectView();
    auto* rotate = new QPushButton(QStringLiteral("Rotate"), page);
    connect(rotate, &QPushButton::clicked, effect, &NXEditMovieView::rotateLeft90);
    connect(rotate, &QPushButton::clicked, this, &DNVideoEditorController::refreshWatermarkFrame);
    auto* mirror = new QPushButton(QStringLiteral("Mirror"), page);
    connect(mirror, &QPushButton::clicked, effect, &NXEditMovieView::flipHorizontal);
    auto* geometry = new QHBoxLayout;
    geometry->addWidget(rotate);
    geometry->addWidget(mirror);
    form->addRow(geometry);
    auto* reset = new QPushButton(QStringLiteral("Reset"), page);
    connect(reset, &QPushButton::clicked, this, &DNVideoEditorController::resetVideoCrop);
    form->addRow(reset);
    buildExpandRow(page, form);
    return page;
}

// The switch that pads the picture to the profile's frame size, beside that
// size and the picture's own.
void DNVideoEditorController::buildExpandRow(QWidget* page, QFormLayout* form)
{
    auto* expand = new QCheckBox(QStringLiteral("Expand to the profile's size"), page);
    connect(expand, &QCheckBox::toggled, this, &DNVideoEditorController::setCanExpand);
    auto* profileSize = new QLabel(page);
    auto* pictureSize = new QLabel(page);
    const auto refresh = [this, expand, profileSize, pictureSize] {
        const QSignalBlocker block(expand);
        expand->setChecked(canExpand());
        profileSize->setText(videoResolutionStringValue());
        pictureSize->setText(
            QStringLiteral("%1 x %2").arg(int(videoWidth())).arg(int(videoHeight())));
    };
    connect(this, &DNVideoEditorController::updateMediaNodeInformation, page, refresh);
    connect(this, &DNVideoEditorController::selectedRectChanged, page, refresh);
    form->addRow(expand);
    form->addRow(QStringLiteral("Profile:"), profileSize);
    form->addRow(QStringLiteral("Picture:"), pictureSize);
}

void DNVideoEditorController::addTab(QWidget* page, const QString& identifier, const QString& label)
{
    m_tabs[identifier] = new DNTabViewItem(page, label, m_editorTabView);
}

int DNVideoEditorController::indexOfTabViewItemWithIdentifier(const QString& identifier) const
{
    const auto tab = m_tabs.find(identifier);
    return tab == m_tabs.end() ? -1 : m_editorTabView->indexOf(tab->second->page());
}

DNVideoEditProtocol* DNVideoEditorController::edit() const
{
    return dynamic_cast<DNVideoEditProtocol*>(m_mediaNode.get());
}

void DNVideoEditorController::showTabFlag(const QString& identifier, bool on)
{
    const auto tab = m_tabs.find(identifier);
    if (tab != m_tabs.end())
        tab->second->setImageState(on);
}

// The crop fields show what the selector holds; the other controls follow
// their own signals.
void DNVideoEditorController::refreshControls()
{
    const double values[4]
        = { videoCropWidth(), videoCropHeight(), videoCropOriginLeft(), videoCropOriginTop() };
    for (int index = 0; index < 4; ++index) {
        const QSignalBlocker block(m_cropFields[index]);
        m_cropFields[index]->setValue(values[index]);
    }
    const QSignalBlocker block(m_volumeSlider);
    m_volumeSlider->setValue(int(editVideoVolume()));
}

// --- Scale and fit ---------------------------------------------------------

double DNVideoEditorController::scaleForSize(const QSizeF& size)
{
    const double width = size.width();
    const double height = size.height();
    if (width <= 0 || height <= 0)
        return 1;
    if (width / height > kWideRatio && width > kBoxWidth)
        return width / kBoxWidth;
    if (width / height <= kWideRatio && height > kBoxHeight)
        return height / kBoxHeight;
    return 1;
}

double DNVideoEditorController::scaleOnVideoStart(const QSizeF& picture, double current)
{
    // The size lines and the pictures come on separate channels: until both
    // sides are known the scale of the node's own size stands.
    if (picture.width() <= 0 || picture.height() <= 0)
        return current;
    return picture.width() / picture.height() > kWideRatio ? picture.width() / kBoxWidth
                                                           : picture.height() / kBoxHeight;
}

QRectF DNVideoEditorController::aspectFit(const QSizeF& picture, const QSizeF& bounds)
{
    const double boundsWidth = bounds.width();
    const double boundsHeight = bounds.height();
    double ratioX = boundsWidth > 0 ? picture.width() / boundsWidth : 0;
    double ratioY = boundsHeight > 0 ? picture.height() / boundsHeight : 0;
    if (ratioX == 0)
        ratioX = 1;
    if (ratioY == 0)
        ratioY = 1;
    if (ratioX > ratioY) {
        const double height = picture.height() / ratioX;
        return { 0, (boundsHeight - height) / 2, boundsWidth, height };
    }
    const double width = picture.width() / ratioY;
    return { (boundsWidth - width) / 2, 0, width, boundsHeight };
}

double DNVideoEditorController::evenPixels(double value)
{
    return 2 * double(std::round(float(value) * 0.5f));
}

QRectF DNVideoEditorController::selectorFrame() const
{
    return m_selectionView ? QRectF(m_selectionView->geometry()) : QRectF();
}

// --- Entering and leaving ----------------------------------------------------

void DNVideoEditorController::setMediaNode(NXBasicMediaNode::Ptr node)
{
    m_flags.isDVDNode = dynamic_cast<DNDVDNode*>(node.get()) != nullptr;
    m_mediaNode = std::move(node);
    const auto* nodeEdit = edit();
    if (!nodeEdit)
        return;
    const QSizeF size = nodeEdit->resolutionOfSelectedVideoTrack();
    m_flags.videoScale = scaleForSize(size);
    m_flags.videoSize = size / m_flags.videoScale;
    const QRectF frame = aspectFit(m_flags.videoSize, m_renderControl->originalView()->size());
    m_selectionView->setFrame(frame.toRect());
    m_selectionView->setSourceSize(size);
    m_watermark->setFrame(frame.toRect());
    m_renderControl->setDuration(nodeEdit->currentVideoTrackDuration());
    // The pickers' bounds belong to the node edited before until the first
    // picture sets them again: open them to the whole length meanwhile.
    const int length = int(nodeEdit->currentVideoTrackDuration());
    for (auto* picker : { m_startTrimTime, m_endTrimTime }) {
        picker->setMinTimeValue(0);
        picker->setMaxTimeValue(length > 0 ? length : std::numeric_limits<int>::max());
    }
}

void DNVideoEditorController::displayVideoEditorPanel(QWidget* window)
{
    if (!edit())
        return;
    PlayerProcesses::shared().killAll(kKillBound);
    updateVideoEditConfigureOnEnter();
    if (window && parentWidget() != window)
        setParent(window, windowFlags());
    m_playbackMessage->hide();
    open();
    m_flags.isUserWantExit = false;
    m_flags.tryPlaybackCount = 1;
    m_startTimer->start();
}

void DNVideoEditorController::updateVideoEditConfigureOnEnter()
{
    auto* nodeEdit = edit();
    m_flags.timeOfLoop = 0;
    m_flags.skipFlagCount = 0;
    clearPreviews();
    arrangeTabsForNode();
    showTabFlag(EditorTab::kGeneral, generalChangesOutput());
    showTabFlag(EditorTab::kTrimming, nodeEdit->isEnableTrimming());
    showTabFlag(EditorTab::kCrop, nodeEdit->isEnableCrop());
    showTabFlag(EditorTab::kEffect, nodeEdit->isEnableEffect());
    showTabFlag(EditorTab::kWatermark, nodeEdit->isEnableWatermark());
    showTabFlag(EditorTab::kSubtitle, nodeEdit->isEnableSubtitleEdit());
    m_effectView->setEnabled(nodeEdit->isEnableEffect());
    m_effectView->setIndexOfSelectedEffect(int(nodeEdit->indexOfEffect()));
    m_editDurationSlider->setValue(0);
    loadCropOnEnter();
    loadWatermarkOnEnter();
    m_selectionView->hide();
    m_editorTabView->setCurrentIndex(m_flags.tabViewItemIndex);
    tabDidSelect(m_editorTabView->currentIndex());
    loadTrimOnEnter();
    m_flags.indexOfSubtitleMode = qint32(nodeEdit->indexOfSubtitleType());
    m_flags.indexOfInnerSubtitle = qint32(nodeEdit->indexOfInnerSubtitle());
    showChosenSubtitle();
    setButtonsEnabled(false);
    emit updateMediaNodeInformation();
    setWatermarkTypeIndex(int(nodeEdit->typeOfWatermark()));
    // The first text shown sizes the box to itself; the box the person
    // placed is the node's and stands.
    loadWatermarkSelection();
    m_enableButtonsTimer->start();
}

void DNVideoEditorController::loadCropOnEnter()
{
    const auto* nodeEdit = edit();
    loadCropSelection();
    m_selectionView->setSelectedAspect(int(nodeEdit->indexOfCropAspect()));
    auto* effect = m_renderControl->effectView();
    effect->setCropRectPercent(m_selectionView->selectionAreaPercentage());
    effect->setRotateDegress(int(nodeEdit->rotationAngle()), nodeEdit->isMirror());
    effect->setEnableCropEffect(nodeEdit->isEnableCrop());
}

void DNVideoEditorController::loadTrimOnEnter()
{
    const auto* nodeEdit = edit();
    const bool trimming = nodeEdit->isEnableTrimming();
    m_renderControl->setTrimEnabled(trimming);
    m_renderControl->setLimitedLeftTime(nodeEdit->trimStartTime(), nodeEdit->trimEndTime());
    if (trimming) {
        setTrimRange(int(nodeEdit->trimStartTime()), int(nodeEdit->trimEndTime()));
    } else {
        m_startTrimTime->setIntValue(0);
        m_endTrimTime->setIntValue(0);
    }
    m_startTrimTime->setEnabled(trimming);
    m_endTrimTime->setEnabled(trimming);
    m_trimLimitMessage->hide();
}

void DNVideoEditorController::startPlayAction()
{
    const auto* playback = dynamic_cast<NXMPlayerPlaybackProtocol*>(m_mediaNode.get());
    if (!playback)
        return;
    setBusy(true);
    m_editDurationSlider->setMaxValue(100);
    m_editDurationSlider->setMinValue(0);
    m_editDurationSlider->setValue(0);
    m_renderControl->setScaleVideoSize(m_flags.videoSize);
    m_renderControl->setScaleVideoSizeFactor(m_flags.videoScale);
    m_renderControl->auto_detect_video_format_with_node(m_mediaNode.get());
    // The views draw the subtitle themselves, over the edited picture.
    m_renderControl->playVideoWidthParams(playback->NXMPlayerPlaybackParameters());
    if (!m_editTimeRemaind) {
        m_editTimeRemaind = new QTimer(this);
        m_editTimeRemaind->setInterval(1000);
        connect(m_editTimeRemaind, &QTimer::timeout, this,
            &DNVideoEditorController::update_UI_timer_callback);
        m_editTimeRemaind->start();
    }
}

void DNVideoEditorController::stopPlayAction()
{
    m_renderControl->stopPlay();
}

void DNVideoEditorController::pauseAndContinesEditVideo()
{
    m_renderControl->pauseOrContinue();
}

void DNVideoEditorController::update_UI_timer_callback()
{
    if (m_flags.skipFlagCount > 0) {
        --m_flags.skipFlagCount;
        return;
    }
    m_editPlayTime->setText(DNTimeStringFromSeconds(int(m_renderControl->currentPlaybackTime())));
    m_editLeftTime->setText(
        QStringLiteral("-") + DNTimeStringFromSeconds(int(m_renderControl->currentLeftTime())));
    if (m_renderControl->duration() > 0)
        m_editDurationSlider->setValue(m_renderControl->currentPlaybackPercent());
}

void DNVideoEditorController::autoEnableDoneButton()
{
    if (isVisible())
        setButtonsEnabled(true);
}

void DNVideoEditorController::setButtonsEnabled(bool on)
{
    m_doneButton->setEnabled(on);
    m_apply2AllButton->setEnabled(on);
}

void DNVideoEditorController::setBusy(bool busy)
{
    for (auto* indicator : { m_progressIndicatorONE, m_progressIndicatorTWO }) {
        indicator->setVisible(busy);
        if (busy)
            indicator->startAnimation();
        else
            indicator->stopAnimation();
    }
}

void DNVideoEditorController::videoWillStartAction()
{
    if (m_flags.timeOfLoop++ != 0)
        return;
    auto* nodeEdit = edit();
    const int width = m_renderControl->originalVideoWidth();
    const int height = m_renderControl->originalVideoHeight();
    if (width > 0 && height > 0)
        nodeEdit->setResolutionOfSelectedVideoTrack(QSizeF(width, height));
    nodeEdit->setCurrentVideoTrackDuration(quint32(m_renderControl->duration()));
    updateVideoEditConfigureOnVideoStart();
}

void DNVideoEditorController::videoStarted()
{
    setButtonsEnabled(true);
    setBusy(false);
}

void DNVideoEditorController::videoStopped()
{
    videoStarted();
    m_restartTimer->start(100);
}

void DNVideoEditorController::playbackCountChecker()
{
    // The end of a player from before this opening comes in late; the
    // pending first start plays the node anyway.
    if (m_flags.isUserWantExit || m_startTimer->isActive())
        return;
    if (m_flags.tryPlaybackCount > 3) {
        // Four starts and never a picture: say so rather than leave the
        // previews empty.
        if (m_flags.timeOfLoop == 0)
            m_playbackMessage->show();
        return;
    }
    ++m_flags.tryPlaybackCount;
    startPlayAction();
}

void DNVideoEditorController::onEditorDone()
{
    m_renderControl->stopPlay();
    m_flags.isUserWantExit = true;
    m_restartTimer->stop();
    accept();
    PlayerProcesses::shared().killAll(kKillBound);
    updateVideoEditConfigureOnExit();
}

// Escape and the close button end the sheet as Done does: the edits are
// written into the node at once, so the preview is what converts.
void DNVideoEditorController::reject()
{
    if (isVisible() && edit())
        onEditorDone();
    else
        QDialog::reject();
}

void DNVideoEditorController::done(int result)
{
    videoEditorDidEnd();
    QDialog::done(result);
}

// Also reached by Escape and the close button, which must not leave a start
// pending or a restart to come.
void DNVideoEditorController::videoEditorDidEnd()
{
    m_flags.isUserWantExit = true;
    m_startTimer->stop();
    m_enableButtonsTimer->stop();
    m_renderControl->stopPlay();
    delete m_editTimeRemaind;
    m_editTimeRemaind = nullptr;
    m_restartTimer->stop();
    m_languagePanelTimer->stop();
    m_flags.tryPlaybackCount = 0;
    if (m_infoWindow)
        m_infoWindow->close();
}

void DNVideoEditorController::updateVideoEditConfigureOnExit()
{
    update_UI_timer_callback();
    m_startTrimTime->setIntValue(0);
    m_endTrimTime->setIntValue(0);
    showTrimDuration(0);
    m_renderControl->setTrimEnabled(false);
    m_editDurationSlider->setEnableSegments(false);
    saveMediaNodeInfomation();
    clearPreviews();
    saveWatermarkRect();
    m_flags.tabViewItemIndex = 0;
    NotificationCenter::defaultCenter().post(NXMediaTableView::kRefreshAllCells);
}

// Nothing of the node left behind stays for the next one: no picture (the
// black-border detection reads it), no colour, no turn.
void DNVideoEditorController::clearPreviews()
{
    for (auto* view : { m_renderControl->originalView(), m_renderControl->effectView() }) {
        view->setCurrentVideoFrame(QImage());
        view->resetColorAdjust();
        view->resetGeometry();
    }
}

void DNVideoEditorController::infoButtonClicked()
{
    auto* info = NXFloatInfoWindowController::shareInstance();
    m_infoWindow = info;
    info->showWindowWithNode(m_mediaNode);
    const QScreen* screen = this->screen();
    if (screen)
        info->move(placeBeside(
            frameGeometry(), info->frameGeometry().size(), screen->availableGeometry()));
}

QPoint DNVideoEditorController::placeBeside(
    const QRect& sheet, const QSize& window, const QRect& screen)
{
    constexpr int gap = 8;
    int x = sheet.right() + 1 + gap;
    if (x + window.width() > screen.right() + 1) {
        const int left = sheet.left() - gap - window.width();
        x = left >= screen.left() ? left : screen.right() + 1 - window.width();
    }
    const int lowest = screen.bottom() + 1 - window.height();
    return { std::max(x, screen.left()), std::max(screen.top(), std::min(sheet.top(), lowest)) };
}

void DNVideoEditorController::saveMediaNodeInfomation()
{
    auto* nodeEdit = edit();
    nodeEdit->setCropRect(
        { videoCropOriginLeft(), videoCropOriginBottom(), videoCropWidth(), videoCropHeight() });
    nodeEdit->setIndexOfCropAspect(quint32(std::max(0, m_selectionView->selectedAspect())));
    nodeEdit->setIndexOfEffect(quint32(std::max(0, m_effectView->indexOfSelectedEffect())));
    nodeEdit->setMirror(m_renderControl->effectView()->isFlippedHorizontal());
    nodeEdit->setRotationAngle(quint32(m_renderControl->effectView()->rotationDegress() % 360));
    saveSubtitleChoice();
}

void DNVideoEditorController::onApplytoAll()
{
    saveMediaNodeInfomation();
    // The list gives a file's setting to every file; a DVD title's setting
    // is of another kind and is not broadcast.
    if (const auto* file = dynamic_cast<DNFileNode*>(m_mediaNode.get())) {
        const DNNodeSetting setting = file->editSetting();
        NotificationCenter::defaultCenter().post(kApplyToAllEdit, &setting);
    } else if (const auto* dvd = dynamic_cast<DNDVDNode*>(m_mediaNode.get())) {
        applyToOtherTitles(*dvd);
    }
}

// A DVD title's edits go to the disc's other titles; each keeps its own
// tracks and forced-subtitle choice.
void DNVideoEditorController::applyToOtherTitles(const DNDVDNode& dvd)
{
    const DNDVDTitleSetting chosen = dvd.editSetting();
    const auto titles = dvd.titles();
    int changed = 0;
    for (std::size_t index = 0; index < titles.size(); ++index) {
        if (qint32(index) == dvd.titleSelected())
            continue;
        DNDVDTitleSetting setting = titles[index]->setting();
        const bool forcedOnly = setting.forceSubOnly();
        static_cast<DNBaseEditSetting&>(setting) = chosen;
        setting.setForceSubOnly(forcedOnly);
        titles[index]->setSetting(setting);
        ++changed;
    }
    if (changed > 0)
        return;
    NXAlert alert;
    alert.title = QStringLiteral("Nothing to Apply To");
    alert.text = QStringLiteral("This DVD has no other title to take these edits; the edits of "
                                "other list entries are kept.");
    m_dialogs.runAlert(this, alert);
}

QString DNVideoEditorController::identifierOfTab(int index) const
{
    for (const auto& [identifier, item] : m_tabs)
        if (m_editorTabView->indexOf(item->page()) == index)
            return identifier;
    return {};
}

void DNVideoEditorController::tabDidSelect(int index)
{
    const QString identifier = identifierOfTab(index);
    m_selectionView->setVisible(identifier == EditorTab::kCrop && edit() && edit()->isEnableCrop());
    m_editDurationSlider->setEditable(identifier == EditorTab::kTrimming);
    m_watermark->setEditabled(identifier == EditorTab::kWatermark);
    m_watermark->update();
}

// A DVD title carries neither watermark nor effect; a file gets the
// watermark tab back, last, after a title took it away. The effect tab
// never shows: its choices stay in the preview.
void DNVideoEditorController::arrangeTabsForNode()
{
    const auto remove = [this](const QString& identifier) {
        const int index = indexOfTabViewItemWithIdentifier(identifier);
        if (index >= 0)
            m_editorTabView->removeTab(index);
    };
    if (m_flags.isDVDNode) {
        remove(EditorTab::kWatermark);
        remove(EditorTab::kEffect);
        return;
    }
    if (!dynamic_cast<DNFileNode*>(m_mediaNode.get()))
        return;
    remove(EditorTab::kEffect);
    if (indexOfTabViewItemWithIdentifier(EditorTab::kWatermark) < 0)
        m_tabs.at(EditorTab::kWatermark)->appendToTabView();
}

// --- General -----------------------------------------------------------------

bool DNVideoEditorController::enableGeneral() const
{
    return edit() && edit()->isEnableGeneral();
}

void DNVideoEditorController::setEnableGeneral(bool on)
{
    edit()->setEnableGeneral(on);
    showTabFlag(EditorTab::kGeneral, generalChangesOutput());
}

// The conversion takes the volume whatever the switch says: the lamp is on
// while either changes something.
bool DNVideoEditorController::generalChangesOutput() const
{
    return enableGeneral() || editVideoVolume() != 100;
}

double DNVideoEditorController::editVideoVolume() const
{
    return edit() ? double(edit()->generalVolume()) : 100;
}

void DNVideoEditorController::setEditVideoVolume(double volume)
{
    m_renderControl->setPlayerVolume(0.5 * volume);
    edit()->setGeneralVolume(quint32(std::max(0.0, volume)));
    showTabFlag(EditorTab::kGeneral, generalChangesOutput());
}

// --- Trim --------------------------------------------------------------------

int DNVideoEditorController::limitation() const
{
    return edit() ? int(std::min<quint32>(edit()->currentVideoTrackDuration(), 20)) : 0;
}

bool DNVideoEditorController::editEnableTrimming() const
{
    return edit() && edit()->isEnableTrimming();
}

void DNVideoEditorController::setEditEnableTrimming(bool on)
{
    edit()->setEnableTrimming(on);
    m_startTrimTime->setEnabled(on);
    m_endTrimTime->setEnabled(on);
    m_editDurationSlider->setEnableSegments(on);
    m_renderControl->setTrimEnabled(on);
    showTabFlag(EditorTab::kTrimming, on);
    if (on)
        taggeDurationSlider();
    followTrimInPreview();
}

void DNVideoEditorController::taggeDurationSlider()
{
    m_flags.skipFlagCount = 1;
    updateWithTraggeDurationSlider();
    m_renderControl->seekToDurationInPercent(m_editDurationSlider->value());
}

void DNVideoEditorController::updateWithTraggeDurationSlider()
{
    const QPointF range = m_editDurationSlider->segmentValuePosition();
    const double length = trimLength();
    // Fractions of a second are cut, not rounded.
    setTrimRange(int(range.x() * length), int(range.y() * length));
}

void DNVideoEditorController::timePickerAction(NXTimePicker* sender)
{
    const int start = m_startTrimTime->integerValue();
    const int end = m_endTrimTime->integerValue();
    const bool keepEnd = sender == m_endTrimTime;
    const int minimum = limitation();
    // The fields hold their typed values to the shortest trim: an end pulled
    // up, or a start pulled down, was shorter.
    const std::optional<int32_t> typed = sender ? sender->limitedFrom() : std::nullopt;
    const bool pulledToMinimum = typed && (keepEnd ? *typed < end : *typed > start);
    const bool held = pulledToMinimum
        || heldTrimRange(start, end, trimLength(), minimum, keepEnd) != std::pair(start, end);
    setTrimRange(start, end, keepEnd);
    if (!held)
        return;
    // The fields take back what they were given: the user reads why next to them.
    m_trimLimitMessage->setText(QStringLiteral("A trim keeps at least %1 seconds: the start is "
                                               "now %2 and the end %3.")
                                    .arg(minimum)
                                    .arg(DNTimeStringFromSeconds(m_startTrimTime->integerValue()),
                                        DNTimeStringFromSeconds(m_endTrimTime->integerValue())));
    m_trimLimitMessage->show();
}

int DNVideoEditorController::trimLength() const
{
    const int played = int(m_renderControl->duration());
    return played > 0 ? played : int(edit()->currentVideoTrackDuration());
}

std::pair<int, int> DNVideoEditorController::heldTrimRange(
    int start, int end, int length, int minimum, bool keepEnd)
{
    const int last = length > 0 ? length : std::numeric_limits<int>::max();
    start = std::clamp(start, 0, last);
    end = std::clamp(end, 0, last);
    if (end - start >= minimum)
        return { start, end };
    if (keepEnd) {
        start = std::max(0, end - minimum);
        end = std::min(last, start + minimum);
    } else {
        end = std::min(last, start + minimum);
        start = std::max(0, end - minimum);
    }
    return { start, end };
}

void DNVideoEditorController::setTrimRange(int start, int end, bool keepEnd)
{
    const int length = trimLength();
    const int minimum = limitation();
    std::tie(start, end) = heldTrimRange(start, end, length, minimum, keepEnd);
    m_trimLimitMessage->hide();
    auto* nodeEdit = edit();
    nodeEdit->setTrimStartTime(quint32(start));
    nodeEdit->setTrimEndTime(quint32(end));
    m_renderControl->setLimitedLeftTime(start, end);
    // The held range lies inside these limits: neither picker is pulled away
    // from what the node holds.
    m_startTrimTime->setMinTimeValue(0);
    m_startTrimTime->setMaxTimeValue(end - minimum);
    m_endTrimTime->setMinTimeValue(start + minimum);
    m_endTrimTime->setMaxTimeValue(length > 0 ? length : std::numeric_limits<int>::max());
    m_startTrimTime->setIntValue(start);
    m_endTrimTime->setIntValue(end);
    if (length > 0)
        m_editDurationSlider->setSegmentLeftProportionValue(
            double(start) / length, double(end) / length);
    showTrimDuration(end - start);
    m_editDurationSlider->update();
    followTrimInPreview();
}

// The preview plays the trimmed range over and over; a player started over
// another range is replaced, once the changes have rested for the start delay.
void DNVideoEditorController::followTrimInPreview()
{
    if (!m_flags.isUserWantExit && m_renderControl->playsAnotherRange())
        m_startTimer->start();
}

void DNVideoEditorController::showTrimDuration(int seconds)
{
    m_gernalTimeTrimDuration->setText(
        seconds > 0 ? DNTimeStringFromSeconds(seconds) : QStringLiteral("00:00:00"));
}

void DNVideoEditorController::resetTimeTrimming()
{
    edit()->resetGeneral();
    showTabFlag(EditorTab::kGeneral, generalChangesOutput());
    setTrimRange(0, trimLength());
    emit updateMediaNodeInformation();
}

void DNVideoEditorController::updateVideoEditConfigureOnVideoStart()
{
    auto* nodeEdit = edit();
    const int duration = int(m_renderControl->duration());
    m_startTrimTime->setMaxTimeValue(duration);
    m_endTrimTime->setMaxTimeValue(duration);
    const QSizeF picture(
        m_renderControl->originalVideoWidth(), m_renderControl->originalVideoHeight());
    const QSizeF bounds = m_renderControl->originalView()->size();
    if (!picture.isEmpty())
        m_selectionView->setFrame(aspectFit(picture, bounds).toRect());
    if (nodeEdit->isEnableTrimming()) {
        m_renderControl->setTrimEnabled(true);
        m_editDurationSlider->setEnableSegments(true);
        m_editDurationSlider->setPercentValue(
            m_renderControl->convertTimeToPercent(nodeEdit->trimStartTime()) + 0.0001);
        setTrimRange(int(nodeEdit->trimStartTime()), int(nodeEdit->trimEndTime()));
    }
    m_flags.videoScale = scaleOnVideoStart(picture, m_flags.videoScale);
    if (!picture.isEmpty())
        m_flags.videoSize = picture / m_flags.videoScale;
    m_selectionView->setSourceSize(nodeEdit->resolutionOfSelectedVideoTrack());
    loadCropSelection();
    // The scale may have changed with the picture (a source smaller than the
    // box): the box taken at entry would be written back at another size.
    loadWatermarkSelection();
    emit selectedRectChanged();
}

// --- Crop --------------------------------------------------------------------

bool DNVideoEditorController::editorEnableCrop() const
{
    return edit() && edit()->isEnableCrop();
}

void DNVideoEditorController::setEditorEnableCrop(bool on)
{
    auto* nodeEdit = edit();
    nodeEdit->setEnableCrop(on);
    m_selectionView->setVisible(on);
    showTabFlag(EditorTab::kCrop, on);
    m_renderControl->effectView()->setEnableCropEffect(on);
    if (on && m_selectionView->selectedAspect() == 1)
        m_selectionView->setSelectedAspect(1);
    if (!on)
        nodeEdit->setCropLetterboxAuto(false);
    refreshWatermarkFrame();
    emit selectedRectChanged();
}

int DNVideoEditorController::indexOfCropMode() const
{
    return edit() ? int(edit()->indexOfCropAspect()) : 0;
}

void DNVideoEditorController::setIndexOfCropMode(int index)
{
    auto* nodeEdit = edit();
    if (index == 1)
        nodeEdit->setCropLetterboxAuto(false);
    nodeEdit->setIndexOfCropAspect(quint32(std::max(0, index)));
    m_selectionView->setSelectedAspect(index);
    onAreaSelectDidChanged();
}

double DNVideoEditorController::videoCropWidth() const
{
    return evenPixels(cropFields().width());
}

double DNVideoEditorController::videoCropHeight() const
{
    return evenPixels(cropFields().height());
}

double DNVideoEditorController::videoCropOriginLeft() const
{
    return evenPixels(cropFields().left());
}

double DNVideoEditorController::videoCropOriginTop() const
{
    return evenPixels(cropFields().top());
}

// Counted from the shown top and height, so that the row a person typed as
// the top is the one the conversion starts at.
double DNVideoEditorController::videoCropOriginBottom() const
{
    const SelectionFields fields = cropFields();
    return fields.frame.height() * fields.scale.height() - videoCropOriginTop() - videoCropHeight();
}

double DNVideoEditorController::videoMaxCropWidth() const
{
    return evenPixels(cropFields().maxWidth());
}

double DNVideoEditorController::videoMaxCropHeight() const
{
    return evenPixels(cropFields().maxHeight());
}

double DNVideoEditorController::videoMaxCropLeft() const
{
    return evenPixels(cropFields().maxLeft());
}

double DNVideoEditorController::videoMaxCropTop() const
{
    return evenPixels(cropFields().maxTop());
}

double DNVideoEditorController::videoMinCropWidth() const
{
    return evenPixels(m_selectionView->lowerLimitSize().width());
}

double DNVideoEditorController::videoMinCropHeight() const
{
    return evenPixels(m_selectionView->lowerLimitSize().height());
}

void DNVideoEditorController::setVideoCropWidth(double pixels)
{
    applySelection(cropFields().withWidth(pixels, videoMinCropWidth(), videoMaxCropWidth()));
}

void DNVideoEditorController::setVideoCropHeight(double pixels)
{
    applySelection(cropFields().withHeight(pixels, videoMinCropHeight(), videoMaxCropHeight()));
}

void DNVideoEditorController::setVideoCropOriginLeft(double pixels)
{
    applySelection(cropFields().withLeft(pixels, videoMaxCropLeft()));
}

void DNVideoEditorController::setVideoCropOriginTop(double pixels)
{
    applySelection(cropFields().withTop(pixels, videoMaxCropTop()));
}

SelectionFields DNVideoEditorController::cropFields() const
{
    return { m_selectionView->selectionArea(), selectorFrame().size(), cropScale() };
}

QSizeF DNVideoEditorController::cropScale() const
{
    const QSizeF scale = m_selectionView->sourceScale();
    return scale.isEmpty() ? QSizeF(m_flags.videoScale, m_flags.videoScale) : scale;
}

void DNVideoEditorController::loadCropSelection()
{
    const QRectF crop = edit()->cropRect();
    const QSizeF scale = cropScale();
    m_selectionView->setSelectionArea({ crop.x() / scale.width(), crop.y() / scale.height(),
        crop.width() / scale.width(), crop.height() / scale.height() });
}

void DNVideoEditorController::applySelection(QRectF area)
{
    m_selectionView->setSelectionArea(area);
    onAreaSelectDidChanged();
}

void DNVideoEditorController::onAreaSelectDidChanged()
{
    m_renderControl->effectView()->setCropRectPercent(m_selectionView->selectionAreaPercentage());
    refreshWatermarkFrame();
    emit selectedRectChanged();
}

bool DNVideoEditorController::canExpand() const
{
    return edit() && edit()->autoExpandToProfileRes();
}

void DNVideoEditorController::setCanExpand(bool on)
{
    edit()->setAutoExpandToProfileRes(on);
}

QString DNVideoEditorController::videoResolutionStringValue() const
{
    const auto profile = edit() ? edit()->profile() : nullptr;
    if (!profile)
        return {};
    const QByteArray key = profile->videoResolution().currentValue().toUtf8();
    return QCoreApplication::translate("Localizable", key.constData());
}

double DNVideoEditorController::videoWidth() const
{
    return shownSourceSize().width();
}

double DNVideoEditorController::videoHeight() const
{
    return shownSourceSize().height();
}

// The node's size, which is the source's upright one: the preview's is
// smaller, in whole pixels, and would not give it back by its scale.
QSizeF DNVideoEditorController::shownSourceSize() const
{
    if (!edit() || m_renderControl->videoWidth() <= 0 || m_renderControl->videoHeight() <= 0)
        return { 0, 0 };
    return edit()->resolutionOfSelectedVideoTrack();
}

// Without a running player the picture's size is the one the node knows.
void DNVideoEditorController::resetVideoCrop()
{
    QSizeF shown(m_renderControl->videoWidth(), m_renderControl->videoHeight());
    if (shown.isEmpty())
        shown = m_flags.videoSize;
    const QRectF frame = aspectFit(shown, m_renderControl->originalView()->size());
    m_selectionView->setFrame(frame.toRect());
    m_selectionView->setSelectionArea({ 0, 0, frame.width(), frame.height() });
    m_renderControl->effectView()->resetGeometry();
    setIndexOfCropMode(0);
}

// Only a picture of this node's player counts: the first one announced since
// the entry, in views cleared at the entry.
bool DNVideoEditorController::canCropBlackRegion()
{
    return m_flags.timeOfLoop > 0 && !m_renderControl->originalView()->currentVideoFrame().isNull();
}

namespace {

// `found` in a picture of `from` brought to `to`, rounded toward its inside:
// an edge that falls within a source row leaves that row of the border out.
QRectF scaledInward(const QRect& found, const QSize& from, const QSizeF& to)
{
    const double scaleX = to.width() / from.width();
    const double scaleY = to.height() / from.height();
    const double left = std::ceil(found.x() * scaleX);
    const double bottom = std::ceil(found.y() * scaleY);
    const double right = std::floor((found.x() + found.width()) * scaleX);
    const double top = std::floor((found.y() + found.height()) * scaleY);
    return { left, bottom, std::max(0.0, right - left), std::max(0.0, top - bottom) };
}

} // namespace

// The border is found on the source's own picture, where every row is seen:
// on the smaller preview a scaled edge lands a few rows inside the bars, and
// those rows would stay in the output. A source without a file of its own (a
// DVD title), or a file too slow to give its picture while the window waits,
// has the preview's answer scaled inward instead.
QRectF DNVideoEditorController::rectByCoppingBlackRegion()
{
    auto* nodeEdit = edit();
    if (nodeEdit->isCropLetterboxAuto() || !nodeEdit->isEnableCrop())
        return nodeEdit->cropRect();
    QImage picture;
    if (const auto* file = dynamic_cast<const DNFileNode*>(m_mediaNode.get())) {
        QString why;
        picture = captureSourcePicture(file->path(), m_renderControl->currentPlaybackTime(), &why);
        if (picture.isNull())
            DNLog(QStringLiteral("Black borders of %1 are found on the preview: %2")
                      .arg(file->path(), why));
    }
    if (picture.isNull())
        picture = m_renderControl->originalView()->currentVideoFrame();
    const QSizeF source = nodeEdit->resolutionOfSelectedVideoTrack();
    QRectF region;
    if (!picture.isNull() && !source.isEmpty())
        region = scaledInward(extentByDividingBlackRegion(picture), picture.size(), source);
    nodeEdit->setCropRect(region);
    nodeEdit->setCropLetterboxAuto(true);
    return region;
}

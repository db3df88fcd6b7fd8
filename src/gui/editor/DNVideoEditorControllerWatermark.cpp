// The editor's watermark and effect tabs.
#include "editor/DNVideoEditorController.h"

#include "common/NXDialogs.h"
#include "editor/DNWatermarkView.h"
#include "editor/NXEditMovieView.h"
#include "editor/NXViewRenderControl.h"
#include "editor/SelectionFields.h"
#include "model/DNVideoEditProtocol.h"
#include "platform/DNLogger.h"
#include "services/DNHelpers.h"

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr double kStoredFontSize = 120;

QFont fontOf(const DNWatermarkFont& stored)
{
    QFont font = QApplication::font();
    if (!stored.family.isEmpty())
        font.setFamily(stored.family);
    font.setPointSizeF(stored.pointSize > 0 ? stored.pointSize : kStoredFontSize);
    return font;
}

QWidget* inRow(QWidget* page, std::initializer_list<QWidget*> widgets)
{
    auto* row = new QWidget(page);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget* widget : widgets)
        layout->addWidget(widget);
    return row;
}

} // namespace

// --- Tabs --------------------------------------------------------------------

QWidget* DNVideoEditorController::buildWatermarkTab()
{
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    auto* enable = new QPushButton(QStringLiteral("Watermark"), page);
    enable->setCheckable(true);
    connect(enable, &QPushButton::toggled, this, &DNVideoEditorController::setEnableWaterMark);
    auto* kind = new QComboBox(page);
    kind->addItems({ QStringLiteral("Image"), QStringLiteral("Text") });
    connect(kind, &QComboBox::activated, this, &DNVideoEditorController::setWatermarkTypeIndex);
    m_watermarkImageAddress = new QLineEdit(page);
    m_watermarkImageAddress->setReadOnly(true);
    auto* chooseImage = new QPushButton(QStringLiteral("Choose..."), page);
    connect(
        chooseImage, &QPushButton::clicked, this, &DNVideoEditorController::openImageForWatermark);
    m_watermarkTextInput = new QLineEdit(page);
    // Taken whole when typing ends: the first text sizes the box, and a
    // first letter would size it for itself alone.
    connect(m_watermarkTextInput, &QLineEdit::editingFinished, this,
        [this] { textWatermarkNewInput(m_watermarkTextInput->text()); });
    auto* font = new QPushButton(QStringLiteral("Font..."), page);
    connect(font, &QPushButton::clicked, this, &DNVideoEditorController::openFontSetPanel);
    auto* colour = new QPushButton(QStringLiteral("Color..."), page);
    connect(colour, &QPushButton::clicked, this, &DNVideoEditorController::openColorPanel);
    auto* transparency = new QDoubleSpinBox(page);
    transparency->setRange(0, 100);
    transparency->setDecimals(1);
    transparency->setSuffix(QStringLiteral(" %"));
    connect(transparency, &QDoubleSpinBox::valueChanged, this,
        &DNVideoEditorController::setWmTransparency);
    QWidget* imageRow = inRow(page, { m_watermarkImageAddress, chooseImage });
    QWidget* textRow = inRow(page, { m_watermarkTextInput, font, colour });
    const auto refresh = [this, enable, kind, imageRow, textRow, transparency] {
        const QSignalBlocker blockEnable(enable);
        const QSignalBlocker blockKind(kind);
        const QSignalBlocker blockTransparency(transparency);
        enable->setEnabled(canEnableWaterMark());
        enable->setChecked(enableWaterMark());
        kind->setCurrentIndex(std::clamp(watermarkTypeIndex(), 0, 1));
        imageRow->setEnabled(enableImageWatermark());
        textRow->setEnabled(!enableImageWatermark());
        transparency->setValue(wmTransparency());
    };
    connect(this, &DNVideoEditorController::updateMediaNodeInformation, page, refresh);
    connect(this, &DNVideoEditorController::watermarkKindChanged, page, refresh);
    form->addRow(enable);
    form->addRow(QStringLiteral("Kind:"), kind);
    form->addRow(QStringLiteral("Image:"), imageRow);
    form->addRow(QStringLiteral("Text:"), textRow);
    form->addRow(QStringLiteral("Transparency:"), transparency);
    form->addRow(buildWatermarkFields(page));
    return page;
}

QWidget* DNVideoEditorController::buildWatermarkFields(QWidget* page)
{
    auto* fields = new QWidget(page);
    auto* form = new QFormLayout(fields);
    form->setContentsMargins(0, 0, 0, 0);
    const QString labels[4] = { QStringLiteral("Width:"), QStringLiteral("Height:"),
        QStringLiteral("Left:"), QStringLiteral("Top:") };
    void (DNVideoEditorController::*setters[4])(double)
        = { &DNVideoEditorController::setWatermarkWidth,
              &DNVideoEditorController::setWatermarkHeight,
              &DNVideoEditorController::setWatermarkOriginLeft,
              &DNVideoEditorController::setWatermarkOriginTop };
    double (DNVideoEditorController::*getters[4])() const
        = { &DNVideoEditorController::watermarkWidth, &DNVideoEditorController::watermarkHeight,
              &DNVideoEditorController::watermarkOriginLeft,
              &DNVideoEditorController::watermarkOriginTop };
    for (int index = 0; index < 4; ++index) {
        auto* field = new QDoubleSpinBox(fields);
        field->setDecimals(1);
        field->setRange(-1e6, 1e6);
        const auto setter = setters[index];
        const auto getter = getters[index];
        connect(field, &QDoubleSpinBox::editingFinished, this,
            [this, field, setter] { (this->*setter)(field->value()); });
        const auto refresh = [this, field, getter] {
            const QSignalBlocker block(field);
            field->setValue((this->*getter)());
        };
        connect(this, &DNVideoEditorController::watermarkFrameChanged, field, refresh);
        connect(this, &DNVideoEditorController::updateMediaNodeInformation, field, refresh);
        form->addRow(labels[index], field);
    }
    return fields;
}

QWidget* DNVideoEditorController::buildEffectTab()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* enable = new QPushButton(QStringLiteral("Effect"), page);
    enable->setCheckable(true);
    connect(enable, &QPushButton::toggled, this, &DNVideoEditorController::setEnableVideoEffect);
    connect(this, &DNVideoEditorController::updateMediaNodeInformation, enable, [this, enable] {
        const QSignalBlocker block(enable);
        enable->setChecked(enableVideoEffect());
    });
    m_effectView = new DNEffectsView(page);
    m_effectView->setMinimumSize(444, 110);
    m_effectView->setDelegate(this);
    m_effectView->createEffectViews();
    auto* previous = new QPushButton(QStringLiteral("<"), page);
    auto* next = new QPushButton(QStringLiteral(">"), page);
    auto* pageLabel = new QLabel(page);
    m_effectView->setPageLabel(pageLabel);
    connect(previous, &QPushButton::clicked, m_effectView, &DNEffectsView::previousPage);
    connect(next, &QPushButton::clicked, m_effectView, &DNEffectsView::nextPage);
    layout->addWidget(enable);
    layout->addWidget(m_effectView);
    layout->addWidget(inRow(page, { previous, pageLabel, next }));
    return page;
}

// --- Watermark ---------------------------------------------------------------

bool DNVideoEditorController::canEnableWaterMark() const
{
    // A merge group is a file node too, but its members are drawn one by
    // one: only a single file takes a watermark.
    return m_mediaNode && m_mediaNode->nodeClass() == NXNodeClass::FileNode;
}

bool DNVideoEditorController::enableWaterMark() const
{
    return edit() && edit()->isEnableWatermark();
}

void DNVideoEditorController::setEnableWaterMark(bool on)
{
    if (on && !canEnableWaterMark())
        return;
    m_watermark->setHidden(!on);
    edit()->setEnableWatermark(on);
    showTabFlag(EditorTab::kWatermark, on);
}

bool DNVideoEditorController::enableImageWatermark() const
{
    return watermarkTypeIndex() == int(DNBaseEditSetting::kWatermarkImage);
}

int DNVideoEditorController::watermarkTypeIndex() const
{
    return edit() ? int(edit()->typeOfWatermark()) : int(DNBaseEditSetting::kWatermarkText);
}

void DNVideoEditorController::setWatermarkTypeIndex(int kind)
{
    auto* nodeEdit = edit();
    nodeEdit->setTypeOfWatermark(quint32(std::max(0, kind)));
    if (kind != int(DNBaseEditSetting::kWatermarkImage)) {
        const QString text = nodeEdit->textOfWatermark();
        if (text.isEmpty()) {
            m_watermark->setText(QString());
        } else {
            m_watermark->setTextColor(nodeEdit->textWatermarkColor());
            m_watermark->setTextFont(fontOf(nodeEdit->textWatermarkFont()));
            m_watermark->setText(text);
        }
        emit watermarkFrameChanged();
    } else {
        const QString path = nodeEdit->imagePathOfWatermark();
        m_watermark->setImage(
            !path.isEmpty() && QFileInfo(path).isFile() ? QImage(path) : QImage());
    }
    emit watermarkKindChanged();
}

double DNVideoEditorController::wmTransparency() const
{
    return edit() ? double(edit()->watermarkTransparency()) : 0;
}

void DNVideoEditorController::setWmTransparency(double percent)
{
    const double held = std::clamp(percent, 0.0, 100.0);
    m_watermark->setTransparency(float(held));
    m_watermark->update();
    edit()->setWatermarkTransparency(quint32(held));
}

QRectF DNVideoEditorController::watermarkFrame() const
{
    return QRectF(m_watermark->geometry());
}

double DNVideoEditorController::watermarkWidth() const
{
    return watermarkFields().width();
}

double DNVideoEditorController::watermarkHeight() const
{
    return watermarkFields().height();
}

double DNVideoEditorController::watermarkOriginLeft() const
{
    return watermarkFields().left();
}

double DNVideoEditorController::watermarkOriginTop() const
{
    return watermarkFields().top();
}

double DNVideoEditorController::watermarkOriginBottom() const
{
    return watermarkFields().bottom();
}

double DNVideoEditorController::watermarkMaxWidth() const
{
    return watermarkFields().maxWidth();
}

double DNVideoEditorController::watermarkMaxHeight() const
{
    return watermarkFields().maxHeight();
}

double DNVideoEditorController::watermarkMaxLeft() const
{
    return watermarkFields().maxLeft();
}

double DNVideoEditorController::watermarkMaxTop() const
{
    return watermarkFields().maxTop();
}

void DNVideoEditorController::setWatermarkWidth(double pixels)
{
    applyWatermarkSelection(watermarkFields().withWidth(pixels, 0.0, watermarkMaxWidth()));
}

void DNVideoEditorController::setWatermarkHeight(double pixels)
{
    applyWatermarkSelection(watermarkFields().withHeight(pixels, 0.0, watermarkMaxHeight()));
}

void DNVideoEditorController::setWatermarkOriginLeft(double pixels)
{
    applyWatermarkSelection(watermarkFields().withLeft(pixels, watermarkMaxLeft()));
}

void DNVideoEditorController::setWatermarkOriginTop(double pixels)
{
    applyWatermarkSelection(watermarkFields().withTop(pixels, watermarkMaxTop()));
}

// The box lies on the edited picture, whose fractions the conversion lays it
// on; its fields count those fractions in pixels of the whole source picture,
// so they are source pixels only while neither crop nor turn is on.
SelectionFields DNVideoEditorController::watermarkFields() const
{
    const QSizeF frame = watermarkFrame().size();
    const QSizeF source = m_flags.videoSize * m_flags.videoScale;
    const QSizeF scale = frame.isEmpty()
        ? QSizeF(m_flags.videoScale, m_flags.videoScale)
        : QSizeF(source.width() / frame.width(), source.height() / frame.height());
    return { m_watermark->selectionArea(), frame, scale };
}

// Where the filtered preview shows the picture: cropped when the crop is
// on, then turned.
QRectF DNVideoEditorController::editedPictureFrame() const
{
    QSizeF picture = m_flags.videoSize;
    if (editorEnableCrop() && !selectorFrame().isEmpty()) {
        const QRectF part = m_selectionView->selectionAreaPercentage();
        picture = { picture.width() * part.width(), picture.height() * part.height() };
    }
    if (m_renderControl->effectView()->rotationDegress() % 180 == 90)
        picture.transpose();
    return aspectFit(picture, m_renderControl->effectView()->size());
}

// The box follows the picture it lies on and keeps its place in it.
void DNVideoEditorController::refreshWatermarkFrame()
{
    const QRect frame = editedPictureFrame().toRect();
    const QRectF before = watermarkFrame();
    if (frame == m_watermark->geometry() || frame.isEmpty())
        return;
    const QRectF area = m_watermark->selectionArea();
    m_watermark->setFrame(frame);
    if (!before.isEmpty()) {
        const double across = frame.width() / before.width();
        const double down = frame.height() / before.height();
        m_watermark->setSelectionArea(
            { area.x() * across, area.y() * down, area.width() * across, area.height() * down });
    }
    emit watermarkFrameChanged();
}

void DNVideoEditorController::applyWatermarkSelection(QRectF area)
{
    m_watermark->setSelectionArea(area);
    emit watermarkFrameChanged();
}

void DNVideoEditorController::onWatermarkAreaChanged()
{
    emit watermarkFrameChanged();
}

void DNVideoEditorController::textWatermarkNewInput(const QString& text)
{
    if (watermarkTypeIndex() != int(DNBaseEditSetting::kWatermarkText))
        return;
    m_watermark->setText(text);
    m_watermarkTextInput->setToolTip(text);
    edit()->setTextOfWatermark(m_watermark->text());
    // The first text sizes the box to itself.
    emit watermarkFrameChanged();
}

void DNVideoEditorController::openImageForWatermark()
{
    const QString path = m_dialogs.openFile(this, QStringLiteral("Choose a Watermark Picture"),
        DNWatermarkImageTypes(), NXPanelStartFolder(NXPanelKind::Pictures));
    if (path.isEmpty())
        return;
    NXRememberPanelFolder(NXPanelKind::Pictures, path);
    // The conversion would only log an unreadable picture and leave the
    // watermark out: refuse it here, where the person can choose again.
    const QImage image(path);
    if (image.isNull()) {
        DNLog(QStringLiteral("Refused the watermark picture %1: it cannot be read").arg(path));
        NXAlert alert;
        alert.title = QStringLiteral("Cannot Use This Picture!");
        alert.text = QStringLiteral("\"%1\" is not a picture that can be read. Please choose "
                                    "another file.")
                         .arg(QFileInfo(path).fileName());
        m_dialogs.runAlert(this, alert);
        return;
    }
    edit()->setImagePathOfWatermark(path);
    m_watermarkImageAddress->setText(path);
    m_watermarkImageAddress->setToolTip(path);
    m_watermark->setImage(image);
}

void DNVideoEditorController::openFontSetPanel()
{
    if (const auto font = m_dialogs.chooseFont(this, m_watermark->textFont()))
        changeFont(*font);
}

void DNVideoEditorController::openColorPanel()
{
    if (const auto colour = m_dialogs.chooseColor(this, m_watermark->textColor()))
        changeFontColor(*colour);
}

void DNVideoEditorController::changeFont(const QFont& font)
{
    if (identifierOfTab(m_editorTabView->currentIndex()) == EditorTab::kSubtitle
        || watermarkTypeIndex() != int(DNBaseEditSetting::kWatermarkText))
        return;
    m_watermark->setTextFont(font);
    edit()->setTextWatermarkFont(
        { font.family(), font.pointSizeF() > 0 ? font.pointSizeF() : kStoredFontSize });
}

void DNVideoEditorController::changeFontColor(const QColor& colour)
{
    if (watermarkTypeIndex() != int(DNBaseEditSetting::kWatermarkText))
        return;
    m_watermark->setTextColor(colour);
    edit()->setTextWatermarkColor(colour);
}

void DNVideoEditorController::loadWatermarkOnEnter()
{
    const auto* nodeEdit = edit();
    m_watermark->setHidden(!nodeEdit->isEnableWatermark());
    m_watermark->setTransparency(float(nodeEdit->watermarkTransparency()));
    loadWatermarkSelection();
    m_watermark->setTextColor(nodeEdit->textWatermarkColor());
    m_watermark->setTextFont(fontOf(nodeEdit->textWatermarkFont()));
    const QString path = nodeEdit->imagePathOfWatermark();
    m_watermarkImageAddress->setText(path);
    m_watermarkImageAddress->setToolTip(path);
    const QString text = nodeEdit->textOfWatermark();
    m_watermarkTextInput->setText(text);
    m_watermarkTextInput->setToolTip(text);
}

void DNVideoEditorController::loadWatermarkSelection()
{
    const QRect frame = editedPictureFrame().toRect();
    if (!frame.isEmpty())
        m_watermark->setFrame(frame);
    const QRectF rect = edit()->watermarkRect();
    const QSizeF scale = watermarkFields().scale;
    m_watermark->setSelectionArea({ rect.x() / scale.width(), rect.y() / scale.height(),
        rect.width() / scale.width(), rect.height() / scale.height() });
    emit watermarkFrameChanged();
}

void DNVideoEditorController::saveWatermarkRect()
{
    edit()->setWatermarkRect(
        { watermarkOriginLeft(), watermarkOriginBottom(), watermarkWidth(), watermarkHeight() });
}

// --- Effects -----------------------------------------------------------------

bool DNVideoEditorController::enableVideoEffect() const
{
    return edit() && edit()->isEnableEffect();
}

void DNVideoEditorController::setEnableVideoEffect(bool on)
{
    edit()->setEnableEffect(on);
    m_renderControl->effectView()->setEnableColorEffect(on);
    m_effectView->setEnabled(on);
    showTabFlag(EditorTab::kEffect, on);
}

void DNVideoEditorController::effectSelectedAtIndex(int index)
{
    m_renderControl->effectView()->setInternalEffectIndex(index);
}

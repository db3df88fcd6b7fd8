#include "download/DNYoutubeCell.h"

#include "controls/DNButton.h"
#include "controls/NXProgressBar.h"
#include "controls/ResourceImage.h"
#include "download/DNYoutubeImageView.h"
#include "download/NXYoutubeView.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QUrl>

namespace {

constexpr double kBytesPerMiB = 1048576.0;
constexpr int kInset = 2;
constexpr int kThumbnailSide = DNYoutubeCell::kHeight - 2 * kInset;
constexpr int kTextLeft = 3 + kThumbnailSide + 20;
constexpr int kButtonSide = 29;

enum MenuTag { OpenSourceURL = 888, ShowInFinder = 889, Open = 890 };

QFont smallSystemFont()
{
    QFont font;
    font.setPixelSize(11);
    return font;
}

QLabel* imageLabel(const QString& name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(resourceImage(name));
    return label;
}

QLabel* textField(QWidget* parent)
{
    auto* field = new QLabel(parent);
    field->setFont(smallSystemFont());
    field->setAttribute(Qt::WA_TranslucentBackground);
    return field;
}

QString variantTitle(const DNYoutubeVideoSegment& variant)
{
    const QString resolution = variant.resolution > 0
        ? QString::asprintf("%dP", static_cast<int>(variant.resolution))
        : QStringLiteral("N/A");
    return QString::asprintf("Format:%-4s\tResolution:%-9s\tSize:%.1fMb",
        variant.containerFormat.toUtf8().constData(), resolution.toUtf8().constData(),
        variant.videoSize / kBytesPerMiB);
}

// An image button of the row: its image at rest, pressed and, when it is
// to look disabled, disabled.
DNButton* rowButton(const QString& stem, int tag, QWidget* parent)
{
    auto* button = new DNButton(parent);
    button->setObjectName(stem);
    button->setProperty("tag", tag);
    button->setNormalImage(resourceImage(stem + "_nor.png"));
    button->setAlternateImage(resourceImage(stem + "_down.png"));
    button->resize(kButtonSide, kButtonSide);
    return button;
}

void showButtonLook(DNButton* button, bool disabledLook)
{
    QIcon icon(button->normalImage());
    const QPixmap disabled = resourceImage(button->objectName() + "_dis.png");
    icon.addPixmap(disabledLook ? disabled : button->normalImage(), QIcon::Disabled);
    button->setIcon(icon);
}

} // namespace

DNYoutubeCell::DNYoutubeCell(QWidget* parent)
    : QWidget(parent)
{
    resize(kWidth, kHeight);
    buildSubviews();
    buildButtons();
    layOutStretching();
}

void DNYoutubeCell::buildSubviews()
{
    m_backgroundView = new QLabel(this);
    m_backgroundView->setScaledContents(true);
    m_backgroundView->setPixmap(resourceImage(QStringLiteral("cell_nor_d_noline.png")));
    m_thumbnail = new DNYoutubeImageView(this);
    m_thumbnail->setGeometry(3, kInset, kThumbnailSide, kThumbnailSide);
    m_playIcon = new DNButton(this);
    m_playIcon->setNormalImage(resourceImage(QStringLiteral("playIcon.png")));
    m_playIcon->setGeometry(
        3 + (kThumbnailSide - 32) / 2, kInset + (kThumbnailSide - 32) / 2, 32, 32);
    m_playIcon->hide();
    connect(m_playIcon, &QPushButton::clicked, this, [this] {
        if (m_hostTable)
            m_hostTable->youtubeCellPlay(this);
    });
    m_URLField = textField(this);
    m_URLField->setGeometry(kTextLeft, 30 - 14, 405, 14);
    imageLabel(QStringLiteral("yt_infoicon.png"), this)->setGeometry(kTextLeft, 36, 11, 13);
    m_variants = new QComboBox(this);
    m_variants->setFont(smallSystemFont());
    m_variants->setFrame(false);
    m_variants->setGeometry(kTextLeft + 21, 34, 300, 18);
    connect(m_variants, &QComboBox::activated, this, &DNYoutubeCell::chooseVariant);
    imageLabel(QStringLiteral("yt_downloadicon.png"), this)
        ->setGeometry(kTextLeft, kHeight - 10 - 13, 11, 13);
    m_progressbar = new NXProgressBar(this);
    m_progressbar->setGeometry(kTextLeft + 21, kHeight - 8 - 14, 270, 14);
    m_stateField = textField(this);
    m_stateField->setGeometry(m_progressbar->geometry().right() + 11, kHeight - 8 - 14, 120, 14);
}

void DNYoutubeCell::buildButtons()
{
    m_buttonBox = new QWidget(this);
    m_skipButton = rowButton(QStringLiteral("yt_skip"), 888, m_buttonBox);
    m_removeButton = rowButton(QStringLiteral("yt_remove"), 889, m_buttonBox);
    showButtonLook(m_skipButton, true);
    showButtonLook(m_removeButton, true);
    connect(m_skipButton, &QPushButton::clicked, this, [this] {
        if (m_hostTable)
            m_hostTable->youtubeCellSkipped(this);
    });
    connect(m_removeButton, &QPushButton::clicked, this, [this] {
        if (m_hostTable)
            m_hostTable->youtubeCellRemove(this);
    });
}

// What follows the row's width: the background and the buttons at the right.
void DNYoutubeCell::layOutStretching()
{
    m_backgroundView->setGeometry(rect().adjusted(kInset, kInset, -kInset, -kInset));
    m_backgroundView->lower();
    m_buttonBox->setGeometry(width() - 35, height() - kInset - kThumbnailSide, 28, kThumbnailSide);
    m_skipButton->move(0, 0);
    m_removeButton->move(0, kThumbnailSide - kButtonSide);
}

void DNYoutubeCell::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layOutStretching();
}

void DNYoutubeCell::setData(const std::shared_ptr<DNYoutubeNode>& node)
{
    if (node != m_data) {
        if (m_data)
            m_data->disconnect(this);
        m_data = node;
        if (m_data) {
            connect(
                m_data.get(), &DNYoutubeNode::stateChanged, this, &DNYoutubeCell::stateDidChange);
            connect(m_data.get(), &DNYoutubeNode::downloadSizeChanged, this,
                &DNYoutubeCell::downloadSizeDidChange);
            connect(m_data.get(), &DNYoutubeNode::isPlayingChanged, this,
                &DNYoutubeCell::isPlayingDidChange);
            QTimer::singleShot(100, this, &DNYoutubeCell::refresh);
        }
    }
    rebuildVariantPopUp();
}

void DNYoutubeCell::setIsSelected(bool selected)
{
    if (selected == m_isSelected)
        return;
    m_isSelected = selected;
    m_backgroundView->setPixmap(resourceImage(selected ? QStringLiteral("cell_hi_d_noline.png")
                                                       : QStringLiteral("cell_nor_d_noline.png")));
}

void DNYoutubeCell::refresh()
{
    if (!m_data)
        return;
    const QString url = m_data->youtubeLink().sourceURL;
    m_URLField->setText(url);
    m_URLField->setToolTip(url);
    setStateText(QString::asprintf(
                     "%.2f/%.2f Mb", m_data->downloadSize() / kBytesPerMiB, m_data->videoSize()),
        m_stateField->palette().color(QPalette::WindowText));
}

void DNYoutubeCell::rebuildVariantPopUp()
{
    m_variants->clear();
    if (!m_data)
        return;
    const auto& variants = m_data->youtubeLink().videosSegments;
    for (const DNYoutubeVideoSegment& variant : variants)
        m_variants->addItem(variantTitle(variant));
    qsizetype marked = -1;
    for (qsizetype index = 0; index < variants.size() && marked < 0; ++index)
        if (variants[index].isSelected)
            marked = index;
    m_variants->setCurrentIndex(static_cast<int>(marked));
}

void DNYoutubeCell::chooseVariant(int index)
{
    if (!m_data)
        return;
    auto& variants = m_data->youtubeLink().videosSegments;
    for (qsizetype at = 0; at < variants.size(); ++at)
        variants[at].isSelected = at == index;
    refresh();
}

void DNYoutubeCell::stateDidChange(DNYoutubeNodeState state)
{
    setStateText(m_stateField->text(), Qt::black);
    switch (state) {
    case DNYoutubeNodeState::New:
        m_variants->setEnabled(true);
        showSkipButton(true, false);
        m_removeButton->setEnabled(true);
        setStateText(QString::asprintf(
                         "%.2f/%.2f M", m_data->downloadSize() / kBytesPerMiB, m_data->videoSize()),
            Qt::black);
        break;
    case DNYoutubeNodeState::Waiting:
        setStateText(QStringLiteral("Wait for download"), Qt::black);
        break;
    case DNYoutubeNodeState::Downloading:
        m_variants->setEnabled(false);
        m_removeButton->setEnabled(false);
        break;
    case DNYoutubeNodeState::Finished:
        showSkipButton(false, false);
        m_removeButton->setEnabled(true);
        setStateText(QStringLiteral("Finished"), Qt::darkGreen);
        break;
    case DNYoutubeNodeState::Failed:
        showSkipButton(false, false);
        m_removeButton->setEnabled(true);
        setStateText(QStringLiteral("Failed"), Qt::red);
        break;
    case DNYoutubeNodeState::Skipped:
        m_variants->setEnabled(true);
        showSkipButton(false, true);
        m_removeButton->setEnabled(true);
        setStateText(QStringLiteral("Skipped"), Qt::red);
        break;
    }
}

// Sizes are 64-bit: a download passes 2 GiB without turning negative. A
// variant of unknown size shows a tenth while bytes arrive.
void DNYoutubeCell::downloadSizeDidChange(qint64 bytes)
{
    const DNYoutubeVideoSegment* selected = m_data ? m_data->selectedSgmt() : nullptr;
    qint64 total = selected ? static_cast<qint64>(selected->videoSize) : 0;
    if (total < 1)
        total = bytes * 10 + 1;
    m_progressbar->setFloatValue(static_cast<float>(bytes) / static_cast<float>(total));
    setStateText(QString::asprintf("%.2f/%.2f Mb", bytes / kBytesPerMiB, total / kBytesPerMiB),
        m_stateField->palette().color(QPalette::WindowText));
}

void DNYoutubeCell::isPlayingDidChange(bool playing)
{
    if (m_isFocus)
        m_playIcon->setVisible(!playing);
}

void DNYoutubeCell::setStateText(const QString& text, const QColor& colour)
{
    QPalette colours = m_stateField->palette();
    colours.setColor(QPalette::WindowText, colour);
    m_stateField->setPalette(colours);
    m_stateField->setText(text);
    m_stateField->adjustSize();
}

void DNYoutubeCell::showSkipButton(bool enabled, bool disabledLook)
{
    showButtonLook(m_skipButton, disabledLook);
    m_skipButton->setEnabled(enabled);
}

void DNYoutubeCell::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    m_isFocus = true;
    m_playIcon->setVisible(!(m_data && m_data->isPlaying()));
}

void DNYoutubeCell::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    m_isFocus = false;
    m_playIcon->hide();
}

void DNYoutubeCell::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
    if (m_hostTable)
        m_hostTable->youtubeCellSelected(this);
    setIsSelected(true);
}

QMenu* DNYoutubeCell::optionMenu()
{
    if (!m_menu) {
        m_menu = new QMenu(QStringLiteral("Option"), this);
        m_menu->addAction(QStringLiteral("Open Source URL"), this, &DNYoutubeCell::openSourceURL)
            ->setData(OpenSourceURL);
        m_menu
            ->addAction(QStringLiteral("Show in Finder"), this,
                [this] { m_system.openFolder(QFileInfo(m_data->outputFile()).absolutePath()); })
            ->setData(ShowInFinder);
        m_menu
            ->addAction(
                QStringLiteral("Open"), this, [this] { m_system.openFile(m_data->outputFile()); })
            ->setData(Open);
    }
    const bool finished = m_data && m_data->state() == DNYoutubeNodeState::Finished;
    for (QAction* action : m_menu->actions())
        if (action->data().toInt() != OpenSourceURL)
            action->setEnabled(finished);
    return m_menu;
}

void DNYoutubeCell::contextMenuEvent(QContextMenuEvent* event)
{
    optionMenu()->popup(event->globalPos());
}

// The page as the user gave it, with a scheme when it has none.
void DNYoutubeCell::openSourceURL() const
{
    if (!m_data)
        return;
    QString link = m_data->youtubeLink().sourceURL.trimmed();
    if (!link.contains(QStringLiteral("://")))
        link.prepend(QStringLiteral("http://"));
    QDesktopServices::openUrl(QUrl(link));
}

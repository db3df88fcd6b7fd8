#include "slideshow/DNImageEditor.h"

#include "common/NXDialogs.h"
#include "list/NXMediaTableView.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/NotificationCenter.h"
#include "services/DNHelpers.h"
#include "slideshow/DNEffectPreview.h"
#include "slideshow/DNGraphicsNode.h"
#include "slideshow/DNImageBrowser.h"
#include "slideshow/NXEffectManager.h"
#include "slideshow/SlideshowView.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

const QStringList kStandardDurations { "2.0", "4.0", "6.0", "8.0", "10.0" };
constexpr qint64 kTransitionCount = 18;
const QSize kPreviewAreaSize(520, 420);
constexpr int kMusicRowHeight = 18;
enum MusicColumn { FileColumn, DurationColumn };

QString oneDecimal(double value)
{
    return QString::number(value, 'f', 1);
}

int sortKeyOfItem(int item)
{
    switch (item) {
    case DNImageEditor::SortByName:
        return DNGraphicsSetting::kSortByName;
    case DNImageEditor::SortByDate:
        return DNGraphicsSetting::kSortByDate;
    default:
        return DNGraphicsSetting::kSortByPosition;
    }
}

int itemOfSortKey(int key)
{
    switch (key) {
    case DNGraphicsSetting::kSortByName:
        return DNImageEditor::SortByName;
    case DNGraphicsSetting::kSortByDate:
        return DNImageEditor::SortByDate;
    default:
        return DNImageEditor::SortByPosition;
    }
}

QPushButton* button(const QString& title, QWidget* parent)
{
    auto* made = new QPushButton(title, parent);
    made->setAutoDefault(false);
    return made;
}

} // namespace

DNImageEditor::DNImageEditor(NXDialogs& dialogs, QWidget* parent)
    : QDialog(parent)
    , m_dialogs(dialogs)
{
    setWindowTitle(QStringLiteral("Slideshow"));
    setWindowModality(Qt::WindowModal);
    auto* columns = new QHBoxLayout;
    columns->addWidget(makeBrowserColumn(), 1);
    columns->addWidget(makePreviewColumn());
    auto* closing = new QHBoxLayout;
    closing->addStretch();
    auto* cancel = button(QStringLiteral("Cancel"), this);
    auto* done = button(QStringLiteral("Done"), this);
    closing->addWidget(cancel);
    closing->addWidget(done);
    connect(cancel, &QPushButton::clicked, this, &DNImageEditor::onCancel);
    connect(done, &QPushButton::clicked, this, &DNImageEditor::onDone);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addLayout(closing);
    connect(this, &QDialog::finished, this, &DNImageEditor::sheetDidEnd);
}

DNImageEditor::~DNImageEditor()
{
    stopSlideshow();
}

void DNImageEditor::setClock(SlideshowClock clock)
{
    m_clock = std::move(clock);
    m_slideshowViewer->setClock(m_clock);
}

QWidget* DNImageEditor::makeBrowserColumn()
{
    auto* column = new QWidget(this);
    m_browserModel = new DNImageBrowserModel(this);
    m_imageBrowserView = new DNImageBrowserView(*m_browserModel, column);
    m_imageBrowserView->setMinimumSize(360, 300);
    // A plain light grey behind the icons.
    m_imageBrowserView->setStyleSheet(QStringLiteral("background-color: rgb(212, 212, 212);"));
    connect(
        m_imageBrowserView, &DNImageBrowserView::moveRequested, this, &DNImageEditor::moveRecords);
    connect(
        m_imageBrowserView, &DNImageBrowserView::removeRequested, this, &DNImageEditor::onRemove);
    connect(m_imageBrowserView, &QAbstractItemView::doubleClicked, this,
        [this](const QModelIndex& index) { openRecord(index.row()); });

    m_sortBy = new QComboBox(column);
    m_sortBy->addItems({ "GPS Position", "Creation Date", "File Name" });
    m_sortType = new QComboBox(column);
    m_sortType->addItems({ "Ascending", "Descending" });
    connect(m_sortBy, &QComboBox::activated, this, &DNImageEditor::onSortImageTypeChanged);
    connect(m_sortType, &QComboBox::activated, this, &DNImageEditor::onSortImageTypeChanged);

    auto* addFolder = button(QStringLiteral("Add Folder..."), column);
    auto* remove = button(QStringLiteral("Remove"), column);
    m_goToRootButton = button(QStringLiteral("All Folders"), column);
    connect(addFolder, &QPushButton::clicked, this, &DNImageEditor::onAddPhotoFolder);
    connect(remove, &QPushButton::clicked, this, &DNImageEditor::onRemove);
    connect(m_goToRootButton, &QPushButton::clicked, this, &DNImageEditor::onGoToRoot);

    auto* controls = new QHBoxLayout;
    for (QWidget* control : std::initializer_list<QWidget*> { m_goToRootButton, addFolder, remove })
        controls->addWidget(control);
    controls->addStretch();
    controls->addWidget(new QLabel(QStringLiteral("Sort by"), column));
    controls->addWidget(m_sortBy);
    controls->addWidget(m_sortType);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_imageBrowserView, 1);
    layout->addLayout(controls);
    return column;
}

QWidget* DNImageEditor::makePreviewColumn()
{
    auto* column = new QWidget(this);
    // The preview and the transition grid share this area; the grid sits at
    // its bottom while it is open.
    m_previewArea = new QWidget(column);
    m_previewArea->setFixedSize(kPreviewAreaSize);
    m_slideshowViewer = new SlideshowView(m_previewArea);
    m_slideshowViewer->setGeometry(QRect(QPoint(0, 0), kPreviewAreaSize));

    m_previewButton = button({}, column);
    connect(m_previewButton, &QPushButton::clicked, this, &DNImageEditor::onPlay);
    auto* transitions = button(QStringLiteral("Transitions"), column);
    connect(transitions, &QPushButton::clicked, this, &DNImageEditor::onTransitionPressed);
    m_durationBox = new QComboBox(column);
    m_durationBox->setEditable(true);
    connect(m_durationBox, &QComboBox::textActivated, this, &DNImageEditor::setValueOfDuration);
    m_totalVideoLabel = new QLabel(column);
    m_totalAudioLabel = new QLabel(column);

    auto* controls = new QHBoxLayout;
    controls->addWidget(m_previewButton);
    controls->addWidget(transitions);
    controls->addWidget(new QLabel(QStringLiteral("Seconds per photo"), column));
    controls->addWidget(m_durationBox);
    controls->addStretch();
    controls->addWidget(new QLabel(QStringLiteral("Video"), column));
    controls->addWidget(m_totalVideoLabel);
    controls->addWidget(new QLabel(QStringLiteral("Music"), column));
    controls->addWidget(m_totalAudioLabel);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_previewArea);
    layout->addLayout(controls);
    layout->addWidget(makeMusicBox());
    return column;
}

QWidget* DNImageEditor::makeMusicBox()
{
    auto* box = new QWidget(this);
    m_audioList = new QTableWidget(0, 2, box);
    m_audioList->setHorizontalHeaderLabels({ "File", "Duration" });
    m_audioList->verticalHeader()->hide();
    m_audioList->verticalHeader()->setDefaultSectionSize(kMusicRowHeight);
    m_audioList->horizontalHeader()->setSectionResizeMode(FileColumn, QHeaderView::Stretch);
    m_audioList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_audioList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_audioList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_audioList->setFixedHeight(110);
    auto* add = button(QStringLiteral("Add Music..."), box);
    auto* remove = button(QStringLiteral("Remove Music"), box);
    connect(add, &QPushButton::clicked, this, &DNImageEditor::addMovieMusic);
    connect(remove, &QPushButton::clicked, this, &DNImageEditor::buttonCellClick);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_audioList, 1);
    layout->addLayout(buttons);
    return box;
}

void DNImageEditor::setGraphicsNode(std::shared_ptr<DNGraphicsNode> album)
{
    m_graphicsNode = std::move(album);
    m_slideshowCurrentAsset.reset();
    showLevel(m_graphicsNode ? &m_graphicsNode->imageNodes() : nullptr, true);
}

void DNImageEditor::displayOnWindow(QWidget* window)
{
    if (!m_graphicsNode)
        return;
    if (window && parentWidget() != window)
        setParent(window, windowFlags());
    reloadMusic();
    m_previewButton->setIcon(slideshowResourceImage(imageForPreviewButton()));
    showFirstPhoto();
    const DNGraphicsSetting& setting = *m_graphicsNode->setting();
    m_sortBy->setCurrentIndex(itemOfSortKey(setting.sortby()));
    m_sortType->setCurrentIndex(setting.ascOrDesc() == DNGraphicsSetting::kAscending ? 0 : 1);
    setDurationChoices(kStandardDurations, oneDecimal(setting.interval()));
    open();
    onTransitionPressed();
    m_browserModel->reload();
}

void DNImageEditor::showFirstPhoto()
{
    const std::vector<DNImageNode> photos = allImagesNodesWithoutFolderNode();
    if (photos.empty())
        return;
    // Fitted to the preview: a photo at its full size may be hundreds of MB.
    m_slideshowViewer->displayDefaultImage(
        ThumbnailOfImage(photos.front().path, kSlideWidth, kSlideHeight));
}

void DNImageEditor::onDone()
{
    closeSheet(QDialog::Accepted);
}

void DNImageEditor::onCancel()
{
    closeSheet(QDialog::Rejected);
}

void DNImageEditor::reject()
{
    onCancel();
}

void DNImageEditor::closeSheet(int result)
{
    setGraphicsNode(nullptr);
    if (m_effectsView)
        onTransitionPressed();
    stopSlideshow();
    m_slideshowViewer->clear();
    done(result);
}

void DNImageEditor::sheetDidEnd()
{
    NotificationCenter::defaultCenter().post(NXMediaTableView::kRefreshAllCells);
}

void DNImageEditor::showLevel(std::vector<DNImageNode>* records, bool topLevel)
{
    m_nodeDisplaying = records;
    m_browserModel->setLevel(records, topLevel);
    refreshStates();
}

std::vector<DNImageNode>* DNImageEditor::imageNodesAtCurrentLevel() const
{
    return m_nodeDisplaying;
}

bool DNImageEditor::stateOfGoRoot() const
{
    return m_graphicsNode && m_nodeDisplaying != &m_graphicsNode->imageNodes();
}

bool DNImageEditor::stateOfAutoCaltulate() const
{
    return m_graphicsNode && !m_graphicsNode->audioTracks().empty();
}

void DNImageEditor::refreshStates()
{
    m_goToRootButton->setEnabled(stateOfGoRoot());
    m_totalVideoLabel->setText(totalVideoDuration());
    m_totalAudioLabel->setText(totalAudioDuration());
}

void DNImageEditor::onGoToRoot()
{
    if (m_graphicsNode)
        showLevel(&m_graphicsNode->imageNodes(), true);
}

void DNImageEditor::openRecord(int row)
{
    if (!m_nodeDisplaying || row < 0 || row >= static_cast<int>(m_nodeDisplaying->size()))
        return;
    DNImageNode& record = m_nodeDisplaying->at(static_cast<std::size_t>(row));
    if (record.type == DNImageNode::Folder)
        showLevel(&record.imageNodes, false);
}

bool DNImageEditor::moveRecords(QList<int> indexes, int destination)
{
    if (!m_graphicsNode || stateOfGoRoot() || indexes.isEmpty())
        return false;
    std::vector<DNImageNode>& records = m_graphicsNode->imageNodes();
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    const auto count = static_cast<int>(records.size());
    if (indexes.front() < 0 || indexes.back() >= count)
        return false;
    std::vector<DNImageNode> moved;
    int movedBelowDestination = 0;
    for (auto index = indexes.rbegin(); index != indexes.rend(); ++index) {
        moved.insert(moved.begin(), std::move(records[static_cast<std::size_t>(*index)]));
        records.erase(records.begin() + *index);
        if (*index < destination)
            ++movedBelowDestination;
    }
    const int at
        = std::clamp(destination - movedBelowDestination, 0, static_cast<int>(records.size()));
    records.insert(records.begin() + at, std::make_move_iterator(moved.begin()),
        std::make_move_iterator(moved.end()));
    m_browserModel->reload();
    return true;
}

void DNImageEditor::onRemove()
{
    if (!m_nodeDisplaying)
        return;
    const QList<int> rows = m_imageBrowserView->selectedRows();
    for (auto row = rows.rbegin(); row != rows.rend(); ++row)
        if (*row >= 0 && *row < static_cast<int>(m_nodeDisplaying->size()))
            m_nodeDisplaying->erase(m_nodeDisplaying->begin() + *row);
    m_browserModel->reload();
    refreshStates();
}

void DNImageEditor::onAddPhotoFolder()
{
    if (!m_graphicsNode)
        return;
    const QStringList folders = m_dialogs.chooseFolders(
        this, QStringLiteral("Add Photo Folders"), NXPanelStartFolder(NXPanelKind::Pictures));
    if (folders.isEmpty())
        return;
    NXRememberPanelFolder(NXPanelKind::Pictures, folders.first());
    // The folder records may move in memory: the browser leaves any folder first.
    showLevel(nullptr, true);
    const std::vector<DNLeftOutPhoto> leftOut = m_graphicsNode->appendingPhotosWithDir(folders);
    onGoToRoot();
    if (!leftOut.empty())
        tellLeftOut(leftOut);
}

// Files of the chosen folders that the album will not show are named, as the
// list names the files it could not load.
void DNImageEditor::tellLeftOut(const std::vector<DNLeftOutPhoto>& leftOut)
{
    const QString text = DNGraphicsNode::leftOutText(leftOut);
    DNLog(QStringLiteral("Photos left out of the album: ") + text);
    NXAlert alert;
    alert.title = QStringLiteral("Some photos were left out.");
    alert.text = text;
    m_dialogs.runAlert(this, alert);
}

void DNImageEditor::onSortImageTypeChanged()
{
    if (!m_graphicsNode)
        return;
    const int order = m_sortType->currentIndex() == 0 ? DNGraphicsSetting::kAscending
                                                      : DNGraphicsSetting::kDescending;
    // The album's stored sort choice stays: the controls show it again at
    // the next opening.
    m_graphicsNode->sortPhotoNode(sortKeyOfItem(m_sortBy->currentIndex()), order);
    m_browserModel->reload();
}

void DNImageEditor::addMovieMusic()
{
    if (!m_graphicsNode)
        return;
    const QStringList types { QStringLiteral("mp3"), QStringLiteral("m4a") };
    const QStringList chosen = m_dialogs.openFiles(
        this, QStringLiteral("Add Music"), types, NXPanelStartFolder(NXPanelKind::Music));
    if (!chosen.isEmpty())
        NXRememberPanelFolder(NXPanelKind::Music, chosen.first());
    bool added = false;
    QStringList refusals;
    for (const QString& path : chosen) {
        // A name typed into the dialog passes its filter.
        if (!types.contains(QFileInfo(path).suffix().toLower()))
            continue;
        if (const QString refusal = DNGraphicsAudio::refusalOf(path); !refusal.isEmpty()) {
            refusals << QStringLiteral("\"%1\": %2.").arg(QFileInfo(path).fileName(), refusal);
            continue;
        }
        m_graphicsNode->audioTracks().push_back(DNGraphicsAudio::graphicsAudio(path));
        added = true;
    }
    if (!refusals.isEmpty())
        refuseMusic(refusals);
    if (!added)
        return;
    reloadMusic();
    fitDurationToMusic();
}

// Music that is no file (a FIFO would keep the sheet waiting for ever) is
// left out and said, where the person can choose again.
void DNImageEditor::refuseMusic(const QStringList& refusals)
{
    DNLog(QStringLiteral("Refused as the album's music: ") + refusals.join(' '));
    NXAlert alert;
    alert.title = QStringLiteral("Cannot Use This Music!");
    alert.text = refusals.join('\n') + QStringLiteral("\nPlease choose music files.");
    m_dialogs.runAlert(this, alert);
}

void DNImageEditor::buttonCellClick()
{
    const int row = m_audioList->currentRow();
    if (!m_graphicsNode || row < 0 || !m_audioList->selectionModel()->hasSelection())
        return;
    auto& tracks = m_graphicsNode->audioTracks();
    if (row >= static_cast<int>(tracks.size()))
        return;
    tracks.erase(tracks.begin() + row);
    reloadMusic();
    fitDurationToMusic();
}

void DNImageEditor::reloadMusic()
{
    m_audioList->clearContents();
    m_audioList->setRowCount(0);
    if (!m_graphicsNode)
        return;
    const auto& tracks = m_graphicsNode->audioTracks();
    m_audioList->setRowCount(static_cast<int>(tracks.size()));
    for (int row = 0; row < m_audioList->rowCount(); ++row) {
        const DNGraphicsAudio& track = tracks[static_cast<std::size_t>(row)];
        m_audioList->setItem(
            row, FileColumn, new QTableWidgetItem(QFileInfo(track.audioPath).fileName()));
        m_audioList->setItem(row, DurationColumn,
            new QTableWidgetItem(DNTimeStringFromSeconds(track.audioDuration)));
    }
    refreshStates();
}

void DNImageEditor::fitDurationToMusic()
{
    const double best = m_graphicsNode->bestDisplayDuration();
    m_graphicsNode->setting()->setInterval(static_cast<float>(best));
    setDurationChoices(QStringList { oneDecimal(best) } + kStandardDurations, oneDecimal(best));
}

void DNImageEditor::setDurationChoices(const QStringList& choices, const QString& value)
{
    m_displayDurations = choices;
    m_valueOfDuration = value;
    const QSignalBlocker quiet(m_durationBox);
    m_durationBox->clear();
    m_durationBox->addItems(choices);
    m_durationBox->setCurrentText(value);
    refreshStates();
}

void DNImageEditor::setValueOfDuration(const QString& text)
{
    m_valueOfDuration = oneDecimal(text.toFloat());
    {
        const QSignalBlocker quiet(m_durationBox);
        m_durationBox->setCurrentText(m_valueOfDuration);
    }
    stopSlideshow();
    startSlideshow();
    if (m_graphicsNode)
        m_graphicsNode->setting()->setInterval(slideshowInterval());
    refreshStates();
}

float DNImageEditor::slideshowInterval() const
{
    bool readable = false;
    const float seconds = m_valueOfDuration.toFloat(&readable);
    return readable && seconds > 1.0f ? seconds : 2.0f;
}

QString DNImageEditor::totalVideoDuration() const
{
    if (!m_graphicsNode)
        return DNTimeStringFromSeconds(0);
    return DNTimeStringFromSeconds(static_cast<int>(m_graphicsNode->videoDuration()));
}

QString DNImageEditor::totalAudioDuration() const
{
    if (!m_graphicsNode)
        return DNTimeStringFromSeconds(0);
    return DNTimeStringFromSeconds(static_cast<int>(m_graphicsNode->audioDuration()));
}

std::vector<DNImageNode> DNImageEditor::allImagesNodesWithoutFolderNode() const
{
    std::vector<DNImageNode> photos;
    if (!m_graphicsNode)
        return photos;
    for (const DNImageNode& record : m_graphicsNode->imageNodes())
        photos.insert(photos.end(), record.imageNodes.begin(), record.imageNodes.end());
    return photos;
}

QString DNImageEditor::imageForPreviewButton() const
{
    return m_slideshowTimer ? kStopImage : kPreviewImage;
}

void DNImageEditor::onPlay()
{
    if (m_slideshowTimer)
        stopSlideshow();
    else
        startSlideshow();
}

void DNImageEditor::startSlideshow()
{
    if (m_slideshowTimer || !m_graphicsNode || slideshowInterval() <= 0)
        return;
    const auto allowed = m_graphicsNode->setting()->transitions();
    m_slideshowViewer->setAllowTransitionStyles(allowed ? *allowed : QList<qint64> {});
    m_slideshowTimer = new QTimer(this);
    connect(m_slideshowTimer, &QTimer::timeout, this, &DNImageEditor::showNextSlide);
    m_slideshowTimer->start(static_cast<int>(std::lround((slideshowInterval() + 1.0) * 1000)));
    m_previewButton->setIcon(slideshowResourceImage(imageForPreviewButton()));
}

void DNImageEditor::stopSlideshow()
{
    delete m_slideshowTimer;
    if (m_previewButton)
        m_previewButton->setIcon(slideshowResourceImage(imageForPreviewButton()));
}

void DNImageEditor::showNextSlide()
{
    const std::vector<DNImageNode> photos = allImagesNodesWithoutFolderNode();
    if (photos.empty())
        return;
    const auto count = static_cast<qsizetype>(photos.size());
    std::optional<qsizetype> start = 0;
    if (m_slideshowCurrentAsset) {
        const auto shown = std::find_if(photos.begin(), photos.end(),
            [this](const DNImageNode& photo) { return photo.path == *m_slideshowCurrentAsset; });
        start = shown == photos.end()
            ? std::nullopt
            : std::optional(static_cast<qsizetype>(shown - photos.begin()));
    }
    // A photo removed since it was shown: start again at the first one.
    qsizetype next = 0;
    if (start) {
        next = (*start + 1) % count;
        if (next == *start)
            return; // a single photo: nothing to change to
    }
    const DNImageNode& photo = photos[static_cast<std::size_t>(next)];
    m_slideshowViewer->transitionToImage(ThumbnailOfImage(photo.path, kSlideWidth, kSlideHeight));
    m_slideshowCurrentAsset = photo.path;
}

void DNImageEditor::onTransitionPressed()
{
    if (m_effectsView) {
        m_effectsView->stopPreview();
        delete m_effectsView;
        return;
    }
    if (!m_graphicsNode)
        return;
    m_effectsView = new DNEffectPreview(QPoint(0, 0), m_previewArea);
    m_effectsView->setClock(m_clock);
    connect(m_effectsView, &DNEffectPreview::effectsSelectionChanged, this,
        &DNImageEditor::onEffectsSelectionChanged);
    std::vector<std::unique_ptr<NXTransitionFilter>> filters;
    for (qint64 number = 0; number < kTransitionCount; ++number)
        filters.push_back(NXEffectManager::independentFilterWithType(number));
    const auto selected = m_graphicsNode->setting()->transitions();
    m_effectsView->setPrevieFilters(std::move(filters), selected ? *selected : QList<qint64> {});
    const std::vector<DNImageNode> photos = allImagesNodesWithoutFolderNode();
    if (photos.size() >= 2)
        m_effectsView->setDemoImages({ ThumbnailOfImage(photos[0].path, kDemoWidth, kDemoHeight),
            ThumbnailOfImage(photos[1].path, kDemoWidth, kDemoHeight) });
    const int gridHeight = m_effectsView->height();
    if (!m_previewLowered) {
        // The preview gives up the bottom of the area to the grid, once.
        m_previewLowered = true;
        QRect frame = m_slideshowViewer->geometry();
        frame.setHeight(frame.height() - gridHeight);
        m_slideshowViewer->setGeometry(frame);
    }
    m_effectsView->move(0, m_previewArea->height() - gridHeight);
    m_effectsView->show();
    m_effectsView->startPreview();
}

DNEffectPreview* DNImageEditor::effectsView() const
{
    return m_effectsView;
}

void DNImageEditor::onEffectsSelectionChanged(const QList<qint64>& selected)
{
    m_slideshowViewer->setAllowTransitionStyles(selected);
    if (m_graphicsNode)
        m_graphicsNode->setting()->setTransitions(std::make_shared<const QList<qint64>>(selected));
}

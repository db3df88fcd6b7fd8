#include "shell/NXAppController.h"

#include "common/NXAppPluginProtocol.h"
#include "editor/DNVideoEditorController.h"
#include "list/NXDVDRows.h"
#include "list/NXMediaListModel.h"
#include "list/NXMediaTableView.h"
#include "model/DNDVDGroupTitle.h"
#include "model/DNFileGroupNode.h"
#include "model/DNFileNode.h"
#include "model/DNVideoEditProtocol.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "profiles/DNProfileManager.h"
#include "services/DNSetting.h"
#include "shell/DNFileLoader.h"
#include "shell/NXDVDSourceChooser.h"
#include "shell/NXMediaLoader.h"
#include "shell/NXPreferencesController.h"
#include "shell/NXProfileChooser.h"
#include "shell/NXProgressController.h"
#include "slideshow/DNGraphicsNode.h"
#include "slideshow/DNImageEditor.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QScreen>
#include <QToolBar>

#include <algorithm>

namespace {

const QSize kDefaultSize(960, 600);
// The window's frame and the bars' handles around the commands.
constexpr int kToolbarSlack = 24;

bool isDVDKind(const NXBasicMediaNode& node)
{
    switch (node.mediaType()) {
    case NXMediaType::DVD:
    case NXMediaType::DVDTitle:
    case NXMediaType::MergedDVDTitles:
        return true;
    default:
        return false;
    }
}

int profileTypeOf(const NXBasicMediaNode& node)
{
    return isDVDKind(node) ? DNProfileTypeDVD : DNProfileTypeVideo;
}

// The entries that carry a profile of their own: files, photo albums and DVDs.
std::shared_ptr<DNProfile> profileOf(const NXBasicMediaNode& node)
{
    if (const auto* file = dynamic_cast<const DNFileNode*>(&node))
        return file->profile();
    if (const auto* album = dynamic_cast<const DNGraphicsNode*>(&node))
        return album->profile();
    if (const auto* dvd = dynamic_cast<const DNDVDNode*>(&node))
        return dvd->profile();
    return nullptr;
}

void setProfileOf(NXBasicMediaNode& node, const std::shared_ptr<DNProfile>& profile)
{
    if (auto* file = dynamic_cast<DNFileNode*>(&node))
        file->setProfile(profile);
    else if (auto* album = dynamic_cast<DNGraphicsNode*>(&node))
        album->setProfile(profile);
    else if (auto* dvd = dynamic_cast<DNDVDNode*>(&node)) {
        dvd->setProfile(profile);
        // A profile that cannot join titles turns the merge off, and the row shows it.
        NXDVDSettleMerge(*dvd);
    }
}

} // namespace

NXAppController::NXAppController(DNSetting& setting, DNProfileManager& profiles,
    UserDefaults& defaults, NXDialogs& dialogs, const NXSystemActions& system, QWidget* parent)
    : QMainWindow(parent)
    , m_setting(setting)
    , m_profiles(profiles)
    , m_defaults(defaults)
    , m_dialogs(dialogs)
    , m_system(system)
{
    setWindowTitle(QStringLiteral("Quillon"));
    m_model = new NXMediaListModel(m_mediaNodes, this);
    m_tableView = new NXMediaTableView(*m_model, this);
    setCentralWidget(buildPreview());
    m_loader = new NXMediaLoader(this);
    connect(m_loader, &NXMediaLoader::nodeLoaded, this, &NXAppController::addMediaNode);
    connect(m_loader, &NXMediaLoader::batchFinished, this, &NXAppController::loaderFinished);
    connect(m_tableView, &NXMediaTableView::filesDropped, this, &NXAppController::addFiles);
    connect(m_tableView, &NXMediaTableView::editRequested, this, &NXAppController::editNodeOnTab);
    m_photoLoader = new DNFileLoader(m_dialogs, this);
    connect(m_photoLoader, &DNFileLoader::albumLoaded, this, &NXAppController::addMediaNode);
    m_dvdChooser = new NXDVDSourceChooser(m_dialogs, this);
    connect(m_dvdChooser, &NXDVDSourceChooser::dvdLoaded, this, &NXAppController::addMediaNode);
    connect(m_dvdChooser, &NXDVDSourceChooser::batchFinished, this, [this] { loaderFinished({}); });
    buildActions();
    observeNotifications();
    resize(defaultSize());
}

// Wide enough for every toolbar command, where the screen allows.
QSize NXAppController::defaultSize() const
{
    const int bars = m_toolbar->sizeHint().width() + m_convertBar->sizeHint().width();
    const QSize wanted(std::max(kDefaultSize.width(), bars + kToolbarSlack), kDefaultSize.height());
    return wanted.boundedTo(screen()->availableSize());
}

NXAppController::~NXAppController()
{
    stopConversionAndWait();
    stopPlayers();
    // The view and its model read m_mediaNodes, which goes before the base
    // class would delete them.
    delete m_tableView;
    delete m_model;
}

void NXAppController::buildActions()
{
    auto* toolbar = addToolBar(QStringLiteral("Main"));
    m_toolbar = toolbar;
    toolbar->setMovable(false);
    toolbar->addAction(QStringLiteral("Add Files"), this, &NXAppController::addFilesWithPanel);
    toolbar->addAction(QStringLiteral("Add DVD"), this, &NXAppController::addDVDWithChooser);
    toolbar->addAction(QStringLiteral("Add Photos"), this, [this] {
        const QString folder = m_dialogs.chooseFolder(
            this, QStringLiteral("Add Photo Folder"), NXPanelStartFolder(NXPanelKind::Pictures));
        if (folder.isEmpty())
            return;
        NXRememberPanelFolder(NXPanelKind::Pictures, folder);
        m_photoLoader->load({ folder });
    });
    toolbar->addAction(QStringLiteral("Remove"), this, &NXAppController::removeSelected);
    toolbar->addAction(QStringLiteral("Clear"), this, &NXAppController::clearList);
    toolbar->addAction(QStringLiteral("Merge"), this, &NXAppController::mergeSelected);
    auto* merge = toolbar->addAction(QStringLiteral("Merge New Files"));
    merge->setCheckable(true);
    merge->setChecked(mergeMode());
    connect(merge, &QAction::toggled, this, &NXAppController::setMergeMode);
    toolbar->addAction(QStringLiteral("Edit..."), this, [this] {
        const auto selected = m_tableView->selectedNodes();
        if (!selected.empty())
            editNode(selected.front());
    });
    toolbar->addSeparator();
    toolbar->addAction(QStringLiteral("Profile..."), this, &NXAppController::chooseProfile);
    toolbar->addAction(QStringLiteral("Preferences..."), this, &NXAppController::showPreferences);
    toolbar->addSeparator();
    toolbar->addAction(QStringLiteral("Play"), this, &NXAppController::playOrStop);
    toolbar->addAction(QStringLiteral("Full Screen"), this, &NXAppController::toggleFullScreen);
    toolbar->addSeparator();
    toolbar->addAction(
        QStringLiteral("Screen Recorder"), this, &NXAppController::showScreenRecorder);
    toolbar->addAction(QStringLiteral("Downloader"), this, &NXAppController::showDownloader);
    toolbar->addAction(
        QStringLiteral("Camera Recorder"), this, qOverload<>(&NXAppController::showCameraRecorder));
    // Convert has a bar of its own, which a narrow window does not fold away.
    m_convertBar = addToolBar(QStringLiteral("Conversion"));
    m_convertBar->setMovable(false);
    m_convertBar->addAction(QStringLiteral("Convert"), this, &NXAppController::startConversion);
}

void NXAppController::observeNotifications()
{
    auto& center = NotificationCenter::defaultCenter();
    center.addObserver(
        NXProfileChooser::kApplyToAllProfile, nullptr, this, [this](const Notification& note) {
            const auto* profile = static_cast<const DNProfile*>(note.sender);
            if (profile)
                applyProfile(*profile, true);
        });
    center.addObserver(
        DNVideoEditorController::kApplyToAllEdit, nullptr, this, [this](const Notification& note) {
            const auto* setting = static_cast<const DNNodeSetting*>(note.sender);
            if (!setting)
                return;
            for (const auto& node : m_mediaNodes)
                if (auto* file = dynamic_cast<DNFileNode*>(node.get()))
                    file->setEditSetting(*setting);
            m_model->refreshAll();
        });
    center.addObserver(kApplyToAllNodeInfo, nullptr, this, [this](const Notification& note) {
        const auto* info = static_cast<const DNNodeInfo*>(note.sender);
        if (!info)
            return;
        // Every entry keeps its own output name: equal names would collide.
        for (const auto& node : m_mediaNodes)
            if (auto* file = dynamic_cast<DNFileNode*>(node.get())) {
                DNNodeInfo merged = *info;
                merged.outputName = file->nodeInfo().outputName;
                file->setNodeInfo(merged);
            }
        m_model->refreshAll();
    });
}

DNVideoEditorController* NXAppController::videoEditor() const
{
    return m_videoEditor;
}

DNImageEditor* NXAppController::imageEditor() const
{
    return m_imageEditor;
}

void NXAppController::editNodeOnTab(const NXBasicMediaNode::Ptr& node, const QString& tabIdentifier)
{
    // The tabs' places change with the entries the sheet has shown, so the
    // row names the tab and the index is looked up as the sheet stands.
    if (!m_videoEditor)
        m_videoEditor = new DNVideoEditorController(this, &m_dialogs);
    editNode(node, std::max(0, m_videoEditor->indexOfTabViewItemWithIdentifier(tabIdentifier)));
}

void NXAppController::editNode(const NXBasicMediaNode::Ptr& node, int tabIndex)
{
    auto album = std::dynamic_pointer_cast<DNGraphicsNode>(node);
    if (!album) {
        if (!dynamic_cast<DNVideoEditProtocol*>(node.get()))
            return;
        if (!m_videoEditor)
            m_videoEditor = new DNVideoEditorController(this, &m_dialogs);
        m_videoEditor->setTabViewAppearItemIndex(tabIndex);
        m_videoEditor->setMediaNode(node);
        m_videoEditor->displayVideoEditorPanel(this);
        return;
    }
    if (!m_imageEditor)
        m_imageEditor = new DNImageEditor(m_dialogs, this);
    m_imageEditor->setGraphicsNode(std::move(album));
    m_imageEditor->displayOnWindow(this);
}

bool NXAppController::showAlert(const QString& title, const QString& text)
{
    DNLog(QStringLiteral("%1 %2").arg(title, text));
    m_dialogs.runAlert(this, { title, text, { QStringLiteral("OK") }, {} });
    return false;
}

void NXAppController::addFilesWithPanel()
{
    const QStringList paths = m_dialogs.openFiles(this, QStringLiteral("Add Media Files"),
        NXMediaLoader::mediaFileTypes(), NXPanelStartFolder(NXPanelKind::Videos));
    if (paths.isEmpty())
        return;
    NXRememberPanelFolder(NXPanelKind::Videos, paths.first());
    addFiles(paths);
}

void NXAppController::addDVDWithChooser()
{
    m_listWasEmptyBeforeBatch = m_mediaNodes.empty();
    m_dvdChooser->chooseSource();
}

void NXAppController::addFiles(const QStringList& paths)
{
    // DVD folders and images go to the DVD reader, other folders are photo
    // albums, and the files go to the media loader.
    QStringList files;
    QStringList folders;
    QStringList discs;
    for (const QString& path : paths) {
        if (NXDVDSourceChooser::isDVDSource(path))
            discs << path;
        else
            (QFileInfo(path).isDir() ? folders : files) << path;
    }
    if (!discs.isEmpty() && !m_dvdChooser->isLoading()) {
        m_listWasEmptyBeforeBatch = m_mediaNodes.empty();
        m_dvdChooser->load(discs);
    }
    if (!folders.isEmpty())
        m_photoLoader->load(folders);
    if (files.isEmpty() || m_loader->isLoading())
        return;
    m_listWasEmptyBeforeBatch = m_mediaNodes.empty();
    m_loader->load(files);
}

bool NXAppController::takesFilesNow() const
{
    return !isConverting() && !m_loader->isLoading() && !m_photoLoader->isLoading()
        && !m_dvdChooser->isLoading();
}

void NXAppController::addOpenedFiles(const QStringList& paths)
{
    m_listWasEmptyBeforeBatch = m_mediaNodes.empty();
    // Each file that is not taken is named with its reason, as for a drop: a
    // file handed over by a second start or a tool must not vanish unsaid.
    QStringList failures;
    for (const QString& path : paths) {
        if (QFileInfo(path).isDir())
            continue;
        DNFileLoadFailure failure = DNFileLoadFailure::None;
        if (auto node = DNFileNode::fileNodeWithFile(path, true, &failure)) {
            addMediaNode(node);
            continue;
        }
        DNLog(QStringLiteral("Could not load \"%1\"").arg(path));
        failures << QStringLiteral("%1: %2").arg(path, DNFileLoadFailureText(failure));
    }
    NotificationCenter::defaultCenter().post(
        NXMediaLoader::kLoadFinished, this, { { NXMediaLoader::kLoadTypeKey, 1 } });
    loaderFinished(failures);
}

void NXAppController::toolWindowDidClose(NXAppPluginProtocol& tool)
{
    const QStringList paths = tool.fileListNeedToConvert();
    if (!paths.isEmpty())
        addOpenedFiles(paths);
}

void NXAppController::loaderFinished(const QStringList& failures)
{
    if (!failures.isEmpty())
        showAlert(QStringLiteral("Some files could not be loaded."), failures.join('\n'));
    emit batchAdded();
    if (m_listWasEmptyBeforeBatch && !m_mediaNodes.empty())
        chooseProfile();
}

void NXAppController::addMediaNode(const NXBasicMediaNode::Ptr& node)
{
    if (!node || !resolveKindConflict(node))
        return;
    giveDefaultProfile(node);
    if (mergeMode() && node->mediaType() == NXMediaType::VideoFile) {
        addToMergeGroup(node);
        return;
    }
    m_model->appendNode(node);
}

// The list holds DVD sources or other sources, never both.
bool NXAppController::resolveKindConflict(const NXBasicMediaNode::Ptr& node)
{
    if (m_mediaNodes.empty() || isDVDKind(*m_mediaNodes.front()) == isDVDKind(*node))
        return true;
    if (!m_defaults.boolValue(kNoConflictQuestionKey)) {
        const NXAlertAnswer answer = m_dialogs.runAlert(this,
            { QStringLiteral("Conflict between two media!"),
                QStringLiteral("DVD sources and other media cannot be converted together. "
                               "Continue to clear the list and add the new media."),
                { QStringLiteral("Continue"), QStringLiteral("Cancel") },
                QStringLiteral("Do not ask again") });
        if (answer.button != 0)
            return false;
        if (answer.suppressed)
            m_defaults.setValue(kNoConflictQuestionKey, true);
    }
    clearList();
    return true;
}

void NXAppController::addToMergeGroup(const NXBasicMediaNode::Ptr& node)
{
    const auto group = std::find_if(m_mediaNodes.begin(), m_mediaNodes.end(),
        [](const auto& entry) { return isMemberOf<DNFileGroupNode>(entry); });
    if (group != m_mediaNodes.end()) {
        m_model->appendMember(*group, node);
        return;
    }
    auto merged = DNFileGroupNode::fileGroupNodeWithNodes({ node });
    merged->setProfile(std::dynamic_pointer_cast<DNFileNode>(node)->profile());
    m_model->appendNode(merged);
}

void NXAppController::giveDefaultProfile(const NXBasicMediaNode::Ptr& node)
{
    const bool takesProfile = isKindOf<DNFileNode>(node) || isMemberOf<DNDVDNode>(node);
    if (!takesProfile || profileOf(*node))
        return;
    const int type = profileTypeOf(*node);
    const bool sound = hasSound(*node);
    std::shared_ptr<DNProfile>& shared = m_defaultProfiles[{ type, sound }];
    if (!shared)
        shared = m_profiles.lastProfileOfType(type, sound);
    setProfileOf(*node, shared);
}

bool NXAppController::hasSound(const NXBasicMediaNode& node)
{
    // A merge sounds where any of its members does.
    if (isMemberOf<DNFileGroupNode>(&node))
        return std::any_of(node.children().begin(), node.children().end(),
            [](const auto& member) { return hasSound(*member); });
    if (const auto* file = dynamic_cast<const DNFileNode*>(&node))
        return !file->audioTracks().empty();
    if (const auto* album = dynamic_cast<const DNGraphicsNode*>(&node))
        return !album->audioTracks().empty();
    return true;
}

// An audio-only output of a source without sound can only fail in the
// engine ("Output file #0 does not contain any stream"): it is refused here,
// with a reason the user can act on.
bool NXAppController::checkSoundOfEntries()
{
    for (const auto& node : m_mediaNodes) {
        const auto profile = profileOf(*node);
        if (!profile || profile->writesPicture() || hasSound(*node))
            continue;
        const QString name = NXMediaDisplayName(*node);
        const QString reason
            = QStringLiteral("\"%1\" has no sound, and the profile \"%2\" writes only sound. "
                             "Choose a video profile for it.")
                  .arg(name, profile->profileName());
        m_model->setFailure(node, reason);
        return showAlert(QStringLiteral("Could not convert \"%1\".").arg(name), reason);
    }
    return true;
}

std::vector<NXBasicMediaNode::Ptr> NXAppController::targetNodes() const
{
    std::vector<NXBasicMediaNode::Ptr> nodes;
    for (const auto& node : m_tableView->selectedNodes()) {
        // A selected title stands for its DVD, which holds the profile.
        const auto entry = node->mediaType() == NXMediaType::DVDTitle ? node->parent() : node;
        if (entry->mediaType() != NXMediaType::MergeMember
            && std::find(nodes.begin(), nodes.end(), entry) == nodes.end())
            nodes.push_back(entry);
    }
    return nodes.empty() ? m_mediaNodes : nodes;
}

void NXAppController::removeSelected()
{
    // A DVD's titles stay with it; their check boxes leave them out.
    for (const auto& node : m_tableView->selectedNodes())
        if (node->mediaType() != NXMediaType::DVDTitle)
            m_model->removeNode(node);
}

void NXAppController::clearList()
{
    m_model->clear();
}

void NXAppController::mergeSelected()
{
    std::vector<NXBasicMediaNode::Ptr> files;
    for (const auto& node : m_tableView->selectedNodes())
        if (isMemberOf<DNFileNode>(node) && node->mediaType() == NXMediaType::VideoFile)
            files.push_back(node);
    if (files.size() < 2)
        return;
    const int row = m_model->indexOf(files.front()).row();
    for (const auto& file : files)
        m_model->removeNode(file);
    auto group = DNFileGroupNode::fileGroupNodeWithNodes(files);
    group->setProfile(std::dynamic_pointer_cast<DNFileNode>(files.front())->profile());
    m_model->insertNode(row, group);
}

bool NXAppController::mergeMode() const
{
    return m_defaults.boolValue(kMergeModeKey);
}

void NXAppController::setMergeMode(bool on)
{
    m_defaults.setValue(kMergeModeKey, on);
}

void NXAppController::chooseProfile()
{
    const auto nodes = targetNodes();
    if (nodes.empty() || m_chooser)
        return;
    const int type = profileTypeOf(*nodes.front());
    m_chooser = new NXProfileChooser(m_profiles, type, this);
    m_chooser->setAttribute(Qt::WA_DeleteOnClose);
    if (const auto current = profileOf(*nodes.front()))
        m_chooser->selectProfile(current->GlobalID());
    connect(m_chooser, &QDialog::accepted, this, [this, nodes] {
        const auto profile = m_chooser->chosenProfile();
        if (!profile)
            return;
        m_profiles.addRecentProfile(*profile);
        m_defaultProfiles.clear();
        if (m_chooser->applyToAll()) {
            NotificationCenter::defaultCenter().post(
                NXProfileChooser::kApplyToAllProfile, profile.get());
            return;
        }
        for (const auto& node : nodes)
            setProfileOf(*node, profile->copy());
        m_model->refreshAll();
    });
    m_chooser->open();
}

void NXAppController::applyProfile(const DNProfile& profile, bool toAll)
{
    const auto nodes = toAll ? m_mediaNodes : targetNodes();
    for (const auto& node : nodes)
        if (profileTypeOf(*node) == profile.profileType())
            setProfileOf(*node, profile.copy());
    m_model->refreshAll();
}

void NXAppController::showPreferences()
{
    auto* preferences = new NXPreferencesController(m_setting, m_dialogs, this);
    preferences->setAttribute(Qt::WA_DeleteOnClose);
    preferences->open();
}

void NXAppController::setConversionControlsEnabled(bool enabled)
{
    // The progress sheet leaves the window free to be closed (a modal sheet
    // would swallow the window's close button), so the list and the toolbar
    // take no input while a conversion reads them.
    m_tableView->setEnabled(enabled);
    m_toolbar->setEnabled(enabled);
    m_convertBar->setEnabled(enabled);
}

// The path the driver chose for the job's output.
QString NXAppController::outputOf(const ConversionJob& job)
{
    const NXBasicMediaNode* node = job.node.get();
    if (const auto* file = dynamic_cast<const DNFileNode*>(node))
        return file->outputName();
    if (isMemberOf<DNDVDGroupTitle>(node))
        return static_cast<const DNDVDGroupTitle*>(node)->outputName();
    if (const auto* dvd = dynamic_cast<const DNDVDNode*>(node)) {
        const auto title = dvd->titleAt(job.titleIndex);
        return title ? title->outputName() : QString();
    }
    // An album's movie was converted as its file node.
    if (const auto* album = dynamic_cast<const DNGraphicsNode*>(node))
        return album->fileNode() ? album->fileNode()->outputName() : QString();
    return {};
}

void NXAppController::showWrittenOutputs()
{
    const QStringList written = convertedOutputs();
    for (const ConversionJob& job : m_jobs) {
        const QString output = outputOf(job);
        if (!output.isEmpty() && written.contains(output))
            m_model->setWrittenOutput(rowOf(job), output);
    }
}

bool NXAppController::confirmStopForClose()
{
    const NXAlertAnswer answer = m_dialogs.runAlert(this,
        { QStringLiteral("A conversion is running. Stop it and quit?"),
            QStringLiteral("The entry being converted is left unfinished, and its partial output "
                           "is deleted."),
            { QStringLiteral("Yes"), QStringLiteral("No") }, {} });
    return answer.button == 0;
}

void NXAppController::closeEvent(QCloseEvent* event)
{
    if (isConverting() && !confirmStopForClose()) {
        event->ignore();
        return;
    }
    stopConversionAndWait();
    stopPlayers();
    QMainWindow::closeEvent(event);
    // Closing the main window quits the application.
    emit windowClosed();
}

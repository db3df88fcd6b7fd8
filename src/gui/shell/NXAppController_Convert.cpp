// The conversion: the checks before it, and the three calls the progress
// sheet drives it with (converter on the worker thread, progress getter and
// interrupter on the main thread).
#include "shell/NXAppController.h"

#include "engine/DNVideoConverter.h"
#include "list/NXDVDRows.h"
#include "list/NXMediaListModel.h"
#include "model/DNDVDGroupTitle.h"
#include "platform/DNLogger.h"
#include "services/DNAppSetting.h"
#include "services/DNSetting.h"
#include "shell/NXProgressController.h"
#include "slideshow/DNGraphicsNode.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <unistd.h>

#include <utility>

namespace {

constexpr auto kPauseBetweenEntries = std::chrono::milliseconds(100);

const QString kNotWritable
    = QStringLiteral("The Destination Folder is NOT writable.Please try another one.");

bool isWritableFolder(const QString& folder)
{
    // access() asks the kernel, which also knows about read-only mounts.
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

// What became of the rest of the list: a run ends at its first failure, so
// every entry after it was never started.
QString restOfRun(std::size_t failed, std::size_t entries)
{
    const std::size_t notStarted = entries - failed - 1;
    if (notStarted == 1)
        return QStringLiteral("The run stopped there: the entry after it was not started.");
    if (notStarted > 1)
        return QStringLiteral("The run stopped there: the %1 entries after it were not started.")
            .arg(notStarted);
    if (failed == 1)
        return QStringLiteral("The entry before it was converted.");
    return QStringLiteral("The %1 entries before it were converted.").arg(failed);
}

} // namespace

bool NXAppController::checkOutputFolder()
{
    const QString folder = m_setting.appSetting().videoOutputDirectory();
    const QFileInfo info(folder);
    if (folder.isEmpty() || (info.exists() && !info.isDir()))
        return showAlert(QStringLiteral("Invalid Output Directory!"), folder);
    // The default folder may simply not have been made yet on a new system.
    if (!info.exists() && !QDir().mkpath(folder))
        return showAlert(QStringLiteral("Invalid Output Directory!"), kNotWritable);
    const QStorageInfo volume(folder);
    if (volume.isValid() && volume.isReadOnly()) {
        const QString name
            = volume.displayName().isEmpty() ? volume.rootPath() : volume.displayName();
        return showAlert(QStringLiteral("The volume \"%1\" is read only.").arg(name), kNotWritable);
    }
    if (!isWritableFolder(folder))
        return showAlert(QStringLiteral("Invalid Output Directory!"), kNotWritable);
    return true;
}

bool NXAppController::startConversion()
{
    if (isConverting())
        return false;
    if (m_mediaNodes.empty())
        return showAlert(QStringLiteral("No media source!"),
            QStringLiteral("Please add video clips and try again."));
    if (!checkDVDTitles() || !checkSoundOfEntries() || !checkOutputFolder())
        return false;
    // The engines get the processors to themselves.
    stopPlayers();
    m_jobs = planJobs();
    m_model->clearFailures();
    m_stopFlag = false;
    // The driver keeps a stop that lands between two entries for the next one;
    // one left from an earlier list must not end this one.
    DNVideoConverterForgetStop();
    {
        const std::lock_guard lock(m_mutex);
        m_outputs.clear();
        m_failure.reset();
    }
    NXConversionCalls calls;
    calls.converter = [this] { return converter(); };
    calls.progressGetter = [this] { return progressGetter(); };
    calls.interrupter = [this] { interrupter(); };
    m_progress = new NXProgressController(
        std::move(calls), m_system, m_setting.appSetting().videoOutputDirectory(), this);
    m_progress->setAttribute(Qt::WA_DeleteOnClose);
    if (std::any_of(m_jobs.begin(), m_jobs.end(),
            [](const ConversionJob& job) { return isMemberOf<DNGraphicsNode>(job.node); }))
        m_progress->reservePhotoView();
    m_sheetOfRun = m_progress;
    DNVideoConverterSetRunObserver(&NXAppController::engineRunEnded, this);
    connect(m_progress, &NXProgressController::conversionEnded, this, &NXAppController::endRun);
    DNLog(QStringLiteral("Converting %1 entries in %2 jobs")
              .arg(m_mediaNodes.size())
              .arg(m_jobs.size()));
    setConversionControlsEnabled(false);
    m_progress->begin();
    return true;
}

bool NXAppController::checkDVDTitles()
{
    for (const auto& node : m_mediaNodes) {
        if (!isMemberOf<DNDVDNode>(node))
            continue;
        const auto titles = std::static_pointer_cast<DNDVDNode>(node)->titles();
        if (std::none_of(
                titles.begin(), titles.end(), [](const auto& t) { return t->isSelected(); }))
            return showAlert(QStringLiteral("No DVD Title Selected!"),
                QStringLiteral("Please select a title of the DVD \"%1\" to rip.")
                    .arg(NXMediaDisplayName(*node)));
    }
    return true;
}

// A DVD entry is one job per selected title, or one for its merged titles;
// every other entry is one job.
std::vector<NXAppController::ConversionJob> NXAppController::planJobs()
{
    std::vector<ConversionJob> jobs;
    bool settled = false;
    for (const auto& node : m_mediaNodes) {
        if (!isMemberOf<DNDVDNode>(node)) {
            jobs.push_back({ node, 0 });
            continue;
        }
        const auto dvd = std::static_pointer_cast<DNDVDNode>(node);
        // The merge is made only where the row offers it, so a profile whose
        // builders cannot join titles never gets a group; the driver merges
        // whenever the flag is set.
        settled = NXDVDSettleMerge(*dvd) || settled;
        if (dvd->mergeIntoOne()) {
            jobs.push_back({ DNDVDGroupTitle::dvdGroupTitleWithDVDNode(dvd), -1 });
            continue;
        }
        const auto titles = dvd->titles();
        for (std::size_t index = 0; index < titles.size(); ++index)
            if (titles[index]->isSelected())
                jobs.push_back({ node, int32_t(index) });
    }
    if (settled)
        m_model->refreshAll();
    return jobs;
}

bool NXAppController::isConverting() const
{
    return m_progress && m_progress->isRunning();
}

void NXAppController::stopConversionAndWait()
{
    if (!m_progress)
        return;
    m_progress->stopAndWait();
    {
        // Quitting: a failure that came meanwhile is in the log, not in an alert.
        const std::lock_guard lock(m_mutex);
        m_failure.reset();
    }
    // A sheet destroyed with this window never reports its end; the driver
    // must not keep a pointer to us either way.
    endRun();
}

// Main thread, once the worker has ended.
void NXAppController::endRun()
{
    if (!m_sheetOfRun)
        return;
    DNVideoConverterSetRunObserver(nullptr, nullptr);
    m_sheetOfRun = nullptr;
    showWrittenOutputs();
    setConversionControlsEnabled(true);
    std::optional<FailedJob> failure;
    {
        const std::lock_guard lock(m_mutex);
        failure = std::exchange(m_failure, std::nullopt);
    }
    if (failure)
        reportFailedJob(*failure);
    m_jobs.clear();
}

NXBasicMediaNode::Ptr NXAppController::rowOf(const ConversionJob& job)
{
    if (isMemberOf<DNDVDGroupTitle>(job.node))
        return std::static_pointer_cast<DNDVDGroupTitle>(job.node)->originalDVDNode();
    if (isMemberOf<DNDVDNode>(job.node))
        return std::static_pointer_cast<DNDVDNode>(job.node)->titleAt(job.titleIndex);
    return job.node;
}

// A title is named with its DVD.
QString NXAppController::nameOf(const ConversionJob& job)
{
    const NXBasicMediaNode::Ptr row = rowOf(job);
    if (!row)
        return {};
    if (isMemberOf<DNDVDGroupTitle>(job.node))
        return QStringLiteral("%1, its titles merged").arg(NXMediaDisplayName(*row));
    if (isMemberOf<DNDVDTitle>(row) && row->parent())
        return QStringLiteral("%1, %2").arg(
            NXMediaDisplayName(*row->parent()), NXMediaDisplayName(*row));
    return NXMediaDisplayName(*row);
}

// The failed job's row is marked, and the alert says which entry, why, and
// that the run stopped there; each entry after it was left, and its row says why.
void NXAppController::reportFailedJob(const FailedJob& failure)
{
    if (failure.index >= m_jobs.size())
        return;
    const ConversionJob& job = m_jobs[failure.index];
    const QString reason = failure.reason.isEmpty()
        ? QStringLiteral("The log tells why: %1").arg(DNLogger::shareRoughLog().path())
        : failure.reason;
    m_model->setFailure(rowOf(job), reason);
    const QString left
        = QStringLiteral("Not converted: the run stopped at the failure of \"%1\" before it.")
              .arg(nameOf(job));
    for (std::size_t later = failure.index + 1; later < m_jobs.size(); ++later)
        if (const NXBasicMediaNode::Ptr row = rowOf(m_jobs[later]); row != rowOf(job))
            m_model->setFailure(row, left);
    QString text = reason;
    if (m_jobs.size() > 1)
        text += QStringLiteral("\n\n") + restOfRun(failure.index, m_jobs.size());
    showAlert(QStringLiteral("Could not convert \"%1\".").arg(nameOf(job)), text);
}

QStringList NXAppController::convertedOutputs() const
{
    // The worker adds to the list while a conversion runs.
    const std::lock_guard lock(m_mutex);
    return m_outputs;
}

bool NXAppController::converter()
{
    for (std::size_t i = 0; i < m_jobs.size(); ++i) {
        if (m_stopFlag)
            return false;
        const int status = convertEntry(m_jobs[i]);
        if (status == kDNVideoConverterStopped || m_stopFlag)
            return false;
        if (status != 0) {
            DNLog(QStringLiteral("Conversion of entry %1 failed (%2)").arg(i + 1).arg(status));
            noteFailedJob(i);
            return true;
        }
        if (!pauseBetweenEntries())
            return false;
    }
    return false;
}

int NXAppController::convertEntry(const ConversionJob& job)
{
    const NXBasicMediaNode::Ptr& node = job.node;
    {
        std::lock_guard lock(m_mutex);
        m_entryOutputs.clear();
    }
    // An album is rendered into a movie first, which is converted in its place.
    m_movieRendered = false;
    const int status = node->nodeClass() == NXNodeClass::GraphicsNode
        ? m_albumStep.encodeGraphics2QuickTimeMovie(
            std::static_pointer_cast<DNGraphicsNode>(node), true)
        : DNVideoConverterStart(node, job.titleIndex, &NXAppController::engineState, this);
    std::lock_guard lock(m_mutex);
    // Only an entry that ended well has outputs worth naming: a stopped or
    // failed run leaves at most a partial file.
    if (status != 0 || m_stopFlag)
        return status;
    // Intermediate files (merge members) are gone by now; what is left is ours to name.
    for (const QString& output : std::as_const(m_entryOutputs))
        if (QFileInfo(output).isFile())
            m_outputs << output;
    return status;
}

void NXAppController::noteFailedJob(std::size_t index)
{
    const ConversionJob& job = m_jobs[index];
    // An album fails in its render or reading its movie back before the
    // driver sees it; the driver's reason would be another run's.
    const auto* album = dynamic_cast<const DNGraphicsNode*>(job.node.get());
    const bool reachedDriver = !album || (m_movieRendered && album->fileNode());
    const QString reason
        = reachedDriver ? DNVideoConverterLastFailure() : m_albumStep.lastFailure();
    const std::lock_guard lock(m_mutex);
    m_failure = FailedJob { index, reason };
}

AlbumConversion::Hooks NXAppController::albumStepHooks()
{
    AlbumConversion::Hooks hooks;
    hooks.stopRequested = [this] { return m_stopFlag.load(); };
    hooks.renderWillStart = [this] {
        if (m_sheetOfRun)
            m_sheetOfRun->slideshowRenderStarted();
    };
    hooks.movieRendered = [this](const QString&) { m_movieRendered = true; };
    hooks.stateCallback = &NXAppController::engineState;
    hooks.context = this;
    return hooks;
}

bool NXAppController::pauseBetweenEntries()
{
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, kPauseBetweenEntries, [this] { return m_stopFlag.load(); });
}

void NXAppController::engineState(int state, void* context)
{
    auto* self = static_cast<NXAppController*>(context);
    if (self->m_sheetOfRun)
        self->m_sheetOfRun->engineStateChanged(state);
}

void NXAppController::engineRunEnded(const DNEngineRun& run, void* context)
{
    auto* self = static_cast<NXAppController*>(context);
    if (run.status != 0 || run.output.isEmpty() || !QFileInfo(run.output).isFile())
        return;
    std::lock_guard lock(self->m_mutex);
    if (!self->m_entryOutputs.contains(run.output))
        self->m_entryOutputs << run.output;
}

QVariantMap NXAppController::progressGetter() const
{
    if (const std::optional<QVariantMap> render = m_albumStep.renderProgress())
        return *render;
    const ProgressInfo progress = DNVideoConverterProgress();
    return {
        { QStringLiteral("EncodeCategory"), 1 },
        { QStringLiteral("currentFPS"), progress.fps },
        { QStringLiteral("frame_number"), qlonglong(progress.frameNumber) },
        { QStringLiteral("convertedTime"), progress.convertedTime },
        { QStringLiteral("current_percent"), progress.percent },
    };
}

void NXAppController::interrupter()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopFlag = true;
    }
    m_wake.notify_all();
    m_albumStep.stopEncoding();
    DNVideoConverterStop();
}

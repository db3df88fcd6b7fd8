#include "download/DNYoutubeDownloadManager.h"

#include "download/DNYoutubeDownloader.h"
#include "download/DNYoutubeFileNames.h"
#include "download/DNYoutubeProxy.h"
#include "download/NXStreamMergeOperation.h"
#include "http/NetworkThread.h"
#include "http/PartialFileOrigin.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/FileMove.h"
#include "platform/NotificationCenter.h"
#include "services/DNHelpers.h"
#include "services/DNSetting.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <optional>

namespace {

QPointer<DNYoutubeDownloadManager>& sharedInstance()
{
    static QPointer<DNYoutubeDownloadManager> manager;
    return manager;
}

// Renames `from` to `to`, never over a file: a name taken in the meantime
// gives way to the next free one beside it. The path it ended at, or nothing
// with `reason` set.
std::optional<QString> moveWithoutReplacing(const QString& from, const QString& to, QString* reason)
{
    const QFileInfo wanted(to);
    QString target = to;
    int failure = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        failure = moveFileWithoutReplacing(from, target);
        if (failure == 0)
            return target;
        if (failure != EEXIST)
            break;
        target = DNUniqueFilePath(wanted.path(), wanted.fileName(), 0);
    }
    *reason = QStringLiteral("Cannot move %1 to %2: %3")
                  .arg(from, target, QString::fromLocal8Bit(std::strerror(failure)));
    return std::nullopt;
}

// Both folders a job writes to, made with their parents.
QString makeJobFolders(const QString& outputDir)
{
    for (const QString& folder : { AppPaths::downloadsFolder(), outputDir }) {
        if (folder.isEmpty() || !QDir().mkpath(folder) || !QFileInfo(folder).isDir())
            return QStringLiteral("Cannot create the folder \"%1\"").arg(folder);
    }
    return {};
}

} // namespace

// --- class services ----------------------------------------------------------------

DNYoutubeDownloadManager& DNYoutubeDownloadManager::shareManager()
{
    // Owned by the application object: it goes before the event loop's end.
    if (!sharedInstance())
        sharedInstance() = new DNYoutubeDownloadManager(QCoreApplication::instance());
    return *sharedInstance();
}

bool DNYoutubeDownloadManager::addYoutubeDownloadJob(
    const NodePointer& node, const QString& outputDir)
{
    return shareManager().addJob(node, outputDir);
}

int DNYoutubeDownloadManager::addYoutubeDownloadJobs(
    const QList<NodePointer>& nodes, const QString& outputDir)
{
    int accepted = 0;
    for (const NodePointer& node : nodes)
        accepted += addYoutubeDownloadJob(node, outputDir) ? 1 : 0;
    return accepted;
}

bool DNYoutubeDownloadManager::isYoutubeDownloaderDownloading()
{
    return sharedInstance() && sharedInstance()->isDownloading();
}

void DNYoutubeDownloadManager::cancelAll()
{
    if (sharedInstance())
        sharedInstance()->stopAllDownload();
}

void DNYoutubeDownloadManager::cancelYoutubeDownloadJob(const NodePointer& node)
{
    if (sharedInstance())
        sharedInstance()->stopDownload(node);
    else if (node)
        node->setState(DNYoutubeNodeState::Skipped);
}

// --- the job list --------------------------------------------------------------------

DNYoutubeDownloadManager::DNYoutubeDownloadManager(QObject* parent)
    : QObject(parent)
    , m_outputDir(AppPaths::downloadsFolder())
    , m_scheduler([this](std::chrono::milliseconds delay, std::function<void()> work) {
        QTimer::singleShot(delay, this, std::move(work));
    })
{ }

DNYoutubeDownloadManager::~DNYoutubeDownloadManager()
{
    stopCurrentWork();
}

QList<DNYoutubeDownloadManager::NodePointer> DNYoutubeDownloadManager::downloadJobs() const
{
    QList<NodePointer> nodes;
    for (const Job& job : m_downloadJobs)
        nodes.append(job.node);
    return nodes;
}

bool DNYoutubeDownloadManager::addJob(const NodePointer& node, const QString& outputDir)
{
    if (!node || node->state() != DNYoutubeNodeState::New || downloadJobs().contains(node))
        return false;
    m_outputDir = outputDir;
    // Each job keeps the folder it was queued for, whatever later jobs ask.
    m_downloadJobs.append({ node, outputDir });
    startDownload();
    return true;
}

void DNYoutubeDownloadManager::startDownload()
{
    if (m_isDownloading)
        return;
    m_isDownloading = true;
    ++m_runSerial;
    startJob();
}

void DNYoutubeDownloadManager::downloadNext()
{
    if (m_downloadJobs.isEmpty()) {
        m_isDownloading = false;
        NotificationCenter::defaultCenter().post(kFinishedDownloadProcessNotification);
        return;
    }
    m_scheduler(kNextJobDelay, [this, run = m_runSerial] {
        if (run == m_runSerial && m_isDownloading && !m_jobActive)
            startJob();
    });
}

void DNYoutubeDownloadManager::stopDownload(const NodePointer& node)
{
    if (!node)
        return;
    const bool current = m_jobActive && m_downloadJobs.first().node == node;
    if (current)
        stopCurrentWork();
    node->setState(DNYoutubeNodeState::Skipped);
    m_downloadJobs.removeIf([&node](const Job& job) { return job.node == node; });
    if (current)
        downloadNext();
}

void DNYoutubeDownloadManager::stopAllDownload()
{
    stopCurrentWork();
    for (const Job& job : std::as_const(m_downloadJobs))
        job.node->setState(DNYoutubeNodeState::New);
    m_downloadJobs.clear();
    m_isDownloading = false;
    ++m_runSerial;
}

void DNYoutubeDownloadManager::stopCurrentWork()
{
    // Cleared first: the cancelled request reports nothing to anyone.
    if (m_request) {
        m_request->clearDelegatesAndCancel();
        keepUnheardStream();
    }
    endRequest();
    // Stops ffmpeg and waits for it; a completion still queued is ignored,
    // and an output it had made goes: the streams are kept.
    ++m_mergeSerial;
    if (m_merge) {
        const QString merged = m_merge->destFile;
        m_merge.reset();
        QFile::remove(merged);
    }
    putBackStreams();
    m_jobActive = false;
}

// The request may have finished on the network thread before the cancel
// reached it, its stream whole at the stream file's name and its report not
// yet heard here: that stream goes back like any finished one.
void DNYoutubeDownloadManager::keepUnheardStream()
{
    NetworkThread::postAndWait([] {});
    if (!m_request->isFinished() || !m_request->error().isNull())
        return;
    m_finishedStreams.append({ m_request->downloadDestinationPath(), m_request->partialFilePath(),
        m_request->streamFileLock() });
}

void DNYoutubeDownloadManager::endRequest()
{
    if (m_request)
        m_request->releasePartialFile();
    m_request.reset();
}

void DNYoutubeDownloadManager::putBackStreams()
{
    // A stream that cannot go back (another run has made the partial's name
    // anew) stays whole under its own name, which the next run of the stream
    // takes back.
    for (const FinishedStream& stream : std::as_const(m_finishedStreams)) {
        if (const int failure = moveFileWithoutReplacing(stream.file, stream.partial); failure != 0)
            DNLog(QStringLiteral("%1 stays: it cannot go back to %2: %3")
                      .arg(stream.file, stream.partial,
                          QString::fromLocal8Bit(std::strerror(failure))));
    }
    m_finishedStreams.clear();
}

// --- one job ---------------------------------------------------------------------------

void DNYoutubeDownloadManager::startJob()
{
    // Jobs skipped while the next one was due may have emptied the list.
    if (m_downloadJobs.isEmpty()) {
        downloadNext();
        return;
    }
    m_jobActive = true;
    m_partIndex = 0;
    currentNode().setDownloadSize(0);
    if (const QString problem = makeJobFolders(m_downloadJobs.first().outputDir);
        !problem.isEmpty()) {
        failJob(problem);
        return;
    }
    // What an earlier run killed while it moved a file here left behind.
    removeStaleMoveFragments(m_downloadJobs.first().outputDir);
    startPart(0);
}

void DNYoutubeDownloadManager::startPart(int index)
{
    m_partIndex = index;
    const auto request
        = DNYoutubeDownloader::initWithYoutubeNode(m_downloadJobs.first().node, index);
    request->setOutPutDir(m_downloadJobs.first().outputDir);
    launch(request);
}

void DNYoutubeDownloadManager::appendAudioStreamDownloadJob()
{
    const auto request = NXYoutubeAudioDownloader::downloaderWithNode(m_downloadJobs.first().node);
    request->setOutPutDir();
    launch(request);
}

void DNYoutubeDownloadManager::launch(const std::shared_ptr<DNYoutubeStreamRequest>& request)
{
    request->setDelegate(this);
    request->setQueue(this);
    request->setDidStartSelector("requestDidStart");
    request->setDidFinishSelector("requestDidFinished");
    request->setDidFailSelector("requestDidFailed");
    request->setTempFileDownloadDir(AppPaths::downloadsFolder());
    request->setAllowResumeForFileDownloads(true);
    // A finished stream may go back to its partial file: its version goes
    // with it, so that the next try resumes only the same file.
    request->setDestinationKeepsOrigin(true);
    // A body that turns out not to be the stream (a login page) never costs
    // the good partial.
    request->setReplacesPartialOnlyWhenWhole(true);
    DNYoutubeApplyProxy(
        *request, DNYoutubeProxyAddress(DNSetting::shareSetting().downloadSetting()));
    QString problem;
    if (!request->claimPartialFile(&problem)) {
        failJob(problem);
        return;
    }
    // Video parts wait; the audio of a job keeps the state its video left.
    if (dynamic_cast<DNYoutubeDownloader*>(request.get()))
        currentNode().setState(DNYoutubeNodeState::Waiting);
    m_request = request;
    request->startAsynchronous();
}

bool DNYoutubeDownloadManager::isCurrent(const NXHTTPRequest* request) const
{
    return m_request && request == m_request.get();
}

void DNYoutubeDownloadManager::requestDidStart(NXHTTPRequest* request)
{
    if (isCurrent(request) && dynamic_cast<DNYoutubeDownloader*>(request))
        currentNode().setState(DNYoutubeNodeState::Downloading);
}

void DNYoutubeDownloadManager::requestDidReceiveBytes(NXHTTPRequest* request, qint64 bytes)
{
    if (isCurrent(request))
        currentNode().setDownloadSize(currentNode().downloadSize() + bytes);
}

void DNYoutubeDownloadManager::requestDidFailed(NXHTTPRequest* request)
{
    if (!isCurrent(request))
        return;
    // A refused answer is the answer's fault: the partial keeps the good
    // bytes it held before it, and the next try resumes from them.
    endRequest();
    failJob(request->error().localizedDescription());
}

void DNYoutubeDownloadManager::requestDidFinished(NXHTTPRequest* request)
{
    if (!isCurrent(request))
        return;
    const std::shared_ptr<DNYoutubeStreamRequest> finished = m_request;
    const std::shared_ptr<StreamFileLock> lock = finished->streamFileLock();
    endRequest();
    // The client calls any answer finished, an error page too; a body it took
    // for the stream was judged whole before it reached the destination.
    if (const QString problem = finished->streamProblem(finished->downloadDestinationPath());
        !problem.isEmpty()) {
        failJob(problem);
        return;
    }
    finished->removeSupersededPartials();
    const bool video = dynamic_cast<DNYoutubeDownloader*>(finished.get()) != nullptr;
    const bool audioFollows
        = video && !currentNode().youtubeLink().biggestSizeOfAudioStream.isEmpty();
    m_finishedStreams.append(
        { finished->downloadDestinationPath(), finished->partialFilePath(), lock });
    if (audioFollows)
        appendAudioStreamDownloadJob();
    else if (video)
        finishVideoWithoutAudio();
    else
        appendStreamMergeJob();
}

void DNYoutubeDownloadManager::finishVideoWithoutAudio()
{
    DNYoutubeNode& node = currentNode();
    // A stream that cannot take the output's name goes back to its partial.
    if (const QString problem = publish(node.tempVideoFile()); !problem.isEmpty()) {
        failJob(problem);
        return;
    }
    m_finishedStreams.clear();
    node.setState(DNYoutubeNodeState::Finished);
    node.setDownloadSize(static_cast<qint64>(node.selectedSgmt()->videoSize));
    postFinished(node.outputFile());
    finishPart();
}

QString DNYoutubeDownloadManager::publish(const QString& finished)
{
    DNYoutubeNode& node = currentNode();
    QString problem;
    const std::optional<QString> moved
        = moveWithoutReplacing(finished, node.outputFile(), &problem);
    if (!moved)
        return problem;
    // The output is whole: nothing will resume it.
    PartialFileOrigin::removeFrom(*moved);
    node.setOutputFile(*moved);
    return {};
}

void DNYoutubeDownloadManager::appendStreamMergeJob()
{
    DNYoutubeNode& node = currentNode();
    node.setDownloadSize(static_cast<qint64>(node.selectedSgmt()->videoSize));
    node.setState(DNYoutubeNodeState::Finished);
    // ffmpeg writes beside the streams; the whole file then takes the
    // output's name (or the next free one) without replacing anything.
    const DNYoutubeVideoSegment* selected = node.selectedSgmt();
    m_merge = std::make_unique<NXStreamMergeOperation>();
    m_merge->videoStreamFile = node.tempVideoFile();
    m_merge->audioStreamFile = node.tempAudioFile();
    m_merge->destFile = DNYoutubeFileNames::mergedFile(
        node.youtubeLink().title, m_partIndex, selected ? selected->containerFormat : QString());
    m_merge->start(this, [this, merge = ++m_mergeSerial](const StreamMergeResult& result) {
        if (merge == m_mergeSerial && m_merge)
            mergeFinished(result);
    });
}

void DNYoutubeDownloadManager::mergeFinished(const StreamMergeResult& result)
{
    const QString merged = m_merge->destFile;
    m_merge.reset();
    if (!result.succeeded) {
        failJob(result.reason);
        return;
    }
    // Not published: the merged file goes, the streams go back to their
    // partials (failJob). Published: the streams are no longer needed.
    if (const QString problem = publish(merged); !problem.isEmpty()) {
        QFile::remove(merged);
        failJob(problem);
        return;
    }
    for (const FinishedStream& stream : std::as_const(m_finishedStreams))
        QFile::remove(stream.file);
    m_finishedStreams.clear();
    postFinished(currentNode().outputFile());
    finishPart();
}

void DNYoutubeDownloadManager::postFinished(const QString& outputFile)
{
    NotificationCenter::defaultCenter().post(
        kDownloadFinishedNotification, this, { { QStringLiteral("outputFile"), outputFile } });
}

void DNYoutubeDownloadManager::finishPart()
{
    const DNYoutubeVideoSegment* selected = currentNode().selectedSgmt();
    if (selected && m_partIndex + 1 < selected->videoURLCount())
        startPart(m_partIndex + 1);
    else
        finishJob();
}

void DNYoutubeDownloadManager::failJob(const QString& reason)
{
    const NodePointer node = m_downloadJobs.first().node;
    DNLog(QStringLiteral("Download of \"%1\" failed: %2").arg(node->youtubeLink().title, reason));
    node->setState(DNYoutubeNodeState::Failed);
    finishJob();
    // Told once the job has left the queue: a receiver that runs an event loop
    // (a dialog) may stop or skip jobs meanwhile.
    emit downloadFailed(node.get(), reason);
}

void DNYoutubeDownloadManager::finishJob()
{
    stopCurrentWork();
    m_downloadJobs.removeFirst();
    downloadNext();
}

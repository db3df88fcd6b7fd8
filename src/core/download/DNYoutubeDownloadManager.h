#pragma once

#include "download/DNYoutubeNode.h"

#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class DNYoutubeStreamRequest;
class StreamFileLock;
class NXHTTPRequest;
class NXStreamMergeOperation;
struct StreamMergeResult;

// Downloads the queued jobs one at a time, on the main thread: the selected
// variant's URL parts in order, then the page's separate audio, then the
// merge on a worker; the next job starts 0.1 s after one ends. A job stays
// the current one (first in the list) until all of that is done, so Stop All
// always reaches it. The requests call back here on the main thread: the
// manager is their delegate and queue object. Streams and the merge are
// written in the Downloads folder; only a whole output file moves into the
// job's folder, never over a file. A job that fails, is skipped or stopped
// leaves nothing there: a stream it had finished goes back to its partial
// file, where the next try resumes it.
class DNYoutubeDownloadManager : public QObject {
    Q_OBJECT
public:
    using NodePointer = std::shared_ptr<DNYoutubeNode>;
    // Runs `work` on the main thread after `delay`.
    using Scheduler
        = std::function<void(std::chrono::milliseconds delay, std::function<void()> work)>;

    static inline const QString kDownloadFinishedNotification
        = QStringLiteral("DNNotificationAYoutubeDownloadFinished");
    static inline const QString kFinishedDownloadProcessNotification
        = QStringLiteral("DNNotificationFinishedDownloadProcess");
    static constexpr std::chrono::milliseconds kNextJobDelay { 100 };

    // The shared manager, made on first use (by the first job added, unless
    // asked for before); the queries below never make it.
    static DNYoutubeDownloadManager& shareManager();
    // Queues a node in state 0 into `outputDir`; false for any other.
    static bool addYoutubeDownloadJob(const NodePointer& node, const QString& outputDir);
    static int addYoutubeDownloadJobs(const QList<NodePointer>& nodes, const QString& outputDir);
    static bool isYoutubeDownloaderDownloading();
    static void cancelAll();
    static void cancelYoutubeDownloadJob(const NodePointer& node);

    explicit DNYoutubeDownloadManager(QObject* parent = nullptr);
    ~DNYoutubeDownloadManager() override;

    // The folder of the job added last ("Downloads" before any).
    QString outputDir() const { return m_outputDir; }
    bool isDownloading() const { return m_isDownloading; }
    QList<NodePointer> downloadJobs() const;
    void setNextJobScheduler(Scheduler scheduler) { m_scheduler = std::move(scheduler); }

    bool addJob(const NodePointer& node, const QString& outputDir);
    void startDownload();
    // Skips `node`: it leaves the list in state 5, its transfer stops.
    void stopDownload(const NodePointer& node);
    // Every job back to state 0, the list empty, the transfer stopped;
    // nothing is reported.
    void stopAllDownload();
    void downloadNext();

    // The requests' callbacks (main thread).
    Q_INVOKABLE void requestDidStart(NXHTTPRequest* request);
    Q_INVOKABLE void requestDidFinished(NXHTTPRequest* request);
    Q_INVOKABLE void requestDidFailed(NXHTTPRequest* request);
    Q_INVOKABLE void requestDidReceiveBytes(NXHTTPRequest* request, qint64 bytes);

signals:
    // A job ended in state 4 and left the queue; the reason is also in the log.
    void downloadFailed(DNYoutubeNode* node, const QString& reason);

private:
    struct Job {
        NodePointer node;
        QString outputDir;
    };

    void startJob();
    void startPart(int index);
    void appendAudioStreamDownloadJob();
    void appendStreamMergeJob();
    void mergeFinished(const StreamMergeResult& result);
    void launch(const std::shared_ptr<DNYoutubeStreamRequest>& request);
    void finishVideoWithoutAudio();
    // Moves a finished file of the current job onto its output name (or the
    // next free one); why it could not, or "".
    QString publish(const QString& finished);
    void finishPart();
    void finishJob();
    void failJob(const QString& reason);
    void postFinished(const QString& outputFile);
    void stopCurrentWork();
    // The current job's finished streams back to their partial files (or
    // left whole where they are, when a partial has taken that name).
    void putBackStreams();
    // A stream the stopped request finished before the manager heard of it
    // counts as finished.
    void keepUnheardStream();
    void endRequest();
    bool isCurrent(const NXHTTPRequest* request) const;
    DNYoutubeNode& currentNode() const { return *m_downloadJobs.first().node; }

    QList<Job> m_downloadJobs;
    QString m_outputDir;
    bool m_isDownloading = false;
    // Told apart so that a timer of an earlier run never starts a job.
    quint64 m_runSerial = 0;
    // The current job's work: its URL part, its request or its merge.
    bool m_jobActive = false;
    int m_partIndex = 0;
    std::shared_ptr<DNYoutubeStreamRequest> m_request;
    // Streams of the current job finished in Downloads, each with the partial
    // file it came from, until the output has been made of them; their locks
    // keep another run of the same page from taking them back meanwhile.
    struct FinishedStream {
        QString file;
        QString partial;
        std::shared_ptr<StreamFileLock> lock;
    };
    QList<FinishedStream> m_finishedStreams;
    std::unique_ptr<NXStreamMergeOperation> m_merge;
    quint64 m_mergeSerial = 0;
    Scheduler m_scheduler;
};

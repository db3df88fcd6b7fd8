#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <thread>

class ProcessRunner;

// What a merge came to: success, or why not.
struct StreamMergeResult {
    bool succeeded = false;
    QString reason;
};

// The argument vector of a merge as the encoder is given it: both streams
// copied unchanged into the destination, whose extension picks the container.
QStringList AVEncoderAVSynthetizeArguments(
    const QString& videoStream, const QString& audioStream, const QString& destination);

// Joins a video stream and an audio stream into `destination` with ffmpeg
// run by `runner` (which another thread may stop). Blocking; an ffmpeg that
// neither writes nor reads for the engines' stall limit is ended, with what
// ffmpeg started. Success needs ffmpeg's exit status 0 and a non-empty
// destination; on failure a destination it left is removed and both streams stay.
StreamMergeResult AVEncoderAVSynthetize(const QString& videoStream, const QString& audioStream,
    const QString& destination, ProcessRunner& runner);

// A merge on a worker thread of its own: ffmpeg runs apart from the
// conversion engine, so a merge never waits for a conversion. The stream
// files stay: the owner deletes them once the output is where it belongs. On
// success "Youtube_StreamMergeDoneNotification" is posted with "dest" before
// the completion. `completion` is called on the thread of `context` (the main
// thread); the context must outlive the operation, whose destruction stops
// ffmpeg and waits for the worker (a completion still queued is then dropped
// with the context's events, or ignored by its owner).
class NXStreamMergeOperation {
public:
    static inline const QString kMergeDoneNotification
        = QStringLiteral("Youtube_StreamMergeDoneNotification");
    using Completion = std::function<void(const StreamMergeResult&)>;

    NXStreamMergeOperation();
    ~NXStreamMergeOperation();
    NXStreamMergeOperation(const NXStreamMergeOperation&) = delete;
    NXStreamMergeOperation& operator=(const NXStreamMergeOperation&) = delete;

    QString videoStreamFile;
    QString audioStreamFile;
    QString destFile;

    void start(QObject* context, Completion completion);
    // Any thread: ffmpeg is asked to stop; the completion reports a failure.
    void cancel();

private:
    StreamMergeResult run();

    std::unique_ptr<ProcessRunner> m_runner;
    std::thread m_worker;
};

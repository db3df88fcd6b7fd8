#pragma once

#include "platform/ProcessRunner.h"

#include <QList>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <atomic>
#include <chrono>
#include <mutex>

// The program's side of one slideshow render: the job for the slideshow
// engine (src/tools/slideshow-engine), the engine run, and what its standard
// output says about progress and the finished movie. The converter fills the
// job, blocks in beginEncoding() on its worker thread and reads
// finiallyVideoPath() afterwards; the progress sheet reads the counts and the
// photo, and may call stopEncoding(), from the main thread meanwhile.
class NXImageEngine {
public:
    NXImageEngine();
    NXImageEngine(const NXImageEngine&) = delete;
    NXImageEngine& operator=(const NXImageEngine&) = delete;

    // The job, in the order the converter gives it. The first call makes the
    // job and with it the movie's name, which carries the time of that call.
    void setShowDuration(double seconds);
    void setEffectList(const QList<qint64>& transitions);
    void setDataSource(const QStringList& photos);
    void setAudioList(const QStringList& music);
    void setVideoFrameResolution(const QSizeF& size);
    void setFrameRate(double framesPerSecond);
    // Where the movie goes in place of "Quillon <date>.mov".
    void setTargetPath(const QString& path);

    // The job as it will be written; made on first use with the shading and
    // blank pictures and a target "Quillon <date>.mov" in the output
    // folder that names no existing file.
    QVariantMap storage();
    // The engine executable among our helper tools.
    static QString execute_bin_path();

    // Runs the engine on the job and returns when it has ended, whatever
    // ended it, with no partial movie of the engine's left behind.
    void beginEncoding();
    // From any thread: ends the render; a render not yet started never starts.
    void stopEncoding();

    quint64 totalFrames() const { return m_total; }
    quint64 currentFrame() const { return m_current; }
    // The photo the engine reported last; a null QVariant before its first report.
    QVariant currentImagePath() const;
    // The finished movie; empty when the render failed or was stopped.
    QString finiallyVideoPath() const;
    // Why the last render made no movie, in the engine's words when it gave some.
    QString failureReason() const;

    // One or more lines of the engine's standard output.
    void handleOutput(const QString& text);

private:
    void setJobValue(const QString& key, const QVariant& value);
    void handleMessage(const QString& message);
    void handleResult(const QString& code, const QString& path);
    QString writeJob();
    QString endingOf(const ProcessRunner::Result& run, std::chrono::milliseconds limit);
    void keepMovieOnlyIfComplete(const ProcessRunner::Result& run);
    void removeEnginePartials();

    ProcessRunner m_runner;
    std::atomic<quint64> m_total { 0 };
    std::atomic<quint64> m_current { 0 };
    std::atomic<quint64> m_photosRead { 0 }; // by the running engine, before its frames
    std::atomic<qint64> m_written { 0 }; // the movie's size, while ffmpeg works on a hold
    std::atomic<qint64> m_ffmpegWaited { -1 }; // ms the engine was stopped waiting on ffmpeg
    std::atomic_bool m_stopped { false };
    mutable std::mutex m_mutex; // guards the fields below: the sheet reads them while we run
    QVariantMap m_storage;
    QVariant m_currentImagePath;
    QString m_moviePath;
    QString m_lastComplaint; // the engine's last line on its standard error
};

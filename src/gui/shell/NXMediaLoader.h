#pragma once

#include "model/NXBasicMediaNode.h"

#include <QDialog>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class DNProgressIndicator;
class QLabel;

// The loader sheet: probes the chosen files on a loader thread and hands each
// finished node to the main thread, pausing between files so the list fills
// at a pace a person can follow. "NXMediaFileLoadFinished o.o" ends a batch.
class NXMediaLoader : public QDialog {
    Q_OBJECT
public:
    static inline const QString kLoadFinished = QStringLiteral("NXMediaFileLoadFinished o.o");
    static inline const QString kLoadTypeKey = QStringLiteral("keyMediaLoadType_");

    // The extensions of the video files the list takes (those the desktop
    // entry declares) and of DVD images, for the open panel's first filter.
    static QStringList mediaFileTypes();

    explicit NXMediaLoader(QWidget* parent = nullptr);
    ~NXMediaLoader() override;

    void setPause(std::chrono::milliseconds pause) { m_pause = pause; }
    // Opens the sheet and starts probing; one batch at a time.
    bool load(const QStringList& paths);
    bool isLoading() const { return m_thread.joinable(); }

signals:
    // On the main thread, one per file that could be probed.
    void nodeLoaded(const NXBasicMediaNode::Ptr& node);
    // On the main thread, after the batch, with a line for each file that
    // could not be loaded: its path and why, in words.
    void batchFinished(const QStringList& failures);

protected:
    void reject() override;

private:
    void run(const QStringList& paths);
    bool waitOrCancel();
    void finish(const QStringList& failures);
    void cancelAndJoin();

    std::chrono::milliseconds m_pause { 500 };
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_cancelled = false;
    QLabel* m_label = nullptr;
    DNProgressIndicator* m_busy = nullptr;
};

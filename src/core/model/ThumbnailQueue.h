#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class DNFileNode;

// The list's thumbnail captures, one at a time on a thread of their own, so
// that adding files never waits for pictures and a long list does not start a
// decoder per file at once. A finished picture is given to its node on the
// main thread; a node that has left the list by then is skipped.
class ThumbnailQueue {
public:
    // The size a row shows; pictures are scaled to fit it.
    static constexpr QSize kThumbnailSize { 80, 45 };

    static ThumbnailQueue& shared();

    ThumbnailQueue() = default;
    ~ThumbnailQueue();
    ThumbnailQueue(const ThumbnailQueue&) = delete;
    ThumbnailQueue& operator=(const ThumbnailQueue&) = delete;

    // Queues the capture of the node's picture.
    void capture(const std::shared_ptr<DNFileNode>& node);
    // Drops every waiting capture; the one under way is not delivered.
    void cancelAll();
    // Captures queued or under way.
    int pendingCount() const;

private:
    struct Job {
        std::weak_ptr<DNFileNode> node;
        QString path;
    };

    void run();
    void deliver(const Job& job, const QImage& picture, unsigned generation);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    int m_running = 0;
    bool m_quit = false;
    std::atomic<unsigned> m_generation { 0 };
    std::thread m_thread;
};

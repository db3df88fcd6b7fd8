#include "model/ThumbnailQueue.h"

#include "model/DNFileNode.h"
#include "platform/DNLogger.h"
#include "services/ThumbnailCapture.h"

#include <QCoreApplication>

ThumbnailQueue& ThumbnailQueue::shared()
{
    // The worker may still write a log line while the queue is destroyed at
    // exit: the log, made first, is destroyed after it.
    DNLogger::shareRoughLog();
    static ThumbnailQueue queue;
    return queue;
}

ThumbnailQueue::~ThumbnailQueue()
{
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void ThumbnailQueue::capture(const std::shared_ptr<DNFileNode>& node)
{
    if (!node)
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back({ node, node->path() });
        // Started on first use: most test programs and tools never need it.
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
    }
    m_wake.notify_one();
}

void ThumbnailQueue::cancelAll()
{
    const std::lock_guard lock(m_mutex);
    m_jobs.clear();
    ++m_generation;
}

int ThumbnailQueue::pendingCount() const
{
    const std::lock_guard lock(m_mutex);
    return int(m_jobs.size()) + m_running;
}

void ThumbnailQueue::run()
{
    std::unique_lock lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_quit || !m_jobs.empty(); });
        if (m_quit)
            return;
        const Job job = m_jobs.front();
        m_jobs.pop_front();
        m_running = 1;
        const unsigned generation = m_generation;
        lock.unlock();
        QString error;
        // A node removed from the list while it waited needs no picture.
        const QImage picture
            = job.node.expired() ? QImage() : captureThumbnail(job.path, kThumbnailSize, &error);
        if (!error.isEmpty())
            DNLog(QStringLiteral("No thumbnail for %1: %2").arg(job.path, error));
        deliver(job, picture, generation);
        lock.lock();
        m_running = 0;
    }
}

void ThumbnailQueue::deliver(const Job& job, const QImage& picture, unsigned generation)
{
    QCoreApplication* const application = QCoreApplication::instance();
    if (picture.isNull() || !application || generation != m_generation)
        return;
    // The list reads a node's picture on the main thread, so it is set there.
    QMetaObject::invokeMethod(
        application,
        [this, node = job.node, picture, generation] {
            if (generation != m_generation)
                return;
            if (const auto alive = node.lock())
                alive->setThumbnail(picture);
        },
        Qt::QueuedConnection);
}

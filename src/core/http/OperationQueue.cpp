#include "http/OperationQueue.h"

#include <algorithm>
#include <condition_variable>

// --- operation ---------------------------------------------------------------

void Operation::start()
{
    if (isCancelled()) {
        setFinished(true);
        return;
    }
    setExecuting(true);
    main();
    setExecuting(false);
    setFinished(true);
}

void Operation::cancel()
{
    if (m_cancelled.exchange(true))
        return;
    notify(State::Cancelled);
}

int Operation::addObserver(Observer observer)
{
    const std::lock_guard lock(m_observersMutex);
    m_observers.emplace_back(++m_nextObserver, std::move(observer));
    return m_nextObserver;
}

void Operation::removeObserver(int id)
{
    const std::lock_guard lock(m_observersMutex);
    std::erase_if(m_observers, [id](const auto& entry) { return entry.first == id; });
}

void Operation::setExecuting(bool executing)
{
    if (m_executing.exchange(executing) != executing)
        notify(State::Executing);
}

void Operation::setFinished(bool finished)
{
    if (m_finished.exchange(finished) != finished)
        notify(State::Finished);
}

void Operation::notify(State state)
{
    std::vector<Observer> observers;
    {
        const std::lock_guard lock(m_observersMutex);
        for (const auto& entry : m_observers)
            observers.push_back(entry.second);
    }
    for (const Observer& observer : observers)
        observer(*this, state);
}

// --- queue -------------------------------------------------------------------

struct OperationQueue::State : std::enable_shared_from_this<OperationQueue::State> {
    mutable std::mutex mutex;
    std::condition_variable changed;
    int maxConcurrent = 1;
    QThreadPool* threads = nullptr; // null once the queue is going away
    std::vector<std::shared_ptr<Operation>> waiting;
    std::vector<std::shared_ptr<Operation>> running;

    // Picks the operations that may start now; they are started by the
    // caller outside the lock.
    std::vector<std::shared_ptr<Operation>> takeStartableLocked()
    {
        std::vector<std::shared_ptr<Operation>> startable;
        while (threads && !waiting.empty() && int(running.size()) < maxConcurrent) {
            const auto next = std::max_element(
                waiting.begin(), waiting.end(), [](const auto& a, const auto& b) {
                    return a->queuePriority() < b->queuePriority();
                });
            running.push_back(*next);
            startable.push_back(*next);
            waiting.erase(next);
        }
        return startable;
    }

    void launch(const std::vector<std::shared_ptr<Operation>>& startable)
    {
        const std::lock_guard lock(mutex);
        for (const auto& operation : startable) {
            if (threads)
                threads->start([operation] { operation->start(); });
        }
    }

    void finished(Operation& operation)
    {
        std::vector<std::shared_ptr<Operation>> startable;
        {
            const std::lock_guard lock(mutex);
            std::erase_if(running, [&](const auto& entry) { return entry.get() == &operation; });
            startable = takeStartableLocked();
        }
        changed.notify_all();
        launch(startable);
    }
};

OperationQueue::OperationQueue(int maxConcurrentOperationCount)
    : m_state(std::make_shared<State>())
{
    m_state->maxConcurrent = std::max(1, maxConcurrentOperationCount);
    m_state->threads = &m_threads;
    m_threads.setMaxThreadCount(256);
}

OperationQueue::~OperationQueue()
{
    cancelAllOperations();
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->threads = nullptr;
        m_state->waiting.clear();
    }
    m_threads.waitForDone();
}

void OperationQueue::addOperation(std::shared_ptr<Operation> operation)
{
    std::weak_ptr<State> weak = m_state;
    operation->addObserver([weak](Operation& changed, Operation::State state) {
        if (state != Operation::State::Finished || !changed.isFinished())
            return;
        if (auto queue = weak.lock())
            queue->finished(changed);
    });
    std::vector<std::shared_ptr<Operation>> startable;
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->waiting.push_back(std::move(operation));
        startable = m_state->takeStartableLocked();
    }
    m_state->launch(startable);
}

int OperationQueue::maxConcurrentOperationCount() const
{
    const std::lock_guard lock(m_state->mutex);
    return m_state->maxConcurrent;
}

void OperationQueue::setMaxConcurrentOperationCount(int count)
{
    std::vector<std::shared_ptr<Operation>> startable;
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->maxConcurrent = std::max(1, count);
        startable = m_state->takeStartableLocked();
    }
    m_state->launch(startable);
}

int OperationQueue::operationCount() const
{
    const std::lock_guard lock(m_state->mutex);
    return int(m_state->waiting.size() + m_state->running.size());
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const
{
    const std::lock_guard lock(m_state->mutex);
    std::vector<std::shared_ptr<Operation>> all = m_state->running;
    all.insert(all.end(), m_state->waiting.begin(), m_state->waiting.end());
    return all;
}

void OperationQueue::cancelAllOperations()
{
    for (const auto& operation : operations())
        operation->cancel();
}

bool OperationQueue::waitUntilAllOperationsAreFinished(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_for(
        lock, timeout, [&] { return m_state->waiting.empty() && m_state->running.empty(); });
}

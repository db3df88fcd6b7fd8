#pragma once

#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// A unit of work an OperationQueue runs. A plain operation overrides main(),
// which runs on one of the queue's worker threads. An operation that works
// asynchronously overrides start() instead: it returns at once, and the
// operation ends whenever it calls setFinished(true) (from any thread).
// Cancelling only sets a flag (and tells observers); the work itself decides
// what a cancel means. Every function is safe to call from any thread.
class Operation : public std::enable_shared_from_this<Operation> {
public:
    enum class Priority { VeryLow = -8, Low = -4, Normal = 0, High = 4, VeryHigh = 8 };
    enum class State { Executing, Finished, Cancelled };
    // Told after a state changed, on the thread that changed it.
    using Observer = std::function<void(Operation&, State)>;

    Operation() = default;
    virtual ~Operation() = default;
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    // Default: a cancelled operation finishes without running main();
    // otherwise it is executing while main() runs, then finished.
    virtual void start();
    virtual void main() { }
    virtual void cancel();

    bool isCancelled() const { return m_cancelled; }
    bool isExecuting() const { return m_executing; }
    bool isFinished() const { return m_finished; }

    Priority queuePriority() const { return m_priority; }
    void setQueuePriority(Priority priority) { m_priority = priority; }

    int addObserver(Observer observer);
    void removeObserver(int id);

protected:
    void setExecuting(bool executing);
    void setFinished(bool finished);
    void notify(State state);

private:
    std::atomic<bool> m_cancelled { false };
    std::atomic<bool> m_executing { false };
    std::atomic<bool> m_finished { false };
    std::atomic<Priority> m_priority { Priority::Normal };
    std::mutex m_observersMutex;
    std::vector<std::pair<int, Observer>> m_observers;
    int m_nextObserver = 0;
};

// Runs operations on worker threads, at most maxConcurrentOperationCount at a
// time, higher priority first and otherwise in the order they were added.
// Raising the limit starts waiting operations at once. Destroying the queue
// cancels its operations, drops those that never started and waits for
// running main() bodies. Every function is safe to call from any thread.
class OperationQueue {
public:
    explicit OperationQueue(int maxConcurrentOperationCount);
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    void addOperation(std::shared_ptr<Operation> operation);
    int maxConcurrentOperationCount() const;
    void setMaxConcurrentOperationCount(int count);
    // Waiting and running operations.
    int operationCount() const;
    std::vector<std::shared_ptr<Operation>> operations() const;
    void cancelAllOperations();
    // True when every operation finished before the time ran out.
    bool waitUntilAllOperationsAreFinished(std::chrono::milliseconds timeout);

private:
    struct State;
    std::shared_ptr<State> m_state;
    QThreadPool m_threads;
};

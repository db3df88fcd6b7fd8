#include "http/OperationQueue.h"
#include "http/NetworkThread.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace {

// Operations that wait for the test to let them go, recording what ran.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    int open = 0;
    int running = 0;
    int mostRunning = 0;
    std::vector<int> order;

    void pass(int tag)
    {
        std::unique_lock lock(mutex);
        order.push_back(tag);
        mostRunning = std::max(mostRunning, ++running);
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return open > 0; });
        --open;
        --running;
    }
    void release(int count)
    {
        const std::lock_guard lock(mutex);
        open += count;
        changed.notify_all();
    }
    bool waitForStarted(size_t count)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(
            lock, std::chrono::seconds(10), [&] { return order.size() >= count; });
    }
};

class GatedOperation : public Operation {
public:
    GatedOperation(Gate& gate, int tag)
        : m_gate(gate)
        , m_tag(tag)
    { }
    void main() override { m_gate.pass(m_tag); }

private:
    Gate& m_gate;
    int m_tag;
};

// Finishes later, from the network thread, as a transfer does.
class AsyncOperation : public Operation {
public:
    void start() override
    {
        setExecuting(true);
        NetworkThread::post([self = shared_from_this(), this] {
            ranOnNetworkThread = NetworkThread::isCurrent();
            setExecuting(false);
            setFinished(true);
        });
    }
    std::atomic<bool> ranOnNetworkThread { false };
};

TEST(OperationQueue, RunsAtMostTheLimitAndRaisingItStartsMore)
{
    for (const int limit : { 1, 2, 4 }) {
        SCOPED_TRACE(limit);
        Gate gate;
        OperationQueue queue(limit);
        for (int tag = 0; tag < 6; ++tag)
            queue.addOperation(std::make_shared<GatedOperation>(gate, tag));
        ASSERT_TRUE(gate.waitForStarted(size_t(limit)));
        EXPECT_EQ(queue.operationCount(), 6);
        queue.setMaxConcurrentOperationCount(limit + 1);
        ASSERT_TRUE(gate.waitForStarted(size_t(limit + 1)));
        gate.release(6);
        ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(std::chrono::seconds(10)));
        EXPECT_EQ(gate.mostRunning, limit + 1);
        EXPECT_EQ(gate.order.size(), 6u);
        EXPECT_EQ(queue.operationCount(), 0);
    }
}

TEST(OperationQueue, HigherPriorityFirstThenInOrder)
{
    Gate gate;
    OperationQueue queue(1);
    queue.addOperation(std::make_shared<GatedOperation>(gate, 0));
    ASSERT_TRUE(gate.waitForStarted(1));
    const std::pair<int, Operation::Priority> waiting[] = { { 1, Operation::Priority::Low },
        { 2, Operation::Priority::Normal }, { 3, Operation::Priority::High },
        { 4, Operation::Priority::Normal }, { 5, Operation::Priority::VeryHigh } };
    for (const auto& [tag, priority] : waiting) {
        auto operation = std::make_shared<GatedOperation>(gate, tag);
        operation->setQueuePriority(priority);
        queue.addOperation(operation);
    }
    gate.release(6);
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(std::chrono::seconds(10)));
    EXPECT_EQ(gate.order, (std::vector<int> { 0, 5, 3, 2, 4, 1 }));
}

TEST(OperationQueue, CancelledOperationsFinishWithoutRunning)
{
    Gate gate;
    OperationQueue queue(1);
    auto first = std::make_shared<GatedOperation>(gate, 1);
    auto second = std::make_shared<GatedOperation>(gate, 2);
    std::vector<Operation::State> seen;
    std::mutex seenMutex;
    second->addObserver([&](Operation&, Operation::State state) {
        const std::lock_guard lock(seenMutex);
        seen.push_back(state);
    });
    queue.addOperation(first);
    queue.addOperation(second);
    ASSERT_TRUE(gate.waitForStarted(1));
    queue.cancelAllOperations();
    gate.release(1);
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(std::chrono::seconds(10)));
    EXPECT_EQ(gate.order, std::vector<int> { 1 });
    EXPECT_TRUE(first->isCancelled() && first->isFinished());
    EXPECT_TRUE(second->isCancelled() && second->isFinished());
    EXPECT_EQ(seen,
        (std::vector<Operation::State> {
            Operation::State::Cancelled, Operation::State::Finished }));
}

TEST(OperationQueue, AsynchronousOperationsEndWhenTheySayTheyFinished)
{
    OperationQueue queue(2);
    std::vector<std::shared_ptr<AsyncOperation>> operations;
    for (int i = 0; i < 5; ++i) {
        operations.push_back(std::make_shared<AsyncOperation>());
        queue.addOperation(operations.back());
    }
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(std::chrono::seconds(10)));
    for (const auto& operation : operations)
        EXPECT_TRUE(
            operation->ranOnNetworkThread && operation->isFinished() && !operation->isExecuting());
}

TEST(ThreadDispatch, MainThreadRunsAtOnceOnlyWhenAlreadyThere)
{
    bool ranInline = false;
    MainThread::run([&] { ranInline = true; });
    EXPECT_TRUE(ranInline);

    std::atomic<QThread*> ranOn { nullptr };
    NetworkThread::post([&] { MainThread::run([&] { ranOn = QThread::currentThread(); }); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return ranOn.load() != nullptr; }, 10000));
    EXPECT_EQ(ranOn.load(), QThread::currentThread());

    bool posted = false;
    MainThread::post([&] { posted = true; });
    EXPECT_FALSE(posted);
    EXPECT_TRUE(QTest::qWaitFor([&] { return posted; }, 10000));

    int waitedFor = 0;
    NetworkThread::postAndWait([&] { waitedFor = NetworkThread::isCurrent() ? 1 : -1; });
    EXPECT_EQ(waitedFor, 1);
    EXPECT_FALSE(NetworkThread::isCurrent());
    EXPECT_EQ(NetworkThread::context()->thread() == QThread::currentThread(), false);
}

} // namespace

#include "platform/NXAction.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

class Target : public QObject {
public:
    void take(const QString& value)
    {
        values << value;
        threads << QThread::currentThread();
    }
    void ping() { take("ping"); }

    QStringList values;
    QList<QThread*> threads;
};

QThread* mainThread()
{
    return QCoreApplication::instance()->thread();
}

} // namespace

TEST(NXAction, PerformsTargetFunctionAndArgument)
{
    Target target;
    const NXAction withArgument(&target, &Target::take, QString("node 1"));
    const NXAction withoutArgument(&target, &Target::ping);
    EXPECT_TRUE(withArgument.perform());
    EXPECT_TRUE(withoutArgument.perform());
    EXPECT_EQ(target.values, QStringList({ "node 1", "ping" }));
    EXPECT_EQ(withArgument.target(), &target);

    EXPECT_FALSE(NXAction().perform());
    auto gone = std::make_unique<Target>();
    const NXAction orphan(gone.get(), &Target::ping);
    gone.reset();
    EXPECT_FALSE(orphan.isValid());
    EXPECT_FALSE(orphan.perform());
}

TEST(NXAction, DelayedPerformWaitsAndSkipsADeadTarget)
{
    Target kept;
    auto dying = std::make_unique<QObject>();
    QStringList calledAfterDeath;
    QElapsedTimer clock;
    clock.start();
    NXAction(dying.get(), [&] { calledAfterDeath << "never"; }).performAfterDelay(10ms);
    NXAction(&kept, &Target::take, QString("late")).performAfterDelay(60ms);
    QCoreApplication::processEvents();
    EXPECT_TRUE(kept.values.isEmpty());
    dying.reset();

    // Once the later call has come, the earlier one would have come too.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !kept.values.isEmpty(); }, 5000));
    EXPECT_GE(clock.elapsed(), 55);
    EXPECT_EQ(kept.values, QStringList { "late" });
    EXPECT_TRUE(calledAfterDeath.isEmpty());
    EXPECT_EQ(kept.threads.front(), mainThread());
}

TEST(NXAction, CallsFromAWorkerThreadRunOnTheTargetsThread)
{
    Target target;
    bool doneBeforeReturn = false;
    // The worker must not read the target's list, which the main thread writes.
    std::atomic_bool waitedCallMade = false;
    std::thread worker([&] {
        NXAction(&target, &Target::take, QString("delayed")).performAfterDelay(20ms);
        NXAction(&target, [&] {
            target.take("waited");
            waitedCallMade = true;
        }).performOnTargetThread(true);
        doneBeforeReturn = waitedCallMade;
        NXAction([&target] { target.take("no target"); }).performOnTargetThread();
    });
    // The worker blocks until the main thread has made the waited call.
    ASSERT_TRUE(QTest::qWaitFor([&] { return target.values.size() == 3; }, 5000));
    worker.join();
    EXPECT_TRUE(doneBeforeReturn);
    target.values.sort();
    EXPECT_EQ(target.values, QStringList({ "delayed", "no target", "waited" }));
    for (QThread* thread : target.threads)
        EXPECT_EQ(thread, mainThread());
}

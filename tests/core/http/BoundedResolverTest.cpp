#include "http/BoundedResolver.h"

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

using namespace std::chrono_literals;

namespace {

// A lookup that hangs until the gate opens, like a resolver whose server
// never answers.
struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    std::atomic<int> entered { 0 };

    BoundedResolver::Lookup stuckLookup(std::shared_ptr<Gate> self)
    {
        return [self](const QByteArray&) {
            ++self->entered;
            std::unique_lock lock(self->mutex);
            self->opened.wait(lock, [&] { return self->open; });
            return QStringLiteral("10.0.0.1");
        };
    }
    void release()
    {
        {
            const std::lock_guard lock(mutex);
            open = true;
        }
        opened.notify_all();
    }
};

QString quickLookup(const QByteArray&)
{
    return QStringLiteral("192.0.2.7");
}

} // namespace

TEST(BoundedResolver, LiteralsAndAnswersComeBack)
{
    const auto mustNotAsk = [](const QByteArray&) -> QString {
        ADD_FAILURE() << "an address literal needs no lookup";
        return {};
    };
    EXPECT_EQ(BoundedResolver::resolveIpv4(QStringLiteral("10.1.2.3"), 1s, mustNotAsk),
        QStringLiteral("10.1.2.3"));
    EXPECT_EQ(BoundedResolver::resolveIpv4(QStringLiteral("::1"), 1s, mustNotAsk), QString());
    EXPECT_EQ(BoundedResolver::resolveIpv4(QStringLiteral("a.example"), 5s, quickLookup),
        QStringLiteral("192.0.2.7"));
}

TEST(BoundedResolver, StuckLookupsAreAbandonedAndOnlyAFewAtATime)
{
    auto gate = std::make_shared<Gate>();
    QElapsedTimer clock;
    clock.start();
    int refused = 0;
    for (int i = 0; i < 6; ++i) {
        const int before = gate->entered;
        const QString address = BoundedResolver::resolveIpv4(
            QStringLiteral("stuck.example"), 50ms, gate->stuckLookup(gate));
        EXPECT_TRUE(address.isEmpty());
        // A lookup that was let through has entered by now or very soon.
        static_cast<void>(QTest::qWaitFor([&] { return gate->entered > before; }, 1000));
        refused += gate->entered == before ? 1 : 0;
    }
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_LE(gate->entered, 4);
    EXPECT_GE(refused, 2);

    // Once the stuck lookups end by themselves, lookups run again.
    gate->release();
    EXPECT_TRUE(QTest::qWaitFor(
        [] {
            return BoundedResolver::resolveIpv4(QStringLiteral("b.example"), 1s, quickLookup)
                == QStringLiteral("192.0.2.7");
        },
        5000));
}

#include "platform/StallClock.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace std::chrono_literals;

struct Look {
    std::chrono::milliseconds at; // since the start
    QByteArray mark;
    quint64 bytesRead;
    bool stalled;
};

} // namespace

// Readings over a clock of the test's own, with a limit of one second; each
// case starts from the mark "0" and nothing read.
TEST(StallClock, EndsAChildOnlyWhenNeitherItsMarkNorItsReadsMovedForTheLimit)
{
    const struct {
        const char* what;
        std::vector<Look> looks;
    } cases[] = {
        { "nothing moves",
            { { 500ms, "0", 0, false }, { 999ms, "0", 0, false }, { 1000ms, "0", 0, true } } },
        { "the mark moves",
            { { 600ms, "1", 0, false }, { 1500ms, "1", 0, false }, { 1600ms, "1", 0, true } } },
        { "the mark moves back", { { 900ms, "1", 0, false }, { 1800ms, "0", 0, false } } },
        // A decoder on its way to a far cut: it reports nothing, but reads.
        { "only reads",
            { { 900ms, "0", 4096, false }, { 1800ms, "0", 8192, false },
                { 2700ms, "0", 8193, false }, { 3700ms, "0", 8193, true } } },
        // Looks delayed on a busy machine: a move seen late is still a move.
        { "a late look sees a move", { { 5000ms, "0", 1, false }, { 5999ms, "0", 1, false } } },
        { "a late look sees none", { { 5000ms, "0", 0, true } } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const StallClock::Clock::time_point start {};
        StallClock clock(1s, { "0", 0 }, start);
        EXPECT_EQ(clock.nextLook(), start + 125ms);
        for (const Look& look : c.looks) {
            SCOPED_TRACE(look.at.count());
            EXPECT_EQ(clock.stalled({ look.mark, look.bytesRead }, start + look.at), look.stalled);
            EXPECT_EQ(clock.nextLook(), start + look.at + 125ms);
        }
    }
}

TEST(StallClock, LooksAFewTimesWithinTheLimitAndNeverStallsWithoutOne)
{
    const StallClock::Clock::time_point start {};
    EXPECT_EQ(StallClock(1ms, {}, start).nextLook(), start + 10ms);
    EXPECT_EQ(StallClock(2h, {}, start).nextLook(), start + 1s);
    StallClock unlimited(0ms, {}, start);
    EXPECT_FALSE(unlimited.stalled({}, start + 24h));
}

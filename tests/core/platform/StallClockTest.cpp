#include "platform/StallClock.h"

#include <gtest/gtest.h>

#include <optional>
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
        StallClock clock(1s, { "0", 0, 0, std::nullopt }, start);
        EXPECT_EQ(clock.nextLook(), start + 125ms);
        for (const Look& look : c.looks) {
            SCOPED_TRACE(look.at.count());
            EXPECT_EQ(clock.stalled({ look.mark, look.bytesRead, look.bytesRead, std::nullopt },
                          start + look.at),
                look.stalled);
            EXPECT_EQ(clock.nextLook(), start + look.at + 125ms);
        }
    }
}

namespace {

constexpr quint64 kMiB = quint64(1) << 20;

struct ReadLook {
    std::chrono::milliseconds at;
    QByteArray mark;
    quint64 mebibytes; // read through calls since the start, as much again from the disk
    quint64 inputMebibytes;
    bool stalled;
};

} // namespace

// Reads are moves only while they could be the child's work: since its mark
// last moved, not beyond twice what its inputs hold and a margin (of 1 MiB
// or more). A limit of one second; each look gives the MiB read through calls
// so far and what the inputs seen so far hold.
TEST(StallClock, ReadsCountOnlyWhileTheyCouldBeTheWork)
{
    const struct {
        const char* what;
        std::vector<ReadLook> looks;
    } cases[] = {
        { "re-reads its input for ever",
            { { 900ms, "0", 4, 4, false }, { 1800ms, "0", 8, 4, false },
                { 2700ms, "0", 12, 4, false }, { 3600ms, "0", 16, 4, true } } },
        // A decode up to a far cut, cold from the disk: every byte counts twice.
        { "reads its input once, slowly",
            { { 900ms, "0", 1, 4, false }, { 1800ms, "0", 2, 4, false },
                { 2700ms, "0", 3, 4, false }, { 3600ms, "0", 4, 4, false },
                { 4500ms, "0", 4, 4, false }, { 4600ms, "0", 4, 4, true } } },
        { "progress renews the allowance",
            { { 900ms, "0", 8, 4, false }, { 1800ms, "1", 16, 4, false },
                { 2700ms, "1", 24, 4, false }, { 3600ms, "1", 32, 4, false },
                { 3700ms, "1", 40, 4, true } } },
        { "an input opened later raises the bound",
            { { 900ms, "0", 0, 0, false }, { 1800ms, "0", 6, 4, false },
                { 2700ms, "0", 14, 8, false }, { 3600ms, "0", 14, 8, false },
                { 3700ms, "0", 14, 8, true } } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const StallClock::Clock::time_point start {};
        StallClock clock(1s, { "0", 0, 0, 0 }, start);
        for (const ReadLook& look : c.looks) {
            SCOPED_TRACE(look.at.count());
            const StallClock::Reading reading { look.mark, 2 * look.mebibytes * kMiB,
                look.mebibytes * kMiB, look.inputMebibytes * kMiB };
            EXPECT_EQ(clock.stalled(reading, start + look.at), look.stalled);
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

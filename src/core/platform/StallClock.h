#pragma once

#include <QByteArray>

#include <chrono>
#include <optional>

// Decides from readings taken now and then whether a child has stopped
// moving. A child moves when it reports progress or its output grows (both in
// its mark) or when it, or a program it started, reads, as long as those
// reads could be its work: since the mark last moved, not more than twice
// what the files it reads hold, and a margin for what an engine reads besides
// them as it starts (its libraries' headers, its settings). A decode up to a
// far cut reads its input once and shows nothing else meanwhile; a child that
// reads its input again and again, with nothing to show, is stuck. Processor
// time is no sign of work: a spinning loop uses it all, and a working engine
// on a loaded machine or under a small quota gets little. The time of each
// reading is given, so that the rule is tested over a clock of the test's own.
class StallClock {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr quint64 kReadMargin = quint64(1) << 20;

    struct Reading {
        QByteArray mark; // where the child says it is; any change is a move
        quint64 bytesRead = 0; // what its process tree has read so far
        quint64 bytesReadByCalls = 0; // of those, what came through read calls
        // What the files it reads hold; none where that cannot be told, and
        // all its reads then count.
        std::optional<quint64> inputBytes;
    };

    // `first` is the reading at `start`. A zero limit never stalls.
    StallClock(std::chrono::milliseconds limit, Reading first, Clock::time_point start);

    // When the next reading is due: a few times within the limit, so that a
    // stall is seen soon after the limit has passed.
    Clock::time_point nextLook() const { return m_nextLook; }

    // Notes the reading taken at `now`; true once neither the mark nor the
    // reads that could be work have moved for the limit.
    bool stalled(Reading reading, Clock::time_point now);

private:
    bool readsCouldBeWork(const Reading& reading) const;

    const std::chrono::milliseconds m_limit;
    Reading m_last;
    quint64 m_readByCallsAtMark = 0; // bytesReadByCalls when the mark last moved
    Clock::time_point m_lastMove;
    Clock::time_point m_nextLook;
};

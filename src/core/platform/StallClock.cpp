#include "platform/StallClock.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace {

std::chrono::milliseconds lookInterval(std::chrono::milliseconds limit)
{
    using std::chrono::milliseconds;
    return std::clamp(limit / 8, milliseconds(10), milliseconds(1000));
}

} // namespace

StallClock::StallClock(std::chrono::milliseconds limit, Reading first, Clock::time_point start)
    : m_limit(limit)
    , m_last(std::move(first))
    , m_readByCallsAtMark(m_last.bytesReadByCalls)
    , m_lastMove(start)
    , m_nextLook(start + lookInterval(limit))
{ }

bool StallClock::stalled(Reading reading, Clock::time_point now)
{
    m_nextLook = now + lookInterval(m_limit);
    const bool markMoved = reading.mark != m_last.mark;
    if (markMoved)
        m_readByCallsAtMark = reading.bytesReadByCalls;
    if (markMoved || (reading.bytesRead != m_last.bytesRead && readsCouldBeWork(reading))) {
        m_last = std::move(reading);
        m_lastMove = now;
        return false;
    }
    return m_limit.count() > 0 && now - m_lastMove >= m_limit;
}

bool StallClock::readsCouldBeWork(const Reading& reading) const
{
    if (!reading.inputBytes)
        return true;
    const quint64 most = std::numeric_limits<quint64>::max();
    const quint64 inputs = std::min(*reading.inputBytes, (most - kReadMargin) / 2);
    const quint64 since = reading.bytesReadByCalls > m_readByCallsAtMark
        ? reading.bytesReadByCalls - m_readByCallsAtMark
        : 0;
    return since <= 2 * inputs + kReadMargin;
}

#include "platform/StallClock.h"

#include <algorithm>
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
    , m_lastMove(start)
    , m_nextLook(start + lookInterval(limit))
{ }

bool StallClock::stalled(Reading reading, Clock::time_point now)
{
    m_nextLook = now + lookInterval(m_limit);
    if (reading.mark != m_last.mark || reading.bytesRead != m_last.bytesRead) {
        m_last = std::move(reading);
        m_lastMove = now;
        return false;
    }
    return m_limit.count() > 0 && now - m_lastMove >= m_limit;
}

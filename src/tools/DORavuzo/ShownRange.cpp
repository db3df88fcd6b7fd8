#include "ShownRange.h"

#include <cmath>

namespace {

// The status line's time is rounded to a tenth.
constexpr double kReportedSlack = 0.05;

} // namespace

ShownRange::ShownRange(double from, double to, double startAt)
    : m_from(from)
    , m_to(to)
    , m_startAt(startAt)
{ }

bool ShownRange::shows(double reported)
{
    const double step = m_framesPerSecond > 0 ? 1 / m_framesPerSecond : 0;
    const bool followsLast
        = m_time && step > 0 && std::abs(*m_time + step - reported) <= kReportedSlack + step / 2;
    if (followsLast)
        *m_time += step;
    else
        // A landing: on the key frame asked for, or where a seek took it.
        m_time = std::abs(reported - m_startAt) <= kReportedSlack ? m_startAt : reported;
    // A picture stands for the time up to the next one.
    const double half = step / 2;
    return *m_time >= m_from - half && *m_time < m_to - half;
}

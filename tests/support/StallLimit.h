#pragma once

#include "platform/ProcessRunner.h"

#include <chrono>

// The engines' stall limit set to `limit` for as long as the object lives,
// then put back as it was.
class ScopedStallLimit {
public:
    explicit ScopedStallLimit(std::chrono::milliseconds limit)
        : m_before(engineStallLimit())
    {
        setEngineStallLimit(limit);
    }
    ~ScopedStallLimit() { setEngineStallLimit(m_before); }
    ScopedStallLimit(const ScopedStallLimit&) = delete;
    ScopedStallLimit& operator=(const ScopedStallLimit&) = delete;

private:
    const std::chrono::milliseconds m_before;
};

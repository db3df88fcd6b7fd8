#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// A time limit on the work of a scope: `expire` (a stop, a cancel) runs once,
// from a thread of its own, when `limit` has passed, unless the object has
// been destroyed first. The destructor waits for that thread.
class RunDeadline {
public:
    RunDeadline(std::chrono::milliseconds limit, std::function<void()> expire);
    ~RunDeadline();
    RunDeadline(const RunDeadline&) = delete;
    RunDeadline& operator=(const RunDeadline&) = delete;

    // Whether `expire` has run.
    bool expired() const;

private:
    void watch(std::chrono::milliseconds limit, const std::function<void()>& expire);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_finished = false;
    bool m_expired = false;
    std::thread m_thread; // last: it starts on the members above
};

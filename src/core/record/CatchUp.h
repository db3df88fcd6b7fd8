#pragma once

#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// How a recording's ffmpeg came to its end after a stop, settled once: told
// to stop, ffmpeg drops the pictures it has taken but not yet written, so it
// is let write on until its progress reaches the stop, for as long as it
// keeps writing. The first of these to happen is the end, and the others
// neither act nor are reported.
class CatchUp {
public:
    enum class End {
        Waiting,
        Reached, // it wrote all that was recorded up to the stop
        Ended, // its run returned, by itself or told to
        StoodStill, // it wrote nothing for the limit, short of the stop
    };

    CatchUp() = default;
    // Ends the watch, without settling, and waits for its thread.
    ~CatchUp();
    CatchUp(const CatchUp&) = delete;
    CatchUp& operator=(const CatchUp&) = delete;

    // From the stop: settles StoodStill and calls `standStill` (on a thread of
    // its own) once the written count has not grown for `limit`.
    void watch(std::chrono::milliseconds limit, std::function<void()> standStill);
    // The pictures written so far; a larger count restarts the watch's clock.
    void noteWritten(qint64 pictures);
    // True for the one call that settles the end.
    bool settle(End end);
    End end() const;
    // The watch's limit, or zero before the stop.
    std::chrono::milliseconds limit() const;

private:
    using Clock = std::chrono::steady_clock;
    void run(const std::function<void()>& standStill);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    End m_end = End::Waiting;
    bool m_closing = false;
    qint64 m_written = 0;
    Clock::time_point m_lastWrite;
    std::chrono::milliseconds m_limit { 0 };
    std::thread m_thread;
};

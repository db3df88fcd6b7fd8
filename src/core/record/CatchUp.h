#pragma once

#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include <sys/types.h>

// How a recording's ffmpeg came to its end after a stop, settled once: told
// to stop, ffmpeg drops the pictures it has taken but not yet written, so it
// is let write on until its progress reaches the stop, for as long as it
// keeps working. The first of these to happen is the end, and the others
// neither act nor are reported.
class CatchUp {
public:
    enum class End {
        Waiting,
        Reached, // it wrote all that was recorded up to the stop
        Ended, // its run returned, by itself or told to
        StoodStill, // it stood still for a limit, short of the stop
    };

    // How a catch-up that stood still stood.
    struct Stand {
        enum class Way {
            Idle, // no picture encoded, no processor time used, nothing read
            Unencoded, // no picture encoded, whatever else it did
            InputSilent, // no picture encoded while an input's server did not answer
        };
        std::chrono::milliseconds time { 0 };
        Way way = Way::Idle;
    };

    CatchUp() = default;
    // Ends the watch, without settling, and waits for its thread.
    ~CatchUp();
    CatchUp(const CatchUp&) = delete;
    CatchUp& operator=(const CatchUp&) = delete;

    // From the stop: settles StoodStill and calls `standStill` (on a thread of
    // its own) once the encoder `engine` has stood still: for `still` its
    // count of pictures and, with the programs it started, its processor
    // time and reads have not moved (the engines' stall rule, with the
    // processor time in its mark: a stopped or frozen process uses none, a
    // working one on a busy machine uses it in bursts between its pictures),
    // or for `unencoded` (zero: no such limit) its count has not, however it
    // works otherwise. When `inputsAnswer` (asked once, on the watch's
    // thread) says that a server an input reads from does not answer, the
    // encoder waits on it and cannot catch up: its count alone then decides,
    // with `still`.
    void watch(pid_t engine, std::chrono::milliseconds still, std::chrono::milliseconds unencoded,
        std::function<void()> standStill, std::function<bool()> inputsAnswer = {});
    // The pictures encoded so far; a larger count restarts the watch's clocks.
    void noteWritten(qint64 pictures);
    // True for the one call that settles the end.
    bool settle(End end);
    End end() const;
    // How it stood still, once it has.
    Stand stand() const;

private:
    using Clock = std::chrono::steady_clock;
    void run(pid_t engine, const std::function<void()>& standStill,
        const std::function<bool()>& inputsAnswer);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    End m_end = End::Waiting;
    bool m_closing = false;
    qint64 m_written = 0;
    Clock::time_point m_lastWrite;
    std::chrono::milliseconds m_still { 0 };
    std::chrono::milliseconds m_unencoded { 0 };
    Stand m_stand;
    std::thread m_thread;
};

#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

// Opens files and folders with the desktop's handler: xdg-open, run as a child
// of ours on a thread of its own. xdg-open hands the path on and ends; where it
// cannot (no file manager for a folder, a broken association) it ends with a
// failure and says why, and that reaches `failed` on the main thread. An
// xdg-open that stops working (no output, no processor time) for the stall
// limit is ended: it only waits on a handler it started in the foreground,
// which stays.
class DesktopOpener {
public:
    // `reason` says how xdg-open ended and what it printed.
    using Failed = std::function<void(const QString& path, const QString& reason)>;

    static constexpr std::chrono::seconds kStallLimit { 30 };

    explicit DesktopOpener(Failed failed);
    // Ends the xdg-open children still running, without telling anyone.
    ~DesktopOpener();
    DesktopOpener(const DesktopOpener&) = delete;
    DesktopOpener& operator=(const DesktopOpener&) = delete;

    // False, at once, when there is no xdg-open to run. xdg-open is given the
    // path made absolute, which no word of its options starts like.
    bool open(const QString& path);

private:
    struct Run;
    void forgetFinishedRuns();

    Failed m_failed;
    std::shared_ptr<bool> m_alive; // main thread only: a report queued for a gone opener is dropped
    std::mutex m_mutex;
    std::list<std::unique_ptr<Run>> m_runs;
};

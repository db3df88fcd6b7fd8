#pragma once

#include <QProcessEnvironment>
#include <QString>

#include <chrono>
#include <map>
#include <mutex>

#include <sys/types.h>

// The player tools we started, by pid, so that all of them can be ended at
// once (before the editor opens, before a conversion, at quit). Only our own
// tools are ever signalled: a program of the same name that is not ours (an
// other instance, another user's) is left alone. Thread-safe.
class PlayerProcesses {
public:
    // The one registry of the running program.
    static PlayerProcesses& shared();
    // Where the player tool lies: in the tools folder, or in the build tree,
    // where each tool has a folder of its own name.
    static QString toolPath();
    // The environment the tool is started in: ours, with the engines' stall
    // limit, after which a player that does not move on ends itself.
    static QProcessEnvironment toolEnvironment();

    PlayerProcesses() = default;
    ~PlayerProcesses();
    PlayerProcesses(const PlayerProcesses&) = delete;
    PlayerProcesses& operator=(const PlayerProcesses&) = delete;

    // Call at once after starting a tool, before its end can be reaped: the
    // process is held by a descriptor, so a reused pid is never hit. Start
    // tools from a thread that lives as long as the program (the main
    // thread): a tool dies with the thread that started it.
    bool add(pid_t pid);
    void remove(pid_t pid);
    int count() const;
    // Kills every registered tool and waits, at most `bound`, for all of them
    // to end. True when they all did; those that did not stay registered.
    bool killAll(std::chrono::milliseconds bound);

private:
    mutable std::mutex m_mutex;
    std::map<pid_t, int> m_processes; // pid -> pid descriptor
};

#pragma once

#include <QString>

#include <map>
#include <sys/types.h>
#include <vector>

// The processes `pid` started that have not ended, as found in `proc`, a
// folder laid out as /proc: from the kernel's lists of children where it
// keeps them, else from the parent each process's line names.
std::vector<pid_t> childProcessesOf(pid_t pid, const QString& proc);

// What a process and everything it started have read (the "rchar" and
// "read_bytes" counters of their "io" files), looked at now and then: an
// engine that reads its input moves on, however little processor time it
// gets, and one that spins or waits for ever reads nothing. Pipes count, so
// a program reading what another one of the tree writes moves too. Where the
// kernel keeps no such counters the sum stays at 0, and only a child's own
// mark shows it moving.
class ProcessTreeReads {
public:
    explicit ProcessTreeReads(pid_t root, QString proc = QStringLiteral("/proc"));

    // The bytes the tree has read since the first look. Each process adds
    // what it read since the last look, so the sum never goes down when one
    // ends between two looks; a process that ended counts on in its parent's
    // figures once reaped, which at worst counts a read twice.
    quint64 look();

private:
    std::map<pid_t, quint64> readsNow() const;

    const pid_t m_root;
    const QString m_proc;
    std::map<pid_t, quint64> m_reads;
    quint64 m_total = 0;
    bool m_looked = false;
};

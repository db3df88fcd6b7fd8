#pragma once

#include <QString>

#include <map>
#include <optional>
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
// a program reading what another one of the tree writes moves too. Reads
// through recv() (a socket: a network input) are in neither counter, so an
// engine that reads from the network is seen moving only by what it writes.
// Where the kernel keeps no such counters the sums stay at 0.
//
// It also notes what the files the tree reads hold: every regular file one
// of its processes held open for reading at a look, each counted once. An
// engine that reads far more than that, with nothing else to show, reads the
// same bytes again and again.
//
// And the processor time the tree has used, summed the same way: not a sign
// of an engine's progress (a spinning loop uses it all), but one that a
// process is not stopped, frozen or blocked on a device (those use none).
class ProcessTreeReads {
public:
    struct Reads {
        quint64 bytes = 0; // through read calls and pages brought in from the disk
        quint64 byCalls = 0; // through read calls alone ("rchar"): a file read once is here once
        // What the files seen open for reading hold; none when that cannot be
        // told (a disc drive, whose size is not in its status, or too many files).
        std::optional<quint64> inputBytes;
        quint64 processorTicks = 0; // user and system time, in clock ticks
    };

    explicit ProcessTreeReads(pid_t root, QString proc = QStringLiteral("/proc"));

    // What the tree has read since the first look. Each process adds what it
    // read since the last look, so the sums never go down when one ends
    // between two looks; a process that ended counts on in its parent's
    // figures once reaped, which at worst counts a read twice.
    Reads look();

    // One process's "rchar" and "read_bytes".
    struct Counters {
        quint64 byCalls = 0;
        quint64 fromDisk = 0;
        quint64 processorTicks = 0; // of its "stat" line; 0 where that holds none
    };

private:
    struct FileId {
        dev_t device = 0;
        ino_t inode = 0;
        auto operator<=>(const FileId&) const = default;
    };

    std::map<pid_t, Counters> readsNow();
    void noteInputsOf(pid_t pid);
    std::optional<quint64> inputBytes() const;

    const pid_t m_root;
    const QString m_proc;
    std::map<pid_t, Counters> m_reads;
    Counters m_total;
    bool m_looked = false;
    std::map<FileId, quint64> m_inputs; // the largest size each was seen at
    bool m_inputsUnknown = false;
};

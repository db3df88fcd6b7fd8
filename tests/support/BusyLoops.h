#pragma once

#include <sys/types.h>
#include <vector>

// `count` processes that spin without pause (no reads, no output), for as
// long as this lives; killed by their pids when it goes, and with the test
// should it die first.
class BusyLoops {
public:
    explicit BusyLoops(int count);
    ~BusyLoops();
    BusyLoops(const BusyLoops&) = delete;
    BusyLoops& operator=(const BusyLoops&) = delete;

    // One for each processor of the machine.
    static int perCore(int loops);

private:
    std::vector<pid_t> m_pids;
};

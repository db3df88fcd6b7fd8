#pragma once

#include "support/ChildProcesses.h"

#include <sys/prctl.h>
#include <sys/wait.h>

// For its life the test process is handed the orphans of its descendants, so none hides under
// init. When it ends, also by a failed assertion, the process stops adopting and reaps the
// orphans that ended: left as zombies, they would count as children in the tests after it.
class AdoptedOrphans {
public:
    AdoptedOrphans()
        : m_adopting(::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0)
    { }
    ~AdoptedOrphans()
    {
        ::prctl(PR_SET_CHILD_SUBREAPER, 0);
        for (const QString& pid : childProcesses())
            ::waitpid(pid.toInt(), nullptr, WNOHANG);
    }
    AdoptedOrphans(const AdoptedOrphans&) = delete;
    AdoptedOrphans& operator=(const AdoptedOrphans&) = delete;

    bool adopting() const { return m_adopting; }

private:
    const bool m_adopting;
};

#include "support/BusyLoops.h"

#include <csignal>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

BusyLoops::BusyLoops(int count)
{
    const pid_t parent = ::getpid();
    for (int loop = 0; loop < count; ++loop) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(0);
            volatile unsigned spin = 0;
            while (true)
                spin = spin + 1;
        }
        if (pid > 0)
            m_pids.push_back(pid);
    }
}

BusyLoops::~BusyLoops()
{
    for (const pid_t pid : m_pids)
        ::kill(pid, SIGKILL);
    for (const pid_t pid : m_pids)
        ::waitpid(pid, nullptr, 0);
}

int BusyLoops::perCore(int loops)
{
    return loops * static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN));
}

#include "player/PlayerProcesses.h"

#include "platform/AppPaths.h"
#include "platform/ProcessRunner.h"
#include "player/MPlayerOSXVOProto.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int openPidFd(pid_t pid)
{
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

bool sendKill(int pidFd)
{
    return ::syscall(SYS_pidfd_send_signal, pidFd, SIGKILL, nullptr, 0) == 0 || errno == ESRCH;
}

// A killed tool we wait for, through a descriptor of its own.
struct Ending {
    pid_t pid = 0;
    int pidFd = -1;
    bool ended = false;
};

// Waits until every process has ended or the deadline has passed.
void waitForEnds(std::vector<Ending>& endings, Clock::time_point deadline)
{
    while (true) {
        std::vector<pollfd> watched;
        for (const Ending& ending : endings)
            if (!ending.ended)
                watched.push_back({ ending.pidFd, POLLIN, 0 });
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (watched.empty() || left.count() <= 0)
            return;
        const int ready = ::poll(watched.data(), watched.size(), static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR)
            return;
        for (const pollfd& entry : watched)
            if (entry.revents != 0)
                std::ranges::find(endings, entry.fd, &Ending::pidFd)->ended = true;
    }
}

} // namespace

PlayerProcesses& PlayerProcesses::shared()
{
    static PlayerProcesses processes;
    return processes;
}

QString PlayerProcesses::toolPath()
{
    const QString name = QString::fromLatin1(MPlayerOSXVOProto::kToolName);
    const QString path = AppPaths::toolsFolder() + '/' + name;
    return QFileInfo(path).isDir() ? path + '/' + name : path;
}

QProcessEnvironment PlayerProcesses::toolEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(
        QStringLiteral("QUILLON_STALL_LIMIT_MS"), QString::number(engineStallLimit().count()));
    return environment;
}

PlayerProcesses::~PlayerProcesses()
{
    for (const auto& [pid, pidFd] : m_processes)
        ::close(pidFd);
}

bool PlayerProcesses::add(pid_t pid)
{
    const int pidFd = openPidFd(pid);
    if (pidFd < 0)
        return false;
    const std::lock_guard lock(m_mutex);
    const auto [entry, added] = m_processes.emplace(pid, pidFd);
    if (!added) {
        ::close(entry->second);
        entry->second = pidFd;
    }
    return true;
}

void PlayerProcesses::remove(pid_t pid)
{
    const std::lock_guard lock(m_mutex);
    const auto entry = m_processes.find(pid);
    if (entry == m_processes.end())
        return;
    ::close(entry->second);
    m_processes.erase(entry);
}

int PlayerProcesses::count() const
{
    const std::lock_guard lock(m_mutex);
    return static_cast<int>(m_processes.size());
}

bool PlayerProcesses::killAll(std::chrono::milliseconds bound)
{
    const auto deadline = Clock::now() + bound;
    std::vector<Ending> endings;
    bool allSignalled = true;
    {
        // The wait runs unlocked, on descriptors of its own, so that tools
        // can be added or removed meanwhile.
        const std::lock_guard lock(m_mutex);
        for (const auto& [pid, pidFd] : m_processes)
            if (sendKill(pidFd))
                endings.push_back({ pid, ::fcntl(pidFd, F_DUPFD_CLOEXEC, 0) });
            else
                allSignalled = false;
    }
    waitForEnds(endings, deadline);
    bool allEnded = allSignalled;
    const std::lock_guard lock(m_mutex);
    for (const Ending& ending : endings) {
        allEnded = allEnded && ending.ended;
        ::close(ending.pidFd);
        const auto entry = m_processes.find(ending.pid);
        if (ending.ended && entry != m_processes.end()) {
            ::close(entry->second);
            m_processes.erase(entry);
        }
    }
    return allEnded;
}

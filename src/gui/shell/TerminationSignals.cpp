#include "shell/TerminationSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <iterator>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kWatched[] = { SIGTERM, SIGHUP, SIGINT };

std::atomic<int> g_writeEnd { -1 };

} // namespace

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent)
{
    int ends[2] = { -1, -1 };
    if (g_writeEnd >= 0 || ::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_readEnd = ends[0];
    g_writeEnd = ends[1];
    m_notifier = new QSocketNotifier(m_readEnd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
    struct sigaction action { };
    action.sa_handler = &TerminationSignals::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kWatched); ++i)
        ::sigaction(kWatched[i], &action, &m_previous[i]);
}

TerminationSignals::~TerminationSignals()
{
    if (m_readEnd < 0)
        return;
    for (std::size_t i = 0; i < std::size(kWatched); ++i)
        ::sigaction(kWatched[i], &m_previous[i], nullptr);
    ::close(g_writeEnd.exchange(-1));
    ::close(m_readEnd);
}

// Runs inside the signal: write() is all it may safely do.
void TerminationSignals::handle(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_writeEnd, &byte, 1);
    errno = savedErrno;
}

void TerminationSignals::readPipe()
{
    char bytes[16];
    const ssize_t count = ::read(m_readEnd, bytes, sizeof bytes);
    for (ssize_t i = 0; i < count; ++i)
        emit received(bytes[i]);
}

#include "record/CatchUp.h"

CatchUp::~CatchUp()
{
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CatchUp::watch(std::chrono::milliseconds limit, std::function<void()> standStill)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_thread.joinable())
            return;
        m_limit = limit;
        m_lastWrite = Clock::now();
    }
    m_thread = std::thread([this, standStill = std::move(standStill)] { run(standStill); });
}

void CatchUp::noteWritten(qint64 pictures)
{
    const std::lock_guard lock(m_mutex);
    if (pictures <= m_written)
        return;
    m_written = pictures;
    m_lastWrite = Clock::now();
}

bool CatchUp::settle(End end)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_end != End::Waiting)
            return false;
        m_end = end;
    }
    m_wake.notify_all();
    return true;
}

CatchUp::End CatchUp::end() const
{
    const std::lock_guard lock(m_mutex);
    return m_end;
}

std::chrono::milliseconds CatchUp::limit() const
{
    const std::lock_guard lock(m_mutex);
    return m_limit;
}

void CatchUp::run(const std::function<void()>& standStill)
{
    std::unique_lock lock(m_mutex);
    while (m_end == End::Waiting && !m_closing) {
        const Clock::time_point due = m_lastWrite + m_limit;
        if (Clock::now() < due) {
            m_wake.wait_until(lock, due);
            continue;
        }
        m_end = End::StoodStill;
        lock.unlock();
        standStill();
        return;
    }
}

#include "platform/RunDeadline.h"

RunDeadline::RunDeadline(std::chrono::milliseconds limit, std::function<void()> expire)
    : m_thread([this, limit, expire = std::move(expire)] { watch(limit, expire); })
{ }

RunDeadline::~RunDeadline()
{
    {
        const std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

bool RunDeadline::expired() const
{
    const std::lock_guard lock(m_mutex);
    return m_expired;
}

void RunDeadline::watch(std::chrono::milliseconds limit, const std::function<void()>& expire)
{
    std::unique_lock lock(m_mutex);
    if (m_wake.wait_for(lock, limit, [this] { return m_finished; }))
        return;
    m_expired = true;
    expire();
}

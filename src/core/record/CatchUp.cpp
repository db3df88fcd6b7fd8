#include "record/CatchUp.h"

#include "platform/ProcessTree.h"
#include "platform/StallClock.h"

#include <algorithm>

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

void CatchUp::watch(pid_t engine, std::chrono::milliseconds still,
    std::chrono::milliseconds unencoded, std::function<void()> standStill,
    std::function<bool()> inputsAnswer)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_thread.joinable())
            return;
        m_still = still;
        m_unencoded = unencoded;
        m_lastWrite = Clock::now();
    }
    m_thread = std::thread(
        [this, engine, standStill = std::move(standStill), inputsAnswer = std::move(inputsAnswer)] {
            run(engine, standStill, inputsAnswer);
        });
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

CatchUp::Stand CatchUp::stand() const
{
    const std::lock_guard lock(m_mutex);
    return m_stand;
}

void CatchUp::run(pid_t engine, const std::function<void()>& standStill,
    const std::function<bool()>& inputsAnswer)
{
    const bool inputSilent = inputsAnswer && !inputsAnswer();
    ProcessTreeReads tree(engine);
    // Taken without the lock held: the look reads the tree's files in /proc.
    const auto reading = [this, &tree] {
        const ProcessTreeReads::Reads reads = tree.look();
        qint64 written = 0;
        {
            const std::lock_guard lock(m_mutex);
            written = m_written;
        }
        return StallClock::Reading { QByteArray::number(written) + ' '
                + QByteArray::number(reads.processorTicks),
            reads.bytes, reads.byCalls, reads.inputBytes };
    };
    StallClock idle(m_still, reading(), Clock::now());
    std::unique_lock lock(m_mutex);
    const Stand byCount = inputSilent ? Stand { m_still, Stand::Way::InputSilent }
                                      : Stand { m_unencoded, Stand::Way::Unencoded };
    while (m_end == End::Waiting && !m_closing) {
        const Clock::time_point unencodedDue
            = byCount.time.count() > 0 ? m_lastWrite + byCount.time : Clock::time_point::max();
        if (const Clock::time_point due = std::min(idle.nextLook(), unencodedDue);
            Clock::now() < due) {
            m_wake.wait_until(lock, due);
            continue;
        }
        if (Clock::now() >= unencodedDue) {
            m_stand = byCount;
        } else {
            lock.unlock();
            const bool stalled = idle.stalled(reading(), Clock::now());
            lock.lock();
            if (!stalled || m_end != End::Waiting || m_closing)
                continue;
            m_stand = { m_still, Stand::Way::Idle };
        }
        m_end = End::StoodStill;
        lock.unlock();
        standStill();
        return;
    }
}

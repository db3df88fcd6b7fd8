#include "record/SoundServerCalls.h"

#include "record/PulseAudio.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

// What is left of the work when the application ends: a recorder's routing
// or virtual device given back at its end. A server that answers has it done
// in milliseconds; one that does not costs one wait, after which the routing
// stays written down for the next run.
void finishAtExit()
{
    SoundServerCalls::waitUntilDone(PulseAudio::answerLimit() + 1s);
}

} // namespace

// Where the answers of one SoundServerCalls go, for as long as it lives.
class SoundServerCalls::Mailbox {
public:
    explicit Mailbox(QObject* receiver)
        : m_receiver(receiver)
    { }

    bool isOpen() const
    {
        const std::lock_guard lock(m_mutex);
        return m_receiver != nullptr;
    }
    void close()
    {
        const std::lock_guard lock(m_mutex);
        m_receiver = nullptr;
    }
    // Posted under the lock, so that the receiver cannot go meanwhile: its
    // owner closes the box before it goes, and a posted call that it did
    // not take yet goes with it.
    void post(const std::shared_ptr<Mailbox>& self, std::function<void()> answer)
    {
        const std::lock_guard lock(m_mutex);
        if (!m_receiver)
            return;
        QMetaObject::invokeMethod(
            m_receiver,
            [self, answer = std::move(answer)] {
                if (self->isOpen())
                    answer();
            },
            Qt::QueuedConnection);
    }

private:
    mutable std::mutex m_mutex;
    QObject* m_receiver;
};

namespace {

struct Piece {
    std::function<bool()> wanted; // empty: always
    std::function<void()> work;
};

// The one thread of the process's sound-server work, made at the first
// piece and kept (with its queue) for as long as the process runs.
class Line {
public:
    static Line& instance()
    {
        static Line* const line = new Line;
        return *line;
    }

    void add(Piece piece)
    {
        const std::lock_guard lock(m_mutex);
        if (!m_started) {
            m_started = true;
            std::thread([this] { serve(); }).detach();
            if (QCoreApplication::instance())
                qAddPostRoutine(finishAtExit);
        }
        m_pieces.push_back(std::move(piece));
        m_wake.notify_all();
    }

    bool waitUntilDone(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(m_mutex);
        return m_done.wait_for(lock, limit, [this] { return m_pieces.empty() && !m_working; });
    }

private:
    void serve()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return !m_pieces.empty(); });
            Piece piece = std::move(m_pieces.front());
            m_pieces.pop_front();
            m_working = true;
            lock.unlock();
            if (!piece.wanted || piece.wanted()) {
                const PulseAudio::OneWait oneWait;
                piece.work();
            }
            piece = {};
            lock.lock();
            m_working = false;
            m_done.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<Piece> m_pieces;
    bool m_working = false;
    bool m_started = false;
};

} // namespace

SoundServerCalls::SoundServerCalls(QObject* receiver)
    : m_mailbox(std::make_shared<Mailbox>(receiver))
{ }

SoundServerCalls::~SoundServerCalls()
{
    m_mailbox->close();
}

void SoundServerCalls::queue(std::shared_ptr<Mailbox> skipWhenClosed, std::function<void()> work)
{
    Piece piece;
    if (skipWhenClosed)
        piece.wanted = [mailbox = std::move(skipWhenClosed)] { return mailbox->isOpen(); };
    piece.work = std::move(work);
    Line::instance().add(std::move(piece));
}

void SoundServerCalls::deliver(
    const std::shared_ptr<Mailbox>& mailbox, std::function<void()> answer)
{
    mailbox->post(mailbox, std::move(answer));
}

bool SoundServerCalls::waitUntilDone(std::chrono::milliseconds limit)
{
    return Line::instance().waitUntilDone(limit);
}

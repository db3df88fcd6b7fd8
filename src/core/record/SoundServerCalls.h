#pragma once

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <utility>

// Work on the user's sound server, off the thread that asks for it: a server
// that does not answer (stopped, hung) holds each pactl call for
// PulseAudio::answerLimit(), and a window must answer events meanwhile.
// The work of the whole process runs on one thread of its own, one piece
// after another in the order asked, so that what one recorder changes and
// what it or another undoes never cross. In a piece, the first call that the
// server does not answer ends the waiting (PulseAudio::OneWait): a piece
// costs one wait at most. What a piece answers comes back by a queued call
// to the thread of the receiver.
class SoundServerCalls {
public:
    // Answers go to `receiver` (on its thread) while this object lives.
    explicit SoundServerCalls(QObject* receiver);
    // Answers not yet handed over are dropped, and pieces asked with ask()
    // that have not begun are skipped; pieces given with run() are done all
    // the same.
    ~SoundServerCalls();
    SoundServerCalls(const SoundServerCalls&) = delete;
    SoundServerCalls& operator=(const SoundServerCalls&) = delete;

    // Runs `work` on the line; `answered` gets what it answered.
    template<typename Answer>
    void ask(std::function<Answer()> work, std::function<void(const Answer&)> answered)
    {
        queue(m_mailbox,
            [mailbox = m_mailbox, work = std::move(work), answered = std::move(answered)] {
                deliver(mailbox, [answered, answer = work()] { answered(answer); });
            });
    }
    // Work that answers nothing and is done even when this object has gone
    // (what a recorder gives back at its end).
    void run(std::function<void()> work) { queue(nullptr, std::move(work)); }

    // Waits until all the work asked so far, by anyone, is done, for at most
    // `limit`; false when some is left.
    static bool waitUntilDone(std::chrono::milliseconds limit);

private:
    class Mailbox;
    static void queue(std::shared_ptr<Mailbox> skipWhenClosed, std::function<void()> work);
    static void deliver(const std::shared_ptr<Mailbox>& mailbox, std::function<void()> answer);

    std::shared_ptr<Mailbox> m_mailbox;
};

#include "platform/NXAction.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

NXAction::NXAction(std::function<void()> function)
    : m_function(std::move(function))
{ }

NXAction::NXAction(QObject* target, std::function<void()> function)
    : m_target(target)
    , m_hasTarget(true)
    , m_function(std::move(function))
{ }

bool NXAction::isValid() const
{
    return m_function && (!m_hasTarget || m_target);
}

bool NXAction::perform() const
{
    if (!isValid())
        return false;
    m_function();
    return true;
}

QObject* NXAction::context() const
{
    return m_hasTarget ? m_target.data() : QCoreApplication::instance();
}

void NXAction::performAfterDelay(std::chrono::milliseconds delay) const
{
    QObject* const receiver = context();
    if (!receiver || !isValid())
        return;
    // The timer must be started on the receiver's thread: a thread without an
    // event loop of its own could not run it.
    const auto start = [receiver, delay, action = *this] {
        QTimer::singleShot(delay, receiver, [action] { action.perform(); });
    };
    if (QThread::currentThread() == receiver->thread())
        start();
    else
        QMetaObject::invokeMethod(receiver, start, Qt::QueuedConnection);
}

void NXAction::performOnTargetThread(bool waitUntilDone) const
{
    QObject* const receiver = context();
    if (!receiver || !isValid())
        return;
    const bool here = QThread::currentThread() == receiver->thread();
    if (here && waitUntilDone) {
        perform();
        return;
    }
    const auto type = here || !waitUntilDone ? Qt::QueuedConnection : Qt::BlockingQueuedConnection;
    QMetaObject::invokeMethod(
        receiver, [action = *this] { action.perform(); }, type);
}

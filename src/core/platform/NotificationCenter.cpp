#include "platform/NotificationCenter.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter shared;
    return shared;
}

NotificationCenter::NotificationCenter(QObject* parent)
    : QObject(parent)
    , m_idleTimer(this)
{
    // Delivery belongs to the main thread, whichever thread made the center.
    const QCoreApplication* app = QCoreApplication::instance();
    if (app && !parent && thread() != app->thread())
        moveToThread(app->thread());
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(0);
    connect(&m_idleTimer, &QTimer::timeout, this, &NotificationCenter::flushIdleQueue);
}

NotificationCenter::~NotificationCenter()
{
    const std::lock_guard lock(m_mutex);
    for (const Observer& observer : m_observers)
        disconnect(observer.contextDeath);
}

NotificationCenter::Token NotificationCenter::addObserver(
    const QString& name, const void* sender, QObject* context, Callback callback)
{
    Observer observer;
    observer.name = name;
    observer.sender = sender;
    observer.context = context;
    observer.hasContext = context != nullptr;
    observer.callback = std::make_shared<const Callback>(std::move(callback));
    {
        const std::lock_guard lock(m_mutex);
        observer.token = m_nextToken++;
    }
    const Token token = observer.token;
    if (context) {
        observer.contextDeath = connect(
            context, &QObject::destroyed, this, [this, token] { removeObserver(token); },
            Qt::DirectConnection);
    }
    const std::lock_guard lock(m_mutex);
    m_observers.push_back(std::move(observer));
    return token;
}

void NotificationCenter::removeObserver(Token token)
{
    const std::lock_guard lock(m_mutex);
    const auto found = std::find_if(m_observers.begin(), m_observers.end(),
        [token](const Observer& observer) { return observer.token == token; });
    if (found == m_observers.end())
        return;
    disconnect(found->contextDeath);
    m_observers.erase(found);
}

void NotificationCenter::removeObserver(const QObject* context)
{
    if (!context)
        return;
    const std::lock_guard lock(m_mutex);
    std::erase_if(m_observers, [this, context](const Observer& observer) {
        if (!observer.hasContext || observer.context.data() != context)
            return false;
        disconnect(observer.contextDeath);
        return true;
    });
}

void NotificationCenter::post(const QString& name, const void* sender, const QVariantMap& userInfo)
{
    post(Notification { name, sender, userInfo });
}

void NotificationCenter::post(const Notification& notification)
{
    if (onMainThread()) {
        deliver(notification);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, notification] { deliver(notification); }, Qt::QueuedConnection);
}

void NotificationCenter::postWhenIdle(
    const QString& name, const void* sender, const QVariantMap& userInfo)
{
    {
        const std::lock_guard lock(m_mutex);
        std::erase_if(m_idleQueue, [&](const Notification& waiting) {
            return waiting.name == name && waiting.sender == sender;
        });
        m_idleQueue.push_back({ name, sender, userInfo });
    }
    // A zero timer fires once the event loop has handled what is already waiting.
    if (onMainThread())
        m_idleTimer.start();
    else
        QMetaObject::invokeMethod(&m_idleTimer, qOverload<>(&QTimer::start), Qt::QueuedConnection);
}

void NotificationCenter::deliver(const Notification& notification)
{
    std::vector<Observer> matching;
    {
        const std::lock_guard lock(m_mutex);
        std::copy_if(m_observers.begin(), m_observers.end(), std::back_inserter(matching),
            [&](const Observer& observer) {
                return (observer.name.isEmpty() || observer.name == notification.name)
                    && (!observer.sender || observer.sender == notification.sender);
            });
    }
    for (const Observer& observer : matching) {
        // An earlier observer may have removed this one, or deleted its context.
        if (observer.hasContext && !observer.context)
            continue;
        if (isObserving(observer.token))
            (*observer.callback)(notification);
    }
}

bool NotificationCenter::isObserving(Token token) const
{
    const std::lock_guard lock(m_mutex);
    return std::any_of(m_observers.begin(), m_observers.end(),
        [token](const Observer& observer) { return observer.token == token; });
}

void NotificationCenter::flushIdleQueue()
{
    std::vector<Notification> due;
    {
        const std::lock_guard lock(m_mutex);
        due.swap(m_idleQueue);
    }
    for (const Notification& notification : due)
        deliver(notification);
}

bool NotificationCenter::onMainThread() const
{
    return QThread::currentThread() == thread();
}

#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVariantMap>

#include <functional>
#include <mutex>
#include <vector>

// One posted notification: a fixed name ("NXMediaFileLoadFinished o.o"; the
// emoticon is part of it), the object that posted it and its user info.
struct Notification {
    QString name;
    const void* sender = nullptr;
    QVariantMap userInfo;
};

// Components tell each other what happened by name. Observers are called on the
// main thread whatever thread posts: directly when the post comes from the main
// thread, queued otherwise. Every function is safe to call from any thread.
class NotificationCenter : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<void(const Notification&)>;
    using Token = quint64;

    // The center every component shares.
    static NotificationCenter& defaultCenter();

    explicit NotificationCenter(QObject* parent = nullptr);
    ~NotificationCenter() override;

    // Calls `callback` for notifications named `name` (any name when empty)
    // from `sender` (any sender when null). The observer goes away with
    // `context` when one is given, or through removeObserver().
    Token addObserver(const QString& name, const void* sender, QObject* context, Callback callback);
    void removeObserver(Token token);
    // Every observer registered with this context.
    void removeObserver(const QObject* context);

    void post(const QString& name, const void* sender = nullptr, const QVariantMap& userInfo = {});
    void post(const Notification& notification);
    // Posts once the main event loop has nothing else to do. Posts of the same
    // name and sender waiting together become one: the latest, with its user info.
    void postWhenIdle(
        const QString& name, const void* sender = nullptr, const QVariantMap& userInfo = {});

private:
    struct Observer {
        Token token = 0;
        QString name;
        const void* sender = nullptr;
        QPointer<QObject> context;
        bool hasContext = false;
        QMetaObject::Connection contextDeath;
        std::shared_ptr<const Callback> callback;
    };

    void deliver(const Notification& notification);
    bool isObserving(Token token) const;
    void flushIdleQueue();
    bool onMainThread() const;

    mutable std::mutex m_mutex;
    std::vector<Observer> m_observers;
    std::vector<Notification> m_idleQueue;
    Token m_nextToken = 1;
    QTimer m_idleTimer;
};

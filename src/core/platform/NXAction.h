#pragma once

#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <utility>

// A target, one of its functions and an argument held as one callback object,
// to be performed now, later, or on the target's thread. A target that has been
// destroyed in the meantime is not called.
class NXAction {
public:
    NXAction() = default;
    // A call with no target: nothing can go away under it.
    explicit NXAction(std::function<void()> function);
    NXAction(QObject* target, std::function<void()> function);

    template<typename Target>
    NXAction(Target* target, void (Target::*method)())
        : NXAction(target, [target, method] { (target->*method)(); })
    { }

    template<typename Target, typename Parameter, typename Argument>
    NXAction(Target* target, void (Target::*method)(Parameter), Argument argument)
        : NXAction(target,
            [target, method, argument = std::move(argument)] { (target->*method)(argument); })
    { }

    QObject* target() const { return m_target; }
    // False when there is nothing to call or the target is gone.
    bool isValid() const;

    // Calls at once on this thread; false when nothing was called.
    bool perform() const;
    // Calls on the target's thread (the main thread when there is no target)
    // once `delay` has passed and its event loop runs.
    void performAfterDelay(std::chrono::milliseconds delay) const;
    // Calls on the target's thread (the main thread when there is no target)
    // from its event loop. With `waitUntilDone` the caller waits until the call
    // has been made, and a caller already on that thread makes it at once.
    void performOnTargetThread(bool waitUntilDone = false) const;

private:
    QObject* context() const;

    QPointer<QObject> m_target;
    bool m_hasTarget = false;
    std::function<void()> m_function;
};

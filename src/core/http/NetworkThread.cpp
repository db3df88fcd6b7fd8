#include "http/NetworkThread.h"

#include <QCoreApplication>
#include <QThread>

#include <future>
#include <mutex>

namespace {

// The thread's body: an event loop, and a context object that exists exactly
// as long as that loop runs, so objects parented to it die on this thread.
class LoopThread : public QThread {
public:
    QObject* waitForContext() { return m_ready.get_future().get(); }

protected:
    void run() override
    {
        QObject context;
        m_ready.set_value(&context);
        exec();
    }

private:
    std::promise<QObject*> m_ready;
};

std::mutex s_mutex;
LoopThread* s_thread = nullptr;
QObject* s_context = nullptr;
bool s_stopped = false;

void stopThread()
{
    LoopThread* thread = nullptr;
    {
        const std::lock_guard lock(s_mutex);
        thread = s_thread;
        s_stopped = true;
        s_context = nullptr;
    }
    if (!thread)
        return;
    thread->quit();
    // The loop only handles short pieces of work; if it does not stop in
    // time, leave it running rather than destroying a live thread.
    if (thread->wait(10000))
        delete thread;
}

QObject* contextLocked()
{
    if (s_stopped)
        return nullptr;
    if (!s_context) {
        s_thread = new LoopThread;
        s_thread->setObjectName(QStringLiteral("network"));
        s_thread->start();
        s_context = s_thread->waitForContext();
        qAddPostRoutine(stopThread);
    }
    return s_context;
}

} // namespace

QObject* NetworkThread::context()
{
    const std::lock_guard lock(s_mutex);
    return contextLocked();
}

void NetworkThread::post(std::function<void()> work)
{
    const std::lock_guard lock(s_mutex);
    if (QObject* context = contextLocked())
        QMetaObject::invokeMethod(context, std::move(work), Qt::QueuedConnection);
}

void NetworkThread::postAndWait(const std::function<void()>& work)
{
    if (isCurrent()) {
        work();
        return;
    }
    // Work dropped because the thread stopped breaks the promise, which
    // also ends the wait.
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    {
        const std::lock_guard lock(s_mutex);
        QObject* context = contextLocked();
        if (!context)
            return;
        QMetaObject::invokeMethod(
            context,
            [work, done] {
                work();
                done->set_value();
            },
            Qt::QueuedConnection);
    }
    finished.wait();
}

bool NetworkThread::isCurrent()
{
    const std::lock_guard lock(s_mutex);
    return s_thread && QThread::currentThread() == s_thread;
}

bool MainThread::isCurrent()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void MainThread::run(const std::function<void()>& work)
{
    if (isCurrent())
        work();
    else
        post(work);
}

void MainThread::post(std::function<void()> work)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
    else
        work();
}

void MainThread::runAndWait(const std::function<void()>& work)
{
    if (isCurrent())
        work();
    else
        QMetaObject::invokeMethod(QCoreApplication::instance(), work, Qt::BlockingQueuedConnection);
}

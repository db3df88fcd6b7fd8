#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

// SIGTERM (a session ending, a shutdown), SIGHUP and SIGINT (a terminal's
// Ctrl+C), turned into a signal on the main thread's event loop: the handler
// only writes the number into a pipe, whose read end the loop watches, so the
// quit that follows may do anything a normal quit does. One watcher at a time;
// it puts the previous handlers back when destroyed.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signalNumber);

private:
    static void handle(int signalNumber);
    void readPipe();

    int m_readEnd = -1;
    QSocketNotifier* m_notifier = nullptr;
    struct sigaction m_previous[3] {};
};

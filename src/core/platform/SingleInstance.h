#pragma once

#include <QObject>
#include <QStringList>

#include <chrono>

class QLocalServer;

// One running copy per user. The first start listens on a socket in the
// user's runtime folder, in a folder only the user may enter; a later start
// hands its files over through it and ends, so two copies never share a log
// or write into one output folder at once.
namespace SingleInstance {

// $XDG_RUNTIME_DIR/Quillon/instance.
QString socketPath();

// For a start before any application object exists (plain POSIX calls): true
// when a running copy took `files` (made absolute here) within `timeout`.
bool handOver(const QStringList& files, std::chrono::milliseconds timeout);

} // namespace SingleInstance

// The running copy's end of the socket: every later start's files, in the
// order they were named, on the thread that made it.
class InstanceServer : public QObject {
    Q_OBJECT
public:
    // A hand-over larger than this is not a list of file names.
    static constexpr qint64 kMaxMessageBytes = 1 << 20;

    explicit InstanceServer(QObject* parent = nullptr);
    ~InstanceServer() override;

    // Listens at SingleInstance::socketPath(), taking over a socket that no
    // running copy answers on; false, logged, when it cannot.
    bool listen();

signals:
    // Another start's files; empty when it named none.
    void filesReceived(const QStringList& files);

private:
    void accept();

    QLocalServer* m_server = nullptr;
};

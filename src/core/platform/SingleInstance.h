#pragma once

#include "platform/Fd.h"

#include <QObject>
#include <QStringList>

#include <chrono>

class QLocalServer;

// One running copy per user. The first start listens on a socket in the
// user's runtime folder, in a folder only the user may enter; a later start
// hands its files over through it and ends, so two copies never share a log
// or write into one output folder at once.
namespace SingleInstance {

// $XDG_RUNTIME_DIR/Quillon/instance; "" when there is no runtime folder.
QString socketPath();

// The right to be the copy that listens: a lock on a file beside the socket,
// taken at once or not at all and held while the object lives. Taken before
// the window is made, so that of two copies started at the same moment one
// listens and the other hands over, and so that only the holder may take
// over a socket a crashed copy left.
class Claim {
public:
    enum class State {
        Held,
        HeldElsewhere, // a running (or starting) copy has it
        Unavailable, // no private runtime folder: every copy runs on its own
    };
    static Claim take();
    Claim(Claim&& other) noexcept;
    Claim& operator=(Claim&& other) noexcept;
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;

    State state() const { return m_state; }

private:
    Claim(int fd, State state);

    Fd m_fd;
    State m_state = State::Unavailable;
};

// For a start before any application object exists (plain POSIX calls): true
// when a copy of this user took `files` (made absolute here) within
// `timeout`, which bounds every wait, a copy still starting up included.
bool handOver(const QStringList& files, std::chrono::milliseconds timeout);

} // namespace SingleInstance

// The running copy's end of the socket: every later start's files, in the
// order they were named, on the thread that made it.
class InstanceServer : public QObject {
    Q_OBJECT
public:
    // A hand-over larger than this is not a list of file names.
    static constexpr qint64 kMaxMessageBytes = 1 << 20;
    // A later start sends its files at once; one that does not is dropped.
    static constexpr std::chrono::seconds kMessageTimeLimit { 10 };

    explicit InstanceServer(
        SingleInstance::Claim claim = SingleInstance::Claim::take(), QObject* parent = nullptr);
    ~InstanceServer() override;

    // Listens at SingleInstance::socketPath() when the claim is held, taking
    // over a socket a crashed copy left; false, logged, when it cannot.
    bool listen();

signals:
    // Another start's files; empty when it named none.
    void filesReceived(const QStringList& files);

private:
    void accept();

    SingleInstance::Claim m_claim;
    QLocalServer* m_server = nullptr;
};

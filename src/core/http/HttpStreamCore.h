#pragma once

#include "http/HttpReadStream.h"

#include <QPointer>

#include <deque>
#include <mutex>

class HttpConnection;

// The state a read stream shares with the connection serving it. The
// configuration is written before open() and only read afterwards; everything
// under "guarded" is read and written with `mutex` held, from any thread;
// `connection` is touched on the network thread only.
struct HttpStreamCore : std::enable_shared_from_this<HttpStreamCore> {
    using Status = HttpReadStream::Status;

    // Body bytes still to be read: a stretch of a buffer the connection read
    // the socket into, shared with it rather than copied; or, for pieces too
    // small to be worth holding a whole read buffer for, a copy of our own.
    struct Slice {
        QByteArray bytes;
        qsizetype offset = 0;
        qsizetype length = 0;
        bool owned = false;
    };

    // Above this many unread body bytes the connection stops reading from the
    // socket; it starts again once the reader has taken them below the low mark.
    static constexpr qsizetype kHighWater = 1024 * 1024;
    static constexpr qsizetype kLowWater = 256 * 1024;
    // Smaller pieces are copied, so that a trickle of small reads cannot keep
    // many mostly empty read buffers alive; copies are gathered in blocks.
    static constexpr qsizetype kShareAtLeast = 32 * 1024;
    static constexpr qsizetype kCopyBlock = 64 * 1024;

    HttpMessage request;
    std::unique_ptr<HttpBodyStream> body;
    TlsSettings tls;
    ProxySettings proxy;
    bool persistent = false;
    QVariantMap properties;

    // guarded
    mutable std::mutex mutex;
    Status status = Status::NotOpen;
    bool connected = false;
    bool openDelivered = false;
    bool terminalDelivered = false;
    bool bytesArmed = false;
    bool ended = false;
    bool readPaused = false;
    bool reused = false;
    std::deque<Slice> slices;
    qsizetype buffered = 0;
    std::optional<HttpMessage> response;
    HttpError error;
    quint64 bytesWritten = 0;
    quint64 bytesReceived = 0;
    unsigned eventMask = 0;
    HttpReadStream::Client client;
    QPointer<QObject> target;
    bool scheduled = false;
    bool kickPending = false;

    // network thread only
    QPointer<HttpConnection> connection;

    qsizetype bufferedLocked() const { return buffered; }
    // Copies up to maxLength buffered bytes out (mutex held).
    qint64 takeLocked(char* data, qint64 maxLength);
    // The first slice itself when it is a whole buffer of at most maxLength
    // bytes: handed over without a copy (mutex held).
    std::optional<QByteArray> takeWholeLocked(qint64 maxLength);
    // After the reader took bytes: arms the next event; true when the
    // connection should start reading again (mutex held).
    bool tookLocked();
    void resumeReading();
    void discardLocked();
    // Asks the scheduled thread to deliver the next due event (mutex held).
    void kickLocked();
    // Runs on the scheduled thread: delivers one event, then asks again.
    void deliver();

    // Network side.
    void markConnected(bool reusedConnection);
    void setResponse(const HttpMessage& head);
    // Queues `length` bytes of `bytes` from `offset` on. Returns true when the
    // connection should stop reading for now.
    bool appendBody(const QByteArray& bytes, qsizetype offset, qsizetype length);
    void addBytesWritten(quint64 count);
    void addBytesReceived(quint64 count);
    void markEnded();
    void markFailed(const HttpError& failure);

private:
    std::optional<HttpReadStream::Event> dueEventLocked() const;
    void queueLocked(const QByteArray& bytes, qsizetype offset, qsizetype length);
};

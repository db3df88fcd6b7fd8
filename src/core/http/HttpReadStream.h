#pragma once

#include "http/HttpBodyStream.h"
#include "http/HttpError.h"
#include "http/HttpMessage.h"
#include "http/HttpTransportSettings.h"

#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

struct HttpStreamCore;

// One HTTP exchange: sends a request message (and its body) and reads the
// response head and the decoded body, with events delivered to a client.
//
// Threads: every function is safe to call from any thread. The socket work
// happens on the network thread; events reach the client on the thread that
// called schedule(), through that thread's event loop, never from inside a
// call to this object. Configure the stream before open().
//
// Events: OpenCompleted once the connection is ready and the request is on its
// way; HasBytesAvailable while body bytes wait to be read (again after each
// read that leaves bytes, and when new bytes come); then exactly one of
// EndEncountered (the body is complete) or ErrorOccurred (see error()), only
// after every body byte that arrived has been read. A body cut short by the
// connection ends in an error, never in an end. An unscheduled stream delivers
// nothing but keeps the pending events; it still buffers a bounded amount of
// body, after which the connection waits (so throttling slows the sender).
//
// Persistent connections: when setPersistentConnection(true) and the
// streamIdProperty ("NXStreamID") are set, a connection whose response ended
// cleanly and allows reuse stays open, held by this stream, and a later stream
// with the same id, scheme, host, port, proxy and TLS settings reuses it.
// Closing (or destroying) the stream that holds an idle connection closes it,
// unless a later stream has already taken it over.
class HttpReadStream {
public:
    enum Event : unsigned {
        OpenCompleted = 1,
        HasBytesAvailable = 2,
        ErrorOccurred = 8,
        EndEncountered = 16,
    };
    enum class Status { NotOpen, Opening, Open, AtEnd, Closed, Error };
    using Client = std::function<void(Event)>;

    static constexpr const char* streamIdProperty = "NXStreamID";

    explicit HttpReadStream(HttpMessage request, std::unique_ptr<HttpBodyStream> body = {});
    ~HttpReadStream();
    HttpReadStream(const HttpReadStream&) = delete;
    HttpReadStream& operator=(const HttpReadStream&) = delete;

    const HttpMessage& request() const;

    void setTlsSettings(const TlsSettings& settings);
    TlsSettings tlsSettings() const;
    void setProxy(const ProxySettings& proxy);
    ProxySettings proxy() const;
    void setPersistentConnection(bool persistent);
    bool persistentConnection() const;
    void setProperty(const QString& key, const QVariant& value);
    QVariant property(const QString& key) const;

    // Events outside `eventMask` are not delivered; a null client clears it.
    void setClient(unsigned eventMask, Client client);
    void schedule();
    void unschedule();
    bool isScheduled() const;

    // Starts connecting. False (with error() set) when the request cannot be
    // sent at all, or when the stream was opened before.
    bool open();
    // Stops the exchange: no event is delivered after close() returns on the
    // scheduled thread.
    void close();

    Status status() const;
    HttpError error() const;
    bool hasBytesAvailable() const;
    // Up to maxLength body bytes; 0 when none is waiting or at the end, -1
    // once the stream has failed and every byte was read.
    qint64 read(char* data, qint64 maxLength);
    // The same, without a copy when a whole received piece fits.
    QByteArray read(qint64 maxLength);
    // The same, but what must be copied goes into `spare`, whose storage
    // serves again at the next call: the bytes given back are valid until
    // then.
    QByteArray read(qint64 maxLength, QByteArray& spare);

    // The response head, once it has arrived.
    std::optional<HttpMessage> responseHeader() const;
    // Request body bytes handed to the connection so far.
    quint64 requestBytesWritten() const;
    // Bytes of the answer read from the connection so far, head and framing
    // included: a sign of life before any body byte can be read.
    quint64 responseBytesReceived() const;
    // True when the exchange went over a connection kept from an earlier one.
    bool reusedConnection() const;

private:
    std::optional<QByteArray> readWhole(qint64 maxLength);

    std::shared_ptr<HttpStreamCore> m_core;
};

#pragma once

#include "http/HttpHeaders.h"
#include "http/HttpMessage.h"

#include <QByteArray>
#include <QString>

// Reads one HTTP/1.x response from bytes fed in pieces of any size (one byte
// at a time included): the status line, the header fields (interim 1xx
// responses are skipped), then the body, framed by "Content-Length" (decimal
// only), by chunked transfer coding (trailer fields included; any other
// transfer coding is refused) or by the end of the connection. Decoded body
// bytes are handed back to the caller as they come. A connection that ends
// before the framing says the body is complete is an error, never an end. Garbage, oversized lines
// and oversized heads are refused with an error instead of being buffered without bound.
class HttpResponseParser {
public:
    struct Limits {
        qsizetype maxLineBytes = 16 * 1024;
        qsizetype maxHeadBytes = 256 * 1024;
        qsizetype maxFields = 256;
    };

    enum class BodyFraming { None, Length, Chunked, UntilClose };

    HttpResponseParser();
    explicit HttpResponseParser(Limits limits);

    // The method of the request being answered: HEAD answers have no body and
    // a successful CONNECT answer is followed by the tunnel, not by a body.
    void setRequestMethod(const QString& method) { m_method = method; }
    // Starts over for the next response on the same connection.
    void reset();

    // What one step of reading consumed: `used` bytes from the start of the
    // data, among them `bodyLength` body bytes starting at `bodyOffset`.
    struct Step {
        qsizetype used = 0;
        qsizetype bodyOffset = 0;
        qsizetype bodyLength = 0;
    };

    // Consumes bytes up to and including the next run of body bytes, which
    // stay where they are for the caller to take without a copy. Call again
    // with the rest while bytes are left and the response is incomplete.
    Step next(const char* data, qsizetype size);
    // Consumes bytes; body bytes are appended to `body`. Returns the number of
    // bytes used: less than `size` once the response is complete (the rest
    // belongs to whatever follows) or on error.
    qsizetype feed(const char* data, qsizetype size, QByteArray& body);
    // The connection has ended. True when that completes the response (a
    // body that runs to the end of the connection); false, with an error, when
    // the response was still incomplete.
    bool finish();

    bool hasHead() const { return m_state > State::Headers; }
    bool isComplete() const { return m_state == State::Done; }
    bool hasError() const { return m_state == State::Failed; }
    QString errorString() const { return m_error; }
    bool receivedAnything() const { return m_receivedAnything; }

    // The response head, once hasHead().
    const HttpMessage& response() const { return m_response; }
    const HttpHeaders& trailers() const { return m_trailers; }
    BodyFraming bodyFraming() const { return m_framing; }
    quint64 announcedLength() const { return m_remaining; }
    // True once complete when the connection may carry another request: the
    // body was framed, and the version and "Connection" field allow it.
    bool allowsReuse() const;

private:
    enum class State {
        StatusLine,
        Headers,
        Body,
        ChunkSize,
        ChunkData,
        ChunkDataEnd,
        Trailers,
        UntilClose,
        Done,
        Failed
    };

    bool takeLine(const char* data, qsizetype size, qsizetype& used, QByteArray& line);
    bool handleLine(const QByteArray& line);
    bool parseStatusLine(const QByteArray& line);
    bool parseFieldLine(const QByteArray& line, HttpHeaders& into);
    bool endOfHead();
    bool chooseFraming();
    bool parseChunkSize(const QByteArray& line);
    bool isInBody() const;
    qsizetype takeBody(qsizetype size);
    bool fail(const QString& why);

    Limits m_limits;
    QString m_method;
    State m_state = State::StatusLine;
    QByteArray m_line;
    qsizetype m_headBytes = 0;
    quint64 m_remaining = 0;
    BodyFraming m_framing = BodyFraming::None;
    bool m_conflictingFraming = false;
    bool m_receivedAnything = false;
    HttpMessage m_response;
    HttpHeaders m_trailers;
    QString m_error;
};

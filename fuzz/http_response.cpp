// The HTTP response parser, fed the way the connection feeds it (next() over
// whatever each read of the socket gave) and the way the proxy-script fetch
// feeds it (feed() over everything at once). The parser promises the same
// outcome however the bytes are cut, so each input is read whole, one byte at
// a time and in pieces of sizes drawn from the input, and the three outcomes
// must agree.
#include "FuzzSupport.h"

#include "http/HttpResponseParser.h"

#include <QHash>

#include <algorithm>
#include <functional>
#include <random>

namespace {

struct Outcome {
    bool complete = false;
    bool failed = false;
    int status = 0;
    QByteArray body;
    qsizetype usedWhenComplete = 0;
    qsizetype fields = 0;
    qsizetype trailers = 0;
    bool reusable = false;

    bool operator==(const Outcome&) const = default;
};

// The request method matters to the framing: HEAD answers and accepted
// tunnels have no body.
QString methodFor(size_t seed)
{
    static const QString methods[] = { QStringLiteral("GET"), QStringLiteral("GET"),
        QStringLiteral("HEAD"), QStringLiteral("CONNECT") };
    return methods[seed % std::size(methods)];
}

Outcome outcomeOf(HttpResponseParser& parser, const QByteArray& body, qsizetype used)
{
    if (!parser.isComplete() && !parser.hasError())
        parser.finish();
    Fuzz::require(parser.isComplete() != parser.hasError(), "finish() left the response open");
    Fuzz::require(
        !parser.hasError() || !parser.errorString().isEmpty(), "an error without a reason");
    Outcome outcome;
    outcome.complete = parser.isComplete();
    outcome.failed = parser.hasError();
    outcome.body = body;
    if (parser.hasHead()) {
        outcome.status = parser.response().statusCode();
        outcome.fields = parser.response().headers().size();
        outcome.trailers = parser.trailers().size();
    }
    if (parser.isComplete()) {
        outcome.usedWhenComplete = used;
        outcome.reusable = parser.allowsReuse();
    }
    return outcome;
}

Outcome readWhole(const QByteArray& bytes, const QString& method)
{
    HttpResponseParser parser;
    parser.setRequestMethod(method);
    QByteArray body;
    const qsizetype used = parser.feed(bytes.constData(), bytes.size(), body);
    Fuzz::require(used <= bytes.size(), "feed() used more than it was given");
    return outcomeOf(parser, body, used);
}

// As the connection reads: each piece is offered to next() until it is used
// up or the response is over.
Outcome readInPieces(
    const QByteArray& bytes, const QString& method, const std::function<qsizetype()>& pieceSize)
{
    HttpResponseParser parser;
    parser.setRequestMethod(method);
    QByteArray body;
    qsizetype offset = 0;
    while (offset < bytes.size() && !parser.isComplete() && !parser.hasError()) {
        const qsizetype end = std::min(bytes.size(), offset + pieceSize());
        while (offset < end && !parser.isComplete() && !parser.hasError()) {
            const HttpResponseParser::Step step
                = parser.next(bytes.constData() + offset, end - offset);
            Fuzz::require(step.used <= end - offset, "next() used more than it was given");
            Fuzz::require(step.bodyOffset >= 0 && step.bodyLength >= 0
                    && step.bodyOffset + step.bodyLength <= step.used,
                "next() pointed at body bytes outside what it used");
            Fuzz::require(step.used > 0 || parser.isComplete() || parser.hasError(),
                "next() used nothing and asked for more");
            body.append(bytes.constData() + offset + step.bodyOffset, step.bodyLength);
            offset += step.used;
        }
    }
    return outcomeOf(parser, body, offset);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = Fuzz::bytesOf(data, size);
    const size_t seed = qHash(bytes);
    const QString method = methodFor(seed);
    const Outcome whole = readWhole(bytes, method);

    const Outcome byteByByte = readInPieces(bytes, method, [] { return qsizetype(1); });
    Fuzz::require(byteByByte == whole, "read one byte at a time, the response parses otherwise");

    std::minstd_rand random(static_cast<std::minstd_rand::result_type>(seed));
    std::uniform_int_distribution<qsizetype> sizes(1, 48);
    const Outcome pieces = readInPieces(bytes, method, [&] { return sizes(random); });
    Fuzz::require(pieces == whole, "read in pieces, the response parses otherwise");
    return 0;
}

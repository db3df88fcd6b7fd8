#include "http/HttpResponseParser.h"

namespace {

bool isTokenByte(char c)
{
    static const QByteArray extra = "!#$%&'*+-.^_`|~";
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
        || extra.contains(c);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Decimal digits only: no sign, no base prefix, no blanks inside.
bool parseDecimal(const QByteArray& text, quint64& value)
{
    if (text.isEmpty() || text.size() > 19)
        return false;
    value = 0;
    for (const char c : text) {
        if (!isDigit(c))
            return false;
        value = value * 10 + static_cast<quint64>(c - '0');
    }
    return true;
}

int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

HttpResponseParser::HttpResponseParser()
    : HttpResponseParser(Limits {})
{ }

HttpResponseParser::HttpResponseParser(Limits limits)
    : m_limits(limits)
{ }

void HttpResponseParser::reset()
{
    *this = HttpResponseParser(m_limits);
}

bool HttpResponseParser::fail(const QString& why)
{
    m_state = State::Failed;
    m_error = why;
    return false;
}

HttpResponseParser::Step HttpResponseParser::next(const char* data, qsizetype size)
{
    if (size > 0)
        m_receivedAnything = true;
    Step step;
    while (step.used < size && m_state != State::Done && m_state != State::Failed) {
        if (isInBody()) {
            step.bodyOffset = step.used;
            step.bodyLength = takeBody(size - step.used);
            step.used += step.bodyLength;
            break;
        }
        QByteArray line;
        if (!takeLine(data, size, step.used, line))
            break;
        handleLine(line);
    }
    return step;
}

qsizetype HttpResponseParser::feed(const char* data, qsizetype size, QByteArray& body)
{
    qsizetype used = 0;
    while (used < size) {
        const Step step = next(data + used, size - used);
        body.append(data + used + step.bodyOffset, step.bodyLength);
        used += step.used;
        if (step.used == 0)
            break;
    }
    return used;
}

bool HttpResponseParser::takeLine(
    const char* data, qsizetype size, qsizetype& used, QByteArray& line)
{
    const char* start = data + used;
    const auto* end = static_cast<const char*>(memchr(start, '\n', size_t(size - used)));
    const qsizetype take = end ? end - start + 1 : size - used;
    if (m_line.size() + take > m_limits.maxLineBytes)
        return fail(QStringLiteral("A header line of the response is too long"));
    if (m_state <= State::Headers || m_state == State::Trailers) {
        m_headBytes += take;
        if (m_headBytes > m_limits.maxHeadBytes)
            return fail(QStringLiteral("The response header is too large"));
    }
    m_line.append(start, take);
    used += take;
    if (!end)
        return false;
    line = m_line.chopped(1);
    if (line.endsWith('\r'))
        line.chop(1);
    m_line.clear();
    return true;
}

bool HttpResponseParser::handleLine(const QByteArray& line)
{
    switch (m_state) {
    case State::StatusLine:
        // Blank lines before a status line are tolerated, as servers send
        // them after a body they miscounted.
        return line.isEmpty() || parseStatusLine(line);
    case State::Headers:
        if (line.isEmpty())
            return endOfHead();
        return parseFieldLine(line, m_response.headers());
    case State::ChunkSize:
        return parseChunkSize(line);
    case State::ChunkDataEnd:
        if (!line.isEmpty())
            return fail(QStringLiteral("A chunk of the response is longer than announced"));
        m_state = State::ChunkSize;
        return true;
    case State::Trailers:
        if (line.isEmpty()) {
            m_state = State::Done;
            return true;
        }
        return parseFieldLine(line, m_trailers);
    default:
        return true;
    }
}

bool HttpResponseParser::parseStatusLine(const QByteArray& line)
{
    // "HTTP/x.y SP 3DIGIT [SP reason]"
    const bool shaped = line.size() >= 12 && line.startsWith("HTTP/") && isDigit(line[5])
        && line[6] == '.' && isDigit(line[7]) && line[8] == ' ' && isDigit(line[9])
        && isDigit(line[10]) && isDigit(line[11]) && (line.size() == 12 || line[12] == ' ');
    if (!shaped)
        return fail(QStringLiteral("The server did not answer with an HTTP status line"));
    const int status = line.mid(9, 3).toInt();
    if (status < 100)
        return fail(QStringLiteral("The server answered with an invalid status code"));
    m_response = HttpMessage::response(
        QString::fromLatin1(line.left(8)), status, QString::fromLatin1(line.mid(13)).trimmed());
    m_state = State::Headers;
    return true;
}

bool HttpResponseParser::parseFieldLine(const QByteArray& line, HttpHeaders& into)
{
    if (into.size() >= m_limits.maxFields)
        return fail(QStringLiteral("The response has too many header fields"));
    // A CR or NUL inside a field ends it, or the string, for whoever reads or
    // repeats the value next: a cookie is sent back in the next request.
    if (line.contains('\r') || line.contains('\0'))
        return fail(QStringLiteral("The response has a malformed header field"));
    if (line.startsWith(' ') || line.startsWith('\t')) {
        // An obsolete continuation line: part of the previous field's value.
        if (into.isEmpty())
            return fail(QStringLiteral("The response header starts with a continuation line"));
        into.extendLast(QString::fromLatin1(line.trimmed()));
        return true;
    }
    const qsizetype colon = line.indexOf(':');
    const QByteArray name = line.left(colon);
    if (colon <= 0 || !std::all_of(name.cbegin(), name.cend(), isTokenByte))
        return fail(QStringLiteral("The response has a malformed header field"));
    into.add(QString::fromLatin1(name), QString::fromLatin1(line.mid(colon + 1).trimmed()));
    return true;
}

bool HttpResponseParser::endOfHead()
{
    const int status = m_response.statusCode();
    if (status == 101)
        return fail(QStringLiteral("The server switched protocols unasked"));
    if (status < 200) {
        // Interim answer ("100 Continue", "103 Early Hints"): the real one follows.
        m_state = State::StatusLine;
        m_response = HttpMessage();
        return true;
    }
    return chooseFraming();
}

bool HttpResponseParser::chooseFraming()
{
    const HttpHeaders& headers = m_response.headers();
    const int status = m_response.statusCode();
    const bool tunnel = m_method == QLatin1String("CONNECT") && status / 100 == 2;
    if (m_method == QLatin1String("HEAD") || status == 204 || status == 304 || tunnel) {
        m_framing = BodyFraming::None;
        m_state = State::Done;
        return true;
    }
    const QString transferCoding = headers.value(QStringLiteral("Transfer-Encoding"));
    if (!transferCoding.isNull()) {
        // We offer no transfer coding but chunked (no "TE"): a body in any
        // other, or in chunks under another, would be stored still coded.
        if (transferCoding.trimmed().compare(QLatin1String("chunked"), Qt::CaseInsensitive) != 0)
            return fail(QStringLiteral("The response uses the transfer coding \"%1\", which is "
                                       "not decoded here")
                            .arg(transferCoding));
        m_conflictingFraming = headers.contains(QStringLiteral("Content-Length"));
        m_framing = BodyFraming::Chunked;
        m_state = State::ChunkSize;
        return true;
    }
    const QStringList lengths = headers.values(QStringLiteral("Content-Length"));
    if (lengths.isEmpty()) {
        m_framing = BodyFraming::UntilClose;
        m_state = State::UntilClose;
        return true;
    }
    // Repeated fields (or a list) are accepted only when they all agree.
    bool first = true;
    for (const QString& field : lengths) {
        for (const QString& part : field.split(u',')) {
            quint64 value = 0;
            if (!parseDecimal(part.trimmed().toLatin1(), value) || (!first && value != m_remaining))
                return fail(QStringLiteral("The response has an invalid Content-Length"));
            m_remaining = value;
            first = false;
        }
    }
    m_framing = BodyFraming::Length;
    m_state = m_remaining == 0 ? State::Done : State::Body;
    return true;
}

bool HttpResponseParser::parseChunkSize(const QByteArray& line)
{
    const qsizetype extension = line.indexOf(';');
    const QByteArray digits = (extension < 0 ? line : line.left(extension)).trimmed();
    if (digits.isEmpty() || digits.size() > 15)
        return fail(QStringLiteral("The response has an invalid chunk size"));
    quint64 size = 0;
    for (const char c : digits) {
        const int value = hexValue(c);
        if (value < 0)
            return fail(QStringLiteral("The response has an invalid chunk size"));
        size = size * 16 + static_cast<quint64>(value);
    }
    m_remaining = size;
    m_state = size == 0 ? State::Trailers : State::ChunkData;
    return true;
}

bool HttpResponseParser::isInBody() const
{
    return m_state == State::Body || m_state == State::ChunkData || m_state == State::UntilClose;
}

qsizetype HttpResponseParser::takeBody(qsizetype size)
{
    if (m_state == State::UntilClose)
        return size;
    const qsizetype take = qsizetype(std::min<quint64>(m_remaining, quint64(size)));
    m_remaining -= quint64(take);
    if (m_remaining == 0)
        m_state = m_state == State::ChunkData ? State::ChunkDataEnd : State::Done;
    return take;
}

bool HttpResponseParser::finish()
{
    if (m_state == State::UntilClose)
        m_state = State::Done;
    if (m_state == State::Done || m_state == State::Failed)
        return m_state == State::Done;
    if (!m_receivedAnything)
        return fail(QStringLiteral("The connection was closed before any response arrived"));
    if (!hasHead())
        return fail(
            QStringLiteral("The connection was closed in the middle of the response header"));
    return fail(QStringLiteral("The connection was closed before the whole body arrived"));
}

bool HttpResponseParser::allowsReuse() const
{
    if (m_state != State::Done || m_framing == BodyFraming::UntilClose || m_conflictingFraming)
        return false;
    const HttpHeaders& headers = m_response.headers();
    if (headers.hasToken(QStringLiteral("Connection"), QStringLiteral("close")))
        return false;
    if (m_response.versionNumber() >= 11)
        return true;
    return headers.hasToken(QStringLiteral("Connection"), QStringLiteral("keep-alive"));
}

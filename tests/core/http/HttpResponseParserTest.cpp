#include "http/HttpResponseParser.h"
#include "http/HttpMessage.h"

#include <gtest/gtest.h>

namespace {

struct ParseResult {
    bool ok = false; // complete, by the framing or by finish()
    bool error = false;
    QString errorString;
    HttpMessage head;
    QByteArray body;
    bool reuse = false;
    HttpHeaders trailers;
};

// Feeds the whole input in pieces of `piece` bytes, then ends the connection
// when `closeAtEnd`.
ParseResult parse(const QByteArray& input, qsizetype piece, const QString& method, bool closeAtEnd,
    HttpResponseParser::Limits limits = {})
{
    HttpResponseParser parser(limits);
    parser.setRequestMethod(method);
    ParseResult result;
    for (qsizetype at = 0; at < input.size() && !parser.isComplete() && !parser.hasError();
         at += piece)
        parser.feed(input.constData() + at, std::min(piece, input.size() - at), result.body);
    result.ok = parser.isComplete() || (closeAtEnd && !parser.hasError() && parser.finish());
    result.error = parser.hasError();
    result.errorString = parser.errorString();
    result.head = parser.response();
    result.reuse = parser.allowsReuse();
    result.trailers = parser.trailers();
    return result;
}

struct ParserCase {
    const char* name;
    QByteArray input;
    bool closeAtEnd;
    bool ok;
    int status;
    QByteArray body;
    bool reuse;
    QString method = QStringLiteral("GET");
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const ParserCase& c, std::ostream* os)
{
    *os << c.name;
}

class ResponseParser : public ::testing::TestWithParam<ParserCase> { };

TEST_P(ResponseParser, WholeAndByteByByteGiveTheSameResult)
{
    const ParserCase& c = GetParam();
    for (const qsizetype piece : { qsizetype(1), qsizetype(3), c.input.size() + 1 }) {
        SCOPED_TRACE(piece);
        const ParseResult result = parse(c.input, piece, c.method, c.closeAtEnd);
        EXPECT_EQ(result.ok, c.ok) << result.errorString.toStdString();
        EXPECT_EQ(result.error, !c.ok);
        if (!c.ok)
            continue;
        EXPECT_EQ(result.head.statusCode(), c.status);
        EXPECT_EQ(result.body, c.body);
        EXPECT_EQ(result.reuse, c.reuse);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ResponseParser,
    ::testing::Values(ParserCase { "length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello",
                          false, true, 200, "hello", true },
        ParserCase { "bareLineFeeds", "HTTP/1.1 200 OK\nContent-Length: 2\n\nhi", false, true, 200,
            "hi", true },
        ParserCase { "interimSkipped",
            "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n"
            "HTTP/1.1 201 Created\r\ncontent-length: 2\r\n\r\nok",
            false, true, 201, "ok", true },
        ParserCase { "chunked",
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: "
            "chunked\r\n\r\n4;x=y\r\nWiki\r\n5\r\npedia\r\n0\r\nX-Sum: 1\r\n\r\n",
            false, true, 200, "Wikipedia", true },
        ParserCase {
            "untilClose", "HTTP/1.1 200 OK\r\n\r\nall of it", true, true, 200, "all of it", false },
        ParserCase { "http10WithoutKeepAlive", "HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nx",
            false, true, 200, "x", false },
        ParserCase { "http10KeepAlive",
            "HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 1\r\n\r\nx", false, true,
            200, "x", true },
        ParserCase { "connectionClose",
            "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 1\r\n\r\nx", false, true, 200,
            "x", false },
        ParserCase { "sameLengthTwice",
            "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 2, 2\r\n\r\nab", false, true,
            200, "ab", true },
        ParserCase { "head", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n", false, true, 200, "",
            true, QStringLiteral("HEAD") },
        ParserCase { "noContent", "HTTP/1.1 204 No Content\r\n\r\n", false, true, 204, "", true },
        ParserCase { "notModified", "HTTP/1.1 304 Not Modified\r\nContent-Length: 7\r\n\r\n", false,
            true, 304, "", true },
        ParserCase { "lengthCut", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello", true, false,
            0, "", false },
        ParserCase { "chunkedCut", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel",
            true, false, 0, "", false },
        ParserCase { "chunkedWithoutLastChunk",
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhi\r\n", true, false, 0, "",
            false },
        ParserCase { "headCut", "HTTP/1.1 200 OK\r\nContent-Le", true, false, 0, "", false },
        ParserCase { "nothing", "", true, false, 0, "", false },
        ParserCase { "negativeLength", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n", false,
            false, 0, "", false },
        ParserCase { "hexLength", "HTTP/1.1 200 OK\r\nContent-Length: 0x10\r\n\r\n", false, false,
            0, "", false },
        ParserCase { "disagreeingLengths", "HTTP/1.1 200 OK\r\nContent-Length: 5, 6\r\n\r\n", false,
            false, 0, "", false },
        ParserCase { "lengthWithBlank", "HTTP/1.1 200 OK\r\nContent-Length: 1 2\r\n\r\n", false,
            false, 0, "", false },
        ParserCase { "garbage", "SSH-2.0-OpenSSH_9.2\r\n", false, false, 0, "", false },
        ParserCase { "badStatus", "HTTP/1.1 2x0 OK\r\n\r\n", false, false, 0, "", false },
        ParserCase { "bareCarriageReturnInField",
            "HTTP/1.1 200 OK\r\nSet-Cookie: a=b\rc\r\nContent-Length: 0\r\n\r\n", false, false, 0,
            "", false },
        ParserCase { "nulInField",
            QByteArrayLiteral("HTTP/1.1 200 OK\r\nSet-Cookie: a\0b=1\r\nContent-Length: 0\r\n\r\n"),
            false, false, 0, "", false },
        ParserCase { "spaceBeforeColon", "HTTP/1.1 200 OK\r\nContent-Length : 1\r\n\r\nx", false,
            false, 0, "", false },
        ParserCase { "switchingProtocols", "HTTP/1.1 101 Switching Protocols\r\n\r\n", false, false,
            0, "", false },
        ParserCase { "badChunkSize", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
            false, false, 0, "", false },
        // Transfer codings nobody offered: the body would stay coded.
        ParserCase { "gzipUnderChunked",
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n2\r\nhi\r\n0\r\n\r\n",
            false, false, 0, "", false },
        ParserCase { "chunkedUnderIdentity",
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, identity\r\n\r\n2\r\nhi\r\n0\r\n\r\n",
            true, false, 0, "", false },
        ParserCase { "chunkLongerThanAnnounced",
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhello\r\n", false, false, 0,
            "", false }),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ResponseParserHeaders, CanonicalNamesJoinsAndCookies)
{
    const QByteArray input = "HTTP/1.1 200 OK\r\n"
                             "content-TYPE: text/plain\r\n"
                             "x-many: a\r\nX-Many: b\r\n"
                             "Set-Cookie: a=1; Expires=Wed, 21 Oct 2037 07:28:00 GMT\r\n"
                             "set-cookie: b=2\r\n"
                             "X-Folded: first\r\n  second\r\n"
                             "Content-Length: 0\r\n\r\n";
    const ParseResult result = parse(input, 1, QStringLiteral("GET"), false);
    ASSERT_TRUE(result.ok);
    const HttpHeaders& headers = result.head.headers();
    EXPECT_EQ(headers.fields().first().first, QStringLiteral("Content-Type"));
    EXPECT_EQ(headers.value(QStringLiteral("CONTENT-type")), QStringLiteral("text/plain"));
    EXPECT_EQ(headers.value(QStringLiteral("X-Many")), QStringLiteral("a, b"));
    EXPECT_EQ(headers.dictionary().value(QStringLiteral("X-Many")), QStringLiteral("a, b"));
    EXPECT_EQ(headers.setCookieLines(),
        QStringList({ QStringLiteral("a=1; Expires=Wed, 21 Oct 2037 07:28:00 GMT"),
            QStringLiteral("b=2") }));
    EXPECT_EQ(headers.value(QStringLiteral("X-Folded")), QStringLiteral("first second"));
    EXPECT_EQ(result.head.statusLine(), QStringLiteral("HTTP/1.1 200 OK"));
    EXPECT_TRUE(headers.value(QStringLiteral("Absent")).isNull());
}

TEST(ResponseParserHeaders, TrailersAreKeptApartFromTheHead)
{
    const ParseResult result
        = parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\nx-sum: 9\r\n\r\n", 2,
            QStringLiteral("GET"), false);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.trailers.value(QStringLiteral("X-Sum")), QStringLiteral("9"));
    EXPECT_FALSE(result.head.headers().contains(QStringLiteral("X-Sum")));
}

TEST(ResponseParserLimits, OversizedHeadsAreRefused)
{
    HttpResponseParser::Limits limits;
    limits.maxLineBytes = 100;
    limits.maxHeadBytes = 400;
    limits.maxFields = 5;
    const QByteArray status = "HTTP/1.1 200 OK\r\n";
    struct Case {
        const char* name;
        QByteArray input;
    };
    const QByteArray manyFields = QByteArray("X-A: 1\r\n").repeated(6);
    const QByteArray bigHead = QByteArray("X-A: " + QByteArray(80, 'v') + "\r\n").repeated(4)
        + "X-B: " + QByteArray(80, 'v') + "\r\n";
    for (const Case& c : { Case { "longLine", status + "X-Long: " + QByteArray(200, 'v') + "\r\n" },
             Case { "endlessLine", status + QByteArray(10000, 'v') },
             Case { "tooManyFields", status + manyFields },
             Case { "tooBigHead", status + bigHead } }) {
        SCOPED_TRACE(c.name);
        const ParseResult result = parse(c.input, 7, QStringLiteral("GET"), false, limits);
        EXPECT_TRUE(result.error);
    }
}

TEST(ResponseParserReuse, BytesAfterTheResponseAreLeftToTheCaller)
{
    HttpResponseParser parser;
    QByteArray body;
    const QByteArray input = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokEXTRA";
    EXPECT_EQ(parser.feed(input.constData(), input.size(), body), input.size() - 5);
    EXPECT_TRUE(parser.isComplete());
    EXPECT_EQ(body, "ok");
}

TEST(RequestMessage, WireForms)
{
    struct Case {
        const char* url;
        bool absolute;
        QByteArray requestLine;
        QByteArray host;
    };
    for (const Case& c : {
             Case { "http://example.org/a%20b?q=1#frag", false, "GET /a%20b?q=1 HTTP/1.1",
                 "example.org" },
             Case { "http://example.org", false, "GET / HTTP/1.1", "example.org" },
             Case { "http://user:pw@example.org:8080/x?y", true,
                 "GET http://example.org:8080/x?y HTTP/1.1", "example.org:8080" },
             Case { "https://example.org:443/", false, "GET / HTTP/1.1", "example.org" },
             Case { "http://[::1]:81/", false, "GET / HTTP/1.1", "[::1]:81" },
         }) {
        SCOPED_TRACE(c.url);
        HttpMessage message
            = HttpMessage::request(QStringLiteral("GET"), QUrl(QString::fromLatin1(c.url)));
        message.setHeader(QStringLiteral("accept"), QStringLiteral("*/*"));
        const QList<QByteArray> lines = message.serializedHead(c.absolute).split('\n');
        EXPECT_EQ(lines.value(0), c.requestLine + '\r');
        EXPECT_EQ(lines.value(1), "Host: " + c.host + '\r');
        EXPECT_EQ(lines.value(2), "Accept: */*\r");
        EXPECT_TRUE(message.wireProblem().isEmpty());
    }
}

TEST(RequestMessage, RefusesWhatCannotGoOnTheWire)
{
    const QUrl url(QStringLiteral("http://example.org/"));
    HttpMessage injected = HttpMessage::request(QStringLiteral("GET"), url);
    injected.setHeader(QStringLiteral("X-A"), QStringLiteral("1\r\nX-Evil: 2"));
    HttpMessage badMethod = HttpMessage::request(QStringLiteral("G ET"), url);
    HttpMessage noHost
        = HttpMessage::request(QStringLiteral("GET"), QUrl(QStringLiteral("file:///tmp/x")));
    HttpMessage badVersion
        = HttpMessage::request(QStringLiteral("GET"), url, QStringLiteral("HTTP/2"));
    for (const HttpMessage& message : { injected, badMethod, noHost, badVersion })
        EXPECT_FALSE(message.wireProblem().isEmpty());
}

} // namespace

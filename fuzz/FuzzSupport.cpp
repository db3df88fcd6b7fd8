#include "FuzzSupport.h"

#include "http/HttpResponseParser.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace Fuzz {

QByteArray bytesOf(const uint8_t* data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
}

HttpHeaders responseHeaders(const QByteArray& fieldLines)
{
    QByteArray head = "HTTP/1.1 200 OK\r\n" + fieldLines;
    if (!fieldLines.isEmpty() && !fieldLines.endsWith('\n'))
        head += "\r\n";
    head += "\r\n";
    HttpResponseParser parser;
    parser.setRequestMethod(QStringLiteral("HEAD"));
    QByteArray body;
    parser.feed(head.constData(), head.size(), body);
    return parser.isComplete() ? parser.response().headers() : HttpHeaders();
}

QString privateFolder()
{
    static const QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/quillon-fuzz-XXXXXX"));
    return folder.path();
}

void require(bool condition, const char* what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}

} // namespace Fuzz

namespace {

// The code under test warns about much of what the fuzzer feeds it; only a
// fatal message matters, and Qt ends the run after it.
void keepFatalMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

void pointHomeAtPrivateFolder()
{
    const QString root = Fuzz::privateFolder();
    const auto set = [&](const char* name, const QString& sub) {
        const QString path = root + sub;
        QDir().mkpath(path);
        ::setenv(name, path.toUtf8().constData(), 1);
    };
    set("HOME", QStringLiteral("/home"));
    set("XDG_CONFIG_HOME", QStringLiteral("/home/.config"));
    set("XDG_DATA_HOME", QStringLiteral("/home/.local/share"));
    set("XDG_CACHE_HOME", QStringLiteral("/home/.cache"));
    set("TMPDIR", QStringLiteral("/tmp"));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    pointHomeAtPrivateFolder();
    qInstallMessageHandler(keepFatalMessages);
    return 0;
}

#include "builders/video/BuilderServices.h"

#include "platform/TemporaryFile.h"
#include "services/DNLogger.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStringList>

#include <cerrno>

#include <iconv.h>

namespace {

// The character sets our libass path reads badly, so they become UTF-8 first.
// The detector names UTF-16 with its byte order, hence the two extra names.
bool needsConversion(const QString& charset)
{
    static const QStringList names { "UTF-16", "UTF-16LE", "UTF-16BE", "BIG5", "Shift_JIS" };
    return names.contains(charset, Qt::CaseInsensitive);
}

void reportFailure(const char* message)
{
    DNLog(QString::fromLatin1(message));
    qWarning("%s", message);
}

// The bytes in UTF-8 without a byte-order mark; empty when they are not
// valid in `charset`.
std::optional<QByteArray> toUtf8(const QByteArray& bytes, const QString& charset)
{
    iconv_t converter = ::iconv_open("UTF-8", charset.toLatin1().constData());
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    QByteArray in = bytes;
    QByteArray out(bytes.size() * 2 + 16, Qt::Uninitialized);
    char* inPtr = in.data();
    size_t inLeft = static_cast<size_t>(in.size());
    char* outPtr = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    bool ok = true;
    while (inLeft > 0 && ok) {
        if (::iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1))
            continue;
        ok = errno == E2BIG;
        if (ok) {
            const qsizetype used = outPtr - out.data();
            out.resize(out.size() * 2);
            outPtr = out.data() + used;
            outLeft = static_cast<size_t>(out.size() - used);
        }
    }
    ::iconv_close(converter);
    if (!ok)
        return std::nullopt;
    out.truncate(outPtr - out.data());
    if (out.startsWith("\xEF\xBB\xBF"))
        out.remove(0, 3);
    return out;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size() && file.flush();
}

std::optional<QByteArray> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

} // namespace

std::optional<QString> ConvertSubtitleToUTF8(const QString& path, QString& charset)
{
    const std::optional<QByteArray> bytes = readFile(path);
    if (!bytes) {
        reportFailure("can not read srt subtitle file");
        return std::nullopt;
    }
    const QString copy = makeTemporaryFile(QStringLiteral("qzsub"), QFileInfo(path).suffix());
    if (copy.isEmpty())
        return std::nullopt;
    // The copy is ours: a failure must not leave it in the temporary folder.
    auto discard = qScopeGuard([&copy] { QFile::remove(copy); });
    if (!needsConversion(charset)) {
        if (!writeFile(copy, *bytes)) {
            DNLog(QStringLiteral("Cannot copy the subtitle file %1 to %2").arg(path, copy));
            return std::nullopt;
        }
        discard.dismiss();
        return copy;
    }
    const std::optional<QByteArray> utf8 = toUtf8(*bytes, charset);
    if (!utf8) {
        reportFailure("can not read srt subtitle file");
        return std::nullopt;
    }
    if (!writeFile(copy, *utf8)) {
        reportFailure("convert srt file to utf-8 failed");
        return std::nullopt;
    }
    discard.dismiss();
    charset = QStringLiteral("UTF-8");
    return copy;
}

std::optional<QString> GenSubtitlesFilter(const QString& path, const QString& charset)
{
    QString copyCharset = charset;
    const std::optional<QString> copy = ConvertSubtitleToUTF8(path, copyCharset);
    if (!copy)
        return std::nullopt;
    QString filter = QStringLiteral("[VA]subtitles=filename=") + FilterGraphQuote(*copy);
    const bool isSrt = QFileInfo(*copy).suffix().toUpper() == QLatin1String("SRT");
    if (!copyCharset.isEmpty() && copyCharset.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive)
        && isSrt)
        filter += QStringLiteral(":charenc=") + FilterGraphQuote(copyCharset);
    return filter;
}

QString FilterGraphQuote(const QString& value)
{
    // First the option value: inside single quotes nothing is special but the
    // quote itself, which is closed, escaped and reopened.
    QString inner = value;
    inner.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    const QString quoted = QLatin1Char('\'') + inner + QLatin1Char('\'');
    // Then the graph, which reads the filter's arguments once more and takes
    // these characters for its own.
    QString escaped;
    escaped.reserve(quoted.size() * 2);
    for (const QChar c : quoted) {
        if (QStringView(u"\\'[],;").contains(c))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return escaped;
}

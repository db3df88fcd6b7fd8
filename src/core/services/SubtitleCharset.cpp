#include "services/SubtitleCharset.h"

#include "platform/DNLogger.h"
#include "services/SubtitleCharsetChoice.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unicode/ucnv.h>
#include <unistd.h>

namespace {

// Text subtitle kinds the editor offers too; picture subtitles (.idx/.sub
// pairs) are left out since their charset means nothing.
const QStringList kSubtitleSuffixes = { QStringLiteral("srt"), QStringLiteral("ass"),
    QStringLiteral("ssa"), QStringLiteral("aqt") };

struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
};

// Reads to the end, or to the first chunk past `most` bytes.
std::optional<QByteArray> readUpTo(int fd, qint64 most)
{
    QByteArray bytes;
    char chunk[65536];
    while (bytes.size() <= most) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        bytes.append(chunk, got);
    }
    return bytes;
}

std::optional<QByteArray> refuse(QString& failure, const QString& reason)
{
    failure = reason;
    return std::nullopt;
}

QString nameWithoutSuffix(const QFileInfo& info)
{
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

// The bytes in UTF-8 without a byte-order mark, through the C library's
// converter; empty when it does not know `charset` or they are not valid in it.
std::optional<QByteArray> toUtf8WithIconv(const QByteArray& bytes, const QString& charset)
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
    out.truncate(outPtr - out.data());
    // The C library reads the long forms UTF-8 once had and passes them on
    // unchanged from "UTF-8"; the subtitle filter fails the run on them.
    if (!ok || !QByteArrayView(out).isValidUtf8())
        return std::nullopt;
    return out;
}

struct IcuConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};

// The same through ICU, which knows a few names the detector gives and the C
// library does not ("HZ-GB-2312").
std::optional<QByteArray> toUtf8WithIcu(const QByteArray& bytes, const QString& charset)
{
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<UConverter, IcuConverterCloser> converter(
        ucnv_open(charset.toLatin1().constData(), &status));
    ucnv_setToUCallBack(
        converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status) || bytes.size() > std::numeric_limits<int32_t>::max() / 2)
        return std::nullopt;
    // A byte gives at most two UTF-16 units.
    QString text(bytes.size() * 2 + 1, Qt::Uninitialized);
    const int32_t length = ucnv_toUChars(converter.get(), reinterpret_cast<UChar*>(text.data()),
        static_cast<int32_t>(text.size()), bytes.constData(), static_cast<int32_t>(bytes.size()),
        &status);
    if (U_FAILURE(status))
        return std::nullopt;
    text.truncate(length);
    return text.toUtf8();
}

} // namespace

std::optional<QByteArray> subtitleTextInUtf8(const QByteArray& bytes, const QString& charset)
{
    std::optional<QByteArray> out = toUtf8WithIconv(bytes, charset);
    if (!out)
        out = toUtf8WithIcu(bytes, charset);
    if (out && out->startsWith("\xEF\xBB\xBF"))
        out->remove(0, 3);
    return out;
}

QString detectCharset(const QByteArray& bytes)
{
    return chooseSubtitleCharset(bytes, {}).name;
}

std::optional<QByteArray> readSubtitleFile(const QString& path, QString& failure, qint64 most)
{
    // Non-blocking: opening a FIFO would otherwise wait for a writer.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return refuse(failure, QString::fromLocal8Bit(std::strerror(errno)));
    const FdCloser closer { fd };
    struct stat file { };
    if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode))
        return refuse(failure, QStringLiteral("it is not a regular file"));
    const QString tooLarge = QStringLiteral("it is larger than %1 MiB").arg(most >> 20);
    if (file.st_size > most)
        return refuse(failure, tooLarge);
    const std::optional<QByteArray> bytes = readUpTo(fd, most);
    if (!bytes)
        return refuse(failure, QString::fromLocal8Bit(std::strerror(errno)));
    if (bytes->size() > most) // it grew while we read
        return refuse(failure, tooLarge);
    return bytes;
}

QString detectFileCharset(const QString& path)
{
    QString failure;
    const std::optional<QByteArray> bytes = readSubtitleFile(path, failure);
    return bytes ? detectCharset(*bytes) : QString();
}

QString subtitleCodePage(const QByteArray& bytes, const QString& path, const QString& language)
{
    const SubtitleCharsetChoice choice
        = chooseSubtitleCharset(bytes, subtitleTextLanguage(path, language));
    if (!choice.doubt.isEmpty())
        DNLog(QStringLiteral("Can not tell the charset of %1: %2").arg(path, choice.doubt));
    else if (choice.name.isEmpty())
        return QStringLiteral("UTF-8");
    return choice.name;
}

QString subtitleFileCodePage(const QString& path, const QString& language)
{
    QString failure;
    const std::optional<QByteArray> bytes = readSubtitleFile(path, failure);
    return bytes ? subtitleCodePage(*bytes, path, language) : QStringLiteral("UTF-8");
}

QString subtitleFileCharsetDoubt(const QString& path, const QString& language)
{
    QString failure;
    const std::optional<QByteArray> bytes = readSubtitleFile(path, failure);
    return bytes ? chooseSubtitleCharset(*bytes, subtitleTextLanguage(path, language)).doubt
                 : QString();
}

QStringList externalSubtitleFiles(const QString& mediaPath)
{
    const QFileInfo media(mediaPath);
    const QString base = nameWithoutSuffix(media);
    QStringList found;
    // Names only: a folder of many media files must not cost a stat per entry per probe.
    QDirIterator entries(media.absolutePath(), QDir::Files | QDir::Hidden);
    while (entries.hasNext()) {
        const QFileInfo entry(entries.next());
        if (entry.fileName() != media.fileName() && nameWithoutSuffix(entry) == base
            && kSubtitleSuffixes.contains(entry.suffix(), Qt::CaseInsensitive))
            found.append(entry.absoluteFilePath());
    }
    found.sort();
    return found;
}

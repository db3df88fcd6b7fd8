#include "services/SubtitleCharset.h"

#include "platform/DNLogger.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <uchardet.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Text subtitle kinds the editor offers too; picture subtitles (.idx/.sub
// pairs) are left out since their charset means nothing.
const QStringList kSubtitleSuffixes = { QStringLiteral("srt"), QStringLiteral("ass"),
    QStringLiteral("ssa"), QStringLiteral("aqt") };

struct DetectorDeleter {
    void operator()(uchardet* detector) const { uchardet_delete(detector); }
};

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

// Letters past ASCII that all decode as UTF-8 are UTF-8: in any 8-bit set
// they would have to come in the rare pairs and triples UTF-8 is made of.
// The detector needs many such letters to say so, and reads a short line
// ("Un café") in a Central European set.
bool isUtf8BeyondAscii(const QByteArray& bytes)
{
    const bool beyondAscii
        = std::any_of(bytes.begin(), bytes.end(), [](char byte) { return byte & 0x80; });
    if (!beyondAscii)
        return false;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

} // namespace

QString detectCharset(const QByteArray& bytes)
{
    if (isUtf8BeyondAscii(bytes))
        return QStringLiteral("UTF-8");
    const std::unique_ptr<uchardet, DetectorDeleter> detector(uchardet_new());
    if (!detector)
        return {};
    if (uchardet_handle_data(detector.get(), bytes.constData(), static_cast<size_t>(bytes.size()))
        != 0)
        return {};
    uchardet_data_end(detector.get());
    const char* const name = uchardet_get_charset(detector.get());
    return name ? QString::fromLatin1(name) : QString();
}

std::optional<QByteArray> readSubtitleFile(const QString& path, QString& failure)
{
    // Non-blocking: opening a FIFO would otherwise wait for a writer.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return refuse(failure, QString::fromLocal8Bit(std::strerror(errno)));
    const FdCloser closer { fd };
    struct stat file { };
    if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode))
        return refuse(failure, QStringLiteral("it is not a regular file"));
    const QString tooLarge
        = QStringLiteral("it is larger than %1 MiB").arg(kMostSubtitleBytes >> 20);
    if (file.st_size > kMostSubtitleBytes)
        return refuse(failure, tooLarge);
    const std::optional<QByteArray> bytes = readUpTo(fd, kMostSubtitleBytes);
    if (!bytes)
        return refuse(failure, QString::fromLocal8Bit(std::strerror(errno)));
    if (bytes->size() > kMostSubtitleBytes) // it grew while we read
        return refuse(failure, tooLarge);
    return bytes;
}

QString detectFileCharset(const QString& path)
{
    QString failure;
    const std::optional<QByteArray> bytes = readSubtitleFile(path, failure);
    return bytes ? detectCharset(*bytes) : QString();
}

QString subtitleCodePage(const QByteArray& bytes, const QString& path)
{
    const QString detected = detectCharset(bytes);
    if (!detected.isEmpty())
        return detected;
    DNLog(QStringLiteral("Can not tell the charset of %1, reading it as UTF-8").arg(path));
    return QStringLiteral("UTF-8");
}

QString subtitleFileCodePage(const QString& path)
{
    QString failure;
    const std::optional<QByteArray> bytes = readSubtitleFile(path, failure);
    return bytes ? subtitleCodePage(*bytes, path) : QStringLiteral("UTF-8");
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

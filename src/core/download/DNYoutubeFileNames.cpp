#include "download/DNYoutubeFileNames.h"

#include "platform/AppPaths.h"
#include "services/DNHelpers.h"

#include <QCryptographicHash>
#include <QRegularExpression>

namespace {

// What the longest derived name adds to the title: a part number, "." and a
// stream key (13 bytes), and ".[AudioStream].quillondownload" (30 bytes),
// ".<container>.quillondownload" or "[VideoStream].<container>" (13 bytes and
// the container), or "[Merged]" and a counter " (99999)"; containers are
// short media extensions. 56 bytes cover all of them. The client's temporary names
// beside a destination fit within 255 bytes by themselves.
constexpr qsizetype kLongestSuffixBytes = 56;
constexpr qsizetype kTitleBytes = 255 - kLongestSuffixBytes;

// The longest prefix of `text` whose UTF-8 form takes at most `bytes` bytes,
// never splitting a character (a surrogate pair stays whole).
QString cutToUtf8Bytes(const QString& text, qsizetype bytes)
{
    qsizetype used = 0;
    qsizetype index = 0;
    while (index < text.size()) {
        const bool pair = text.at(index).isHighSurrogate() && index + 1 < text.size();
        const qsizetype units = pair ? 2 : 1;
        const qsizetype length = text.mid(index, units).toUtf8().size();
        if (used + length > bytes)
            break;
        used += length;
        index += units;
    }
    return text.left(index);
}

QString baseName(const QString& title, int partIndex)
{
    const QString safe = DNYoutubeSafeTitle(title);
    return partIndex > 0 ? safe + QString::number(partIndex + 1) : safe;
}

} // namespace

QString DNYoutubeSafeTitle(const QString& title)
{
    // Control characters (a NUL would end the name where the system reads it)
    // and the bidirectional marks that make a name read otherwise than it is.
    static const QRegularExpression unsafe(QStringLiteral(
        "[/\\p{Cc}\\x{061C}\\x{200E}\\x{200F}\\x{202A}-\\x{202E}\\x{2066}-\\x{2069}]"));
    static const QRegularExpression leadingDots(QStringLiteral("^\\.+"));
    QString safe = title;
    safe.replace(unsafe, QStringLiteral("_"));
    safe.replace(leadingDots, QStringLiteral("_"));
    if (safe.isEmpty())
        return QStringLiteral("Untitled");
    return cutToUtf8Bytes(safe, kTitleBytes);
}

namespace DNYoutubeFileNames {

QString outputFile(
    const QString& folder, const QString& title, int partIndex, const QString& container)
{
    const QString name
        = QStringLiteral("%1.%2").arg(baseName(title, partIndex), container.toLower());
    return DNUniqueFilePath(folder, name, 0);
}

QString tempVideoFile(const QString& folder, const QString& title, int partIndex,
    const QString& container, const QString& streamKey)
{
    return QStringLiteral("%1/%2[VideoStream].%3.%4")
        .arg(folder, baseName(title, partIndex), streamKey, container.toLower());
}

QString tempAudioFile(const QString& folder, const QString& title, const QString& streamKey)
{
    return QStringLiteral("%1/%2[AudioStream].%3.data")
        .arg(folder, DNYoutubeSafeTitle(title), streamKey);
}

QString mergedFile(const QString& title, int partIndex, const QString& container)
{
    const QString name
        = QStringLiteral("%1[Merged].%2").arg(baseName(title, partIndex), container.toLower());
    return DNUniqueFilePath(AppPaths::downloadsFolder(), name, 0);
}

QString partialVideoFile(
    const QString& title, int partIndex, const QString& container, const QString& streamKey)
{
    return QStringLiteral("%1/%2.%3.%4.quillondownload")
        .arg(AppPaths::downloadsFolder(), baseName(title, partIndex), streamKey,
            container.toLower());
}

QString partialAudioFile(const QString& title, const QString& streamKey)
{
    return QStringLiteral("%1/%2.%3.[AudioStream].quillondownload")
        .arg(AppPaths::downloadsFolder(), DNYoutubeSafeTitle(title), streamKey);
}

QString streamKey(const QString& identity)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha256).toHex().left(12));
}

} // namespace DNYoutubeFileNames

#include "download/DNYoutubeFileNames.h"

#include "platform/AppPaths.h"
#include "services/DNHelpers.h"

namespace {

// What the longest derived name adds to the title: "[AudioStream]" or
// "[VideoStream]" (13 bytes), a part number, a counter " (99999)", and
// ".[AudioStream].tolvadownload" (28 bytes) or ".<container>.tolvadownload";
// containers are short media extensions. 48 bytes cover all of them.
constexpr qsizetype kLongestSuffixBytes = 48;
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
    QString safe = title;
    // A NUL would end the name where the system reads it.
    safe.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QChar(u'\0'), QLatin1Char('_'));
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

QString tempVideoFile(
    const QString& folder, const QString& title, int partIndex, const QString& container)
{
    const QString name
        = QStringLiteral("%1[VideoStream].%2").arg(baseName(title, partIndex), container.toLower());
    return DNUniqueFilePath(folder, name, 0);
}

QString tempAudioFile(const QString& folder, const QString& title)
{
    const QString name = QStringLiteral("%1[AudioStream].data").arg(DNYoutubeSafeTitle(title));
    return DNUniqueFilePath(folder, name, 0);
}

QString partialVideoFile(const QString& title, int partIndex, const QString& container)
{
    return QStringLiteral("%1/%2.%3.tolvadownload")
        .arg(AppPaths::downloadsFolder(), baseName(title, partIndex), container.toLower());
}

QString partialAudioFile(const QString& title)
{
    return QStringLiteral("%1/%2.[AudioStream].tolvadownload")
        .arg(AppPaths::downloadsFolder(), DNYoutubeSafeTitle(title));
}

} // namespace DNYoutubeFileNames

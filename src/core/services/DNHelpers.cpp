#include "services/DNHelpers.h"

#include "platform/AppPaths.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdlib>

QString DNApplicationName()
{
    return AppPaths::productName();
}

namespace {

bool pathIsTaken(const QString& path)
{
    // A dangling link still occupies the name, so it is taken as well.
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString joinedPath(const QString& folder, const QString& name)
{
    // No folder means the name as it stands, never a file at the root.
    if (folder.isEmpty())
        return name;
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// The file name with " (n)" before its extension.
QString numberedName(const QString& fileName, int counter)
{
    return DNFileNameWithin(fileName, QStringLiteral(" (%1)").arg(counter));
}

} // namespace

QString DNFileNameWithin(const QString& fileName, const QString& mark)
{
    // A leading point marks a hidden file, not an extension.
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString base = dot <= 0 ? fileName : fileName.left(dot);
    const QByteArray tail = (mark + (dot <= 0 ? QString() : fileName.mid(dot))).toUtf8();
    QByteArray bytes = base.toUtf8();
    const qsizetype room = std::max<qsizetype>(0, kDNLongestFileName - tail.size());
    if (bytes.size() > room) {
        // Never inside a character: its continuation bytes go with it.
        qsizetype cut = room;
        while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80)
            --cut;
        bytes.truncate(cut);
    }
    return QString::fromUtf8(bytes + tail);
}

QString DNUniqueFilePath(const QString& folder, const QString& fileName, int counter)
{
    if (counter <= 0) {
        const QString plain = joinedPath(folder, DNFileNameWithin(fileName));
        if (!pathIsTaken(plain))
            return plain;
        counter = 1;
    }
    for (;; ++counter) {
        const QString candidate = joinedPath(folder, numberedName(fileName, counter));
        if (!pathIsTaken(candidate))
            return candidate;
    }
}

bool DNIsPlainFileNameSuffix(const QString& suffix)
{
    return !suffix.contains(QLatin1Char('/')) && !suffix.contains(QLatin1String(".."));
}

QString DNQuotedWords(const QString& words, qsizetype limit)
{
    if (words.size() <= limit)
        return words;
    // Never between the two halves of a surrogate pair.
    const qsizetype cut = words.at(limit).isLowSurrogate() ? limit - 1 : limit;
    return words.left(cut) + QStringLiteral("… (cut)");
}

QString DNTimeStringFromSeconds(int seconds)
{
    const qint64 total = std::llabs(static_cast<qint64>(seconds));
    const auto twoDigits
        = [](qint64 value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); };
    return twoDigits(total / 3600) + QLatin1Char(':') + twoDigits(total / 60 % 60)
        + QLatin1Char(':') + twoDigits(total % 60);
}

QSizeF DNAspectFitSize(QSizeF size, QSizeF box)
{
    const float sw = static_cast<float>(size.width());
    const float sh = static_cast<float>(size.height());
    const float bw = static_cast<float>(box.width());
    const float bh = static_cast<float>(box.height());
    if (sw <= 0 || sh <= 0 || bw <= 0 || bh <= 0)
        return QSizeF(std::trunc(bw), std::trunc(bh));
    const float r = sw / sh - bw / bh;
    if (r > 0.0001f)
        return QSizeF(std::trunc(bw), std::trunc(sh * (bw / sw)));
    if (r < -0.0001f)
        return QSizeF(std::trunc(sw * (bh / sh)), std::trunc(bh));
    return QSizeF(std::trunc(bw), std::trunc(bh));
}

std::uint32_t DNSystemVersion()
{
    // The binary-coded form stops at 10.9.9; every later system reports exactly this.
    return 0x1099;
}

QStringList DNWatermarkImageTypes()
{
    return { QStringLiteral("bmp"), QStringLiteral("tif"), QStringLiteral("jpg"),
        QStringLiteral("jpeg"), QStringLiteral("png"), QStringLiteral("tiff") };
}

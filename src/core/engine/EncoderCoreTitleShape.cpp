// A DVD title's display aspect and rate as its disc's IFO files name them,
// read from a disc folder without a program of their own.
#include "engine/EncoderCore.h"

#include "platform/PathStatus.h"

#include <QDir>
#include <QFile>

namespace {

constexpr qint64 kSector = 2048;
// The title table's sector in the disc's own IFO, and the attributes of the
// picture in a title set's.
constexpr qint64 kTitleTableAt = 0xC4;
constexpr qint64 kPictureAttributesAt = 0x200;
constexpr int kTitleEntryBytes = 12;
constexpr int kTitleTableHead = 8;
constexpr int kMostTitles = 99;
// An IFO is read this far at most: the title table lies in its first sectors.
constexpr qint64 kLongestRead = 64 * kSector;

// The bytes of a regular file from `at`, `count` of them, or fewer where it ends.
QByteArray bytesOf(const QString& path, qint64 at, qint64 count)
{
    QFile file(path);
    if (!isRegularFile(path) || at + count > kLongestRead || !file.open(QIODevice::ReadOnly)
        || !file.seek(at))
        return {};
    return file.read(count);
}

quint32 bigEndian(const QByteArray& bytes, qsizetype at)
{
    quint32 value = 0;
    for (qsizetype index = at; index < at + 4; ++index)
        value = (value << 8) | quint8(bytes.at(index));
    return value;
}

// The folder that holds the disc's IFO files: VIDEO_TS in `device`, or the
// device itself; empty for an image, a drive or anything else.
QString ifoFolder(const QString& device)
{
    for (const QString& folder : { device + QStringLiteral("/VIDEO_TS"), device }) {
        if (isRegularFile(folder + QStringLiteral("/VIDEO_TS.IFO")))
            return folder;
    }
    return {};
}

} // namespace

std::optional<EncoderCoreTitleShape> EncoderCoreFolderTitleShape(
    const QString& device, int titleNumber)
{
    const QString folder = ifoFolder(device);
    if (folder.isEmpty() || titleNumber < 1 || titleNumber > kMostTitles)
        return std::nullopt;
    const QString disc = folder + QStringLiteral("/VIDEO_TS.IFO");
    const QByteArray head = bytesOf(disc, 0, kTitleTableAt + 4);
    if (head.size() != kTitleTableAt + 4 || !head.startsWith("DVDVIDEO-VMG"))
        return std::nullopt;
    const QByteArray titles = bytesOf(disc, bigEndian(head, kTitleTableAt) * kSector,
        kTitleTableHead + kMostTitles * kTitleEntryBytes);
    const qsizetype entry = kTitleTableHead + (titleNumber - 1) * kTitleEntryBytes;
    if (titles.size() < 2 || (quint8(titles[0]) << 8 | quint8(titles[1])) < titleNumber
        || titles.size() < entry + kTitleEntryBytes)
        return std::nullopt;
    const int titleSet = quint8(titles[entry + 6]);
    const QString set = folder + QStringLiteral("/VTS_%1_0.IFO").arg(titleSet, 2, 10, QChar('0'));
    const QByteArray setHead = bytesOf(set, 0, 12);
    const QByteArray picture = bytesOf(set, kPictureAttributesAt, 1);
    if (!setHead.startsWith("DVDVIDEO-VTS") || picture.size() != 1)
        return std::nullopt;
    // The attributes' first byte: MPEG version, standard (0 NTSC, 1 PAL),
    // display aspect (0 4:3, 3 16:9), two bits each.
    const int standard = (quint8(picture[0]) >> 4) & 3;
    const int aspect = (quint8(picture[0]) >> 2) & 3;
    if (standard > 1 || (aspect != 0 && aspect != 3))
        return std::nullopt;
    return EncoderCoreTitleShape { aspect == 0 ? QStringLiteral("1.3333")
                                               : QStringLiteral("1.7778"),
        standard == 0 ? 30000.0 / 1001 : 25.0 };
}

#include "slideshow/EmbeddedProfile.h"

#include <QIODevice>
#include <QtEndian>

#include <zlib.h>

#include <map>

namespace {

// The largest profile a JPEG can carry (255 segments of at most 65,519
// bytes); nothing larger is read from any format.
constexpr qint64 kLargestProfileBytes = 255 * 65'519;

quint16 bigEndian16(const QByteArray& bytes, qsizetype at)
{
    return qFromBigEndian<quint16>(bytes.constData() + at);
}

bool isJpegFrame(uchar marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// The next marker's code, past any fill bytes; 0 when there is none.
uchar nextJpegMarker(QIODevice& device)
{
    char byte = 0;
    if (!device.getChar(&byte) || uchar(byte) != 0xFF)
        return 0;
    while (device.getChar(&byte))
        if (uchar(byte) != 0xFF)
            return uchar(byte);
    return 0;
}

// A frame of one component is grey, of three a luma and chroma (or red,
// green and blue), of four the inks of print (or a luma, chroma and black).
StoredSamples jpegSamples(uchar components)
{
    switch (components) {
    case 1:
        return StoredSamples::Grey;
    case 3:
        return StoredSamples::Rgb;
    case 4:
        return StoredSamples::Cmyk;
    default:
        return StoredSamples::Unknown;
    }
}

EmbeddedProfile readJpeg(QIODevice& device)
{
    EmbeddedProfile found;
    found.jpeg = true;
    // A profile too large for one segment is split over several, numbered from 1.
    std::map<int, QByteArray> chunks;
    for (;;) {
        const uchar marker = nextJpegMarker(device);
        if (marker == 0 || marker == 0xDA || marker == 0xD9)
            break;
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01)
            continue; // markers without a body
        const QByteArray lengthBytes = device.read(2);
        if (lengthBytes.size() != 2 || bigEndian16(lengthBytes, 0) < 2)
            break;
        const qint64 length = bigEndian16(lengthBytes, 0) - 2;
        if (marker != 0xE2 && !isJpegFrame(marker)) {
            if (device.skip(length) != length)
                break;
            continue;
        }
        const QByteArray body = device.read(length);
        if (body.size() != length)
            break;
        if (isJpegFrame(marker) && body.size() > 5)
            found.samples = jpegSamples(uchar(body[5]));
        else if (body.startsWith(QByteArrayView("ICC_PROFILE\0", 12)) && body.size() > 14)
            chunks[uchar(body[12])] = body.mid(14);
    }
    for (const auto& chunk : chunks)
        found.icc += chunk.second;
    return found;
}

QByteArray inflated(const QByteArray& compressed)
{
    z_stream stream {};
    if (inflateInit(&stream) != Z_OK)
        return {};
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    QByteArray whole;
    int status = Z_OK;
    while (status == Z_OK && whole.size() <= kLargestProfileBytes) {
        char piece[65'536];
        stream.next_out = reinterpret_cast<Bytef*>(piece);
        stream.avail_out = sizeof piece;
        status = inflate(&stream, Z_NO_FLUSH);
        whole.append(piece, static_cast<qsizetype>(sizeof piece - stream.avail_out));
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END ? whole : QByteArray();
}

// Colour types 0 and 4 are grey (with alpha); 2 and 6 red, green and blue,
// 3 a palette of them.
StoredSamples pngSamples(uchar colourType)
{
    switch (colourType) {
    case 0:
    case 4:
        return StoredSamples::Grey;
    case 2:
    case 3:
    case 6:
        return StoredSamples::Rgb;
    default:
        return StoredSamples::Unknown;
    }
}

EmbeddedProfile readPng(QIODevice& device)
{
    EmbeddedProfile found;
    device.skip(8); // the signature
    for (;;) {
        const QByteArray header = device.read(8);
        if (header.size() != 8)
            return found;
        const qint64 length = qFromBigEndian<quint32>(header.constData());
        const QByteArray type = header.mid(4);
        if (type == "IDAT" || type == "IEND" || length > kLargestProfileBytes)
            return found;
        if (type != "iCCP" && type != "IHDR") {
            if (device.skip(length + 4) != length + 4)
                return found;
            continue;
        }
        const QByteArray body = device.read(length);
        if (body.size() != length || device.skip(4) != 4)
            return found;
        // The width, the height, the depth, the colour type.
        if (type == "IHDR") {
            if (body.size() > 9)
                found.samples = pngSamples(uchar(body[9]));
            continue;
        }
        // A name of the profile, its end, the compression method (0: zlib).
        const qsizetype nameEnd = body.indexOf('\0');
        if (nameEnd >= 0 && nameEnd + 2 <= body.size() && body[nameEnd + 1] == 0)
            found.icc = inflated(body.mid(nameEnd + 2));
        return found;
    }
}

// Photometric interpretations 0 and 1 are grey; 2 red, green and blue, 3 a
// palette of them, 6 a luma and chroma; 5 separated inks, which are CMYK
// unless the file names another set.
StoredSamples tiffSamples(quint16 photometric)
{
    switch (photometric) {
    case 0:
    case 1:
        return StoredSamples::Grey;
    case 2:
    case 3:
    case 6:
        return StoredSamples::Rgb;
    case 5:
        return StoredSamples::Cmyk;
    default:
        return StoredSamples::Unknown;
    }
}

EmbeddedProfile readTiff(QIODevice& device)
{
    constexpr quint16 kPhotometricTag = 262;
    constexpr quint16 kIccTag = 34'675;
    EmbeddedProfile found;
    found.tiff = true;
    const QByteArray header = device.read(8);
    const bool little = header.startsWith("II");
    const auto number16 = [little](const QByteArray& bytes, qsizetype at) {
        return little ? qFromLittleEndian<quint16>(bytes.constData() + at)
                      : qFromBigEndian<quint16>(bytes.constData() + at);
    };
    const auto number32 = [little](const QByteArray& bytes, qsizetype at) {
        return little ? qFromLittleEndian<quint32>(bytes.constData() + at)
                      : qFromBigEndian<quint32>(bytes.constData() + at);
    };
    if (header.size() != 8 || !device.seek(number32(header, 4)))
        return found;
    const QByteArray count = device.read(2);
    if (count.size() != 2)
        return found;
    const QByteArray entries = device.read(12 * qint64(number16(count, 0)));
    for (qsizetype at = 0; at + 12 <= entries.size(); at += 12) {
        const quint16 tag = number16(entries, at);
        // A short value stands at the start of the entry's last four bytes.
        if (tag == kPhotometricTag)
            found.samples = tiffSamples(number16(entries, at + 8));
        if (tag != kIccTag)
            continue;
        const qint64 length = number32(entries, at + 4);
        if (length <= 4)
            found.icc = entries.mid(at + 8, length);
        else if (length <= kLargestProfileBytes && device.seek(number32(entries, at + 8)))
            found.icc = device.read(length);
    }
    return found;
}

} // namespace

EmbeddedProfile readEmbeddedProfile(QIODevice& device)
{
    const qint64 wasAt = device.pos();
    EmbeddedProfile found;
    if (device.seek(0)) {
        const QByteArray start = device.peek(4);
        if (start.startsWith("\xFF\xD8")) {
            device.skip(2);
            found = readJpeg(device);
        } else if (start.startsWith("\x89PNG")) {
            found = readPng(device);
        } else if (start == QByteArrayView("II*\0", 4) || start == QByteArrayView("MM\0*", 4)) {
            found = readTiff(device);
        }
    }
    device.seek(wasAt);
    return found;
}

#include "http/NXDataCompressor.h"
#include "http/NXDataDecompressor.h"
#include "http/NXHTTPRequestError.h"

#include "RequestTestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

#include <zlib.h>

namespace {

// Text-like bytes that compress well but not to nothing.
QByteArray sample(qsizetype size)
{
    QByteArray bytes;
    bytes.reserve(size);
    QRandomGenerator random(7);
    while (bytes.size() < size)
        bytes += "word" + QByteArray::number(random.bounded(500)) + ' ';
    bytes.truncate(size);
    return bytes;
}

QByteArray compressInPieces(const QByteArray& data, qsizetype piece)
{
    NXDataCompressor compressor;
    EXPECT_TRUE(compressor.setupStream().isNull());
    QByteArray out;
    for (qsizetype at = 0; at < data.size(); at += piece) {
        const qsizetype length = std::min(piece, data.size() - at);
        const bool last = at + length >= data.size();
        const auto part
            = compressor.compressBytes(data.constData() + at, quint64(length), nullptr, last);
        EXPECT_TRUE(part.has_value());
        out += part.value_or(QByteArray());
    }
    return out;
}

QByteArray uncompressInPieces(const QByteArray& data, qsizetype piece, HttpError* error = nullptr)
{
    NXDataDecompressor decompressor;
    EXPECT_TRUE(decompressor.setupStream().isNull());
    QByteArray out;
    for (qsizetype at = 0; at < data.size(); at += piece) {
        const qsizetype length = std::min(piece, data.size() - at);
        const auto part
            = decompressor.uncompressBytes(data.constData() + at, quint64(length), error);
        if (!part)
            return {};
        out += *part;
    }
    // A stream that never reached its end is no whole data either.
    if (const HttpError closing = decompressor.closeStream(); !closing.isNull()) {
        if (error)
            *error = closing;
        return {};
    }
    return out;
}

// A zlib-wrapped (not gzip) form, made with zlib directly.
QByteArray zlibWrapped(const QByteArray& data)
{
    uLongf size = compressBound(uLong(data.size()));
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    compress(reinterpret_cast<Bytef*>(out.data()), &size,
        reinterpret_cast<const Bytef*>(data.constData()), uLong(data.size()));
    out.resize(qsizetype(size));
    return out;
}

} // namespace

TEST(Gzip, PiecesRoundTripToTheWholeInput)
{
    struct Case {
        const char* name;
        qsizetype size;
        qsizetype compressPiece;
        qsizetype inflatePiece;
        bool zeros = false;
    };
    const Case cases[] = {
        { "one call each way", 300000, 300000, 300000 },
        { "16 KiB pieces", 300000, 16 * 1024, 16 * 1024 },
        { "one byte pieces", 3000, 1, 1 },
        { "tiny compressed pieces inflating to much", 2000000, 2000000, 7 },
        { "a single byte", 1, 1, 1 },
        { "zeros: each piece inflates to far more than its buffer", 3000000, 3000000, 5, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray data = c.zeros ? QByteArray(c.size, '\0') : sample(c.size);
        const QByteArray whole
            = NXDataCompressor::compressData(data, nullptr).value_or(QByteArray());
        const QByteArray pieces = compressInPieces(data, c.compressPiece);
        EXPECT_EQ(pieces.left(2), QByteArray("\x1f\x8b")); // gzip header
        EXPECT_EQ(uncompressInPieces(pieces, c.inflatePiece), data);
        EXPECT_EQ(uncompressInPieces(whole, c.inflatePiece), data);
    }
}

TEST(Gzip, ZlibWrappedDataInflatesAndGarbageFailsWithCode11)
{
    const QByteArray data = sample(50000);
    EXPECT_EQ(NXDataDecompressor::uncompressData(zlibWrapped(data), nullptr), data);

    HttpError error;
    EXPECT_FALSE(NXDataDecompressor::uncompressData(QByteArray(64, 'x'), &error).has_value());
    EXPECT_EQ(error.domain(), NXHTTPRequestErrorDomain);
    EXPECT_EQ(error.code(), 11);
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("The body is not valid gzip data"));
}

TEST(Gzip, FilesOfEverySizeGetTheirTrailer)
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source"));
    const QString packed = dir.filePath(QStringLiteral("packed.gz"));
    const QString unpacked = dir.filePath(QStringLiteral("unpacked"));
    const qint64 chunk = NXDataCompressor::chunkSize;
    for (const qint64 size : { qint64(0), qint64(10), chunk, 2 * chunk, 2 * chunk + 1 }) {
        SCOPED_TRACE(size);
        const QByteArray data = sample(size);
        writeFile(source, data);
        HttpError error;
        ASSERT_TRUE(NXDataCompressor::compressDataFromFile(source, packed, &error))
            << error.localizedDescription().toStdString();
        // The trailer ends with the input size, modulo 2^32, little-endian.
        const QByteArray tail = fileBytes(packed).right(4);
        const quint32 recorded = quint32(quint8(tail[0])) | quint32(quint8(tail[1])) << 8
            | quint32(quint8(tail[2])) << 16 | quint32(quint8(tail[3])) << 24;
        EXPECT_EQ(recorded, quint32(size));
        ASSERT_TRUE(NXDataDecompressor::uncompressDataFromFile(packed, unpacked, &error));
        EXPECT_EQ(fileBytes(unpacked), data);
    }
}

TEST(Gzip, MissingSourceFileFailsAndLeavesAnEmptyDestination)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing"));
    const QString destination = dir.filePath(QStringLiteral("out"));
    HttpError error;
    EXPECT_FALSE(NXDataDecompressor::uncompressDataFromFile(missing, destination, &error));
    EXPECT_EQ(error.code(), 11);
    EXPECT_EQ(error.localizedDescription(),
        QStringLiteral("Decompression of %1 failed the file does not exist").arg(missing));
    EXPECT_TRUE(QFile::exists(destination));
    EXPECT_EQ(QFileInfo(destination).size(), 0);
}

TEST(Gzip, ABodyCutShortFailsWithCode11WholeInPiecesAndFileToFile)
{
    const QByteArray data = sample(100000);
    const QByteArray gzip = NXDataCompressor::compressData(data, nullptr).value_or(QByteArray());
    ASSERT_GT(gzip.size(), 100);
    QTemporaryDir dir;
    const QString packed = dir.filePath(QStringLiteral("packed.gz"));
    const QString unpacked = dir.filePath(QStringLiteral("unpacked"));
    const QString failure
        = QStringLiteral("The gzip body was cut short: its compressed data does not end");
    // 0 cut is the sound body: every path must accept it, so a path that
    // fails everything cannot pass.
    for (const qsizetype cut :
        { qsizetype(0), qsizetype(1), qsizetype(4), qsizetype(8), qsizetype(gzip.size() / 2) }) {
        SCOPED_TRACE(cut);
        const QByteArray body = gzip.chopped(cut);
        const bool sound = cut == 0;

        HttpError whole;
        EXPECT_EQ(NXDataDecompressor::uncompressData(body, &whole).has_value(), sound);

        NXDataDecompressor decompressor;
        ASSERT_TRUE(decompressor.setupStream().isNull());
        for (qsizetype at = 0; at < body.size(); at += 1000) {
            const qsizetype length = std::min<qsizetype>(1000, body.size() - at);
            ASSERT_TRUE(
                decompressor.uncompressBytes(body.constData() + at, quint64(length), nullptr));
        }
        const HttpError pieces = decompressor.closeStream();

        writeFile(packed, body);
        HttpError files;
        EXPECT_EQ(NXDataDecompressor::uncompressDataFromFile(packed, unpacked, &files), sound);

        for (const HttpError& error : { whole, pieces, files }) {
            EXPECT_EQ(error.isNull(), sound);
            if (!sound) {
                EXPECT_EQ(error.code(), 11);
                EXPECT_EQ(error.localizedDescription(), failure);
            }
        }
    }
}

TEST(Gzip, EveryMemberIsReadAndWhatFollowsOneMustBeAnother)
{
    const QByteArray first = sample(40000);
    const QByteArray second = sample(25000).toUpper();
    const QByteArray members = deflated(first, 31) + deflated(second, 31);
    struct Case {
        const char* name;
        QByteArray body;
        bool sound;
    };
    const Case cases[] = {
        { "two members", members, true },
        { "an empty member between", deflated(first, 31) + deflated({}, 31) + deflated(second, 31),
            true },
        { "the second member cut", members.chopped(5), false },
        { "bytes that are no member", deflated(first, 31) + "trailing", false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(NXDataDecompressor::uncompressData(c.body, nullptr).has_value(), c.sound);
        // Pieces that end exactly where a member does, and pieces across it.
        for (const qsizetype piece : { qsizetype(1), deflated(first, 31).size() }) {
            SCOPED_TRACE(piece);
            HttpError error;
            const QByteArray out = uncompressInPieces(c.body, piece, &error);
            EXPECT_EQ(error.isNull(), c.sound);
            EXPECT_EQ(out, c.sound ? first + second : QByteArray());
        }
    }
}

TEST(Gzip, ABombInflatesInBoundedPieces)
{
    // 64 MiB of zeros pack into some 64 KiB: one piece of input, one
    // thousand times its size once inflated.
    const qsizetype size = 64 * 1024 * 1024;
    const QByteArray bomb = deflated(QByteArray(size, '\0'), 31);
    ASSERT_LT(bomb.size(), 128 * 1024);
    for (const quint64 limit : { quint64(0), quint64(size / 2) }) {
        SCOPED_TRACE(limit);
        NXDataDecompressor decompressor;
        ASSERT_TRUE(decompressor.setupStream().isNull());
        decompressor.setOutputLimit(limit);
        qsizetype largest = 0;
        qsizetype total = 0;
        bool zeros = true;
        HttpError error;
        const bool inflated = decompressor.uncompressBytes(
            bomb.constData(), quint64(bomb.size()),
            [&](const char* data, qsizetype length) {
                largest = std::max(largest, length);
                total += length;
                zeros = zeros && std::all_of(data, data + length, [](char c) { return c == 0; });
                return true;
            },
            &error);
        EXPECT_LE(largest, NXDataDecompressor::outputPieceSize);
        EXPECT_TRUE(zeros);
        if (limit == 0) {
            EXPECT_TRUE(inflated && error.isNull());
            EXPECT_EQ(total, size);
        } else {
            EXPECT_FALSE(inflated);
            EXPECT_EQ(error.code(), 13);
            EXPECT_LE(total, qsizetype(limit));
        }
    }
}

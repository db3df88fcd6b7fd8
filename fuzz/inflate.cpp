// The gzip and deflate decompressor of response bodies: whole, as a body read
// into memory is inflated, and piece by piece, as a body is inflated while it
// arrives. Both ways must agree on the bytes and on whether the data was good.
#include "FuzzSupport.h"

#include "http/NXDataDecompressor.h"

#include <QHash>

#include <algorithm>
#include <optional>
#include <random>

namespace {

std::optional<QByteArray> inflateInPieces(const QByteArray& bytes, size_t seed)
{
    const std::unique_ptr<NXDataDecompressor> decompressor = NXDataDecompressor::decompressor();
    Fuzz::require(decompressor->streamReady(), "the stream did not start");
    std::minstd_rand random(static_cast<std::minstd_rand::result_type>(seed));
    std::uniform_int_distribution<qsizetype> sizes(1, 64);
    QByteArray inflated;
    for (qsizetype offset = 0; offset < bytes.size();) {
        const qsizetype piece = std::min(bytes.size() - offset, sizes(random));
        HttpError error;
        const std::optional<QByteArray> part
            = decompressor->uncompressBytes(bytes.constData() + offset, quint64(piece), &error);
        if (!part) {
            Fuzz::require(!error.isNull(), "a piece failed without an error");
            return std::nullopt;
        }
        inflated += *part;
        offset += piece;
    }
    if (!decompressor->closeStream().isNull())
        return std::nullopt;
    return inflated;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = Fuzz::bytesOf(data, size);
    HttpError error;
    const std::optional<QByteArray> whole = NXDataDecompressor::uncompressData(bytes, &error);
    Fuzz::require(whole.has_value() == error.isNull(), "the outcome and the error disagree");
    const std::optional<QByteArray> pieces = inflateInPieces(bytes, qHash(bytes));
    Fuzz::require(whole == pieces, "inflated in pieces, the data reads otherwise");
    return 0;
}

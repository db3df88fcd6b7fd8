#include "http/NXDataDecompressor.h"

#include "http/NXHTTPRequestError.h"
#include "http/ZlibFilePass.h"

#include <zlib.h>

#include <algorithm>
#include <utility>

namespace {

constexpr qsizetype kMinimumOutput = 64;

} // namespace

NXDataDecompressor::NXDataDecompressor(Format format)
    : m_zStream(std::make_unique<z_stream>())
    , m_format(format)
{ }

NXDataDecompressor::~NXDataDecompressor()
{
    closeStream();
}

std::unique_ptr<NXDataDecompressor> NXDataDecompressor::decompressor(Format format)
{
    auto made = std::make_unique<NXDataDecompressor>(format);
    made->setupStream();
    return made;
}

HttpError NXDataDecompressor::setupStream()
{
    if (m_streamReady)
        return {};
    *m_zStream = z_stream {};
    // Window bits 15 + 32: the gzip or zlib header is recognised by itself.
    const int status = inflateInit2(m_zStream.get(), 15 + 32);
    if (status != Z_OK)
        return inflateErrorWithCode(status);
    m_streamReady = true;
    m_receivedInput = false;
    m_reachedEnd = false;
    m_formatKnown = m_format == Format::GzipOrZlib;
    m_heldStart.clear();
    return {};
}

// A zlib header: compression method 8, a window of at most 32 KiB, and a
// check value that makes the first two bytes a multiple of 31. A gzip header
// starts 1f 8b. Anything else is taken for raw deflate data.
bool NXDataDecompressor::chooseRawDeflate() const
{
    const auto first = quint8(m_heldStart.at(0));
    const auto second = quint8(m_heldStart.at(1));
    const bool gzip = first == 0x1f && second == 0x8b;
    const bool zlib = (first & 0x0f) == 8 && (first >> 4) <= 7 && (first * 256 + second) % 31 == 0;
    return !gzip && !zlib;
}

HttpError NXDataDecompressor::closeStream()
{
    if (!m_streamReady)
        return {};
    m_streamReady = false;
    const int status = inflateEnd(m_zStream.get());
    if (status != Z_OK)
        return inflateErrorWithCode(status);
    // What zlib answers when asked to finish a stream whose input ran out early.
    if (m_receivedInput && !m_reachedEnd)
        return inflateErrorWithCode(Z_BUF_ERROR);
    return {};
}

std::optional<QByteArray> NXDataDecompressor::uncompressBytes(
    const char* bytes, quint64 length, HttpError* error)
{
    if (!m_streamReady) {
        if (error)
            *error = inflateErrorWithCode(Z_STREAM_ERROR);
        return std::nullopt;
    }
    if (length == 0)
        return QByteArray();
    m_receivedInput = true;
    if (m_formatKnown)
        return inflatePiece(bytes, length, error);
    m_heldStart.append(bytes, qsizetype(length));
    if (m_heldStart.size() < 2)
        return QByteArray();
    m_formatKnown = true;
    if (chooseRawDeflate()) {
        const int status = inflateReset2(m_zStream.get(), -15);
        if (status != Z_OK) {
            if (error)
                *error = inflateErrorWithCode(status);
            return std::nullopt;
        }
    }
    const QByteArray held = std::exchange(m_heldStart, QByteArray());
    return inflatePiece(held.constData(), quint64(held.size()), error);
}

std::optional<QByteArray> NXDataDecompressor::inflatePiece(
    const char* bytes, quint64 length, HttpError* error)
{
    const auto step = std::max<qsizetype>(qsizetype(length / 2), kMinimumOutput);
    QByteArray output(
        std::max<qsizetype>(qsizetype(length + length / 2), kMinimumOutput), Qt::Uninitialized);
    z_stream& stream = *m_zStream;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
    stream.avail_in = uInt(length);
    const uLong startTotal = stream.total_out;
    // Go on while input remains or the output was full: a full buffer may
    // mean zlib still holds inflated bytes of this piece.
    // Checked before the buffer grows again and at the end: a bomb never
    // takes more memory than the limit and one step.
    const auto overLimit = [this, &stream, error] {
        if (m_outputLimit == 0 || stream.total_out <= m_outputLimit)
            return false;
        if (error)
            *error = requestError(NXHTTPRequestErrorType::BodyTooLarge,
                QStringLiteral("The data inflates to more than %1 bytes").arg(m_outputLimit));
        return true;
    };
    do {
        if (overLimit())
            return std::nullopt;
        const auto produced = qsizetype(stream.total_out - startTotal);
        if (produced >= output.size())
            output.resize(output.size() + std::max(step, output.size() / 2));
        stream.next_out = reinterpret_cast<Bytef*>(output.data() + produced);
        stream.avail_out = uInt(output.size() - produced);
        const int status = inflate(&stream, Z_NO_FLUSH);
        if (status == Z_STREAM_END) {
            m_reachedEnd = true;
            break;
        }
        if (status == Z_BUF_ERROR && stream.avail_in == 0)
            break;
        if (status != Z_OK) {
            if (error)
                *error = inflateErrorWithCode(status);
            return std::nullopt;
        }
    } while (stream.avail_in > 0 || stream.avail_out == 0);
    if (overLimit())
        return std::nullopt;
    output.resize(qsizetype(stream.total_out - startTotal));
    return output;
}

std::optional<QByteArray> NXDataDecompressor::uncompressData(
    const QByteArray& data, HttpError* error, Format format)
{
    NXDataDecompressor decompressor(format);
    if (const HttpError setup = decompressor.setupStream(); !setup.isNull()) {
        if (error)
            *error = setup;
        return std::nullopt;
    }
    const std::optional<QByteArray> inflated
        = decompressor.uncompressBytes(data.constData(), quint64(data.size()), error);
    if (!inflated)
        return std::nullopt;
    if (const HttpError closing = decompressor.closeStream(); !closing.isNull()) {
        if (error)
            *error = closing;
        return std::nullopt;
    }
    return inflated;
}

bool NXDataDecompressor::uncompressDataFromFile(const QString& sourcePath,
    const QString& destinationPath, HttpError* error, Format format, quint64 outputLimit)
{
    NXDataDecompressor decompressor(format);
    decompressor.setOutputLimit(outputLimit);
    if (const HttpError setup = decompressor.setupStream(); !setup.isNull()) {
        if (error)
            *error = setup;
        return false;
    }
    const ZlibFilePass pass { QStringLiteral("Decompression"), chunkSize,
        [&](const QByteArray& chunk, bool, HttpError* stepError) {
            return decompressor.uncompressBytes(
                chunk.constData(), quint64(chunk.size()), stepError);
        } };
    if (!pass.run(sourcePath, destinationPath, error))
        return false;
    const HttpError closing = decompressor.closeStream();
    if (!closing.isNull() && error)
        *error = closing;
    return closing.isNull();
}

HttpError NXDataDecompressor::inflateErrorWithCode(int code)
{
    return requestError(NXHTTPRequestErrorType::Compression,
        QStringLiteral("Decompression of data failed with code %1").arg(code));
}

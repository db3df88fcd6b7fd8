#include "http/NXDataDecompressor.h"

#include "http/NXHTTPRequestError.h"
#include "http/ZlibFilePass.h"

#include <zlib.h>

#include <utility>

NXDataDecompressor::NXDataDecompressor(Format format)
    : m_zStream(std::make_unique<z_stream>())
    , m_gzipHeader(std::make_unique<gz_header>())
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
        return inflateError(status);
    *m_gzipHeader = gz_header {};
    inflateGetHeader(m_zStream.get(), m_gzipHeader.get());
    m_streamReady = true;
    m_receivedInput = false;
    m_reachedEnd = false;
    m_memberEnded = false;
    m_totalOut = 0;
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
        return inflateError(status);
    // What zlib answers when asked to finish a stream whose input ran out early.
    if (m_receivedInput && !m_reachedEnd)
        return inflateError(Z_BUF_ERROR);
    return {};
}

bool NXDataDecompressor::uncompressBytes(
    const char* bytes, quint64 length, const Sink& sink, HttpError* error)
{
    if (!m_streamReady) {
        if (error)
            *error = inflateError(Z_STREAM_ERROR);
        return false;
    }
    if (length == 0)
        return true;
    m_receivedInput = true;
    if (m_formatKnown)
        return inflatePiece(bytes, length, sink, error);
    m_heldStart.append(bytes, qsizetype(length));
    if (m_heldStart.size() < 2)
        return true;
    m_formatKnown = true;
    if (chooseRawDeflate()) {
        const int status = inflateReset2(m_zStream.get(), -15);
        if (status != Z_OK) {
            if (error)
                *error = inflateError(status);
            return false;
        }
    }
    const QByteArray held = std::exchange(m_heldStart, QByteArray());
    return inflatePiece(held.constData(), quint64(held.size()), sink, error);
}

std::optional<QByteArray> NXDataDecompressor::uncompressBytes(
    const char* bytes, quint64 length, HttpError* error)
{
    QByteArray whole;
    const bool inflated = uncompressBytes(
        bytes, length,
        [&whole](const char* data, qsizetype size) {
            whole.append(data, size);
            return true;
        },
        error);
    return inflated ? std::optional<QByteArray>(whole) : std::nullopt;
}

bool NXDataDecompressor::inflatePiece(
    const char* bytes, quint64 length, const Sink& sink, HttpError* error)
{
    if (m_outputPiece.isEmpty())
        m_outputPiece.resize(outputPieceSize);
    z_stream& stream = *m_zStream;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
    stream.avail_in = uInt(length);
    // Go on while input remains or the output was full: a full buffer may
    // mean zlib still holds inflated bytes of this piece.
    do {
        if (m_memberEnded && !startNextMember(error))
            return false;
        stream.next_out = reinterpret_cast<Bytef*>(m_outputPiece.data());
        stream.avail_out = uInt(m_outputPiece.size());
        const int status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
            if (error)
                *error = inflateError(status);
            return false;
        }
        const qsizetype produced = m_outputPiece.size() - qsizetype(stream.avail_out);
        m_totalOut += quint64(produced);
        // Checked before the piece goes on: a bomb never gets past the limit.
        if (exceedsOutputLimit(error)
            || (produced > 0 && !sink(m_outputPiece.constData(), produced)))
            return false;
        if (status == Z_BUF_ERROR)
            break;
        if (status == Z_STREAM_END) {
            m_reachedEnd = true;
            // Bytes after the end of zlib or raw deflate data are no part of it.
            if (m_gzipHeader->done != 1)
                break;
            m_memberEnded = true;
            if (stream.avail_in == 0)
                break;
        }
    } while (stream.avail_in > 0 || stream.avail_out == 0);
    return true;
}

// A gzip member ended and more bytes follow: they are the next member, and
// the data is whole again only when that one ends too.
bool NXDataDecompressor::startNextMember(HttpError* error)
{
    m_memberEnded = false;
    m_reachedEnd = false;
    const int status = inflateReset2(m_zStream.get(), 16 + 15);
    if (status != Z_OK) {
        if (error)
            *error = inflateError(status);
        return false;
    }
    *m_gzipHeader = gz_header {};
    inflateGetHeader(m_zStream.get(), m_gzipHeader.get());
    return true;
}

bool NXDataDecompressor::exceedsOutputLimit(HttpError* error) const
{
    if (m_outputLimit == 0 || m_totalOut <= m_outputLimit)
        return false;
    if (error)
        *error = requestError(NXHTTPRequestErrorType::BodyTooLarge,
            QStringLiteral("The data inflates to more than %1 bytes").arg(m_outputLimit));
    return true;
}

std::optional<QByteArray> NXDataDecompressor::uncompressData(
    const QByteArray& data, HttpError* error, Format format, quint64 outputLimit)
{
    NXDataDecompressor decompressor(format);
    decompressor.setOutputLimit(outputLimit);
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
        [&](const QByteArray& chunk, bool, const ZlibFilePass::Write& write, HttpError* stepError) {
            return decompressor.uncompressBytes(
                chunk.constData(), quint64(chunk.size()), write, stepError);
        } };
    if (!pass.run(sourcePath, destinationPath, error))
        return false;
    const HttpError closing = decompressor.closeStream();
    if (!closing.isNull() && error)
        *error = closing;
    return closing.isNull();
}

HttpError NXDataDecompressor::inflateError(int code) const
{
    const QString coding
        = m_format == Format::GzipOrZlib ? QStringLiteral("gzip") : QStringLiteral("deflate");
    QString description;
    switch (code) {
    case Z_DATA_ERROR:
        description = QStringLiteral("The body is not valid %1 data").arg(coding);
        break;
    // Only a stream whose input ran out ends with this.
    case Z_BUF_ERROR:
        description = QStringLiteral("The %1 body was cut short: its compressed data does not end")
                          .arg(coding);
        break;
    case Z_MEM_ERROR:
        description
            = QStringLiteral("There was not enough memory to decode the %1 body").arg(coding);
        break;
    default:
        description
            = QStringLiteral("Decoding the %1 body failed (zlib error %2)").arg(coding).arg(code);
        break;
    }
    return requestError(NXHTTPRequestErrorType::Compression, description);
}

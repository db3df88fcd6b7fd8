#include "http/NXDataCompressor.h"

#include "http/NXHTTPRequestError.h"
#include "http/ZlibFilePass.h"

#include <zlib.h>

#include <algorithm>

namespace {

// A piece of one byte would otherwise get no room at all and zlib could not
// make any progress.
constexpr qsizetype kMinimumOutput = 64;

} // namespace

NXDataCompressor::NXDataCompressor()
    : m_zStream(std::make_unique<z_stream>())
{ }

NXDataCompressor::~NXDataCompressor()
{
    closeStream();
}

std::unique_ptr<NXDataCompressor> NXDataCompressor::compressor()
{
    auto made = std::make_unique<NXDataCompressor>();
    made->setupStream();
    return made;
}

HttpError NXDataCompressor::setupStream()
{
    if (m_streamReady)
        return {};
    *m_zStream = z_stream {};
    // Window bits 15 + 16: a gzip header and trailer around the deflate data.
    const int status = deflateInit2(
        m_zStream.get(), Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    if (status != Z_OK)
        return deflateErrorWithCode(status);
    m_streamReady = true;
    return {};
}

HttpError NXDataCompressor::closeStream()
{
    if (!m_streamReady)
        return {};
    m_streamReady = false;
    const int status = deflateEnd(m_zStream.get());
    // A stream ended before its data was finished reports a data error; the
    // memory is freed all the same, and the caller has the failure already.
    if (status != Z_OK && status != Z_DATA_ERROR)
        return deflateErrorWithCode(status);
    return {};
}

std::optional<QByteArray> NXDataCompressor::compressBytes(
    const char* bytes, quint64 length, HttpError* error, bool shouldFinish)
{
    if (!m_streamReady) {
        if (error)
            *error = deflateErrorWithCode(Z_STREAM_ERROR);
        return std::nullopt;
    }
    if (length == 0 && !shouldFinish)
        return QByteArray();
    const auto step = std::max<qsizetype>(qsizetype(length / 2), kMinimumOutput);
    QByteArray output(step, Qt::Uninitialized);
    z_stream& stream = *m_zStream;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
    stream.avail_in = uInt(length);
    const uLong startTotal = stream.total_out;
    for (;;) {
        auto produced = qsizetype(stream.total_out - startTotal);
        if (produced >= output.size())
            output.resize(output.size() + std::max(step, output.size() / 2));
        stream.next_out = reinterpret_cast<Bytef*>(output.data() + produced);
        stream.avail_out = uInt(output.size() - produced);
        const int status = deflate(&stream, shouldFinish ? Z_FINISH : Z_NO_FLUSH);
        if (status == Z_STREAM_END)
            break;
        // No progress possible with all input taken: the piece is done.
        if (status == Z_BUF_ERROR && stream.avail_in == 0 && !shouldFinish)
            break;
        if (status != Z_OK) {
            if (error)
                *error = deflateErrorWithCode(status);
            return std::nullopt;
        }
        if (stream.avail_out != 0 && !shouldFinish)
            break;
    }
    output.resize(qsizetype(stream.total_out - startTotal));
    return output;
}

std::optional<QByteArray> NXDataCompressor::compressData(const QByteArray& data, HttpError* error)
{
    NXDataCompressor compressor;
    if (const HttpError setup = compressor.setupStream(); !setup.isNull()) {
        if (error)
            *error = setup;
        return std::nullopt;
    }
    return compressor.compressBytes(data.constData(), quint64(data.size()), error, true);
}

bool NXDataCompressor::compressDataFromFile(
    const QString& sourcePath, const QString& destinationPath, HttpError* error)
{
    NXDataCompressor compressor;
    if (const HttpError setup = compressor.setupStream(); !setup.isNull()) {
        if (error)
            *error = setup;
        return false;
    }
    const ZlibFilePass pass { QStringLiteral("Compression"), chunkSize,
        [&](const QByteArray& chunk, bool last, const ZlibFilePass::Write& write,
            HttpError* stepError) {
            const std::optional<QByteArray> packed = compressor.compressBytes(
                chunk.constData(), quint64(chunk.size()), stepError, last);
            return packed && write(packed->constData(), packed->size());
        } };
    if (!pass.run(sourcePath, destinationPath, error))
        return false;
    const HttpError closing = compressor.closeStream();
    if (!closing.isNull() && error)
        *error = closing;
    return closing.isNull();
}

HttpError NXDataCompressor::deflateErrorWithCode(int code)
{
    return requestError(NXHTTPRequestErrorType::Compression,
        QStringLiteral("Compression of data failed with code %1").arg(code));
}

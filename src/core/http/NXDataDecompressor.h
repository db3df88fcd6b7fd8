#pragma once

#include "http/HttpError.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

struct z_stream_s;

// Inflates gzip or zlib data (the header tells which), piece by piece in
// order or file to file. A failure is an error of the request domain with
// code 11.
class NXDataDecompressor {
public:
    static constexpr qint64 chunkSize = 0x40000;

    // What the bytes may be. The "deflate" content coding is zlib-wrapped
    // data by its definition, but many servers send raw deflate data under
    // that name: its first two bytes tell which.
    enum class Format { GzipOrZlib, ZlibOrRawDeflate };

    explicit NXDataDecompressor(Format format = Format::GzipOrZlib);
    ~NXDataDecompressor();
    NXDataDecompressor(const NXDataDecompressor&) = delete;
    NXDataDecompressor& operator=(const NXDataDecompressor&) = delete;

    static std::unique_ptr<NXDataDecompressor> decompressor(Format format = Format::GzipOrZlib);

    HttpError setupStream();
    // Inflating past this many bytes (all pieces together) is an error of
    // code 13; 0 for no limit.
    void setOutputLimit(quint64 bytes) { m_outputLimit = bytes; }
    // Ends the stream. Bytes given without reaching the end of the compressed
    // data (a body cut short) are an error: what was inflated is incomplete.
    HttpError closeStream();
    bool streamReady() const { return m_streamReady; }

    // Every byte this piece inflates to (possibly none), or nothing with `error`
    // set. Output is drained completely, so nothing waits inside the
    // stream for a piece that may never come.
    std::optional<QByteArray> uncompressBytes(const char* bytes, quint64 length, HttpError* error);

    static std::optional<QByteArray> uncompressData(
        const QByteArray& data, HttpError* error, Format format = Format::GzipOrZlib);
    static bool uncompressDataFromFile(const QString& sourcePath, const QString& destinationPath,
        HttpError* error, Format format = Format::GzipOrZlib, quint64 outputLimit = 0);
    static HttpError inflateErrorWithCode(int code);

private:
    std::optional<QByteArray> inflatePiece(const char* bytes, quint64 length, HttpError* error);
    bool chooseRawDeflate() const;

    std::unique_ptr<z_stream_s> m_zStream;
    Format m_format = Format::GzipOrZlib;
    bool m_streamReady = false;
    quint64 m_outputLimit = 0;
    bool m_receivedInput = false;
    bool m_reachedEnd = false;
    // ZlibOrRawDeflate: the first bytes, held until two tell the format.
    bool m_formatKnown = true;
    QByteArray m_heldStart;
};

#pragma once

#include "http/HttpError.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

struct z_stream_s;
struct gz_header_s;

// Inflates gzip or zlib data (the header tells which), piece by piece in
// order or file to file. Gzip data may be several members one after the
// other, as gzip itself writes them: every member is read. A failure is an
// error of the request domain with code 11.
class NXDataDecompressor {
public:
    static constexpr qint64 chunkSize = 0x40000;
    // Inflated bytes are handed on in pieces of at most this size, however
    // much a piece of input inflates to: a small body of zeros may stand for
    // gigabytes.
    static constexpr qsizetype outputPieceSize = 0x40000;
    // Takes one piece of inflated bytes; false stops the inflation (the
    // sink's own failure, which it records itself).
    using Sink = std::function<bool(const char* data, qsizetype size)>;

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

    // Hands every byte this piece inflates to (possibly none) to `sink`, in
    // pieces of at most outputPieceSize. Output is drained completely, so
    // nothing waits inside the stream for a piece that may never come. False
    // with `error` set when the data is bad or too large, false alone when
    // the sink stopped.
    bool uncompressBytes(const char* bytes, quint64 length, const Sink& sink, HttpError* error);
    // The same, all of it in one array (it is held in memory anyway).
    std::optional<QByteArray> uncompressBytes(const char* bytes, quint64 length, HttpError* error);

    static std::optional<QByteArray> uncompressData(const QByteArray& data, HttpError* error,
        Format format = Format::GzipOrZlib, quint64 outputLimit = 0);
    static bool uncompressDataFromFile(const QString& sourcePath, const QString& destinationPath,
        HttpError* error, Format format = Format::GzipOrZlib, quint64 outputLimit = 0);

private:
    // zlib's answer `code`, in words that name the coding.
    HttpError inflateError(int code) const;
    bool inflatePiece(const char* bytes, quint64 length, const Sink& sink, HttpError* error);
    bool startNextMember(HttpError* error);
    bool exceedsOutputLimit(HttpError* error) const;
    bool chooseRawDeflate() const;

    std::unique_ptr<z_stream_s> m_zStream;
    // Filled in by zlib as it reads a gzip header: whether the data is gzip.
    std::unique_ptr<gz_header_s> m_gzipHeader;
    Format m_format = Format::GzipOrZlib;
    bool m_streamReady = false;
    quint64 m_outputLimit = 0;
    bool m_receivedInput = false;
    bool m_reachedEnd = false;
    // A gzip member ended: what follows must be the next member.
    bool m_memberEnded = false;
    quint64 m_totalOut = 0;
    QByteArray m_outputPiece;
    // ZlibOrRawDeflate: the first bytes, held until two tell the format.
    bool m_formatKnown = true;
    QByteArray m_heldStart;
};

#pragma once

#include "http/HttpError.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

struct z_stream_s;

// Deflates data into the gzip format, piece by piece or file to file. A
// failure is an error of the request domain with code 11.
class NXDataCompressor {
public:
    // File work goes through one buffer of this size.
    static constexpr qint64 chunkSize = 0x40000;

    NXDataCompressor();
    ~NXDataCompressor();
    NXDataCompressor(const NXDataCompressor&) = delete;
    NXDataCompressor& operator=(const NXDataCompressor&) = delete;

    // A compressor whose stream is set up already.
    static std::unique_ptr<NXDataCompressor> compressor();

    // A null error on success.
    HttpError setupStream();
    HttpError closeStream();
    bool streamReady() const { return m_streamReady; }

    // The compressed bytes this piece gives (possibly none), or nothing with `error` set. With
    // `shouldFinish` the gzip trailer is written too, so finishing with no bytes at all still ends
    // the stream properly.
    std::optional<QByteArray> compressBytes(
        const char* bytes, quint64 length, HttpError* error, bool shouldFinish);

    // The whole gzip form of `data`; nothing with `error` set on failure.
    static std::optional<QByteArray> compressData(const QByteArray& data, HttpError* error);
    static bool compressDataFromFile(
        const QString& sourcePath, const QString& destinationPath, HttpError* error);
    static HttpError deflateErrorWithCode(int code);

private:
    std::unique_ptr<z_stream_s> m_zStream;
    bool m_streamReady = false;
};

#pragma once

#include "http/HttpError.h"

#include <QByteArray>
#include <QString>

#include <functional>

// Runs a file through a zlib stream in chunks of `chunkSize`, writing what
// each chunk gives to a new destination file. `step` gets each chunk, whether
// it is the last, and the write to pass its output to, in as many pieces as it
// likes; it returns false, with its error set unless the write failed, on
// failure. `verb` ("Compression" or "Decompression") begins the file messages.
struct ZlibFilePass {
    // False when the destination could not take the bytes.
    using Write = std::function<bool(const char* data, qsizetype size)>;
    using Step = std::function<bool(
        const QByteArray& chunk, bool last, const Write& write, HttpError* error)>;

    QString verb;
    qint64 chunkSize = 0;
    Step step;

    bool run(const QString& sourcePath, const QString& destinationPath, HttpError* error) const;
};

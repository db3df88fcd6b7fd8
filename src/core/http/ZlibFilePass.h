#pragma once

#include "http/HttpError.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// Runs a file through a zlib stream in chunks of `chunkSize`, writing what
// each chunk gives to a new destination file. `step` gets each chunk and
// whether it is the last; it returns nothing, with its error set, on failure.
// `verb` ("Compression" or "Decompression") begins the file messages.
struct ZlibFilePass {
    using Step = std::function<std::optional<QByteArray>(
        const QByteArray& chunk, bool last, HttpError* error)>;

    QString verb;
    qint64 chunkSize = 0;
    Step step;

    bool run(const QString& sourcePath, const QString& destinationPath, HttpError* error) const;
};

#include "http/ZlibFilePass.h"

#include "http/NXHTTPRequestError.h"
#include "platform/Fd.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>

namespace {

bool fail(HttpError* error, const QString& description, const QFile* cause = nullptr)
{
    if (!error)
        return false;
    std::shared_ptr<const HttpError> underlying;
    if (cause)
        underlying = std::make_shared<HttpError>(
            QStringLiteral("FileSystemErrorDomain"), int(cause->error()), cause->errorString());
    *error = requestError(NXHTTPRequestErrorType::Compression, description, underlying);
    return false;
}

// A file that could not be made or written: the system's error beneath, and
// its cause in words at the end of the description.
bool failWriting(HttpError* error, const QString& description, const QString& path, int cause)
{
    if (!error)
        return false;
    *error = requestError(NXHTTPRequestErrorType::Compression,
        QStringLiteral("%1: %2").arg(description, fileWriteCause(path, cause)),
        std::make_shared<HttpError>(QStringLiteral("FileSystemErrorDomain"), cause,
            QString::fromLocal8Bit(std::strerror(cause))));
    return false;
}

} // namespace

bool ZlibFilePass::run(
    const QString& sourcePath, const QString& destinationPath, HttpError* error) const
{
    const QString readFailure
        = QStringLiteral("%1 of %2 failed because we were unable to read from the source data file")
              .arg(verb, sourcePath);
    const QString writeFailure = QStringLiteral("%1 of %2 failed because we were unable to write "
                                                "to the destination data file at %3")
                                     .arg(verb, sourcePath, destinationPath);
    const Fd destination = openForWriting(QFile::encodeName(destinationPath).constData(), false);
    if (!destination.valid())
        return failWriting(error,
            QStringLiteral("%1 of %2 failed because we were to create a file at %3")
                .arg(verb, sourcePath, destinationPath),
            destinationPath, errno);
    QFile source(sourcePath);
    if (!source.exists())
        return fail(
            error, QStringLiteral("%1 of %2 failed the file does not exist").arg(verb, sourcePath));
    if (!source.open(QIODevice::ReadOnly))
        return fail(error, readFailure, &source);
    // A short read is the last chunk; a file that is a whole number of chunks
    // long ends with an empty read, which still finishes the stream.
    int writeCause = 0;
    const Write write = [&destination, &writeCause](const char* data, qsizetype size) {
        writeCause = writeAll(destination.get(), data, std::size_t(size));
        return writeCause == 0;
    };
    for (bool last = false; !last;) {
        const QByteArray chunk = source.read(chunkSize);
        if (source.error() != QFileDevice::NoError)
            return fail(error, readFailure, &source);
        last = chunk.size() < chunkSize;
        if (!step(chunk, last, write, error))
            return writeCause != 0 ? failWriting(error, writeFailure, destinationPath, writeCause)
                                   : false;
    }
    return true;
}

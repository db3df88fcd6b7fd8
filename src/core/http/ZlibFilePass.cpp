#include "http/ZlibFilePass.h"

#include "http/NXHTTPRequestError.h"

#include <QFile>

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
    QFile destination(destinationPath);
    if (!destination.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(error,
            QStringLiteral("%1 of %2 failed because we were to create a file at %3")
                .arg(verb, sourcePath, destinationPath));
    QFile source(sourcePath);
    if (!source.exists())
        return fail(
            error, QStringLiteral("%1 of %2 failed the file does not exist").arg(verb, sourcePath));
    if (!source.open(QIODevice::ReadOnly))
        return fail(error, readFailure, &source);
    // A short read is the last chunk; a file that is a whole number of chunks
    // long ends with an empty read, which still finishes the stream.
    bool writeFailed = false;
    const Write write = [&destination, &writeFailed](const char* data, qsizetype size) {
        writeFailed = destination.write(data, size) != size;
        return !writeFailed;
    };
    for (bool last = false; !last;) {
        const QByteArray chunk = source.read(chunkSize);
        if (source.error() != QFileDevice::NoError)
            return fail(error, readFailure, &source);
        last = chunk.size() < chunkSize;
        if (!step(chunk, last, write, error))
            return writeFailed ? fail(error, writeFailure, &destination) : false;
    }
    if (!destination.flush())
        return fail(error, writeFailure, &destination);
    return true;
}

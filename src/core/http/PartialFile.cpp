#include "http/PartialFile.h"

#include "http/NXHTTPRequestError.h"
#include "platform/FileMove.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

namespace {

HttpError fileSystemError(int code, const QString& description)
{
    return HttpError(QStringLiteral("FileSystemErrorDomain"), code, description);
}

HttpError moveError(const QString& from, const QString& to, int failure)
{
    const QString taken
        = failure == EEXIST ? QStringLiteral(": a file of that name is there") : QString();
    return requestError(NXHTTPRequestErrorType::FileManagement,
        QStringLiteral("Failed to move file from '%1' to '%2'%3").arg(from, to, taken),
        std::make_shared<HttpError>(
            fileSystemError(failure, QString::fromLocal8Bit(std::strerror(failure)))));
}

HttpError writeError(const QFile& file)
{
    return requestError(NXHTTPRequestErrorType::FileManagement,
        QStringLiteral("Failed to write to file at path '%1'").arg(file.fileName()),
        std::make_shared<HttpError>(fileSystemError(int(file.error()), file.errorString())));
}

// Copies `from` into the special file `to` and removes `from`.
int copyIntoSpecialFile(const QString& from, const QString& to)
{
    QFile source(from);
    QFile target(to);
    if (!source.open(QIODevice::ReadOnly) || !target.open(QIODevice::WriteOnly))
        return EIO;
    for (QByteArray piece = source.read(1 << 20); !piece.isEmpty(); piece = source.read(1 << 20)) {
        if (target.write(piece) != piece.size())
            return EIO;
    }
    source.remove();
    return 0;
}

} // namespace

// The finished file takes the place of `path` by a rename, which readers
// never see half done. The name of `path` is part of the new one while the
// whole fits the 255 bytes a file name may take.
QString PartialFile::siblingPath(const QString& path)
{
    const QFileInfo info(path);
    const QString unique = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString named = QStringLiteral(".%1.%2.download").arg(info.fileName(), unique);
    const bool fits = QFile::encodeName(named).size() <= 255;
    return info.dir().filePath(fits ? named : QStringLiteral(".%1.download").arg(unique));
}

bool PartialFile::isSpecialFile(const QString& path)
{
    std::error_code failure;
    const auto type
        = std::filesystem::status(QFile::encodeName(path).toStdString(), failure).type();
    return !failure && type != std::filesystem::file_type::regular
        && type != std::filesystem::file_type::directory
        && type != std::filesystem::file_type::not_found;
}

void PartialFile::setPath(const QString& path, bool chosen)
{
    m_path = path;
    m_chosen = chosen;
}

void PartialFile::forgetPath()
{
    m_path.clear();
    m_chosen = false;
}

const std::optional<PartialFileOrigin>& PartialFile::readOrigin()
{
    std::optional<PartialFileOrigin> stored = PartialFileOrigin::readFrom(m_path);
    if (stored || !m_written)
        m_origin = std::move(stored);
    return m_origin;
}

HttpError PartialFile::open(
    bool appending, bool beside, const std::optional<PartialFileOrigin>& origin)
{
    if (m_output)
        return {};
    m_replacedSize = 0;
    if (!appending && beside) {
        m_replacedPath = m_path;
        m_replacedSize = quint64(QFileInfo(m_replacedPath).size());
        m_path = siblingPath(m_replacedPath);
    }
    auto file = std::make_unique<QFile>(m_path);
    const auto mode = appending ? QIODevice::Append : QIODevice::Truncate;
    if (!file->open(QIODevice::WriteOnly | mode)) {
        const HttpError failure = writeError(*file);
        abandon();
        return failure;
    }
    m_output = std::move(file);
    m_written = true;
    if (appending || !origin)
        return {};
    // A body written afresh carries the answer it began with, for the range
    // that may one day continue it.
    m_bodyOrigin = origin;
    if (!origin->writeTo(m_path))
        PartialFileOrigin::removeFrom(m_path);
    if (!isReplacing())
        m_origin = origin;
    return {};
}

HttpError PartialFile::append(const char* data, qsizetype size, bool mayPromote)
{
    if (m_output->write(data, size) != size)
        return writeError(*m_output);
    if (mayPromote && isReplacing() && quint64(m_output->pos()) > m_replacedSize)
        return promote();
    return {};
}

// The replacement takes the partial's name; it is written on under it.
HttpError PartialFile::promote()
{
    const QString replacement = m_path;
    if (m_output && !m_output->flush())
        return writeError(*m_output);
    if (m_replaceHook)
        m_replaceHook(replacement);
    if (std::rename(QFile::encodeName(replacement).constData(),
            QFile::encodeName(m_replacedPath).constData())
        != 0)
        return moveError(replacement, m_replacedPath, errno);
    m_path = std::exchange(m_replacedPath, QString());
    m_origin = m_bodyOrigin;
    return {};
}

void PartialFile::abandon()
{
    if (!isReplacing())
        return;
    close();
    QFile::remove(m_path);
    m_path = std::exchange(m_replacedPath, QString());
}

HttpError PartialFile::flush()
{
    return m_output && !m_output->flush() ? writeError(*m_output) : HttpError();
}

void PartialFile::close()
{
    if (!m_output)
        return;
    m_output->close();
    m_output.reset();
}

HttpError PartialFile::shorterBodyRefusal(const QString& file) const
{
    if (!isReplacing())
        return {};
    const quint64 size = quint64(QFileInfo(file).size());
    if (size >= m_replacedSize)
        return {};
    return requestError(NXHTTPRequestErrorType::ConnectionFailure,
        QStringLiteral("The server sent a whole body of %1 bytes, shorter than the %2 bytes "
                       "already fetched; the partial file stays")
            .arg(size)
            .arg(m_replacedSize));
}

// A body still beside the partial goes. One that has taken the partial's
// name held more than it, from the start of the same answer, and stays; one
// written into the partial found it empty, and leaves it so.
void PartialFile::dropRefused(bool freshBody)
{
    if (isReplacing()) {
        abandon();
        return;
    }
    if (!freshBody || !m_written || m_replacedSize > 0)
        return;
    QFile::resize(m_path, 0);
    PartialFileOrigin::removeFrom(m_path);
    m_origin.reset();
}

HttpError PartialFile::finish(const QString& destination, bool freshBody, const Refusal& refusal)
{
    HttpError failure = shorterBodyRefusal(m_path);
    if (failure.isNull())
        failure = refusal(m_path);
    if (!failure.isNull()) {
        dropRefused(freshBody);
        return failure;
    }
    if (isReplacing())
        failure = promote();
    return failure.isNull() ? moveTo(m_path, destination) : failure;
}

HttpError PartialFile::finishCoded(const QString& destination, NXDataDecompressor::Format format,
    quint64 outputLimit, const Refusal& refusal)
{
    const QString inflated = siblingPath(destination);
    HttpError failure;
    if (!NXDataDecompressor::uncompressDataFromFile(m_path, inflated, &failure, format, outputLimit)
        && failure.isNull())
        failure = requestError(
            NXHTTPRequestErrorType::Compression, QStringLiteral("The body could not be decoded"));
    if (failure.isNull())
        failure = shorterBodyRefusal(inflated);
    if (failure.isNull())
        failure = refusal(inflated);
    if (failure.isNull() && m_originStaysAtDestination && m_bodyOrigin)
        m_bodyOrigin->writeTo(inflated);
    if (failure.isNull())
        failure = moveTo(inflated, destination);
    if (!failure.isNull())
        QFile::remove(inflated);
    QFile::remove(m_path);
    const bool beside = isReplacing();
    if (beside)
        m_path = std::exchange(m_replacedPath, QString());
    // The partial the body was fetched beside is done with once it is in place.
    if (failure.isNull() && beside)
        QFile::remove(m_path);
    return failure;
}

// Anything at `destination` stays, but for a special file, which is written into.
HttpError PartialFile::moveTo(const QString& from, const QString& destination)
{
    const int failure = isSpecialFile(destination) ? copyIntoSpecialFile(from, destination)
                                                   : moveFileWithoutReplacing(from, destination);
    if (failure != 0)
        return moveError(from, destination, failure);
    // The file is whole: nothing will continue it, unless its owner may make
    // a partial file of it again.
    if (!m_originStaysAtDestination)
        PartialFileOrigin::removeFrom(destination);
    return {};
}

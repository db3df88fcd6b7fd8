#include "http/NXHTTPRequestState.h"

#include "http/NXDataCompressor.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <filesystem>

namespace {

QString newTemporaryPath()
{
    return QDir::temp().filePath(QUuid::createUuid().toString(QUuid::WithoutBraces));
}

std::mutex& inputStreamLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace

// --- the upload stream ----------------------------------------------------------------

NXInputStream::NXInputStream(std::unique_ptr<QIODevice> device)
    : m_device(std::move(device))
{ }

std::unique_ptr<NXInputStream> NXInputStream::inputStreamWithFileAtPath(const QString& path)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        return nullptr;
    return std::unique_ptr<NXInputStream>(new NXInputStream(std::move(file)));
}

std::unique_ptr<NXInputStream> NXInputStream::inputStreamWithData(const QByteArray& data)
{
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(data);
    buffer->open(QIODevice::ReadOnly);
    return std::unique_ptr<NXInputStream>(new NXInputStream(std::move(buffer)));
}

qint64 NXInputStream::read(char* data, qint64 maxLength)
{
    qint64 length = maxLength;
    {
        const std::lock_guard lock(inputStreamLock());
        if (NXHTTPRequest::isBandwidthThrottled()) {
            // Never ask for 0 bytes: the transport would take it for the end.
            length = std::clamp<qint64>(qint64(NXHTTPRequest::maxUploadReadLength()), 1, maxLength);
        }
    }
    const qint64 count = m_device->read(data, length);
    if (count > 0)
        NXHTTPRequest::incrementBandwidthUsedInLastSecond(static_cast<unsigned long>(count));
    return count;
}

// --- the owner's body -------------------------------------------------------------------

void NXHTTPRequest::setupPostBody()
{
    if (!m_shouldStreamPostDataFromDisk) {
        if (m_postBody.isNull())
            m_postBody = QByteArray("");
        return;
    }
    if (m_postBodyFilePath.isEmpty()) {
        m_postBodyFilePath = newTemporaryPath();
        m_didCreateTemporaryPostDataFile = true;
    }
    if (!m_postBodyWriteStream) {
        m_postBodyWriteStream = std::make_unique<QFile>(m_postBodyFilePath);
        m_postBodyWriteStream->open(QIODevice::WriteOnly | QIODevice::Truncate);
    }
}

void NXHTTPRequest::appendPostData(const QByteArray& data)
{
    setupPostBody();
    if (data.isEmpty())
        return;
    if (m_shouldStreamPostDataFromDisk)
        m_postBodyWriteStream->write(data);
    else
        m_postBody.append(data);
}

void NXHTTPRequest::appendPostDataFromFile(const QString& path)
{
    setupPostBody();
    QFile source(path);
    if (!source.open(QIODevice::ReadOnly))
        return;
    constexpr qint64 piece = 262144;
    for (QByteArray chunk = source.read(piece); !chunk.isEmpty(); chunk = source.read(piece)) {
        if (m_shouldStreamPostDataFromDisk)
            m_postBodyWriteStream->write(chunk);
        else
            m_postBody.append(chunk);
    }
}

// --- preparing the body, once ------------------------------------------------------------

void NXHTTPRequest::buildPostBody()
{
    if (m_haveBuiltPostBody)
        return;
    if (!m_postBodyFilePath.isEmpty()) {
        if (m_postBodyWriteStream) {
            m_postBodyWriteStream->close();
            m_postBodyWriteStream.reset();
        }
        if (!measurePostBodyFile())
            return;
    } else if (!compressPostBody()) {
        return;
    }
    if (m_postLength > 0) {
        const QString method = m_requestMethod;
        if (method == QLatin1String("GET") || method == QLatin1String("DELETE")
            || method == QLatin1String("HEAD"))
            setRequestMethod(QStringLiteral("POST"));
        addRequestHeader(QStringLiteral("Content-Length"), QString::number(m_postLength));
    }
    m_haveBuiltPostBody = true;
}

bool NXHTTPRequest::measurePostBodyFile()
{
    if (m_shouldCompressRequestBody && m_compressedPostBodyFilePath.isEmpty()) {
        m_compressedPostBodyFilePath = newTemporaryPath();
        HttpError failure;
        if (!NXDataCompressor::compressDataFromFile(
                m_postBodyFilePath, m_compressedPostBodyFilePath, &failure)) {
            failWithError(failure);
            return false;
        }
    }
    const QString measured
        = m_shouldCompressRequestBody ? m_compressedPostBodyFilePath : m_postBodyFilePath;
    std::error_code failure;
    const std::uintmax_t size
        = std::filesystem::file_size(QFile::encodeName(measured).toStdString(), failure);
    if (failure) {
        // The file system's own error says why (no such file, no access, a folder).
        failWithError(requestError(NXHTTPRequestErrorType::FileManagement,
            QStringLiteral("Failed to get attributes for file at path '%1'").arg(measured),
            std::make_shared<HttpError>(QStringLiteral("FileSystemErrorDomain"), failure.value(),
                QString::fromLocal8Bit(failure.message()))));
        return false;
    }
    m_postLength = quint64(size);
    return true;
}

bool NXHTTPRequest::compressPostBody()
{
    if (!m_shouldCompressRequestBody) {
        m_postLength = quint64(m_postBody.size());
        return true;
    }
    HttpError failure;
    const std::optional<QByteArray> packed = NXDataCompressor::compressData(m_postBody, &failure);
    if (!packed) {
        failWithError(failure);
        return false;
    }
    m_compressedPostBody = *packed;
    m_postLength = quint64(m_compressedPostBody.size());
    return true;
}

// The body this start sends: every start (a redirect, a retry, an answer to
// a challenge) reads the prepared body from its beginning. A body file the
// owner named is sent whether or not the owner appended to it through us:
// its length is announced either way.
std::unique_ptr<HttpBodyStream> NXHTTPRequest::makeBodyStream()
{
    if (!m_postBodyFilePath.isEmpty() && QFileInfo::exists(m_postBodyFilePath)) {
        const bool compressed = !m_compressedPostBodyFilePath.isEmpty()
            && QFileInfo::exists(m_compressedPostBodyFilePath);
        return NXInputStream::inputStreamWithFileAtPath(
            compressed ? m_compressedPostBodyFilePath : m_postBodyFilePath);
    }
    if (m_postBody.isEmpty())
        return nullptr;
    const bool compressed = m_shouldCompressRequestBody && !m_compressedPostBody.isEmpty();
    return NXInputStream::inputStreamWithData(compressed ? m_compressedPostBody : m_postBody);
}

void NXHTTPRequest::removeTemporaryUploadFiles()
{
    if (m_didCreateTemporaryPostDataFile && !m_postBodyFilePath.isEmpty()) {
        QFile::remove(m_postBodyFilePath);
        m_didCreateTemporaryPostDataFile = false;
    }
    if (!m_compressedPostBodyFilePath.isEmpty()) {
        QFile::remove(m_compressedPostBodyFilePath);
        m_compressedPostBodyFilePath.clear();
    }
}

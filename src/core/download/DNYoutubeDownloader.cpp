#include "download/DNYoutubeDownloader.h"

#include "download/DNYoutubeFileNames.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    // A record is a few lines; anything bigger is not one of ours.
    return file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
}

// The size a stream is announced with, as a whole number, for the record.
QString byteCount(double size)
{
    return QString::number(static_cast<qint64>(size));
}

} // namespace

// --- DNYoutubeStreamRequest ------------------------------------------------------

DNYoutubeStreamRequest::DNYoutubeStreamRequest(const QUrl& url, std::shared_ptr<DNYoutubeNode> node)
    : NXHTTPRequest(url)
    , m_youtubeNode(std::move(node))
{ }

void DNYoutubeStreamRequest::setTempFileDownloadDir(const QString& folder)
{
    m_partialPath = folder + QLatin1Char('/') + partialFileName();
    setTemporaryFileDownloadPath(m_partialPath);
}

QString DNYoutubeStreamRequest::recordPath() const
{
    return m_partialPath + QStringLiteral(".record");
}

bool DNYoutubeStreamRequest::preparePartialFile(QString* reason)
{
    const QByteArray identity = streamIdentity().toUtf8();
    const QString partial = m_partialPath;
    if (QFile::exists(partial) && fileBytes(recordPath()) != identity) {
        // Another video of the same title and container left it: its bytes
        // would end up inside this one.
        if (!QFile::remove(partial)) {
            *reason = QStringLiteral("Cannot remove the partial file of another video: %1")
                          .arg(partial);
            return false;
        }
    }
    QSaveFile record(recordPath());
    if (!record.open(QIODevice::WriteOnly) || record.write(identity) != identity.size()
        || !record.commit()) {
        *reason = QStringLiteral("Cannot write %1: %2").arg(recordPath(), record.errorString());
        return false;
    }
    return true;
}

void DNYoutubeStreamRequest::forgetPartialFile()
{
    QFile::remove(recordPath());
}

bool DNYoutubeStreamRequest::receivedWholeBody() const
{
    const int status = responseStatusCode();
    if (status >= 200 && status < 300)
        return true;
    if (status != 416)
        return false;
    // "bytes */N" answers a range that starts at the end: the partial file was
    // the whole stream when N is what now lies at the destination.
    static const QRegularExpression total(QStringLiteral("^\\s*bytes\\s+\\*/(\\d+)\\s*$"));
    const auto match = total.match(responseHeaders().value(QStringLiteral("Content-Range")));
    const QFileInfo destination(downloadDestinationPath());
    return match.hasMatch() && destination.exists() && destination.size() > 0
        && match.captured(1).toLongLong() == destination.size();
}

QString DNYoutubeStreamRequest::answerProblem() const
{
    return QStringLiteral("The server answered %1 for %2")
        .arg(responseStatusMessage().isEmpty() ? QString::number(responseStatusCode())
                                               : responseStatusMessage(),
            url().toString(QUrl::RemoveQuery));
}

// --- DNYoutubeDownloader ---------------------------------------------------------

namespace {

QUrl partURL(const DNYoutubeNode& node, int index)
{
    const DNYoutubeVideoSegment* selected = node.selectedSgmt();
    return selected ? QUrl(selected->videoURLs.value(index)) : QUrl();
}

} // namespace

std::shared_ptr<DNYoutubeDownloader> DNYoutubeDownloader::initWithYoutubeNode(
    std::shared_ptr<DNYoutubeNode> node, int videoURLIndex)
{
    return std::make_shared<DNYoutubeDownloader>(std::move(node), videoURLIndex);
}

DNYoutubeDownloader::DNYoutubeDownloader(std::shared_ptr<DNYoutubeNode> node, int videoURLIndex)
    : DNYoutubeStreamRequest(partURL(*node, videoURLIndex), node)
    , m_videoURLIndex(videoURLIndex)
{
    if (const DNYoutubeVideoSegment* selected = node->selectedSgmt()) {
        for (auto header = selected->httpHeaders.cbegin(); header != selected->httpHeaders.cend();
             ++header)
            addRequestHeader(header.key(), header.value());
    }
}

void DNYoutubeDownloader::setOutPutDir(const QString& folder)
{
    DNYoutubeNode& node = *youtubeNode();
    const QString title = node.youtubeLink().title;
    const DNYoutubeVideoSegment* selected = node.selectedSgmt();
    const QString container = selected ? selected->containerFormat : QString();
    node.setOutputFile(DNYoutubeFileNames::outputFile(folder, title, m_videoURLIndex, container));
    node.setTempVideoFile(
        DNYoutubeFileNames::tempVideoFile(folder, title, m_videoURLIndex, container));
    setDownloadDestinationPath(node.tempVideoFile());
}

QString DNYoutubeDownloader::partialFileName() const
{
    const DNYoutubeNode& node = *youtubeNode();
    const DNYoutubeVideoSegment* selected = node.selectedSgmt();
    return QFileInfo(DNYoutubeFileNames::partialVideoFile(node.youtubeLink().title, m_videoURLIndex,
                         selected ? selected->containerFormat : QString()))
        .fileName();
}

QString DNYoutubeDownloader::streamIdentity() const
{
    const DNYoutubeNode& node = *youtubeNode();
    const DNYoutubeVideoSegment* selected = node.selectedSgmt();
    if (!selected)
        return {};
    // The variant's own bytes, without the audio the analysis added to its size.
    // One substitution pass: an address's "%2F" is not a place for the next value.
    return QStringLiteral("page: %1\nstream: video %2P %3 %4 part %5\nsize: %6\n")
        .arg(node.youtubeLink().sourceURL, QString::number(selected->resolution),
            selected->containerFormat, selected->videoFormat, QString::number(m_videoURLIndex + 1),
            byteCount(selected->videoSize - node.youtubeLink().audioStreamSize));
}

// --- NXYoutubeAudioDownloader ----------------------------------------------------

std::shared_ptr<NXYoutubeAudioDownloader> NXYoutubeAudioDownloader::downloaderWithNode(
    std::shared_ptr<DNYoutubeNode> node)
{
    return std::make_shared<NXYoutubeAudioDownloader>(std::move(node));
}

NXYoutubeAudioDownloader::NXYoutubeAudioDownloader(std::shared_ptr<DNYoutubeNode> node)
    : DNYoutubeStreamRequest(QUrl(node->youtubeLink().biggestSizeOfAudioStream.value(
                                 node->youtubeLink().biggestSizeOfAudioStream.size() - 1)),
        node)
{
    const QMap<QString, QString>& headers = node->youtubeLink().audioHttpHeaders;
    for (auto header = headers.cbegin(); header != headers.cend(); ++header)
        addRequestHeader(header.key(), header.value());
}

void NXYoutubeAudioDownloader::setOutPutDir(const QString& folder)
{
    DNYoutubeNode& node = *youtubeNode();
    node.setTempAudioFile(DNYoutubeFileNames::tempAudioFile(folder, node.youtubeLink().title));
    setDownloadDestinationPath(node.tempAudioFile());
}

QString NXYoutubeAudioDownloader::partialFileName() const
{
    return QFileInfo(DNYoutubeFileNames::partialAudioFile(youtubeNode()->youtubeLink().title))
        .fileName();
}

QString NXYoutubeAudioDownloader::streamIdentity() const
{
    const DNYoutubeLinkNode& link = youtubeNode()->youtubeLink();
    return QStringLiteral("page: %1\nstream: audio\nsize: %2\n")
        .arg(link.sourceURL, byteCount(link.audioStreamSize));
}

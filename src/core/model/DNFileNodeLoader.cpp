// Loading a media file into a file node: the probe's findings, the output
// metadata a new file starts with, the track choices and the subtitle files
// lying beside it.
#include "model/DNFileNode.h"

#include "model/ThumbnailQueue.h"
#include "platform/DNLogger.h"
#include "platform/PathStatus.h"
#include "services/EngineStreamProbe.h"
#include "services/MediaProbe.h"
#include "services/SubtitleCharset.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

// Why nothing stands at `path`: missing, or there under a name that no
// text we were given can name.
DNFileLoadFailure missingFileFailure(const QString& path)
{
    const QString undecodable = undecodableNameOnPath(path);
    if (undecodable.isEmpty())
        return DNFileLoadFailure::Missing;
    return undecodable == QDir::cleanPath(QFileInfo(path).absoluteFilePath())
        ? DNFileLoadFailure::NameNotUtf8
        : DNFileLoadFailure::FolderNameNotUtf8;
}

// What keeps `path` from being probed at all, before the probe is asked.
DNFileLoadFailure fileSystemFailure(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return DNFileLoadFailure::Folder;
    if (!info.exists())
        return missingFileFailure(path);
    if (!info.isFile())
        return DNFileLoadFailure::NotRegularFile;
    if (!info.isReadable())
        return DNFileLoadFailure::Unreadable;
    return DNFileLoadFailure::None;
}

std::shared_ptr<DNFileNode> refuse(DNFileLoadFailure reason, DNFileLoadFailure* failure)
{
    if (failure)
        *failure = reason;
    return nullptr;
}

std::vector<DNAudioTrack> audioTrackList(const std::vector<DNTAudio>& tracks)
{
    return { tracks.begin(), tracks.end() };
}

// The first subtitle file beside the media that can be read, with the
// character set its bytes suggest; the others are named in the log.
std::optional<DNTExtSubtitle> externalSubtitle(const QString& mediaPath)
{
    for (const QString& path : externalSubtitleFiles(mediaPath)) {
        QString failure;
        const std::optional<QByteArray> bytes = readSubtitleFile(path, failure);
        if (!bytes) {
            DNLog(QStringLiteral("Subtitle file %1 left out: %2").arg(path, failure));
            continue;
        }
        DNTExtSubtitle track = DNTExtSubtitle::extSubtitleTrack(path);
        track.codePage = subtitleCodePage(*bytes, path, track.language);
        return track;
    }
    return std::nullopt;
}

// The file's own subtitle streams, then the subtitle file beside it.
std::vector<DNSubtitleTrack> subtitleTrackList(
    const std::vector<DNTSubtitle>& tracks, const QString& mediaPath)
{
    std::vector<DNSubtitleTrack> list(tracks.begin(), tracks.end());
    if (std::optional<DNTExtSubtitle> external = externalSubtitle(mediaPath))
        list.emplace_back(std::move(*external));
    return list;
}

// A picture this program would not decode in its own process.
bool hasOversizedPicture(const std::vector<DNTVideo>& tracks)
{
    return std::any_of(tracks.begin(), tracks.end(), [](const DNTVideo& track) {
        return qint64 { track.width } * track.height > kLargestPicturePixels;
    });
}

// Why the probe's tracks do not make a list entry.
DNFileLoadFailure trackFailure(const MediaProbeResult& probe)
{
    if (!probe.videoTracks.empty())
        return hasOversizedPicture(probe.videoTracks) ? DNFileLoadFailure::PictureTooLarge
                                                      : DNFileLoadFailure::None;
    if (probe.indexMissing)
        return DNFileLoadFailure::CutShort;
    if (probe.picture)
        return DNFileLoadFailure::Picture;
    // A container with no track at all is most likely damaged.
    return probe.audioTracks.empty() ? DNFileLoadFailure::NotMedia
                                     : DNFileLoadFailure::NoVideoTrack;
}

} // namespace

QString DNFileLoadFailureText(DNFileLoadFailure failure)
{
    switch (failure) {
    case DNFileLoadFailure::None:
        return {};
    case DNFileLoadFailure::Folder:
        return QStringLiteral("it is a folder, not a media file");
    case DNFileLoadFailure::Missing:
        return QStringLiteral("the file does not exist");
    case DNFileLoadFailure::NameNotUtf8:
        return QStringLiteral("its name is not valid UTF-8 (it was written in an older "
                              "character set): rename the file, then add it again");
    case DNFileLoadFailure::FolderNameNotUtf8:
        return QStringLiteral("the name of a folder on its path is not valid UTF-8 (it was "
                              "written in an older character set): rename that folder, then "
                              "add the file again");
    case DNFileLoadFailure::NotRegularFile:
        return QStringLiteral("it is not a regular file (a device, a FIFO or a socket)");
    case DNFileLoadFailure::Unreadable:
        return QStringLiteral("the file cannot be read (check its permissions)");
    case DNFileLoadFailure::NotMedia:
        return QStringLiteral("it is not a media file, or it is damaged");
    case DNFileLoadFailure::CutShort:
        return QStringLiteral("the file is cut short (its index is missing)");
    case DNFileLoadFailure::Picture:
        return QStringLiteral("it is a picture, not a video (animated GIFs are not taken)");
    case DNFileLoadFailure::NoVideoTrack:
        return QStringLiteral("it has no video track (audio-only files are not taken)");
    case DNFileLoadFailure::PictureTooLarge:
        return QStringLiteral("its picture is larger than 8192 x 8192 pixels");
    }
    return {};
}

std::shared_ptr<DNFileNode> DNFileNode::fileNodeWithFile(
    const QString& path, bool snapshot, DNFileLoadFailure* failure)
{
    if (const DNFileLoadFailure reason = fileSystemFailure(path);
        reason != DNFileLoadFailure::None) {
        DNLog(QStringLiteral("Can not read media file %1: %2")
                  .arg(path, DNFileLoadFailureText(reason)));
        return refuse(reason, failure);
    }
    const std::optional<MediaProbeResult> probe = probeMediaFile(path);
    if (!probe)
        return refuse(DNFileLoadFailure::NotMedia, failure);
    if (const DNFileLoadFailure reason = trackFailure(*probe); reason != DNFileLoadFailure::None) {
        DNLog(QStringLiteral("Dropping %1: %2").arg(path, DNFileLoadFailureText(reason)));
        return refuse(reason, failure);
    }
    auto node = std::make_shared<DNFileNode>(path);
    node->setFileFormat(probe->fileFormat);
    node->setTitle(probe->title);
    node->setPerformer(probe->performer);
    node->setComment(probe->comment);
    node->setDuration(static_cast<double>(probe->durationMs) / 1000.0);
    node->setSameStreams(probe->sameStreams);
    node->setVideoTracks(probe->videoTracks);
    node->setAudioTracks(audioTrackList(probe->audioTracks));
    node->setSubtitleTracks(subtitleTrackList(probe->subtitleTracks, path));
    node->setting().setAudioIndex(probe->audioTracks.empty() ? -1 : 0);
    node->setNodeInfo(DNNodeInfo::nodeInfoForFile(path, probe->title, probe->performer));
    if (snapshot)
        ThumbnailQueue::shared().capture(node);
    if (failure)
        *failure = DNFileLoadFailure::None;
    return node;
}

// Loading a media file into a file node: the probe's findings, the output
// metadata a new file starts with, the track choices and the subtitle files
// lying beside it.
#include "model/DNFileNode.h"

#include "services/DNLogger.h"
#include "services/MediaProbe.h"
#include "services/SubtitleCharset.h"

#include <QFileInfo>

namespace {

bool isReadableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isReadable();
}

std::vector<DNAudioTrack> audioTrackList(const std::vector<DNTAudio>& tracks)
{
    return { tracks.begin(), tracks.end() };
}

// The file's own subtitle streams, then the first subtitle file beside it
// with the character set its bytes suggest.
std::vector<DNSubtitleTrack> subtitleTrackList(
    const std::vector<DNTSubtitle>& tracks, const QString& mediaPath)
{
    std::vector<DNSubtitleTrack> list(tracks.begin(), tracks.end());
    const QStringList external = externalSubtitleFiles(mediaPath);
    if (external.isEmpty())
        return list;
    DNTExtSubtitle track = DNTExtSubtitle::extSubtitleTrack(external.first());
    track.codePage = detectFileCharset(track.path);
    if (track.codePage.isEmpty()) {
        // The engine needs some charset to read the file; most subtitles today are UTF-8.
        DNLog(
            QStringLiteral("Can not tell the charset of %1, reading it as UTF-8").arg(track.path));
        track.codePage = QStringLiteral("UTF-8");
    }
    list.emplace_back(track);
    return list;
}

} // namespace

std::shared_ptr<DNFileNode> DNFileNode::fileNodeWithFile(const QString& path, bool snapshot)
{
    // The thumbnail is grabbed by the engine bridge, which has no frame grab
    // yet; until it has, a node starts without one whatever `snapshot` asks.
    Q_UNUSED(snapshot)
    if (!isReadableFile(path)) {
        DNLog(QStringLiteral("Can not read media file: %1").arg(path));
        return nullptr;
    }
    const std::optional<MediaProbeResult> probe = probeMediaFile(path);
    if (!probe)
        return nullptr;
    if (probe->videoTracks.empty()) {
        DNLog(QStringLiteral("Video track not find, Drop this media file..."));
        return nullptr;
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
    return node;
}

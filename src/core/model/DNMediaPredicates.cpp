#include "model/DNMediaPredicates.h"

#include "model/DNFileNode.h"

#include <algorithm>

namespace {

// The upper-cased container of exactly a file node; "" for any other node.
QString exactFileFormat(const NXBasicMediaNode* node)
{
    if (!isMemberOf<DNFileNode>(node))
        return {};
    return static_cast<const DNFileNode*>(node)->fileFormat().toUpper();
}

} // namespace

bool DNIsRealMediaFile(const NXBasicMediaNode* node)
{
    return exactFileFormat(node) == QLatin1String("REALMEDIA");
}

bool DNIsAVIFile(const NXBasicMediaNode* node)
{
    const auto* const file = dynamic_cast<const DNFileNode*>(node);
    return file && file->fileFormat().toUpper() == QLatin1String("AVI");
}

bool DNCanMapStreamsByID(const NXBasicMediaNode* node)
{
    const QString format = exactFileFormat(node);
    return !(format == QLatin1String("MATROSKA") || format == QLatin1String("WEBM")
        || format.startsWith(QLatin1String("MPEG-P")));
}

bool DNHasQuarterTurnedVideoTrack(const NXBasicMediaNode* node)
{
    if (!isMemberOf<DNFileNode>(node))
        return false;
    const DNTVideo* track = static_cast<const DNFileNode*>(node)->selectedVideoTrack();
    return track && track->isQuarterTurned();
}

bool DNHas2vuyVideoTrack(const NXBasicMediaNode* node)
{
    if (!isMemberOf<DNFileNode>(node))
        return false;
    const auto& tracks = static_cast<const DNFileNode*>(node)->videoTracks();
    return std::any_of(tracks.begin(), tracks.end(), [](const DNTVideo& track) {
        return track.codec.compare(QLatin1String("2vuy"), Qt::CaseInsensitive) == 0;
    });
}

bool DNHasEvenSidedVideoTracks(const NXBasicMediaNode* node)
{
    if (!isMemberOf<DNFileNode>(node))
        return false;
    const auto& tracks = static_cast<const DNFileNode*>(node)->videoTracks();
    return !tracks.empty() && std::all_of(tracks.begin(), tracks.end(), [](const DNTVideo& track) {
        return track.width > 0 && track.height > 0 && track.width % 2 == 0 && track.height % 2 == 0;
    });
}

bool DNIsMpegSystemStream(const NXBasicMediaNode* node)
{
    const QString format = exactFileFormat(node);
    return format == QLatin1String("MPEG-TS") || format == QLatin1String("BDAV")
        || format == QLatin1String("MPEG-PS");
}

double DNFirstPictureTime(const NXBasicMediaNode* node)
{
    if (!isMemberOf<DNFileNode>(node))
        return 0;
    const DNTVideo* track = static_cast<const DNFileNode*>(node)->selectedVideoTrack();
    return track ? track->firstPictureTime : 0;
}

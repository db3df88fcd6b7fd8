#include "builders/video/ThreeGP.h"

#include "builders/video/BuilderFrame.h"
#include "builders/video/CodecBlocks.h"
#include "model/DNFileNode.h"
#include "model/DNMediaPredicates.h"
#include "platform/DNLogger.h"
#include "profiles/DNProfile.h"
#include "profiles/ProfileValues.h"

namespace {

constexpr int k3G2 = 1;

QString containerOf(int kind)
{
    return kind == k3G2 ? QStringLiteral("3g2") : QStringLiteral("3gp");
}

// With "keep origin", an AVI source's display aspect as the probe reports it
// is written out, so that the phone shows the picture as the AVI player did.
// A source without a known ratio gets none: an empty "-aspect" would make
// the engine refuse the run.
void writeSourceAspect(VideoFrame& f)
{
    const QString aspect = f.profile.videoAspect().currentValue();
    if (!isKeepOriginAspect(aspect) || !DNIsAVIFile(&f.node)) {
        writeAspect(f);
        return;
    }
    if (f.vtrack.aspectRatio.isEmpty()) {
        DNLog(QStringLiteral("Video_To_GP_XVID_With_AVEncoder: the source's aspect is unknown; "
                             "it is left to the engine"));
        return;
    }
    f.writer.add("-aspect").add(normalizeAspectString(f.vtrack.aspectRatio, QStringLiteral(":")));
}

void writeXvid(VideoFrame& f)
{
    writeMpeg4Block(f, "libxvid");
}

VideoBuilderRow xvidRow(int kind)
{
    VideoBuilderRow row("Video_To_GP_XVID_With_AVEncoder", StreamMapRule::TrackChoiceOrMismatch,
        ThreadsRule::None, FrameRateRule::SourceRate, containerOf(kind));
    row.audioCodec = "libfdk_aac";
    row.aspect = writeSourceAspect;
    row.codecBlock = writeXvid;
    // The container writes no colour tags for MPEG-4 Part 2.
    row.picture.matrix = ColourMatrix::PlayersOfSize;
    return row;
}

VideoBuilderRow h264Row(int kind)
{
    VideoBuilderRow row("Video_To_GP_H264_With_AVEncoder", StreamMapRule::TrackChoiceOnly,
        ThreadsRule::UnlessAllProcessors, FrameRateRule::FixedRate, containerOf(kind));
    row.audioCodec = "libfdk_aac";
    row.codecBlock = writeH264Block;
    // Phones decode 8-bit 4:2:0 H.264 only; libx264 would keep the source's
    // format.
    row.pixelFormat = "yuv420p";
    return row;
}

bool asksForH264(const std::shared_ptr<NXBasicMediaNode>& node)
{
    const auto file = std::dynamic_pointer_cast<DNFileNode>(node);
    const std::shared_ptr<DNProfile> profile = file ? file->profile() : nullptr;
    return profile && profile->videoCodec().currentValue() == QLatin1String("h264");
}

ArgumentBlockPtr phoneFrontEnd(int kind, const std::shared_ptr<NXBasicMediaNode>& node,
    int32_t titleIndex, const EncodeConfig& config)
{
    if (asksForH264(node))
        return Video_To_GP_H264_With_AVEncoder(kind, node, titleIndex, config);
    return Video_To_GP_XVID_With_AVEncoder(kind, node, titleIndex, config);
}

} // namespace

ArgumentBlockPtr Video_To_GP_XVID_With_AVEncoder(int kind,
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    static const VideoBuilderRow threeGP = xvidRow(0);
    static const VideoBuilderRow threeG2 = xvidRow(k3G2);
    return buildVideoFrame(kind == k3G2 ? threeG2 : threeGP, node, titleIndex, config);
}

ArgumentBlockPtr Video_To_GP_H264_With_AVEncoder(int kind,
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    static const VideoBuilderRow threeGP = h264Row(0);
    static const VideoBuilderRow threeG2 = h264Row(k3G2);
    return buildVideoFrame(kind == k3G2 ? threeG2 : threeGP, node, titleIndex, config);
}

ArgumentBlockPtr Video_To_3GP_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return phoneFrontEnd(0, node, titleIndex, config);
}

ArgumentBlockPtr Video_To_3G2_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return phoneFrontEnd(k3G2, node, titleIndex, config);
}

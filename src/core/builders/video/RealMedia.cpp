#include "builders/video/RealMedia.h"

#include "builders/video/BuilderFrame.h"
#include "builders/video/CodecBlocks.h"

namespace {

VideoBuilderRow realMediaRow()
{
    VideoBuilderRow row("Video_To_RM_With_AVEncoder", StreamMapRule::TrackChoiceOrMismatch,
        ThreadsRule::None, FrameRateRule::FixedRate, QStringLiteral("rm"));
    row.audioCodec = "ac3";
    row.codecBlock = videoCodecOnly("rv20");
    // RealMedia stores neither the shape of a pixel nor colour tags.
    row.picture.shape = PixelShape::Square;
    row.picture.matrix = ColourMatrix::PlayersOfSize;
    // The RealVideo packets the demuxer gives back do not decode once muxed again.
    row.join.pictureCodec = "rv20";
    return row;
}

} // namespace

ArgumentBlockPtr Video_To_RM_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    static const VideoBuilderRow row = realMediaRow();
    return buildVideoFrame(row, node, titleIndex, config);
}

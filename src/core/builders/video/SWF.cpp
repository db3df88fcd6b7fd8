#include "builders/video/SWF.h"

#include "builders/video/BuilderFrame.h"
#include "builders/video/CodecBlocks.h"

namespace {

VideoBuilderRow swfRow()
{
    VideoBuilderRow row("Video_To_SWF_With_AVEncoder", StreamMapRule::TrackChoiceOrMismatch,
        ThreadsRule::None, FrameRateRule::FixedRate, QStringLiteral("swf"));
    row.audioCodec = "libmp3lame";
    row.codecBlock = videoCodecOnly("flv1");
    // SWF stores neither the shape of a pixel nor colour tags.
    row.picture.shape = PixelShape::Square;
    row.picture.matrix = ColourMatrix::PlayersOfSize;
    // A copied picture never reaches the muxer's file: it keeps the sound alone.
    row.join.pictureCodec = "flv1";
    // The muxer writes copied sound one part after the other, whatever the
    // parts' pictures last; encoded again, it follows their timestamps.
    row.join.soundCodec = "libmp3lame";
    return row;
}

} // namespace

ArgumentBlockPtr Video_To_SWF_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    static const VideoBuilderRow row = swfRow();
    return buildVideoFrame(row, node, titleIndex, config);
}

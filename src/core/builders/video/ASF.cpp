#include "builders/video/ASF.h"

#include "builders/video/BuilderFrame.h"
#include "builders/video/CodecBlocks.h"

namespace {

VideoBuilderRow asfRow()
{
    VideoBuilderRow row("Video_To_ASF_With_AVEncoder", StreamMapRule::TrackChoiceOrMismatch,
        ThreadsRule::None, FrameRateRule::SourceRate, QStringLiteral("asf"));
    row.audioCodec = "wmav2";
    row.codecBlock = [](VideoFrame& f) { writeMpeg4Block(f, "mpeg4"); };
    // ASF stores no colour tags.
    row.picture.matrix = ColourMatrix::PlayersOfSize;
    return row;
}

} // namespace

ArgumentBlockPtr Video_To_ASF_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    static const VideoBuilderRow row = asfRow();
    return buildVideoFrame(row, node, titleIndex, config);
}

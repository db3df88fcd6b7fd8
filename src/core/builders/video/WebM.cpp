#include "builders/video/WebM.h"

#include "builders/video/BuilderFrame.h"
#include "builders/video/CodecBlocks.h"

namespace {

void writeVp8(VideoFrame& f)
{
    f.writer.add("-c:v").add("vp8");
    if (!isConstantQuality(f)) {
        writeBitrateBounds(f);
        return;
    }
    const QualityStep q = qualityStepOf(f, { 5, 4, 15 }, { 30, 4, 63 }, { 10, 4, 30 });
    f.writer.add("-crf").addf("%d", q.first).add("-qmin").addf("%d", q.second);
    f.writer.add("-qmax").addf("%d", q.third);
}

VideoBuilderRow webmRow()
{
    VideoBuilderRow row("Video_To_WEBM_With_AVEncoder", StreamMapRule::TrackChoiceOrMismatch,
        ThreadsRule::Always, FrameRateRule::FixedRate, QStringLiteral("webm"));
    row.audioCodec = "libvorbis";
    row.codecBlock = writeVp8;
    // VP8 takes odd sides, and its decoders BT.601 only, whatever the
    // container's tags say.
    row.picture = { false, false, true, PixelShape::Stored, ColourMatrix::Bt601 };
    return row;
}

} // namespace

ArgumentBlockPtr Video_To_WEBM_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    static const VideoBuilderRow row = webmRow();
    return buildVideoFrame(row, node, titleIndex, config);
}

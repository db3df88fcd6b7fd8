#include "builders/video/FLV.h"

#include "builders/video/BuilderFrame.h"
#include "builders/video/CodecBlocks.h"
#include "model/DNFileNode.h"
#include "profiles/DNProfile.h"

namespace {

void writeFlashOptionSet(ArgumentWriter& w)
{
    w.add("-flags").add("+loop").add("-cmp").add("chroma");
    w.add("-partitions").add("+parti4x4+partp8x8+partb8x8");
    w.add("-me_method").add("hex").add("-subq").addf("%d", 6);
    w.add("-me_range").addf("%d", 16).add("-g").addf("%d", 250);
    w.add("-keyint_min").addf("%d", 25).add("-sc_threshold").addf("%d", 40);
    w.add("-i_qfactor").addf("%.2f", 0.71).add("-b_strategy").addf("%d", 1);
    w.add("-qcomp").addf("%.1f", 0.6).add("-qdiff").addf("%d", 4);
    w.add("-bf").addf("%d", 3).add("-coder").addf("%d", 1).add("-refs").addf("%d", 3);
    w.add("-direct-pred").addf("%d", 1).add("-trellis").addf("%d", 1);
    w.add("-wpredp").addf("%d", 2);
}

void writeFlashRateControl(VideoFrame& f)
{
    if (!isConstantQuality(f)) {
        writeBitrateBounds(f);
        return;
    }
    const QualityStep q = qualityStepOf(f, { 15, 2, 15 }, { 24, 2, 41 }, { 22, 2, 30 });
    f.writer.add("-crf").addf("%d", q.first).add("-qmin").addf("%d", q.second);
    f.writer.add("-qmax").addf("%d", q.third);
    f.writer.add("-maxrate").addf("%dk", f.profile.videoQuality().maxVideoBitrate());
}

void writeFlashH264(VideoFrame& f)
{
    f.writer.add("-c:v").add("libx264");
    writeFlashOptionSet(f.writer);
    writeFlashRateControl(f);
}

// Only the exact value asks for FLV1.
constexpr const char* kFlv1Codec = "h263";

// FLV1 takes no options: the bitrate alone sets its rate.
void writeFlvCodec(VideoFrame& f)
{
    if (f.profile.videoCodec().currentValue() == QLatin1String(kFlv1Codec)) {
        f.writer.add("-c:v").add("flv");
        return;
    }
    writeFlashH264(f);
}

VideoBuilderRow flashRow(
    const char* name, ThreadsRule threads, const char* container, FrameHook codecBlock)
{
    VideoBuilderRow row(name, StreamMapRule::TrackChoiceOrMismatch, threads,
        FrameRateRule::FixedRate, QLatin1String(container));
    row.audioCodec = "libmp3lame";
    row.codecBlock = std::move(codecBlock);
    // Flash players decode 8-bit 4:2:0 H.264 only; libx264 would keep the
    // source's format.
    row.pixelFormat = "yuv420p";
    return row;
}

// FLV stores no pixel shape (H.264 has one in its stream, which Flash
// players pass over); FLV1 has no colour tags either.
VideoBuilderRow flvRow(bool flv1)
{
    VideoBuilderRow row
        = flashRow("Video_To_FLV_With_AVEncoder", ThreadsRule::None, "flv", writeFlvCodec);
    row.picture.shape = PixelShape::Square;
    if (flv1)
        row.picture.matrix = ColourMatrix::PlayersOfSize;
    return row;
}

bool asksForFlv1(const std::shared_ptr<NXBasicMediaNode>& node)
{
    const auto file = std::dynamic_pointer_cast<DNFileNode>(node);
    const std::shared_ptr<DNProfile> profile = file ? file->profile() : nullptr;
    return profile && profile->videoCodec().currentValue() == QLatin1String(kFlv1Codec);
}

} // namespace

ArgumentBlockPtr Video_To_FLV_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    static const VideoBuilderRow h264 = flvRow(false);
    static const VideoBuilderRow flv1 = flvRow(true);
    return buildVideoFrame(asksForFlv1(node) ? flv1 : h264, node, titleIndex, config);
}

ArgumentBlockPtr Video_To_F4V_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    static const VideoBuilderRow row = flashRow(
        "Video_To_F4V_With_AVEncoder", ThreadsRule::UnlessAllProcessors, "f4v", writeFlashH264);
    return buildVideoFrame(row, node, titleIndex, config);
}

#include "builders/video/Matroska.h"

#include "builders/video/BuilderFrame.h"
#include "builders/video/CodecBlocks.h"
#include "profiles/DNProfile.h"

namespace {

void writeMatroskaCodec(VideoFrame& f)
{
    if (f.profile.videoCodec().currentValue().toLower() == QLatin1String("libxvid"))
        writeMpeg4Block(f, "libxvid");
    else
        writeH264Block(f);
}

void writeHDCodec(VideoFrame& f)
{
    f.writer.add("-c:v").add("libx264").add("-preset").add("slow");
    if (isConstantQuality(f))
        f.writer.add("-crf").addf("%d", 20).add("-qp").addf("%d", 0);
}

VideoBuilderRow matroskaRow(
    const char* name, FrameRateRule frameRate, const char* audioCodec, FrameHook codecBlock)
{
    VideoBuilderRow row(name, StreamMapRule::SubtitleStream, ThreadsRule::None, frameRate,
        QStringLiteral("matroska"));
    // The subtitle travels as a stream of its own, not in the picture.
    row.burnSubtitles = false;
    row.audioCodec = audioCodec;
    row.codecBlock = std::move(codecBlock);
    // libx264 would keep a 4:4:4, 4:2:2 or 10-bit source's format, which
    // few players decode.
    row.pixelFormat = "yuv420p";
    return row;
}

} // namespace

ArgumentBlockPtr Video_To_MKV_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    static const VideoBuilderRow row = matroskaRow(
        "Video_To_MKV_With_AVEncoder", FrameRateRule::SourceRate, nullptr, writeMatroskaCodec);
    return buildVideoFrame(row, node, titleIndex, config);
}

ArgumentBlockPtr Video_To_HD_MKV_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    static const VideoBuilderRow row = matroskaRow(
        "Video_To_HD_MKV_With_AVEncoder", FrameRateRule::FixedRate, "libfdk_aac", writeHDCodec);
    return buildVideoFrame(row, node, titleIndex, config);
}

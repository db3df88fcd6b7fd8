#include "builders/video/ProRes.h"

#include "builders/video/BuilderFrame.h"
#include "profiles/DNProfile.h"

namespace {

struct Quantisers {
    int min;
    int max;
    int scale;
};

// Constant quality by the profile's quality step: 2 (best), 0 (smallest)
// and every other step. The bitrate model writes no rate option at all:
// each flavour has its own data rate.
Quantisers quantisersOf(int phase)
{
    if (phase == 2)
        return { 2, 15, 1 };
    if (phase == 0)
        return { 2, 41, 6 };
    return { 2, 28, 3 };
}

void writeProRes(VideoFrame& f, const std::optional<QString>& profile)
{
    f.writer.add("-c:v").add("prores");
    if (f.profile.videoQuality().curBitrateModel() == NXVideoQuality::VBR) {
        const Quantisers q = quantisersOf(f.profile.qualityPhase());
        f.writer.add("-qmin").addf("%d", q.min).add("-qmax").addf("%d", q.max);
        f.writer.add("-qscale:v").addf("%d", q.scale);
    }
    if (profile)
        f.writer.add("-profile:v").add(*profile);
}

// The colour tags the ProRes encoder writes as they are; it writes others as
// "reserved" or as another matrix.
const ColourTagSet kProResTags {
    { "bt709", "bt470bg", "smpte170m", "bt2020", "smpte431", "smpte432" },
    { "bt709", "smpte2084", "arib-std-b67" },
    { "bt709", "smpte170m", "bt2020nc" },
};

VideoBuilderRow proresRow(const std::optional<QString>& profile)
{
    VideoBuilderRow row("Video_To_ProRes_With_AVEncoder", StreamMapRule::TrackChoiceOrMismatch,
        ThreadsRule::UnlessAllProcessors, FrameRateRule::FixedRate, QStringLiteral("mov"));
    row.videoBitrate = false;
    row.audioCodec = "libfdk_aac";
    row.codecBlock = [profile](VideoFrame& f) { writeProRes(f, profile); };
    // 4444 keeps full chroma; the 422 flavours halve it across. Both in 10
    // bits, which carry an HDR source as it is. The encoder takes even widths.
    row.pixelFormat = profile ? "yuv422p10le" : "yuv444p10le";
    row.picture = { true, false, false };
    row.picture.carriedTags = &kProResTags;
    return row;
}

} // namespace

ArgumentBlockPtr Video_To_ProRes_With_AVEncoder(const std::shared_ptr<NXBasicMediaNode>& node,
    int32_t titleIndex, const std::optional<QString>& profile, EncodeConfig config)
{
    return buildVideoFrame(proresRow(profile), node, titleIndex, config);
}

ArgumentBlockPtr Video_To_ProRes4444_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return Video_To_ProRes_With_AVEncoder(node, titleIndex, std::nullopt, config);
}

ArgumentBlockPtr Video_To_ProRes422HQ_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return Video_To_ProRes_With_AVEncoder(node, titleIndex, QStringLiteral("3"), config);
}

ArgumentBlockPtr Video_To_ProRes422_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return Video_To_ProRes_With_AVEncoder(node, titleIndex, QStringLiteral("2"), config);
}

ArgumentBlockPtr Video_To_ProRes422LT_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return Video_To_ProRes_With_AVEncoder(node, titleIndex, QStringLiteral("1"), config);
}

ArgumentBlockPtr Video_To_ProRes422Poxy_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return Video_To_ProRes_With_AVEncoder(node, titleIndex, QStringLiteral("0"), config);
}

#include "builders/video/Matroska.h"

#include "builders/video/BuilderFrame.h"
#include "profiles/DNProfile.h"

namespace {

// The encoder's buffer in kbit/s under a bitrate ceiling.
constexpr int kBufferSize = 1835;

// Constant-quality settings by the profile's quality step: 2 (best), 0
// (smallest) and every other step.
struct QualityStep {
    int first;
    int second;
    int third;
};

QualityStep stepOf(int phase, QualityStep best, QualityStep smallest, QualityStep usual)
{
    if (phase == 2)
        return best;
    if (phase == 0)
        return smallest;
    return usual;
}

bool isConstantQuality(const VideoFrame& f)
{
    return f.profile.videoQuality().curBitrateModel() == NXVideoQuality::VBR;
}

void writeBitrateBounds(VideoFrame& f)
{
    const QString rate = f.profile.videoQuality().currentValue() + QLatin1Char('k');
    f.writer.add("-minrate").add(rate).add("-maxrate").add(rate);
    f.writer.add("-bufsize").addf("%dk", kBufferSize);
}

void writeQualityCeiling(VideoFrame& f)
{
    f.writer.add("-maxrate").addf("%dk", f.profile.videoQuality().maxVideoBitrate());
    f.writer.add("-bufsize").addf("%dk", kBufferSize);
}

void writeXvidRateControl(VideoFrame& f)
{
    if (!isConstantQuality(f)) {
        // Players of the iPod kind take the stream as it comes.
        if (f.profile.fileFormat().toLower() != QLatin1String("ipod"))
            writeBitrateBounds(f);
        return;
    }
    const QualityStep q
        = stepOf(f.profile.qualityPhase(), { 2, 15, 1 }, { 2, 41, 10 }, { 2, 28, 3 });
    f.writer.add("-qmin").addf("%d", q.first).add("-qmax").addf("%d", q.second);
    f.writer.add("-qscale:v").addf("%d", q.third);
    writeQualityCeiling(f);
}

void writeXvid(VideoFrame& f)
{
    f.writer.add("-c:v").add("libxvid").add("-mbd").addf("%d", 2);
    f.writer.add("-flags").add("+mv4+aic").add("-trellis").addf("%d", 2);
    f.writer.add("-cmp").addf("%d", 2).add("-subcmp").addf("%d", 2);
    f.writer.add("-bf").addf("%d", 0).add("-g").addf("%d", 250);
    f.writer.add("-profile:v").addf("%d", 1).add("-level").addf("%d", 3);
    writeXvidRateControl(f);
}

void writeX264RateControl(VideoFrame& f)
{
    if (!isConstantQuality(f)) {
        writeBitrateBounds(f);
        return;
    }
    const QualityStep q
        = stepOf(f.profile.qualityPhase(), { 16, 5, 20 }, { 28, 10, 41 }, { 22, 5, 30 });
    f.writer.add("-crf").addf("%d", q.first).add("-qmin").addf("%d", q.second);
    f.writer.add("-qmax").addf("%d", q.third);
    writeQualityCeiling(f);
}

void writeX264(VideoFrame& f)
{
    ArgumentWriter& w = f.writer;
    w.add("-c:v").add("libx264").add("-flags").add("+loop").add("-cmp").add("chroma");
    w.add("-deblock").add("0:0").add("-bt").add("256k").add("-me_method").add("epzs");
    w.add("-me_range").addf("%d", 16).add("-subq").addf("%d", 5);
    w.add("-partitions").add("+parti4x4+parti8x8+partp8x8");
    w.add("-g").addf("%d", 200).add("-keyint_min").addf("%d", 25);
    w.add("-trellis").addf("%d", 0).add("-sc_threshold").addf("%d", 40);
    w.add("-i_qfactor").addf("%.2f", 0.71).add("-b_strategy").addf("%d", 1);
    w.add("-qcomp").addf("%.1f", 0.6).add("-qdiff").addf("%d", 4);
    w.add("-refs").addf("%d", 2).add("-direct-pred").addf("%d", 1);
    w.add("-wpredp").addf("%d", 2).add("-rc_lookahead").addf("%d", 30);
    // Here the file format must be exactly "ipod" (case counts).
    if (f.profile.fileFormat() == QLatin1String("ipod"))
        w.add("-profile:v").add("baseline");
    w.add("-level").addf("%d", 30).add("-bf").addf("%d", 0).add("-coder").addf("%d", 0);
    writeX264RateControl(f);
}

void writeMatroskaCodec(VideoFrame& f)
{
    if (f.profile.videoCodec().currentValue().toLower() == QLatin1String("libxvid"))
        writeXvid(f);
    else
        writeX264(f);
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

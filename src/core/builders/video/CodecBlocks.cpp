#include "builders/video/CodecBlocks.h"

#include "profiles/DNProfile.h"

QualityStep qualityStepOf(
    const VideoFrame& frame, QualityStep best, QualityStep smallest, QualityStep usual)
{
    const int phase = frame.profile.qualityPhase();
    if (phase == 2)
        return best;
    if (phase == 0)
        return smallest;
    return usual;
}

bool isConstantQuality(const VideoFrame& frame)
{
    return frame.profile.videoQuality().curBitrateModel() == NXVideoQuality::VBR;
}

void writeBitrateBounds(VideoFrame& frame)
{
    const QString rate = frame.profile.videoQuality().currentValue() + QLatin1Char('k');
    frame.writer.add("-minrate").add(rate).add("-maxrate").add(rate);
    frame.writer.add("-bufsize").addf("%dk", kVideoBufferSize);
}

FrameHook videoCodecOnly(const char* encoder)
{
    return [encoder](VideoFrame& frame) { frame.writer.add("-c:v").add(encoder); };
}

namespace {

void writeQualityCeiling(VideoFrame& f)
{
    f.writer.add("-maxrate").addf("%dk", f.profile.videoQuality().maxVideoBitrate());
    f.writer.add("-bufsize").addf("%dk", kVideoBufferSize);
}

void writeMpeg4RateControl(VideoFrame& f)
{
    if (!isConstantQuality(f)) {
        // Players of the iPod kind take the stream as it comes.
        if (f.profile.fileFormat().toLower() != QLatin1String("ipod"))
            writeBitrateBounds(f);
        return;
    }
    const QualityStep q = qualityStepOf(f, { 2, 15, 1 }, { 2, 41, 10 }, { 2, 28, 3 });
    f.writer.add("-qmin").addf("%d", q.first).add("-qmax").addf("%d", q.second);
    f.writer.add("-qscale:v").addf("%d", q.third);
    writeQualityCeiling(f);
}

void writeX264RateControl(VideoFrame& f)
{
    if (!isConstantQuality(f)) {
        writeBitrateBounds(f);
        return;
    }
    const QualityStep q = qualityStepOf(f, { 16, 5, 20 }, { 28, 10, 41 }, { 22, 5, 30 });
    f.writer.add("-crf").addf("%d", q.first).add("-qmin").addf("%d", q.second);
    f.writer.add("-qmax").addf("%d", q.third);
    writeQualityCeiling(f);
}

} // namespace

void writeMpeg4Block(VideoFrame& frame, const char* encoder)
{
    ArgumentWriter& w = frame.writer;
    w.add("-c:v").add(encoder).add("-mbd").addf("%d", 2);
    w.add("-flags").add("+mv4+aic").add("-trellis").addf("%d", 2);
    w.add("-cmp").addf("%d", 2).add("-subcmp").addf("%d", 2);
    w.add("-bf").addf("%d", 0).add("-g").addf("%d", 250);
    w.add("-profile:v").addf("%d", 1).add("-level").addf("%d", 3);
    writeMpeg4RateControl(frame);
}

void writeH264Block(VideoFrame& f)
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

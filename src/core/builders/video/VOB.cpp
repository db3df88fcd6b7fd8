#include "builders/video/VOB.h"

#include "builders/video/BuilderFrame.h"
#include "profiles/DNProfile.h"
#include "services/DNFileTracks.h"

namespace {

// The encoder's buffer in kbit/s, whatever the bitrate.
constexpr int kBufferSize = 1835;

struct Quantisers {
    int scale;
    int min;
    int max;
};

// Constant quality by the profile's quality step: 2 (best), 0 (smallest)
// and every other step.
Quantisers quantisersOf(int phase)
{
    if (phase == 2)
        return { 2, 2, 15 };
    if (phase == 0)
        return { 10, 2, 41 };
    return { 4, 2, 30 };
}

void writeRateControl(VideoFrame& f)
{
    const NXVideoQuality& quality = f.profile.videoQuality();
    if (quality.curBitrateModel() != NXVideoQuality::VBR) {
        const QString rate = quality.currentValue() + QLatin1Char('k');
        f.writer.add("-minrate").add(rate).add("-maxrate").add(rate);
    } else {
        const Quantisers q = quantisersOf(f.profile.qualityPhase());
        f.writer.add("-qscale:v").addf("%d", q.scale).add("-qmin").addf("%d", q.min);
        f.writer.add("-qmax").addf("%d", q.max);
        f.writer.add("-maxrate").addf("%dk", quality.maxVideoBitrate());
    }
    f.writer.add("-bufsize").addf("%dk", kBufferSize);
}

void writeMpeg2(VideoFrame& f)
{
    f.writer.add("-c:v").add("mpeg2video").add("-g").addf("%d", 12).add("-mbd").add("rd");
    f.writer.add("-trellis").addf("%d", 1).add("-flags").add("+mv0");
    f.writer.add("-cmp").addf("%d", 0).add("-subcmp").addf("%d", 2);
    writeRateControl(f);
}

// Packed 4:2:2 sources would otherwise keep a layout MPEG-2 cannot carry.
void writePackedSourceFormat(VideoFrame& f)
{
    if (f.vtrack.codec.toLower() == QLatin1String("2vuy"))
        f.writer.add("-pix_fmt").add("yuv420p");
}

VideoBuilderRow vobRow()
{
    VideoBuilderRow row("Video_To_VOB_With_AVEncoder", StreamMapRule::TrackChoiceOrMismatch,
        ThreadsRule::None, FrameRateRule::FixedRate, QStringLiteral("vob"));
    row.audioCodec = "mp2";
    row.codecBlock = writeMpeg2;
    // The MPEG-2 encoder would keep a 4:2:2 source's chroma, which DVD
    // players do not decode.
    row.pixelFormat = "yuv420p";
    row.picture.shape = PixelShape::NamedAspect;
    // DVD players decode BT.601 whatever the stream's tags say.
    row.picture.matrix = ColourMatrix::PlayersOfSize;
    return row;
}

VideoBuilderRow dvdRow(const QString& standard)
{
    VideoBuilderRow row("Video_To_DVD_With_AVEncoder", StreamMapRule::TrackChoiceOrMismatch,
        ThreadsRule::None, FrameRateRule::None, QStringLiteral("dvd"));
    // The target sets codecs, rates and audio; a DVD frame has one size per
    // standard, so the picture must fill it whatever the node's setting.
    row.videoBitrate = false;
    row.audioOptions = false;
    row.metadata = false;
    row.expandToProfile = true;
    // The stream stores only whether the frame shows 4:3 or 16:9, and DVD
    // players decode BT.601 whatever its tags say.
    row.picture.shape = PixelShape::Television;
    row.picture.matrix = ColourMatrix::PlayersOfSize;
    row.beforeContainer = writePackedSourceFormat;
    // The target fixes the standard's rate and frame, whatever the profile
    // says; the graph converts to them.
    const bool ntsc = standard.toLower() == QLatin1String("ntsc");
    row.picture.writtenFrame = ntsc ? +[](const DNProfile&) { return QSize(720, 480); }
                                    : +[](const DNProfile&) { return QSize(720, 576); };
    const QString rate = ntsc ? QStringLiteral("30000/1001") : QStringLiteral("25");
    row.afterInput = [rate](VideoFrame& f) { f.pictureRate = rate; };
    const QString target = standard.toLower() + QLatin1String("-dvd");
    row.afterContainer = [target](VideoFrame& f) { f.writer.add("-target").add(target); };
    return row;
}

} // namespace

ArgumentBlockPtr Video_To_VOB_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    static const VideoBuilderRow row = vobRow();
    return buildVideoFrame(row, node, titleIndex, config);
}

ArgumentBlockPtr Video_To_DVD_With_AVEncoder(const std::shared_ptr<NXBasicMediaNode>& node,
    int32_t titleIndex, const QString& standard, EncodeConfig config)
{
    return buildVideoFrame(dvdRow(standard), node, titleIndex, config);
}

ArgumentBlockPtr Video_To_NTSCDVD_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return Video_To_DVD_With_AVEncoder(node, titleIndex, QStringLiteral("NTSC"), config);
}

ArgumentBlockPtr Video_To_PALDVD_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return Video_To_DVD_With_AVEncoder(node, titleIndex, QStringLiteral("PAL"), config);
}

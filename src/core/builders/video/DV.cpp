#include "builders/video/DV.h"

#include "builders/video/BuilderFrame.h"
#include "profiles/DNProfile.h"

namespace {

// The one frame size that means NTSC; every other value, "keep origin"
// included, gets the PAL target.
const QLatin1String kNtscFrame("720x480");

bool isNtsc(const DNProfile& profile)
{
    return profile.videoResolution().currentValue() == kNtscFrame;
}

// The target writes its standard's frame whatever the profile's resolution.
QSize standardFrame(const DNProfile& profile)
{
    return isNtsc(profile) ? QSize(720, 480) : QSize(720, 576);
}

void writeTarget(VideoFrame& f)
{
    const bool ntsc = isNtsc(f.profile);
    f.writer.add("-target").add(ntsc ? "ntsc-dv" : "pal-dv");
    // The target fixes the standard's rate; the graph converts to it.
    f.pictureRate = ntsc ? QStringLiteral("30000/1001") : QStringLiteral("25");
}

VideoBuilderRow dvRow()
{
    VideoBuilderRow row("Video_To_DV_With_AVEncoder", StreamMapRule::TrackChoiceOrMismatch,
        ThreadsRule::None, FrameRateRule::None, QStringLiteral("dv"));
    // The target fixes bitrate and audio; DV has one frame size per
    // standard, so the picture must fill it whatever the node's setting.
    row.videoBitrate = false;
    row.audioOptions = false;
    row.expandToProfile = true;
    // DV stores only whether the frame shows 4:3 or 16:9, and no colour tags.
    row.picture.shape = PixelShape::Television;
    row.picture.matrix = ColourMatrix::PlayersOfSize;
    row.picture.writtenFrame = standardFrame;
    row.afterInput = writeTarget;
    // Every DV frame carries its share of the sound: copied, NTSC's 1601.6
    // samples a frame fall short at the end of a part and the muxer gives up.
    row.join.soundCodec = "pcm_s16le";
    return row;
}

} // namespace

ArgumentBlockPtr Video_To_DV_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    static const VideoBuilderRow row = dvRow();
    return buildVideoFrame(row, node, titleIndex, config);
}

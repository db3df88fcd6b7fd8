#include "builders/dvd/MPEG2.h"

#include "builders/dvd/DVDBuild.h"
#include "builders/dvd/Merge.h"
#include "model/DNDVDGroupTitle.h"
#include "profiles/DNProfile.h"
#include "profiles/ProfileValues.h"

#include <initializer_list>

namespace {

using Words = std::initializer_list<const char*>;

// What tells the four builders apart. The options take %1 the video bit
// rate, %2 the audio bit rate (re-encoding only) and %3 the thread count.
struct MPEG2Builder {
    const char* name;
    Words container;
    const char* options;
    bool copiesSound = false;
};

const Words kDVDProgramStream { "-of", "mpeg", "-mpegopts", "format=dvd:tsaf" };
const Words kMPEG2ProgramStream { "-of", "mpeg", "-mpegopts", "format=mpeg2" };
// The program-stream muxer writes no transport stream: the .ts, .m2ts and
// .mts profiles need lavf's.
const Words kTransportStream { "-of", "lavf", "-lavfopts", "format=mpegts" };
constexpr const char* kMP2Options
    = "vcodec=mpeg2video:vrc_buf_size=1792:vrc_maxrate=20000:vbitrate=%1:keyint=15:vstrict=0:"
      "acodec=mp2:abitrate=%2:autoaspect:vmax_b_frames=2:vb_strategy=1:threads=%3";

const MPEG2Builder kCopy { "DVD_To_MPEG2_AC3_Copy_Default_With_MEncoder", kDVDProgramStream,
    "vcodec=mpeg2video:vrc_buf_size=1835:vrc_maxrate=5800:vbitrate=%1:keyint=15:vstrict=0:"
    "autoaspect:vmax_b_frames=2:vb_strategy=1:threads=%3",
    true };
const MPEG2Builder kAC3 { "DVD_To_MPEG2_AC3_Reencode_Default_With_MEncoder", kDVDProgramStream,
    "vcodec=mpeg2video:vrc_buf_size=1835:vrc_maxrate=5800:vbitrate=%1:keyint=15:vstrict=0:"
    "acodec=ac3_fixed:abitrate=%2:autoaspect:vmax_b_frames=2:vb_strategy=1:threads=%3" };
const MPEG2Builder kMP2 { "DVD_To_MPEG2_MP2_Reencode_Default_With_MEncoder", kMPEG2ProgramStream,
    kMP2Options };
const MPEG2Builder kTS { "DVD_To_TS_MPEG2_Default_With_MEncoder", kTransportStream, kMP2Options };

void writeSoundCodecBlock(DVDBuild& build, const MPEG2Builder& builder)
{
    if (builder.copiesSound) {
        build.writer.add("-oac").add("copy");
        if (const DNDVDTAudio* track = chosenAudioTrack(build))
            build.writer.add("-channels").addf("%d", track->channel);
        return;
    }
    build.writer.add("-channels")
        .addf("%d", leadingIntValue(build.profile.audioChannel().currentValue()));
    build.writer.add("-oac").add("lavc");
}

void writeVideoOptions(DVDBuild& build, const MPEG2Builder& builder)
{
    QString options = QString::fromLatin1(builder.options);
    // Only the re-encoding options name the audio bit rate.
    options = builder.copiesSound
        ? options.arg(
            build.profile.videoQuality().currentValue(), QString::number(build.config.cpuCore))
        : options.arg(build.profile.videoQuality().currentValue(),
            build.profile.audioQuality().currentValue(), QString::number(build.config.cpuCore));
    build.writer.add("-lavcopts").add(options);
}

ArgumentBlockPtr buildMPEG2(const MPEG2Builder& builder,
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, const EncodeConfig& config)
{
    if (isMemberOf<DNDVDGroupTitle>(node))
        return Group_DVDTitle_To_MPEG2_With_MEncoder(node, -1, config);
    const auto build = DVDBuild::open(builder.name, node, titleIndex, config);
    if (!build || (builder.copiesSound && refuseCopiedLPCM(*build)))
        return nullptr;
    writeSourceBlock(*build);
    writeStartPositionBlock(*build);
    writeSoundCodecBlock(*build, builder);
    build->writer.add("-ovc").add("lavc");
    for (const char* word : builder.container)
        build->writer.add(word);
    writeFilterChainBlock(*build);
    writeVideoOptions(*build, builder);
    writeFrameRateBlock(*build);
    writeTracksAndOutputBlocks(*build);
    // A copied DVD track keeps its own timing; "-mc 0" stops the engine from
    // shifting it against the re-encoded picture.
    if (builder.copiesSound)
        build->writer.add("-mc").addf("%d", 0);
    else
        writeTailBlock(*build);
    return build->finish();
}

} // namespace

ArgumentBlockPtr DVD_To_MPEG2_AC3_Copy_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return buildMPEG2(kCopy, node, titleIndex, config);
}

ArgumentBlockPtr DVD_To_MPEG2_AC3_Reencode_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return buildMPEG2(kAC3, node, titleIndex, config);
}

ArgumentBlockPtr DVD_To_MPEG2_MP2_Reencode_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return buildMPEG2(kMP2, node, titleIndex, config);
}

ArgumentBlockPtr DVD_To_TS_MPEG2_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return buildMPEG2(kTS, node, titleIndex, config);
}

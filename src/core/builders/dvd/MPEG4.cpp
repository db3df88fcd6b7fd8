#include "builders/dvd/MPEG4.h"

#include "builders/dvd/DVDBuild.h"
#include "builders/dvd/Merge.h"
#include "model/DNDVDGroupTitle.h"
#include "profiles/DNProfile.h"

namespace {

// What tells the three cores apart.
struct MPEG4Core {
    const char* name;
    // lavc options up to the thread count: %1 codec, %2 video and %3 audio
    // bit rate, %4 threads; the caller adds ":coder=1" and ":vpass=<n>".
    const char* options;
    bool coder = false;
    bool channelsAfterTrack = false;
};

const MPEG4Core kDefaultCore { "_DVD_To_MPEG4_Default_With_MEncoder",
    "aglobal=1:vglobal=1:vcodec=%1:level=30:vmax_b_frames=0:autoaspect:acodec=libfaac:"
    "vbitrate=%2:abitrate=%3:threads=%4" };
const MPEG4Core kConsoleCore { "DVD_To_PS_MPEG4_With_MEncoder",
    "aglobal=1:vglobal=1:vcodec=%1:vmax_b_frames=0:autoaspect:acodec=libfaac:vbitrate=%2:"
    "abitrate=%3:threads=%4",
    true };
const MPEG4Core kTransportStreamCore { "DVD_To_TS_MPEG4_Default_With_MEncoder",
    "aglobal=1:vcodec=%1:level=30:vmax_b_frames=0:autoaspect:acodec=libfaac:vbitrate=%2:"
    "abitrate=%3:threads=%4",
    false, true };

bool isFirstOfTwoPasses(const EncodeConfig& config)
{
    return config.twoPass && config.passIndex == 0;
}

void writeCodecBlock(DVDBuild& build, const MPEG4Core& core)
{
    const DNProfile& profile = build.profile;
    QString options
        = QString::fromLatin1(core.options)
              .arg(profile.videoCodec().currentValue(), profile.videoQuality().currentValue(),
                  profile.audioQuality().currentValue(), QString::number(build.config.cpuCore));
    if (core.coder)
        options += QLatin1String(":coder=1");
    if (build.config.twoPass)
        options += QStringLiteral(":vpass=%1").arg(build.config.passIndex + 1);
    build.writer.add("-oac").add("lavc").add("-ovc").add("lavc").add("-lavcopts").add(options);
    if (build.config.twoPass)
        build.writer.add("-passlogfile").add(configPath(build.config.passLog));
}

void writeChannelsBlock(DVDBuild& build)
{
    build.writer.add("-channels").add(build.profile.audioChannel().currentValue());
}

// The first of two passes keeps only its statistics; the title still gets
// the real output path, which the second pass writes.
void writePassOutputBlock(DVDBuild& build)
{
    if (!isFirstOfTwoPasses(build.config)) {
        writeOutputBlock(build);
        return;
    }
    claimOutputPath(build);
    build.writer.add("-o").add("/dev/null");
}

ArgumentBlockPtr buildMPEG4(const MPEG4Core& core, const std::shared_ptr<NXBasicMediaNode>& node,
    int32_t titleIndex, const QString& container, const EncodeConfig& config)
{
    if (isMemberOf<DNDVDGroupTitle>(node))
        return Merge_DVDTitle_To_MPEG4_Default_With_MEncoder(node, -1, config);
    const auto build = DVDBuild::open(core.name, node, titleIndex, config);
    if (!build)
        return nullptr;
    writeSourceBlock(*build);
    writeStartPositionBlock(*build);
    build->writer.add("-srate").add(build->profile.audioSampleRate().currentValue());
    writeLavfContainerBlock(*build, container);
    writeCodecBlock(*build, core);
    if (!core.channelsAfterTrack)
        writeChannelsBlock(*build);
    writeAspectBlock(*build);
    writeFilterChainBlock(*build);
    writeMetadataBlock(*build);
    writeFrameRateBlock(*build);
    writeAudioTrackBlock(*build);
    if (core.channelsAfterTrack)
        writeChannelsBlock(*build);
    writeSubtitleBlock(*build);
    writePassOutputBlock(*build);
    writeAudioFilterBlock(*build);
    writeEndPositionBlock(*build);
    writeTailBlock(*build);
    return build->finish();
}

} // namespace

ArgumentBlockPtr _DVD_To_MPEG4_Default_With_MEncoder(const std::shared_ptr<NXBasicMediaNode>& node,
    int32_t titleIndex, const QString& container, EncodeConfig config)
{
    return buildMPEG4(kDefaultCore, node, titleIndex, container, config);
}

ArgumentBlockPtr DVD_To_PS_MPEG4_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return buildMPEG4(kConsoleCore, node, titleIndex, QStringLiteral("mp4"), config);
}

ArgumentBlockPtr DVD_To_TS_MPEG4_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return buildMPEG4(kTransportStreamCore, node, titleIndex, QStringLiteral("mpegts"), config);
}

ArgumentBlockPtr DVD_To_MPEG4_MovOrIpod_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return _DVD_To_MPEG4_Default_With_MEncoder(node, titleIndex, movOrIpodContainer(node), config);
}

ArgumentBlockPtr DVD_To_MPEG4_PSP_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return _DVD_To_MPEG4_Default_With_MEncoder(node, titleIndex, QStringLiteral("psp"), config);
}

ArgumentBlockPtr DVD_To_MPEG4_MP4_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return _DVD_To_MPEG4_Default_With_MEncoder(node, titleIndex, QStringLiteral("mp4"), config);
}

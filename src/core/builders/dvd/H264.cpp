#include "builders/dvd/H264.h"

#include "builders/dvd/DVDBuild.h"
#include "builders/dvd/Merge.h"
#include "model/DNDVDGroupTitle.h"
#include "profiles/DNProfile.h"

namespace {

// The x264 options; "%1" is the profile's video bit rate.
const QString kCoreOptions = QStringLiteral(
    "crf=22:sar=1/1:threads=auto:bitrate=%1:level_idc=30:bframes=0:no8x8dct:frameref=6:"
    "global_header:partitions=all:keyint=60:nocabac:me=umh:subq=9:weightp=0:profile=baseline:"
    "level=30");
// High profile, level 4.1, for the game console.
const QString kConsoleOptions
    = QStringLiteral("crf=22:sar=1/1:threads=auto:bitrate=%1:level_idc=41:bframes=0:frameref=4:"
                     "global_header:partitions=all:keyint=60:me=umh:subq=9:weightp=0:profile=high");
// A transport stream carries its stream headers in band: no global_header.
const QString kTransportStreamOptions = QStringLiteral(
    "crf=22:sar=1/1:threads=auto:bitrate=%1:level_idc=30:bframes=0:no8x8dct:frameref=6:"
    "partitions=all:keyint=60:nocabac:me=umh:subq=9:weightp=0:profile=baseline:level=30");
// Constant quality only: no bit rate.
const QString kAVCOptions = QStringLiteral(
    "crf=22:sar=1/1:threads=auto:global_header:level_idc=30:bframes=0:no8x8dct:frameref=6:"
    "partitions=all:keyint=60:nocabac:trellis=1:chroma_me:me=umh:weightp=0:subq=5:"
    "profile=baseline:level=30");

void writeX264Block(DVDBuild& build, const QString& options)
{
    build.writer.add("-ovc").add("x264").add("-x264encopts").add(options);
}

// The block order of the H.264 core, which its game-console and transport
// stream sisters share with their own container and x264 options.
ArgumentBlockPtr buildH264(const char* builderName, const std::shared_ptr<NXBasicMediaNode>& node,
    int32_t titleIndex, const QString& container, const QString& x264Options,
    const EncodeConfig& config)
{
    if (isMemberOf<DNDVDGroupTitle>(node))
        return Merge_DVDTitle_To_H264_Default_With_MEncoder(node, -1, config);
    const auto build = DVDBuild::open(builderName, node, titleIndex, config);
    if (!build)
        return nullptr;
    writeSourceBlock(*build);
    writeStartPositionBlock(*build);
    writeLavfContainerBlock(*build, container);
    writeScalerBlock(*build);
    writeAudioFilterBlock(*build);
    writeAudioFormatBlock(*build);
    writePictureBlock(*build);
    writeFaacAudioCodecBlock(*build);
    writeX264Block(*build, x264Options.arg(build->profile.videoQuality().currentValue()));
    writeTracksAndOutputBlocks(*build);
    writeTailBlock(*build);
    return build->finish();
}

} // namespace

ArgumentBlockPtr _DVD_To_H264_Default_With_MEncoder(const std::shared_ptr<NXBasicMediaNode>& node,
    int32_t titleIndex, const QString& container, EncodeConfig config)
{
    return buildH264(
        "_DVD_To_H264_Default_With_MEncoder", node, titleIndex, container, kCoreOptions, config);
}

ArgumentBlockPtr DVD_To_H264_MovOrIpod_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return _DVD_To_H264_Default_With_MEncoder(node, titleIndex, movOrIpodContainer(node), config);
}

ArgumentBlockPtr DVD_To_H264_PSP_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return _DVD_To_H264_Default_With_MEncoder(node, titleIndex, QStringLiteral("psp"), config);
}

ArgumentBlockPtr DVD_To_H264_MP4_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return _DVD_To_H264_Default_With_MEncoder(node, titleIndex, QStringLiteral("mp4"), config);
}

ArgumentBlockPtr DVD_To_PS_H264_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return buildH264("DVD_To_PS_H264_With_MEncoder", node, titleIndex, QStringLiteral("mp4"),
        kConsoleOptions, config);
}

ArgumentBlockPtr DVD_To_TS_H264_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    return buildH264("DVD_To_TS_H264_Default_With_MEncoder", node, titleIndex,
        QStringLiteral("mpegts"), kTransportStreamOptions, config);
}

ArgumentBlockPtr DVD_To_AVC_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    if (isMemberOf<DNDVDGroupTitle>(node))
        return Merge_DVDTitle_To_AVC_Default_With_MEncoder(node, titleIndex, config);
    const auto build = DVDBuild::open("DVD_To_AVC_Default_With_MEncoder", node, titleIndex, config);
    if (!build)
        return nullptr;
    writeSourceBlock(*build);
    writeStartPositionBlock(*build);
    writeLavfContainerBlock(*build, QStringLiteral("mp4"));
    writeX264Block(*build, kAVCOptions);
    writeFilterChainBlock(*build);
    build->writer.add("-channels").add(build->profile.audioChannel().currentValue());
    build->writer.add("-srate").add(build->profile.audioSampleRate().currentValue());
    writeFaacAudioCodecBlock(*build);
    writeAudioFilterBlock(*build);
    writeAspectBlock(*build);
    writeFrameRateBlock(*build);
    writeTracksAndOutputBlocks(*build);
    writeTailBlock(*build);
    return build->finish();
}

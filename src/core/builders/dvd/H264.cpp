#include "builders/dvd/H264.h"

#include "builders/dvd/DVDBuild.h"
#include "builders/dvd/Merge.h"
#include "model/DNDVDGroupTitle.h"
#include "profiles/DNProfile.h"

namespace {

constexpr const char* kCoreName = "_DVD_To_H264_Default_With_MEncoder";

void writeAudioCodecBlock(DVDBuild& build)
{
    build.writer.add("-oac").add("faac").add("-faacopts");
    build.writer.add("br=" + build.profile.audioQuality().currentValue() + ":mpeg=4:object=2:raw");
}

void writeVideoCodecBlock(DVDBuild& build)
{
    build.writer.add("-ovc").add("x264").add("-x264encopts");
    build.writer.add(
        "crf=22:sar=1/1:threads=auto:bitrate=" + build.profile.videoQuality().currentValue()
        + ":level_idc=30:bframes=0:no8x8dct:frameref=6:global_header:partitions=all:keyint=60:"
          "nocabac:me=umh:subq=9:weightp=0:profile=baseline:level=30");
}

} // namespace

ArgumentBlockPtr _DVD_To_H264_Default_With_MEncoder(const std::shared_ptr<NXBasicMediaNode>& node,
    int32_t titleIndex, const QString& container, EncodeConfig config)
{
    if (isMemberOf<DNDVDGroupTitle>(node))
        return Merge_DVDTitle_To_H264_Default_With_MEncoder(node, -1, config);
    const auto build = DVDBuild::open(kCoreName, node, titleIndex, config);
    if (!build)
        return nullptr;
    writeSourceBlock(*build);
    writeStartPositionBlock(*build);
    writeLavfContainerBlock(*build, container);
    writeScalerBlock(*build);
    writeAudioFilterBlock(*build);
    writeAudioFormatBlock(*build);
    writePictureBlock(*build);
    writeAudioCodecBlock(*build);
    writeVideoCodecBlock(*build);
    writeMetadataBlock(*build);
    writeAudioTrackBlock(*build);
    writeSubtitleBlock(*build);
    writeOutputBlock(*build);
    writeEndPositionBlock(*build);
    writeTailBlock(*build);
    return build->finish();
}

ArgumentBlockPtr DVD_To_H264_MovOrIpod_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    const auto dvd
        = isKindOf<DNDVDNode>(node) ? std::static_pointer_cast<DNDVDNode>(node) : nullptr;
    const auto profile = dvd ? dvd->profile() : nullptr;
    const bool mov = profile && profile->fileNameSuffix().toLower() == QLatin1String("mov");
    return _DVD_To_H264_Default_With_MEncoder(
        node, titleIndex, mov ? QStringLiteral("mov") : QStringLiteral("ipod"), config);
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

#include "builders/dvd/FlashWindowsMedia.h"

#include "builders/dvd/DVDArgumentHelpers.h"
#include "builders/dvd/DVDBuild.h"
#include "builders/dvd/Merge.h"
#include "model/DNDVDGroupTitle.h"
#include "profiles/DNProfile.h"

namespace {

void writeFLVCodecBlocks(DVDBuild& build)
{
    const DNProfile& profile = build.profile;
    build.writer.add("-oac").add("mp3lame");
    build.writer.add("-channels").add(profile.audioChannel().currentValue());
    build.writer.add("-lameopts").add("abr:br=" + profile.audioQuality().currentValue());
    const QString motion = build.config.highQuality ? QStringLiteral("mbd=2:") : QString();
    build.writer.add("-ovc").add("lavc").add("-lavcopts");
    build.writer.add("vcodec=flv:vbitrate=" + profile.videoQuality().currentValue() + ":" + motion
        + "mv0:trell:v4mv:cbp:last_pred=3");
}

void writeWMVCodecBlocks(DVDBuild& build)
{
    const DNProfile& profile = build.profile;
    build.writer.add("-ovc").add("lavc").add("-lavcopts");
    build.writer.add("aglobal=1:vglobal=1:vcodec=wmv2:autoaspect");
    writeAudioFormatBlock(build);
    build.writer.add("-oac").add("mp3lame").add("-lameopts");
    build.writer.add("mode=0:cbr:br=" + profile.audioQuality().currentValue());
    build.writer.add("-af").add(QStringLiteral("lavcresample=%1,%2")
                                    .arg(profile.audioSampleRate().currentValue(),
                                        MEncoderVolumeFilter(build.setting.volume())));
}

} // namespace

ArgumentBlockPtr DVD_To_FLV_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    if (isMemberOf<DNDVDGroupTitle>(node))
        return Group_DVDTitle_To_FLV_With_MEncoder(node, -1, config);
    const auto build = DVDBuild::open("DVD_To_FLV_With_MEncoder", node, titleIndex, config);
    if (!build)
        return nullptr;
    writeSourceBlock(*build);
    writeStartPositionBlock(*build);
    build->writer.add("-srate").add(build->profile.audioSampleRate().currentValue());
    writeAudioFilterBlock(*build);
    writeLavfContainerBlock(*build, QStringLiteral("flv"));
    writeFLVCodecBlocks(*build);
    if (!config.highQuality)
        writeScalerBlock(*build);
    writePictureBlock(*build);
    writeAudioTrackBlock(*build);
    writeSubtitleBlock(*build);
    writeOutputBlock(*build);
    writeEndPositionBlock(*build);
    writeTailBlock(*build);
    return build->finish();
}

ArgumentBlockPtr DVD_To_WMV_MP3_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    if (isMemberOf<DNDVDGroupTitle>(node))
        return Group_DVDTitle_To_WMV_With_MEncoder(node, -1, config);
    const auto build
        = DVDBuild::open("DVD_To_WMV_MP3_Default_With_MEncoder", node, titleIndex, config);
    if (!build)
        return nullptr;
    writeSourceBlock(*build);
    writeStartPositionBlock(*build);
    writeLavfContainerBlock(*build, QStringLiteral("wmv"));
    writeWMVCodecBlocks(*build);
    writeFilterChainBlock(*build);
    writeAspectBlock(*build);
    writeFrameRateBlock(*build);
    writeTracksAndOutputBlocks(*build);
    return build->finish();
}

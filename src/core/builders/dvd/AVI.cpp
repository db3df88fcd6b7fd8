#include "builders/dvd/AVI.h"

#include "builders/dvd/DVDArgumentHelpers.h"
#include "builders/dvd/DVDBuild.h"
#include "builders/dvd/Merge.h"
#include "model/DNDVDGroupTitle.h"
#include "profiles/DNProfile.h"
#include "profiles/ProfileValues.h"

namespace {

enum class AVICodec { DivX, Xvid };

// The track is copied when the profile keeps the original sound and allows at
// least the track's channels.
bool copiesSound(const DNProfile& profile, const DNDVDTAudio& track)
{
    return leadingIntValue(profile.audioChannel().currentValue()) >= track.channel
        && isKeepOriginIgnoringCase(profile.audioCodec().currentValue());
}

// True when the build would copy LPCM sound, and is refused.
bool refusesLPCMCopy(DVDBuild& build)
{
    const DNDVDTAudio* track = chosenAudioTrack(build);
    return track && copiesSound(build.profile, *track) && refuseCopiedLPCM(build);
}

void writeMP3Sound(DVDBuild& build, AVICodec codec)
{
    const DNProfile& profile = build.profile;
    const QString volume = MEncoderVolumeFilter(build.setting.volume());
    build.writer.add("-channels").add(profile.audioChannel().currentValue());
    if (codec == AVICodec::DivX) {
        build.writer.add("-af").add(QStringLiteral("lavcresample=%1,%2")
                                        .arg(profile.audioSampleRate().currentValue(), volume));
    } else {
        build.writer.add("-srate").add(profile.audioSampleRate().currentValue());
        build.writer.add("-af").add(volume);
    }
    build.writer.add("-oac").add("mp3lame").add("-lameopts");
    build.writer.add("mode=0:cbr:br=" + profile.audioQuality().currentValue());
}

// The audio track with every sound option of the AVI lists.
void writeAVISoundBlock(DVDBuild& build, AVICodec codec)
{
    const DNDVDTAudio* track = writeAudioTrackBlock(build);
    if (!track)
        return;
    if (copiesSound(build.profile, *track))
        build.writer.add("-oac").add("copy").add("-channels").addf("%d", track->channel);
    else
        writeMP3Sound(build, codec);
}

void writeTitleEnd(DVDBuild& build, AVICodec codec)
{
    writeMetadataBlock(build);
    writeAVISoundBlock(build, codec);
    writeSubtitleBlock(build);
    writeOutputBlock(build);
    writeEndPositionBlock(build);
}

} // namespace

ArgumentBlockPtr DVD_To_AVI_DIVX_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    if (isMemberOf<DNDVDGroupTitle>(node))
        return Group_DVDTitle_To_AVI_With_MEncoder(node, titleIndex, config);
    const auto build
        = DVDBuild::open("DVD_To_AVI_DIVX_Default_With_MEncoder", node, titleIndex, config);
    if (!build || refusesLPCMCopy(*build))
        return nullptr;
    writeSourceBlock(*build);
    writeStartPositionBlock(*build);
    build->writer.add("-of").add("avi").add("-ffourcc").add("DX50");
    build->writer.add("-ovc").add("lavc").add("-lavcopts");
    build->writer.add(
        QStringLiteral("vcodec=mpeg4:vbitrate=%1:autoaspect:keyint=132:threads=%2")
            .arg(build->profile.videoQuality().currentValue(), QString::number(config.cpuCore)));
    writeFilterChainBlock(*build);
    writeAspectBlock(*build);
    writeFrameRateBlock(*build);
    writeTitleEnd(*build, AVICodec::DivX);
    return build->finish();
}

ArgumentBlockPtr DVD_To_AVI_XVID_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    if (isMemberOf<DNDVDGroupTitle>(node))
        return Group_DVDTitle_To_AVI_With_MEncoder(node, titleIndex, config);
    const auto build
        = DVDBuild::open("DVD_To_AVI_XVID_Default_With_MEncoder", node, titleIndex, config);
    if (!build || refusesLPCMCopy(*build))
        return nullptr;
    writeSourceBlock(*build);
    writeStartPositionBlock(*build);
    build->writer.add("-of").add("avi");
    writeAspectBlock(*build);
    build->writer.add("-ffourcc").add("XVID").add("-ovc").add("xvid").add("-xvidencopts");
    const QString quality
        = config.highQuality ? QStringLiteral("bvhq=1:chroma_opt:quant_type=mpeg:") : QString();
    build->writer.add(quality
        + QStringLiteral("bitrate=%1:autoaspect:threads=%2")
              .arg(build->profile.videoQuality().currentValue(), QString::number(config.cpuCore)));
    writeFilterChainBlock(*build);
    writeFrameRateBlock(*build);
    writeTitleEnd(*build, AVICodec::Xvid);
    return build->finish();
}

ArgumentBlockPtr DVD_To_AVI_CodecSwitch_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    constexpr const char* kName = "DVD_To_AVI_CodecSwitch_With_MEncoder";
    const auto profile = dvdProfileOf(node);
    if (!profile)
        return refuseDVDBuild(
            kName, QStringLiteral("the entry is not a DVD source with a profile"));
    const QString codec = profile->videoCodec().currentValue().toUpper();
    if (codec == QLatin1String("DIVX"))
        return DVD_To_AVI_DIVX_Default_With_MEncoder(node, titleIndex, config);
    if (codec == QLatin1String("XVID"))
        return DVD_To_AVI_XVID_Default_With_MEncoder(node, titleIndex, config);
    return refuseDVDBuild(kName,
        QStringLiteral("the profile's video codec \"%1\" is neither DIVX nor XVID")
            .arg(profile->videoCodec().currentValue()));
}

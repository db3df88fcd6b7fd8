#include "builders/dvd/Sound.h"

#include "builders/dvd/DVDBuild.h"
#include "model/DNDVDNode.h"
#include "profiles/DNProfile.h"

namespace {

// The stream numbers "-aid" takes: AC-3 streams are 128 to 135.
constexpr qint32 kFirstAC3Stream = 128;
constexpr qint32 kStreamsPerFormat = 8;

// The build of a title that has sound, or null with the reason logged.
std::unique_ptr<DVDBuild> openSoundBuild(const char* builderName,
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, const EncodeConfig& config)
{
    auto build = DVDBuild::openSingleTitle(builderName, node, titleIndex, config,
        QStringLiteral("merged titles cannot be saved as sound only"));
    if (build && build->title->audioTracks().empty()) {
        build->refuse(
            QStringLiteral("Title %1 has no audio track").arg(build->title->titleNumber()));
        return nullptr;
    }
    return build;
}

// "-aid" for a chosen track; with none chosen the engine takes the title's
// first, so nothing is written.
void writeChosenTrackBlock(DVDBuild& build)
{
    const qint32 index = build.setting.audioIndex();
    if (index < 0)
        return;
    if (const DNDVDTAudio* track = chosenAudioTrack(build))
        build.writer.add("-aid").addf("%d", track->index);
    else
        build.refuse(QStringLiteral("the title has no audio track at position %1").arg(index));
}

// The track the run reads: the chosen one, or the title's first.
const DNDVDTAudio& trackRead(const DVDBuild& build)
{
    const DNDVDTAudio* chosen = chosenAudioTrack(build);
    return chosen ? *chosen : build.title->audioTracks().front();
}

// AC-3 on the disc is copied; MPEG, LPCM or DTS sound copied into a .ac3
// file would be no AC-3 at all, so it is encoded, at 48 kHz (LPCM may be at
// 96) and a bit rate for its channels.
void writeAC3CodecBlock(DVDBuild& build)
{
    const DNDVDTAudio& track = trackRead(build);
    if (track.index >= kFirstAC3Stream && track.index < kFirstAC3Stream + kStreamsPerFormat) {
        build.writer.add("-oac").add("copy");
        return;
    }
    build.writer.add("-srate").addf("%d", 48000).add("-oac").add("lavc").add("-lavcopts");
    build.writer.addf("acodec=ac3_fixed:abitrate=%d", track.channel > 2 ? 448 : 192);
}

void writeTitleEnd(DVDBuild& build)
{
    writeOutputBlock(build);
    writeMetadataBlock(build);
    writeEndPositionBlock(build);
}

// MP3 and AAC share their order and differ in the encoder and its options.
ArgumentBlockPtr buildEncodedSound(
    DVDBuild& build, const char* encoder, const char* optionsName, const QString& options)
{
    writeSourceBlock(build);
    writeStartPositionBlock(build);
    build.writer.add("-srate").add(build.profile.audioSampleRate().currentValue());
    build.writer.add("-ovc").add("frameno");
    build.writer.add("-oac").add(encoder).add(optionsName).add(options);
    build.writer.add("-of").add("rawaudio");
    writeChosenTrackBlock(build);
    writeTitleEnd(build);
    return build.finish();
}

} // namespace

ArgumentBlockPtr DVD_To_MP3_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    const auto build = openSoundBuild("DVD_To_MP3_Default_With_MEncoder", node, titleIndex, config);
    if (!build)
        return nullptr;
    // LAME's "vol" multiplies the level: 1.00 keeps it, 0.50 halves it (-6 dB).
    const double factor = build->setting.volume() / 100.0;
    const QString options = QStringLiteral("vbr=0:br=%1:vol=%2:mode=0")
                                .arg(build->profile.audioQuality().currentValue())
                                .arg(factor, 0, 'f', 2);
    return buildEncodedSound(*build, "mp3lame", "-lameopts", options);
}

ArgumentBlockPtr DVD_To_AAC_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    const auto build = openSoundBuild("DVD_To_AAC_Default_With_MEncoder", node, titleIndex, config);
    if (!build)
        return nullptr;
    return buildEncodedSound(*build, "faac", "-faacopts",
        "br=" + build->profile.audioQuality().currentValue() + ":mpeg=4:object=2");
}

ArgumentBlockPtr DVD_To_AC3_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    const auto build = openSoundBuild("DVD_To_AC3_Default_With_MEncoder", node, titleIndex, config);
    if (!build)
        return nullptr;
    writeSourceBlock(*build);
    writeStartPositionBlock(*build);
    build->writer.add("-ovc").add("frameno");
    writeAC3CodecBlock(*build);
    writeChosenTrackBlock(*build);
    build->writer.add("-of").add("rawaudio");
    writeTitleEnd(*build);
    writeTailBlock(*build);
    return build->finish();
}

#pragma once

#include "builders/video/BuilderServices.h"
#include "engine/ArgumentBlock.h"
#include "engine/EncodeConfig.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class DNDVDNode;
class DNDVDTitle;
class DNDVDTitleSetting;
class DNProfile;
struct DNDVDTAudio;
class NXBasicMediaNode;

// One build of a mencoder command line for a DVD title: what the blocks read
// and the writer they write through. Every core builder is its block order
// plus its own blocks:
//
//   source, start position, container, scaler, audio filter, audio format,
//   picture, audio codec, video codec, metadata, audio track, subtitle,
//   output, end position, tail
//
// A block that cannot be built refuses the build (a log line naming the
// builder); later blocks then write nothing and finish() returns null.
class DVDBuild {
public:
    // Null, with a log line, for a node that is not a DVD, one without a
    // profile, or a title index outside its titles.
    static std::unique_ptr<DVDBuild> open(const char* builderName,
        const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex,
        const EncodeConfig& config);
    // As open(), but merged titles are refused first with `mergedReason`:
    // for the builders that cannot join titles.
    static std::unique_ptr<DVDBuild> openSingleTitle(const char* builderName,
        const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex,
        const EncodeConfig& config, const QString& mergedReason);

    DVDBuild(const char* builderName, std::shared_ptr<DNDVDNode> node,
        std::shared_ptr<DNDVDTitle> title, int32_t titleIndex, const EncodeConfig& config);

    const char* const builderName;
    const std::shared_ptr<DNDVDNode> node;
    const std::shared_ptr<DNDVDTitle> title;
    const int32_t titleIndex;
    const EncodeConfig config;
    const DNProfile& profile;
    const DNDVDTitleSetting& setting;
    // The kept part of the title, when it is trimmed, to the millisecond the
    // engines are given: a trim to the title's end, stored as fractions of
    // its exact length, keeps the frames past its last whole second.
    const std::optional<Trim> trim;
    ArgumentWriter writer;
    // The chosen audio track's language, for the forced subtitles.
    QString audioLanguage;

    void refuse(const QString& reason);
    bool refused() const { return m_refused; }
    // The block, with the kept length as its duration; null after a refusal.
    ArgumentBlockPtr finish();

private:
    bool m_refused = false;
};

// The kept length in the whole seconds of a block's duration (the progress
// base): 9.99999994 s of fractions is 10 s.
int32_t keptSeconds(const Trim& trim);

// The output profile of a DVD node (or of merged titles); null for any other
// node. The dispatchers read it to choose a container or a core.
std::shared_ptr<DNProfile> dvdProfileOf(const std::shared_ptr<NXBasicMediaNode>& node);

// The container of the H.264 and MPEG-4 "MovOrIpod" dispatchers: "mov" for a
// profile suffix "mov" in any case, else "ipod".
QString movOrIpodContainer(const std::shared_ptr<NXBasicMediaNode>& node);

// A profile suffix of an MPEG transport stream: ts, m2ts or mts in any case.
bool isTransportStreamSuffix(const QString& suffix);

// Leaves a logged null for the builder; for the entries and dispatchers too.
ArgumentBlockPtr refuseDVDBuild(const char* builderName, const QString& reason);

void writeSourceBlock(DVDBuild& build);
void writeStartPositionBlock(DVDBuild& build);
// "-of lavf -lavfopts format=<container>".
void writeLavfContainerBlock(DVDBuild& build, const QString& container);
void writeScalerBlock(DVDBuild& build);
void writeAudioFilterBlock(DVDBuild& build);
void writeAudioFormatBlock(DVDBuild& build);
// "-aspect", "-vf" and "-ofps", the first and last only when the profile
// does not keep the source's value; some builders write the parts apart.
void writePictureBlock(DVDBuild& build);
void writeAspectBlock(DVDBuild& build);
void writeFilterChainBlock(DVDBuild& build);
void writeFrameRateBlock(DVDBuild& build);
// "-oac faac" with the profile's bit rate.
void writeFaacAudioCodecBlock(DVDBuild& build);
void writeMetadataBlock(DVDBuild& build);
// "-aid" and the chosen track, which is returned; "-nosound" (and null) when
// no track is chosen or the title has none.
const DNDVDTAudio* writeAudioTrackBlock(DVDBuild& build);
// The chosen audio track, null when none is chosen or it is not there.
const DNDVDTAudio* chosenAudioTrack(const DVDBuild& build);
// For a build that copies the chosen track: refuses it when the track is
// LPCM, which mencoder copies into no output ("Audio format 0x10001 is
// incompatible with '-oac copy'"); a copy must not change the sound behind
// the user's back either. True when refused.
bool refuseCopiedLPCM(DVDBuild& build);
void writeSubtitleBlock(DVDBuild& build);
// The title's new output path, which the title keeps from now on.
QString claimOutputPath(DVDBuild& build);
// "-o" and the title's new output path.
void writeOutputBlock(DVDBuild& build);
void writeEndPositionBlock(DVDBuild& build);
// The run most cores close with: metadata, audio track, subtitle, output and
// end position.
void writeTracksAndOutputBlocks(DVDBuild& build);
void writeTailBlock(DVDBuild& build);

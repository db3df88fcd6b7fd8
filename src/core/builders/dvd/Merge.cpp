#include "builders/dvd/Merge.h"

#include "builders/dvd/DVDArgumentHelpers.h"
#include "builders/dvd/DVDBuild.h"
#include "model/DNDVDGroupTitle.h"
#include "profiles/DNProfile.h"
#include "profiles/ProfileValues.h"

#include <initializer_list>

namespace {

using Words = std::initializer_list<const char*>;

// What stands between the inputs and "-o": the container and how sound and
// picture travel. The H.264 and AVC merges re-encode the sound with faac and
// may set the display aspect; the others write fixed words.
struct MergeRow {
    const char* name;
    Words container;
    Words codecs;
    bool faacSound = false;
};

const Words kIpod { "-of", "lavf", "-lavfopts", "format=ipod" };
// The titles of a .ts, .m2ts or .mts profile join in a transport stream, not
// in the container of their MP4 or program-stream sisters.
const Words kTransportStream { "-of", "lavf", "-lavfopts", "format=mpegts" };

void writeFaacCodecs(ArgumentWriter& writer, const DNProfile& profile)
{
    const QString aspect = profile.videoAspect().currentValue();
    if (!isKeepOriginAspect(aspect))
        writer.add("-aspect").add(normalizeAspectString(aspect, QStringLiteral(":")));
    writer.add("-oac").add("faac").add("-faacopts");
    writer.add("br=" + profile.audioQuality().currentValue() + ":mpeg=4:object=2:raw");
    writer.add("-ovc").add("copy");
}

ArgumentBlockPtr buildMerge(
    const MergeRow& row, const std::shared_ptr<NXBasicMediaNode>& node, const EncodeConfig& config)
{
    if (!isMemberOf<DNDVDGroupTitle>(node))
        return refuseDVDBuild(
            row.name, QStringLiteral("the entry is not a group of merged DVD titles"));
    auto& group = static_cast<DNDVDGroupTitle&>(*node);
    const auto profile = group.profile();
    if (!profile)
        return refuseDVDBuild(row.name, QStringLiteral("the group has no output profile"));
    const QString path = MakeOutputFileName(configPath(config.outputDir),
        group.nodeInfo().outputName, QString(), profile->fileNameSuffix());
    group.setOutputName(path);
    ArgumentWriter writer(row.name);
    writer.add("encoder");
    for (const auto& title : group.titles())
        writer.add(title->outputName());
    const Words container
        = isTransportStreamSuffix(profile->fileNameSuffix()) ? kTransportStream : row.container;
    for (const char* word : container)
        writer.add(word);
    if (row.faacSound)
        writeFaacCodecs(writer, *profile);
    for (const char* word : row.codecs)
        writer.add(word);
    writer.add("-o").add(path).add("-cache").addf("%d", 8192);
    return writer.finish(0);
}

const MergeRow kH264 { "Merge_DVDTitle_To_H264_Default_With_MEncoder", kIpod, {}, true };
const MergeRow kAVC { "Merge_DVDTitle_To_AVC_Default_With_MEncoder", kIpod, {}, true };
// "-lavcopts" follows "-ovc copy" here, not "-oac lavc".
const MergeRow kMPEG4 { "Merge_DVDTitle_To_MPEG4_Default_With_MEncoder", kIpod,
    { "-oac", "lavc", "-ovc", "copy", "-lavcopts", "aglobal=1:acodec=libfaac" } };
const Words kCopy { "-oac", "copy", "-ovc", "copy" };
const MergeRow kFLV { "Group_DVDTitle_To_FLV_With_MEncoder",
    { "-of", "lavf", "-lavfopts", "format=flv" }, kCopy };
const MergeRow kWMV { "Group_DVDTitle_To_WMV_With_MEncoder",
    { "-of", "lavf", "-lavfopts", "format=asf" }, kCopy };
const MergeRow kAVI { "Group_DVDTitle_To_AVI_With_MEncoder", { "-of", "avi" }, kCopy };
const MergeRow kMPEG2 { "Group_DVDTitle_To_MPEG2_With_MEncoder", { "-of", "mpeg" }, kCopy };
const MergeRow kMainBackup { "Group_DVDTitle_To_MainBackupMPEG2_With_MEncoder", { "-of", "mpeg" },
    kCopy };

} // namespace

ArgumentBlockPtr Merge_DVDTitle_To_H264_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return buildMerge(kH264, node, config);
}

ArgumentBlockPtr Merge_DVDTitle_To_AVC_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return buildMerge(kAVC, node, config);
}

ArgumentBlockPtr Merge_DVDTitle_To_MPEG4_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return buildMerge(kMPEG4, node, config);
}

ArgumentBlockPtr Group_DVDTitle_To_FLV_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return buildMerge(kFLV, node, config);
}

ArgumentBlockPtr Group_DVDTitle_To_WMV_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return buildMerge(kWMV, node, config);
}

ArgumentBlockPtr Group_DVDTitle_To_AVI_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return buildMerge(kAVI, node, config);
}

ArgumentBlockPtr Group_DVDTitle_To_MPEG2_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return buildMerge(kMPEG2, node, config);
}

ArgumentBlockPtr Group_DVDTitle_To_MainBackupMPEG2_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return buildMerge(kMainBackup, node, config);
}

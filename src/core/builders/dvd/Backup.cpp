#include "builders/dvd/Backup.h"

#include "builders/dvd/DVDArgumentHelpers.h"
#include "builders/dvd/DVDBuild.h"
#include "builders/dvd/Merge.h"
#include "model/DNDVDGroupTitle.h"
#include "profiles/DNProfile.h"

namespace {

// The build of one title, or null with a log line for merged titles, which
// only the main-title copy can join.
std::unique_ptr<DVDBuild> openSingleTitleBuild(const char* builderName,
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, const EncodeConfig& config)
{
    return DVDBuild::openSingleTitle(builderName, node, titleIndex, config,
        QStringLiteral("merged titles cannot be backed up this way"));
}

} // namespace

ArgumentBlockPtr DVD_To_DVD_FullBackup_MPEG2_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    const auto build = openSingleTitleBuild(
        "DVD_To_DVD_FullBackup_MPEG2_With_MEncoder", node, titleIndex, config);
    if (!build)
        return nullptr;
    ArgumentWriter& w = build->writer;
    const int number = build->title->titleNumber();
    if (config.dvdNav)
        w.addf("dvdnav://%d", number);
    else
        w.addf("dvd://%d", number);
    w.add("-dvd-device").add(build->node->sourceInfo().playbackPath());
    writeStartPositionBlock(*build);
    w.add("-dumpstream").add("-dumpfile").add(claimOutputPath(*build));
    writeEndPositionBlock(*build);
    // The dump's progress is measured against the whole title when untrimmed.
    return w.finish(build->trim ? keptSeconds(*build->trim) : build->title->length());
}

ArgumentBlockPtr DVD_To_DVD_MainBackup_MPEG2_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    if (isMemberOf<DNDVDGroupTitle>(node))
        return Group_DVDTitle_To_MainBackupMPEG2_With_MEncoder(node, -1, config);
    const auto build
        = DVDBuild::open("DVD_To_DVD_MainBackup_MPEG2_With_MEncoder", node, titleIndex, config);
    if (!build || refuseCopiedLPCM(*build))
        return nullptr;
    writeSourceBlock(*build);
    writeStartPositionBlock(*build);
    build->writer.add("-ovc").add("copy").add("-oac").add("copy");
    build->writer.add("-of").add("mpeg").add("-mpegopts").add("format=dvd:tsaf");
    writeAudioTrackBlock(*build);
    writeOutputBlock(*build);
    writeEndPositionBlock(*build);
    return build->finish();
}

ArgumentBlockPtr DVD_To_DVD_MainBackup_ISO(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    const auto build = openSingleTitleBuild("DVD_To_DVD_MainBackup_ISO", node, titleIndex, config);
    if (!build)
        return nullptr;
    // The image holds the whole disc: its name has no title mark.
    const QString output = MakeOutputFileName(configPath(config.outputDir),
        build->node->nodeInfo().outputName, QString(), build->profile.fileNameSuffix());
    build->title->setOutputName(output);
    build->writer.add(build->node->sourceInfo().playbackPath()).add(output).add("iso");
    return build->writer.finish(build->title->length());
}

#include "list/NXDVDRows.h"

#include "builders/video/BuilderServices.h"
#include "engine/DNVideoConverter.h"
#include "model/DNDVDNode.h"
#include "profiles/DNProfile.h"

#include <algorithm>

namespace {

const QString kNoSubtitle = QStringLiteral("No Subtitle");

std::shared_ptr<DNDVDNode> ownerOf(const DNDVDTitle& title)
{
    return std::dynamic_pointer_cast<DNDVDNode>(title.parent());
}

QString outputName(const DNDVDNode& node, const QString& middle)
{
    const auto profile = node.profile();
    const QString suffix = profile ? profile->fileNameSuffix() : QString();
    const DNNodeInfo& info = node.nodeInfo();
    QString name = OutputFileName(
        info.outputName.value_or(info.displayName.value_or(QString())), suffix, middle);
    if (suffix.isEmpty())
        name.chop(1); // no profile yet: no extension, nor its point
    return name;
}

QString aspectText(const DNDVDTitle& title)
{
    const DNDVDTVideo* video = title.selectedVideoTrack();
    if (!video || video->videoAspect.isEmpty())
        return {};
    return QStringLiteral("%1:%2").arg(video->videoAspect.width()).arg(video->videoAspect.height());
}

} // namespace

bool NXProfileCanMergeTitles(const DNProfile& profile)
{
    const auto engine
        = conversionEngineKind(NXNodeClass::DVDNode, profile.GlobalID(), profile.argvAssembler());
    return engine == DNConversionEngineKind::EncoderCore && profile.videoCodec().isPresent();
}

bool NXDVDMergeOffered(const DNDVDNode& node)
{
    const auto titles = node.titles();
    const auto selected = std::count_if(
        titles.begin(), titles.end(), [](const auto& t) { return t->isSelected(); });
    const auto profile = node.profile();
    return selected >= 2 && profile && NXProfileCanMergeTitles(*profile);
}

bool NXDVDSettleMerge(DNDVDNode& node)
{
    if (!node.mergeIntoOne() || NXDVDMergeOffered(node))
        return false;
    node.setMergeIntoOne(false);
    return true;
}

bool NXDVDMergesTitles(const DNDVDNode& node)
{
    return node.mergeIntoOne() && NXDVDMergeOffered(node);
}

QString NXDVDTitleName(const DNDVDTitle& title)
{
    const QString aspect = aspectText(title);
    const QString name = QStringLiteral("Title %1").arg(title.titleNumber());
    return aspect.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, aspect);
}

qint32 NXDVDSelectedLength(const DNDVDNode& node)
{
    qint32 seconds = 0;
    for (const auto& title : node.titles())
        if (title->isSelected())
            seconds += title->length();
    return seconds;
}

QString NXDVDTitleOutputName(const DNDVDTitle& title)
{
    const auto node = ownerOf(title);
    if (!node || NXDVDMergesTitles(*node))
        return {};
    return outputName(*node, QStringLiteral("_T%1").arg(title.titleNumber()));
}

QString NXDVDMergedOutputName(const DNDVDNode& node)
{
    return NXDVDMergesTitles(node) ? outputName(node, {}) : QString();
}

QStringList NXDVDAudioChoices(const DNDVDTitle& title)
{
    QStringList choices;
    for (const DNDVDTAudio& track : title.audioTracks()) {
        const int number = int(choices.size()) + 1;
        choices << (track.audioLang.isEmpty()
                ? QStringLiteral("Track %1").arg(number)
                : QStringLiteral("%1 (%2 ch)").arg(track.audioLang).arg(track.channel));
    }
    return choices;
}

int NXDVDAudioChoice(const DNDVDTitle& title)
{
    const int index = title.setting().audioIndex();
    return index < int(title.audioTracks().size()) ? index : -1;
}

void NXDVDChooseAudio(DNDVDTitle& title, int choice)
{
    if (choice >= 0 && choice < int(title.audioTracks().size()))
        title.setting().setAudioIndex(choice);
}

QStringList NXDVDSubtitleChoices(const DNDVDTitle& title)
{
    QStringList choices { kNoSubtitle };
    for (const DNDVDSubtitleTrack& track : title.subtitleTracks()) {
        const QString name = DNDVDSubtitleFields(track).subtitleName;
        choices << (name.isEmpty() ? QStringLiteral("Track %1").arg(choices.size()) : name);
    }
    return choices;
}

int NXDVDSubtitleChoice(const DNDVDTitle& title)
{
    const DNDVDTitleSetting& setting = title.setting();
    const int index = setting.subtitleIndex();
    if (!setting.subtitleEnable() || index < 0 || index >= int(title.subtitleTracks().size()))
        return 0;
    return index + 1;
}

void NXDVDChooseSubtitle(DNDVDTitle& title, int choice)
{
    if (choice < 0 || choice > int(title.subtitleTracks().size()))
        return;
    // The builders burn a subtitle in only while subtitles are switched on.
    title.setting().setSubtitleIndex(choice - 1);
    title.setting().setSubtitleEnable(choice > 0);
}

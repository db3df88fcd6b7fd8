#include "builders/dvd/DVDBuild.h"

#include "builders/dvd/DVDArgumentHelpers.h"
#include "model/DNDVDGroupTitle.h"
#include "model/DNDVDNode.h"
#include "platform/DNLogger.h"
#include "profiles/DNProfile.h"
#include "profiles/ProfileValues.h"
#include "services/DNSubtitleFont.h"
#include "services/SubtitleCharset.h"

#include <cmath>

namespace {

void writeDiscSubtitle(DVDBuild& build, const DNDVDTSubtitle& track)
{
    // The stream number, not the list position: with a slot on stream 2
    // after one on stream 0, "-sid 1" would burn nothing.
    build.writer.add("-sid").addf("%d", track.index).add("-spualign").add("0");
    build.writer.add("-subpos").addf("%u", build.setting.position());
}

void writeSubtitleFile(DVDBuild& build, const DNDVDTExtSubtitle& track)
{
    // The engine reads the file itself: a FIFO would hold it for ever, a
    // device would never end. A file whose letters could be another
    // alphabet's has no set to name.
    QString failure;
    if (readSubtitleFile(track.path, failure) && track.codePage.isEmpty())
        failure = subtitleFileCharsetDoubt(track.path, track.language);
    if (!failure.isEmpty()) {
        build.refuse(
            QStringLiteral("the subtitle file \"%1\" cannot be used: %2").arg(track.path, failure));
        return;
    }
    ArgumentWriter& w = build.writer;
    w.add("-sub").add(track.path).add("-subfont-text-scale").addf("%.1f", 3.3);
    w.add("-subpos").addf("%u", build.setting.position()).add("-subwidth").addf("%d", 90);
    w.add("-subcp").add(track.codePage).add("-font").add(DNSubtitleFontPath(track.language));
    w.add("-subfont-text-scale").addf("%.1f", 4.0).add("-subfont-blur").addf("%d", 1);
    w.add("-subfont-outline").addf("%.1f", 1.5).add("-ffactor").addf("%d", 3);
}

void writeChosenSubtitle(DVDBuild& build)
{
    const qint32 index = build.setting.subtitleIndex();
    const auto& tracks = build.title->subtitleTracks();
    if (static_cast<std::size_t>(index) >= tracks.size()) {
        DNLog(QStringLiteral("%1: no subtitle at position %2 (the title has %3), none is burnt")
                  .arg(QLatin1String(build.builderName))
                  .arg(index)
                  .arg(tracks.size()));
        return;
    }
    const DNDVDSubtitleTrack& track = tracks[static_cast<std::size_t>(index)];
    if (const DNDVDTExtSubtitle* file = DNDVDExtSubtitleOf(track))
        writeSubtitleFile(build, *file);
    else
        writeDiscSubtitle(build, DNDVDSubtitleFields(track));
}

// The first disc subtitle in the language of the chosen sound, forced parts only.
void writeForcedSubtitle(DVDBuild& build)
{
    const QString language = build.audioLanguage.toLower();
    for (const DNDVDSubtitleTrack& track : build.title->subtitleTracks()) {
        const DNDVDTSubtitle* disc = std::get_if<DNDVDTSubtitle>(&track);
        if (disc && disc->subtitleName.toLower() == language) {
            writeDiscSubtitle(build, *disc);
            build.writer.add("-forcedsubsonly");
            return;
        }
    }
}

} // namespace

const DNDVDTAudio* chosenAudioTrack(const DVDBuild& build)
{
    const qint32 index = build.setting.audioIndex();
    const auto& tracks = build.title->audioTracks();
    if (index < 0 || static_cast<std::size_t>(index) >= tracks.size())
        return nullptr;
    return &tracks[static_cast<std::size_t>(index)];
}

bool refuseCopiedLPCM(DVDBuild& build)
{
    // LPCM streams are 160 to 167 after "-aid".
    constexpr qint32 kFirstLPCMStream = 160;
    constexpr qint32 kLPCMStreams = 8;
    const DNDVDTAudio* track = chosenAudioTrack(build);
    if (!track || track->index < kFirstLPCMStream
        || track->index >= kFirstLPCMStream + kLPCMStreams)
        return false;
    build.refuse(QStringLiteral("the sound of title %1 is LPCM, which this profile would copy and "
                                "cannot; choose a profile that converts the sound")
                     .arg(build.title->titleNumber()));
    return true;
}

std::unique_ptr<DVDBuild> DVDBuild::open(const char* builderName,
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, const EncodeConfig& config)
{
    if (!isKindOf<DNDVDNode>(node)) {
        refuseDVDBuild(builderName, QStringLiteral("the entry is not a DVD source"));
        return nullptr;
    }
    auto dvd = std::static_pointer_cast<DNDVDNode>(node);
    auto title = dvd->titleAt(titleIndex);
    if (!title) {
        refuseDVDBuild(
            builderName, QStringLiteral("the DVD has no title at index %1").arg(titleIndex));
        return nullptr;
    }
    if (!dvd->profile()) {
        refuseDVDBuild(builderName, QStringLiteral("the DVD has no output profile"));
        return nullptr;
    }
    return std::make_unique<DVDBuild>(
        builderName, std::move(dvd), std::move(title), titleIndex, config);
}

std::unique_ptr<DVDBuild> DVDBuild::openSingleTitle(const char* builderName,
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, const EncodeConfig& config,
    const QString& mergedReason)
{
    if (isMemberOf<DNDVDGroupTitle>(node)) {
        refuseDVDBuild(builderName, mergedReason);
        return nullptr;
    }
    return open(builderName, node, titleIndex, config);
}

DVDBuild::DVDBuild(const char* name, std::shared_ptr<DNDVDNode> dvd,
    std::shared_ptr<DNDVDTitle> chosen, int32_t index, const EncodeConfig& options)
    : builderName(name)
    , node(std::move(dvd))
    , title(std::move(chosen))
    , titleIndex(index)
    , config(options)
    , profile(*node->profile())
    , setting(title->setting())
    , trim(TrimOfSetting(setting, static_cast<float>(title->exactLength())))
    , writer(name)
{
    if (const QString refusal = TrimRefusal(setting, static_cast<float>(title->exactLength()));
        !refusal.isEmpty())
        refuse(refusal);
}

void DVDBuild::refuse(const QString& reason)
{
    if (!m_refused)
        refuseDVDBuild(builderName, reason);
    m_refused = true;
}

ArgumentBlockPtr DVDBuild::finish()
{
    if (m_refused)
        return nullptr;
    return writer.finish(trim ? keptSeconds(*trim) : 0);
}

int32_t keptSeconds(const Trim& trim)
{
    return static_cast<int32_t>(std::lround(trim.length));
}

std::shared_ptr<DNProfile> dvdProfileOf(const std::shared_ptr<NXBasicMediaNode>& node)
{
    return isKindOf<DNDVDNode>(node) ? std::static_pointer_cast<DNDVDNode>(node)->profile()
                                     : nullptr;
}

QString movOrIpodContainer(const std::shared_ptr<NXBasicMediaNode>& node)
{
    const auto profile = dvdProfileOf(node);
    const bool mov = profile && profile->fileNameSuffix().toLower() == QLatin1String("mov");
    return mov ? QStringLiteral("mov") : QStringLiteral("ipod");
}

bool isTransportStreamSuffix(const QString& suffix)
{
    const QString lower = suffix.toLower();
    return lower == QLatin1String("ts") || lower == QLatin1String("m2ts")
        || lower == QLatin1String("mts");
}

ArgumentBlockPtr refuseDVDBuild(const char* builderName, const QString& reason)
{
    DNLog(
        QStringLiteral("%1: %2, no command line is built").arg(QLatin1String(builderName), reason));
    noteBuildRefusal(reason);
    return nullptr;
}

void writeSourceBlock(DVDBuild& build)
{
    // The disc's own title number: it differs from the position plus 1 when
    // an unreadable title was left out before this one.
    const int number = build.title->titleNumber();
    build.writer.add("encoder");
    if (build.config.dvdNav)
        build.writer.addf("dvdnav://%d", number);
    else
        build.writer.addf("dvd://%d", number);
    build.writer.add("-dvd-device").add(build.node->sourceInfo().playbackPath());
}

void writeStartPositionBlock(DVDBuild& build)
{
    build.writer.add("-ss").add(build.trim ? TrimTimeText(build.trim->start) : QStringLiteral("0"));
}

void writeLavfContainerBlock(DVDBuild& build, const QString& container)
{
    build.writer.add("-of").add("lavf").add("-lavfopts").add("format=" + container);
}

void writeScalerBlock(DVDBuild& build)
{
    build.writer.add("-sws").add("2");
}

void writeAudioFilterBlock(DVDBuild& build)
{
    build.writer.add("-af").add(MEncoderVolumeFilter(build.setting.volume()));
}

void writeAudioFormatBlock(DVDBuild& build)
{
    build.writer.add("-srate").add(build.profile.audioSampleRate().currentValue());
    build.writer.add("-channels").add(build.profile.audioChannel().currentValue());
}

void writePictureBlock(DVDBuild& build)
{
    writeAspectBlock(build);
    writeFilterChainBlock(build);
    writeFrameRateBlock(build);
}

void writeAspectBlock(DVDBuild& build)
{
    const QString aspect = build.profile.videoAspect().currentValue();
    if (!isKeepOriginAspect(aspect))
        build.writer.add("-aspect").add(normalizeAspectString(aspect, QStringLiteral(":")));
}

void writeFilterChainBlock(DVDBuild& build)
{
    build.writer.add("-vf").add(BuildVideoFilterChain(*build.node, build.titleIndex, build.config));
}

void writeFrameRateBlock(DVDBuild& build)
{
    const QString rate = build.profile.videoFrameRate().currentValue();
    if (!isKeepOriginFrameRate(rate)) {
        const QByteArray value
            = frameRateOrSourceValue(rate, static_cast<float>(build.title->fps())).toUtf8();
        build.writer.add("-ofps").add(frameRateToRational(value.constData()));
    }
}

void writeFaacAudioCodecBlock(DVDBuild& build)
{
    build.writer.add("-oac").add("faac").add("-faacopts");
    build.writer.add("br=" + build.profile.audioQuality().currentValue() + ":mpeg=4:object=2:raw");
}

void writeMetadataBlock(DVDBuild& build)
{
    const DNNodeInfo& info = build.node->nodeInfo();
    const std::optional<QString> name = info.displayName ? info.displayName : info.outputName;
    const QString unknown = QStringLiteral("unknown");
    build.writer.add("-info").add(QStringLiteral("name=\"%1\":artist=\"%2\":genre=\"%3\"")
                                      .arg(ReplaceQuotesInMetadata(name),
                                          ReplaceQuotesInMetadata(info.artist.value_or(unknown)),
                                          ReplaceQuotesInMetadata(info.genre.value_or(unknown))));
}

const DNDVDTAudio* writeAudioTrackBlock(DVDBuild& build)
{
    const qint32 index = build.setting.audioIndex();
    if (index < 0 || build.title->audioTracks().empty()) {
        build.writer.add("-nosound");
        return nullptr;
    }
    const DNDVDTAudio* track = chosenAudioTrack(build);
    if (!track) {
        build.refuse(QStringLiteral("the title has no audio track at position %1").arg(index));
        return nullptr;
    }
    build.writer.add("-aid").addf("%d", track->index);
    build.audioLanguage = track->audioLang;
    return track;
}

void writeSubtitleBlock(DVDBuild& build)
{
    if (!build.setting.subtitleEnable())
        return;
    if (build.setting.subtitleIndex() >= 0)
        writeChosenSubtitle(build);
    else if (build.setting.forceSubOnly() && !build.audioLanguage.isEmpty())
        writeForcedSubtitle(build);
}

QString claimOutputPath(DVDBuild& build)
{
    const QString path
        = MakeOutputFileName(configPath(build.config.outputDir), build.node->nodeInfo().outputName,
            QStringLiteral("_T%1").arg(build.title->titleNumber()), build.profile.fileNameSuffix());
    build.title->setOutputName(path);
    return path;
}

void writeOutputBlock(DVDBuild& build)
{
    build.writer.add("-o").add(claimOutputPath(build));
}

void writeEndPositionBlock(DVDBuild& build)
{
    // mencoder counts "-endpos" from the start position: a length, not an end.
    if (build.trim)
        build.writer.add("-endpos").add(TrimTimeText(build.trim->length));
}

void writeTracksAndOutputBlocks(DVDBuild& build)
{
    writeMetadataBlock(build);
    writeAudioTrackBlock(build);
    writeSubtitleBlock(build);
    writeOutputBlock(build);
    writeEndPositionBlock(build);
}

void writeTailBlock(DVDBuild& build)
{
    if (build.config.avSyncFix)
        build.writer.add("-mc").add("0");
}

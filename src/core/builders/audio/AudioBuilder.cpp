#include "builders/audio/AudioFormat.h"

#include "builders/video/BuilderServices.h"
#include "engine/EncodeConfig.h"
#include "model/DNFileGroupNode.h"
#include "platform/DNLogger.h"
#include "profiles/DNProfile.h"

#include <optional>

namespace {

// The profile values a format writes.
struct AudioValues {
    QString quality;
    QString rate;
    QString channels;
};

void logRefusal(const char* builderName, const QString& reason)
{
    DNLog(QStringLiteral("%1: %2").arg(QLatin1String(builderName), reason));
}

// A value the command line needs. An absent or empty value would leave the
// option without its argument, so the build is refused and the key named.
bool readValue(
    const NXProfileInfoBase& info, const char* key, const char* builderName, QString& value)
{
    if (!info.isPresent() || info.currentValue().isEmpty()) {
        logRefusal(
            builderName, QStringLiteral("the profile has no \"%1\" value").arg(QLatin1String(key)));
        return false;
    }
    value = info.currentValue();
    return true;
}

// The values that the path's codec options write; none when one is missing.
std::optional<AudioValues> profileValues(
    const AudioFormat& format, const DNProfile& profile, bool group, const char* builderName)
{
    AudioValues values;
    if (group && !format.groupCodecOptions)
        return values;
    if (format.bitrate
        && !readValue(profile.audioQuality(), NXAudioQuality::key, builderName, values.quality))
        return std::nullopt;
    if (!readValue(profile.audioSampleRate(), NXAudioSampleRate::key, builderName, values.rate))
        return std::nullopt;
    if (format.channels
        && !readValue(profile.audioChannel(), NXAudioChannel::key, builderName, values.channels))
        return std::nullopt;
    return values;
}

void writeCodecOptions(
    ArgumentWriter& writer, const AudioFormat& format, const AudioValues& values, bool group)
{
    if (group && !format.groupCodecOptions)
        return;
    if (format.codec)
        writer.add("-c:a").add(format.codec);
    if (format.bitrate)
        writer.add("-b:a").addf("%sk", values.quality.toUtf8().constData());
    writer.add("-ar").add(values.rate);
    if (format.channels)
        writer.add("-ac").add(values.channels);
    if (format.extraOption)
        writer.add(format.extraOption).add(format.extraValue);
}

// Only the tags that are present; an empty tag is written empty on purpose.
void writeMetadata(ArgumentWriter& writer, const DNNodeInfo& info)
{
    if (info.displayName)
        writer.add("-metadata").add(QStringLiteral("title=") + *info.displayName);
    if (info.artist)
        writer.add("-metadata").add(QStringLiteral("artist=") + *info.artist);
    if (info.genre)
        writer.add("-metadata").add(QStringLiteral("genre=") + *info.genre);
}

void writeContainer(ArgumentWriter& writer, const char* container)
{
    if (container)
        writer.add("-f").add(container);
}

// Writes the output path last, hands the block over and records the path on
// the node; the node keeps its old output name when no block comes of it.
ArgumentBlockPtr finishWithOutput(ArgumentWriter& writer, DNFileNode& node,
    const EncodeConfig& config, int32_t duration, const char* builderName)
{
    const QString path = MakeOutputPath(
        configPath(config.outputDir), node.nodeInfo().outputName, node.profile()->fileNameSuffix());
    if (path.isEmpty()) {
        logRefusal(builderName, QStringLiteral("no output path"));
        return nullptr;
    }
    writer.add(path);
    ArgumentBlockPtr block = writer.finish(duration);
    if (block)
        node.setOutputName(path);
    return block;
}

void writeInput(ArgumentWriter& writer, const std::optional<Trim>& trim, const QString& path)
{
    if (trim)
        writer.add("-ss").add(TrimTimeText(trim->start)).add("-t").add(TrimTimeText(trim->length));
    writer.add("-i").add(path);
}

// The selected track when it is an audio file the user added, else null.
const DNTExtAudio* selectedExtAudio(const DNFileNode& node)
{
    const DNAudioTrack* track = node.selectedAudioTrack();
    return track ? DNExtAudioOf(*track) : nullptr;
}

// An added audio file is read as an input of its own (input 1) and trimmed
// like the source, because it lies beyond the source's own audio streams.
void writeTrackChoice(ArgumentWriter& writer, qint32 audioIndex, bool extAudio)
{
    if (extAudio)
        writer.add("-map").add("1:a:0");
    else if (audioIndex >= 0)
        writer.add("-map").addf("0:a:%d", audioIndex);
    else
        writer.add("-an");
}

ArgumentBlockPtr singlePath(const AudioFormat& format, DNFileNode& node, const EncodeConfig& config)
{
    const DNTVideo* video = node.selectedVideoTrack();
    if (!video) {
        logRefusal(format.name, QStringLiteral("no selected video track in %1").arg(node.path()));
        return nullptr;
    }
    const qint32 audioIndex = node.setting().audioIndex();
    if (audioIndex >= 0 && !node.audioTracks().empty() && !node.selectedAudioTrack()) {
        logRefusal(format.name,
            QStringLiteral("audio track %1 is not in %2").arg(audioIndex).arg(node.path()));
        return nullptr;
    }
    const std::optional<AudioValues> values
        = profileValues(format, *node.profile(), false, format.name);
    if (!values)
        return nullptr;
    // An audio output shows no subtitle, so its trim holds whatever subtitle is chosen.
    if (const QString refusal = TrimRefusal(node.setting(), video->duration); !refusal.isEmpty()) {
        logRefusal(format.name, refusal);
        noteBuildRefusal(refusal);
        return nullptr;
    }
    const std::optional<Trim> trim = TrimOfSetting(node.setting(), video->duration);
    const DNTExtAudio* extAudio = selectedExtAudio(node);

    ArgumentWriter writer(format.name);
    writer.add("encoder").add("-d").add("-y");
    // The source's own clock may start before its first picture, from which
    // the trim counts; an added audio file's starts at its beginning.
    writeInput(writer, trim ? std::optional(TrimFromFileStart(*trim, *video)) : trim, node.path());
    if (extAudio)
        writeInput(writer, trim, extAudio->path);
    writer.add("-vn").add("-sn");
    writeCodecOptions(writer, format, *values, false);
    if (const std::optional<QString> volume = GenVolumeFilter(node, config))
        writer.add("-af").add(*volume);
    writeMetadata(writer, node.nodeInfo());
    writeTrackChoice(writer, node.audioTracks().empty() ? -1 : audioIndex, extAudio != nullptr);
    writeContainer(writer, format.singleContainer);
    const int32_t duration = static_cast<int32_t>(trim ? trim->length : video->duration);
    return finishWithOutput(writer, node, config, duration, format.name);
}

// The length in seconds of a member's selected source audio track; none, with
// a log line, when the member cannot be joined.
std::optional<float> memberAudioLength(const char* groupName, const DNFileNode* member)
{
    if (!member) {
        logRefusal(groupName, QStringLiteral("a member is not a media file"));
        return std::nullopt;
    }
    const DNAudioTrack* track = member->selectedAudioTrack();
    if (!track) {
        logRefusal(groupName, QStringLiteral("no audio track selected in %1").arg(member->path()));
        return std::nullopt;
    }
    if (member->outputName().isEmpty()) {
        logRefusal(groupName, QStringLiteral("%1 has not been converted").arg(member->path()));
        return std::nullopt;
    }
    return DNAudioFields(*track).duration;
}

void writeConcatFilter(ArgumentWriter& writer, const QString& labels, int count)
{
    writer.add("-filter_complex").addf("%sconcat=n=%d:v=0:a=1", labels.toUtf8().constData(), count);
}

ArgumentBlockPtr groupPath(
    const AudioFormat& format, DNFileGroupNode& group, const EncodeConfig& config)
{
    const std::optional<AudioValues> values
        = profileValues(format, *group.profile(), true, format.groupName);
    if (!values)
        return nullptr;
    ArgumentWriter writer(format.groupName);
    writer.add("encoder").add("-d").add("-y");
    int32_t duration = 0;
    int count = 0;
    QString labels;
    for (const NXBasicMediaNode::Ptr& child : group.children()) {
        const std::shared_ptr<DNFileNode> member = child->fileNodeForConversion();
        const std::optional<float> length = memberAudioLength(format.groupName, member.get());
        if (!length)
            return nullptr;
        writer.add("-i").add(member->outputName());
        // Truncated at every member, as the header counts whole seconds.
        duration = static_cast<int32_t>(static_cast<float>(duration) + *length);
        labels += QStringLiteral("[%1:0] ").arg(count++);
    }
    if (format.groupFilterFirst)
        writeConcatFilter(writer, labels, count);
    writeCodecOptions(writer, format, *values, true);
    if (!format.groupFilterFirst)
        writeConcatFilter(writer, labels, count);
    writeMetadata(writer, group.nodeInfo());
    writeContainer(writer, format.groupContainer);
    return finishWithOutput(writer, group, config, duration, format.groupName);
}

} // namespace

ArgumentBlockPtr assembleAudioArguments(const AudioFormat& format,
    const std::shared_ptr<NXBasicMediaNode>& node, const EncodeConfig& config)
{
    if (!node) {
        logRefusal(format.name, QStringLiteral("fileNode != nil"));
        return nullptr;
    }
    const auto file = std::dynamic_pointer_cast<DNFileNode>(node);
    if (!file) {
        logRefusal(format.name, QStringLiteral("not a media file node"));
        return nullptr;
    }
    if (!file->profile()) {
        logRefusal(format.name, QStringLiteral("no profile for %1").arg(file->path()));
        return nullptr;
    }
    if (isMemberOf<DNFileGroupNode>(node))
        return groupPath(format, static_cast<DNFileGroupNode&>(*file), config);
    return singlePath(format, *file, config);
}

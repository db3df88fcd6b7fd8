#include "builders/dvd/Merge.h"

#include "builders/dvd/DVDArgumentHelpers.h"
#include "builders/dvd/DVDBuild.h"
#include "builders/video/BuilderServices.h"
#include "model/DNDVDGroupTitle.h"
#include "profiles/DNProfile.h"
#include "profiles/ProfileValues.h"

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

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
    // ffmpeg's muxer for a join of titles whose copied sound differs (an AVI
    // with the disc's own sound): null where the titles' sound is alike.
    const char* joinFormat = nullptr;
};

const Words kIpod { "-of", "lavf", "-lavfopts", "format=ipod" };

// What a title's output holds of sound: its first sound stream's codec,
// rate, channels and bit rate (0 when unknown).
struct SoundShape {
    AVCodecID codec = AV_CODEC_ID_NONE;
    int rate = 0;
    int channels = 0;
    int64_t bitRate = 0;
    bool sameAs(const SoundShape& other) const
    {
        return codec == other.codec && rate == other.rate && channels == other.channels;
    }
};

SoundShape soundShapeOf(const QString& path)
{
    SoundShape shape;
    AVFormatContext* context = nullptr;
    const QByteArray url = "file:" + path.toUtf8();
    if (avformat_open_input(&context, url.constData(), nullptr, nullptr) < 0)
        return shape;
    if (avformat_find_stream_info(context, nullptr) >= 0) {
        const int found = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (found >= 0) {
            const AVCodecParameters& sound = *context->streams[found]->codecpar;
            shape = { sound.codec_id, sound.sample_rate, sound.ch_layout.nb_channels,
                sound.bit_rate };
        }
    }
    avformat_close_input(&context);
    return shape;
}

// The first title's sound shape, when the titles' sounds differ in codec,
// rate or channels (and each has sound): what a copy would join into a
// stream nothing after the first title decodes in.
std::optional<SoundShape> differingSound(const DNDVDGroupTitle& group)
{
    std::vector<SoundShape> shapes;
    for (const auto& title : group.titles())
        shapes.push_back(soundShapeOf(title->outputName()));
    const bool differ = std::any_of(shapes.begin(), shapes.end(),
        [&](const SoundShape& shape) { return !shape.sameAs(shapes.front()); });
    const bool allHaveSound = std::none_of(shapes.begin(), shapes.end(),
        [](const SoundShape& shape) { return shape.codec == AV_CODEC_ID_NONE; });
    return differ && allHaveSound ? std::optional(shapes.front()) : std::nullopt;
}

void writeFaacCodecs(ArgumentWriter& writer, const DNProfile& profile)
{
    const QString aspect = profile.videoAspect().currentValue();
    if (!isKeepOriginAspect(aspect))
        writer.add("-aspect").add(normalizeAspectString(aspect, QStringLiteral(":")));
    writer.add("-oac").add("faac").add("-faacopts");
    writer.add("br=" + profile.audioQuality().currentValue() + ":mpeg=4:object=2:raw");
    writer.add("-ovc").add("copy");
}

ArgumentBlockPtr buildStreamJoin(const char* name, const std::shared_ptr<NXBasicMediaNode>& node,
    const EncodeConfig& config, const char* format);

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
    // mencoder reads under two seconds of the titles' transport streams, and
    // drops frames of a copied picture when it must encode the sound.
    if (isTransportStreamSuffix(profile->fileNameSuffix())
        || (row.joinFormat && differingSound(group)))
        return buildStreamJoin(row.name, node, config, row.joinFormat);
    const QString path = MakeOutputFileName(configPath(config.outputDir),
        group.nodeInfo().outputName, QString(), profile->fileNameSuffix());
    group.setOutputName(path);
    ArgumentWriter writer(row.name);
    writer.add("encoder");
    for (const auto& title : group.titles())
        writer.add(title->outputName());
    for (const char* word : row.container)
        writer.add(word);
    if (row.faacSound)
        writeFaacCodecs(writer, *profile);
    for (const char* word : row.codecs)
        writer.add(word);
    // No "-cache": the titles are local files, and mencoder's cache process
    // can die and leave it waiting for ever.
    writer.add("-o").add(path);
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
const MergeRow kAVI { "Group_DVDTitle_To_AVI_With_MEncoder", { "-of", "avi" }, kCopy, false,
    "avi" };

// The concat list of the titles' own outputs, or nothing when a name holds a
// line break, which would end its list line early.
std::optional<QString> titleList(const DNDVDGroupTitle& group)
{
    QString list;
    for (const auto& title : group.titles()) {
        const QString output = title->outputName();
        if (output.isEmpty() || output.contains(QLatin1Char('\n'))
            || output.contains(QLatin1Char('\r')))
            return std::nullopt;
        list += ConcatListLine(output);
    }
    return list;
}

// The sound of a join whose titles' sound differs: the first title's, as a
// DVD program stream, a transport stream or an AVI can hold it (AC-3 in
// place of LPCM or DTS, at most two channels of MPEG sound), at 48 kHz.
void writeCommonSound(ArgumentWriter& writer, const SoundShape& first)
{
    const bool mpeg = first.codec == AV_CODEC_ID_MP2;
    const int channels = std::clamp(first.channels, 1, mpeg ? 2 : 6);
    const int64_t fallback = channels > 2 ? 448'000 : 192'000;
    writer.add("-c:a").add(mpeg ? "mp2" : "ac3").add("-ar").addf("%d", 48000);
    writer.add("-ac").addf("%d", channels);
    writer.add("-b:a").addf(
        "%lld", static_cast<long long>(first.bitRate > 0 ? first.bitRate : fallback));
}

// The picture of every title through the concat demuxer, copied; the sound,
// when the titles' sounds differ in codec, rate or channels, through the
// concat filter from each title's own file, encoded once into one shape. A
// concat demuxer names the first title's sound codec for all: nothing after
// the first title would decode.
void writeJoinStreams(ArgumentWriter& writer, const DNDVDGroupTitle& group)
{
    const std::optional<SoundShape> differing = differingSound(group);
    if (!differing) {
        writer.add("-c").add("copy");
        return;
    }
    QString inputs;
    for (size_t index = 0; index < group.titles().size(); ++index) {
        writer.add("-i").add(group.titles()[index]->outputName());
        inputs += QStringLiteral("[%1:a:0]").arg(index + 1);
    }
    writer.add("-filter_complex")
        .add(inputs + QStringLiteral("concat=n=%1:v=0:a=1[sound]").arg(group.titles().size()));
    writer.add("-map").add("0:v:0").add("-map").add("[sound]").add("-c:v").add("copy");
    writeCommonSound(writer, *differing);
}

// MPEG-2 titles join in ffmpeg's concat demuxer, not in mencoder: mencoder
// reads only half a second of the titles' lavf-muxed program streams and
// cannot copy titles of different frame sizes into one file.
ArgumentBlockPtr buildStreamJoin(const char* name, const std::shared_ptr<NXBasicMediaNode>& node,
    const EncodeConfig& config, const char* format)
{
    if (!isMemberOf<DNDVDGroupTitle>(node))
        return refuseDVDBuild(
            name, QStringLiteral("the entry is not a group of merged DVD titles"));
    auto& group = static_cast<DNDVDGroupTitle&>(*node);
    const auto profile = group.profile();
    if (!profile)
        return refuseDVDBuild(name, QStringLiteral("the group has no output profile"));
    const std::optional<QString> list = titleList(group);
    if (!list)
        return refuseDVDBuild(name, QStringLiteral("a title has no output to join"));
    const QString listPath = WriteConcatList(*list);
    if (listPath.isEmpty())
        return refuseDVDBuild(name, QStringLiteral("the list of titles cannot be written"));
    const QString path = MakeOutputFileName(configPath(config.outputDir),
        group.nodeInfo().outputName, QString(), profile->fileNameSuffix());
    group.setOutputName(path);
    const bool transportStream = isTransportStreamSuffix(profile->fileNameSuffix());
    ArgumentWriter writer(name);
    writer.add("encoder").add("-y").add("-f").add("concat").add("-i").add(listPath);
    writeJoinStreams(writer, group);
    writer.add("-f").add(transportStream ? "mpegts" : format).add(path);
    return writer.finish(0);
}

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
    return buildStreamJoin("Group_DVDTitle_To_MPEG2_With_MEncoder", node, config, "dvd");
}

ArgumentBlockPtr Group_DVDTitle_To_MainBackupMPEG2_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return buildStreamJoin("Group_DVDTitle_To_MainBackupMPEG2_With_MEncoder", node, config, "dvd");
}

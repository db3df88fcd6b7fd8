#include "builders/video/BuilderFrame.h"

#include "builders/video/BuilderServices.h"
#include "engine/AVEncoder.h"
#include "model/DNFileGroupNode.h"
#include "model/DNMediaPredicates.h"
#include "platform/DNLogger.h"
#include "platform/SystemInfo.h"
#include "platform/TemporaryFile.h"
#include "profiles/DNProfile.h"
#include "profiles/ProfileValues.h"

#include <QLocale>

#include <cmath>
#include <utility>

namespace {

// Source rates outside this range are taken for a probe's mistake.
constexpr float kMaxSaneFrameRate = 150.0f;
const char* const kFilmRate = "23.97";
const QLatin1String kResetTimestamps("setpts=N/(FRAME_RATE*TB)");

void logFor(const VideoBuilderRow& row, const QString& message)
{
    DNLog(QStringLiteral("%1: %2").arg(QLatin1String(row.name), message));
}

// A chosen index must point into its list. A negative audio or subtitle
// index means none, and so does any index into an empty audio or subtitle
// list (the loader leaves the audio choice at 0 for a silent file).
bool indexFits(qint32 index, std::size_t count, bool negativeMeansNone)
{
    if (index < 0)
        return negativeMeansNone;
    if (count == 0)
        return negativeMeansNone;
    return static_cast<std::size_t>(index) < count;
}

QString trackChoiceProblem(const DNFileNode& node)
{
    const DNNodeSetting& s = node.setting();
    if (!indexFits(s.videoIndex(), node.videoTracks().size(), false))
        return QStringLiteral("the chosen video track %1 is not among the file's %2")
            .arg(s.videoIndex())
            .arg(node.videoTracks().size());
    if (!indexFits(s.audioIndex(), node.audioTracks().size(), true))
        return QStringLiteral("the chosen audio track %1 is not among the file's %2")
            .arg(s.audioIndex())
            .arg(node.audioTracks().size());
    if (!indexFits(s.subtitleIndex(), node.subtitleTracks().size(), true))
        return QStringLiteral("the chosen subtitle %1 is not among the file's %2")
            .arg(s.subtitleIndex())
            .arg(node.subtitleTracks().size());
    return {};
}

SubtitleKind subtitleKindOf(const DNFileNode& node)
{
    const DNSubtitleTrack* track = node.selectedSubtitleTrack();
    if (!track)
        return SubtitleKind::None;
    return DNExtSubtitleOf(*track) ? SubtitleKind::External : SubtitleKind::Embedded;
}

bool mapsNeeded(const VideoBuilderRow& row, const DNFileNode& node)
{
    const DNNodeSetting& s = node.setting();
    const bool otherTrack = s.videoIndex() > 0 || s.audioIndex() > 0;
    switch (row.streamMaps) {
    case StreamMapRule::TrackChoiceOrMismatch:
        return otherTrack || s.subtitleIndex() > 0 || !node.sameStreams();
    case StreamMapRule::SubtitleStream:
        return otherTrack || s.subtitleIndex() >= 0 || !node.sameStreams();
    case StreamMapRule::TrackChoiceOnly:
        return otherTrack || s.subtitleIndex() > 0;
    }
    return true;
}

bool soundChosen(const DNFileNode& node)
{
    return !node.audioTracks().empty() && node.setting().audioIndex() >= 0;
}

// Silence goes in only with a length to give it: endless, it would never let
// the run end.
bool addsSilence(const VideoFrame& f)
{
    return f.config.silenceWithoutSound && !soundChosen(f.node) && f.vtrack.duration > 0;
}

// The silence stands after the source and its subtitle file, when there is one.
int silenceInput(const VideoFrame& f)
{
    const bool subtitleInput
        = f.subtitle == SubtitleKind::External || f.subtitle == SubtitleKind::Extracted;
    return subtitleInput ? 2 : 1;
}

// As long as what is read of the source: a trim before the source has cut
// it already, one after every input cuts the silence with it.
void writeSilenceInput(VideoFrame& f, const std::optional<Trim>& seekedTrim)
{
    if (!addsSilence(f))
        return;
    const double seconds = seekedTrim ? seekedTrim->length : double(f.vtrack.duration);
    f.writer.add("-f").add("lavfi").add("-i").addf("anullsrc=d=%.6f", seconds);
}

void writeTrim(VideoFrame& f, const std::optional<Trim>& trim)
{
    if (!trim)
        return;
    f.writer.add("-ss").add(TrimTimeText(trim->start));
    f.writer.add("-t").add(TrimTimeText(trim->length));
    f.duration = static_cast<int32_t>(trim->length);
}

void writeThreads(VideoFrame& f, const FrameEnvironment& environment)
{
    const bool write = f.row.threads == ThreadsRule::Always
        || (f.row.threads == ThreadsRule::UnlessAllProcessors
            && f.config.cpuCore != environment.processorCount);
    if (write)
        f.writer.add("-threads").addf("%d", f.config.cpuCore);
}

// The external subtitle file as the engine's second input. A file that
// cannot go in has said why (GenSubtitleStreamFile), and the driver fails
// the run with it; the list is left without it.
void writeExternalSubtitleInput(VideoFrame& f, const std::optional<Trim>& trim)
{
    const DNTExtSubtitle* external = DNExtSubtitleOf(*f.node.selectedSubtitleTrack());
    QString charset = external->codePage;
    const std::optional<QString> copy = GenSubtitleStreamFile(
        external->path, charset, f.node.setting().position(), trim, f.vtrack.duration);
    if (!copy || copy->isEmpty()) {
        f.subtitle = SubtitleKind::None;
        return;
    }
    f.writer.add("-i").add(*copy);
}

// The chosen text stream of the source as an SRT file carrying the editor's
// position and the trim; empty when it cannot be taken out or rewritten.
std::optional<QString> extractedTrackFile(const VideoFrame& f, const std::optional<Trim>& trim)
{
    const QString srt = makeTemporaryFile(QStringLiteral("qzsubsrt"), QStringLiteral("srt"));
    if (srt.isEmpty()
        || AVEncoderExtractSubFile(f.node.path().toUtf8().constData(),
               f.node.setting().subtitleIndex(), srt.toUtf8().constData())
            != 0)
        return std::nullopt;
    // The engine writes SRT in UTF-8.
    QString charset = QStringLiteral("UTF-8");
    return GenSubtitleStreamFile(srt, charset, f.node.setting().position(), trim, f.vtrack.duration,
        SubtitleStreamName(f.node));
}

// A copied stream keeps its cues as they are: a position other than the
// bottom has no place in them, and the engine drops a cue still on screen at
// the trim's cut. A text stream that needs either goes through an SRT file,
// as an external file does; pictures stay copied. When the file cannot be
// made, the stream is copied as before rather than lost.
void writeExtractedTrackInput(VideoFrame& f, const std::optional<Trim>& trim)
{
    const DNSubtitleTrack& track = *f.node.selectedSubtitleTrack();
    const bool cuesChange = trim || SubtitlePositionMovesCues(f.node.setting().position());
    if (!DNSubtitleFields(track).isTextformat || !cuesChange)
        return;
    const std::optional<QString> copy = extractedTrackFile(f, trim);
    if (copy && copy->isEmpty()) {
        logFor(f.row,
            QStringLiteral("the subtitle stream %1 has no cue in what is converted; the output "
                           "goes without a subtitle")
                .arg(f.node.setting().subtitleIndex()));
        f.subtitle = SubtitleKind::None;
        return;
    }
    if (!copy) {
        logFor(f.row,
            QStringLiteral("the subtitle stream %1 could not be taken out of the source; it is "
                           "copied without the editor's position and trim")
                .arg(f.node.setting().subtitleIndex()));
        return;
    }
    f.writer.add("-i").add(*copy);
    f.subtitle = SubtitleKind::Extracted;
}

void writeSubtitleInput(VideoFrame& f, const std::optional<Trim>& trim)
{
    if (f.row.streamMaps != StreamMapRule::SubtitleStream)
        return;
    if (f.subtitle == SubtitleKind::External)
        writeExternalSubtitleInput(f, trim);
    else if (f.subtitle == SubtitleKind::Embedded)
        writeExtractedTrackInput(f, trim);
}

// The trim's start on the source's own clock, as the editor set it.
std::optional<Trim> sourceTrim(const VideoFrame& f)
{
    const std::optional<Trim> trim = TrimOfSetting(f.node.setting(), f.vtrack.duration);
    return trim ? std::optional(TrimFromFileStart(*trim, f.vtrack)) : std::nullopt;
}

// A transport or program stream has no index: the engine's seek finds a time
// by a search over its packets that lands on any of them, and decoding starts
// at the next key frame, perhaps after the trim's start. The engine seeks this
// far before it, and the output is cut from the pictures it decoded.
constexpr double kSystemStreamSeekLead = 10;

// A seek that lands before the trim's start, and the trim counted from it.
std::pair<Trim, Trim> seekBeforeTrim(const Trim& trim)
{
    const double lead = std::min(trim.start, kSystemStreamSeekLead);
    return { Trim { trim.start - lead, lead + trim.length }, Trim { lead, trim.length } };
}

void writeSeek(VideoFrame& f, const Trim& seek)
{
    if (seek.start > 0)
        f.writer.add("-ss").add(TrimTimeText(seek.start));
}

// The trim stands before the source, where the engine seeks before decoding,
// when no subtitle is chosen or the chosen one is text drawn into the picture
// (its cues move back with the seek). Otherwise it stands after every input,
// where it cuts the output: all its streams, the subtitle of a second input
// or a picture subtitle of the source included, keep their timing, but the
// engine decodes everything up to the cut. (Written between the two inputs,
// it would cut the subtitle file instead of the source.) A transport or
// program stream without a subtitle is sought before its trim and cut after
// every input; with one, it is cut only.
void writeInputs(VideoFrame& f, const FrameEnvironment& environment)
{
    if (const QString refusal = TrimRefusal(f.node.setting(), f.vtrack.duration);
        !refusal.isEmpty())
        f.fail(refusal);
    const std::optional<Trim> trim = sourceTrim(f);
    const bool subtitle = f.node.setting().subtitleIndex() >= 0;
    const bool systemStream = DNIsMpegSystemStream(&f.node);
    const bool seekFirst
        = !systemStream && (!subtitle || (f.row.burnSubtitles && SubtitleCuesFollowSeek(f.node)));
    std::optional<Trim> cut = seekFirst ? std::nullopt : trim;
    if (seekFirst) {
        writeTrim(f, trim);
        f.seekedTrim = trim;
    } else if (trim && systemStream && !subtitle) {
        const auto [seek, rest] = seekBeforeTrim(*trim);
        writeSeek(f, seek);
        f.seekedTrim = seek;
        cut = rest;
    }
    f.writer.add("-i").add(f.node.path());
    writeSubtitleInput(f, trim);
    writeSilenceInput(f, f.seekedTrim);
    // After every input: the engine gives an option to the file that follows
    // it, and before another input the thread limit would be that input's,
    // leaving the encoders at the engine's own count.
    writeThreads(f, environment);
    writeTrim(f, cut);
}

QByteArray sourceRateText(float fps)
{
    // QByteArray::number ignores the user's locale.
    return QByteArray::number(double(fps), 'f', 3);
}

// The output option alone would drop and repeat frames by their count, not
// their time: the picture would fall behind the sound, and a frame shown once
// could be lost. The graph converts to the same rate first.
void writeRate(VideoFrame& f, const char* rate)
{
    f.writer.add("-r").add(rate);
    f.pictureRate = QString::fromLatin1(rate);
}

void writeFrameRate(VideoFrame& f)
{
    if (f.row.frameRate == FrameRateRule::None)
        return;
    const QString rate = f.profile.videoFrameRate().currentValue();
    if (!isKeepOriginFrameRate(rate)) {
        writeRate(f, frameRateToRational(rate.toUtf8().constData()));
        return;
    }
    const float fps = f.vtrack.fps; // a NaN rate counts as in range
    const bool outOfRange = fps < 0.0f || fps > kMaxSaneFrameRate;
    if (f.row.frameRate == FrameRateRule::FixedRate) {
        if (outOfRange)
            writeRate(f, frameRateToRational(kFilmRate));
        return;
    }
    if (outOfRange || f.config.safeMode || DNIsRealMediaFile(&f.node))
        writeRate(f, frameRateToRational(sourceRateText(fps).constData()));
}

void writeFilterGraph(VideoFrame& f)
{
    const QString prefix = f.config.resetTimestamps() ? QString(kResetTimestamps) : QString();
    const bool expand = f.row.expandToProfile || f.node.setting().autoExpandToProfile();
    f.graph = GenVideoFilterChain(f.node, prefix, f.row.burnSubtitles, expand, f.config,
        f.seekedTrim, f.row.picture, f.pictureRate);
    if (f.graph && f.graph->isEmpty())
        f.graph.reset();
    if (f.graph)
        f.writer.add("-filter_complex").add(*f.graph);
}

void writeAudioOptions(VideoFrame& f)
{
    if (!f.row.audioOptions)
        return;
    const DNProfile& p = f.profile;
    if (f.row.audioCodec)
        f.writer.add("-c:a").add(f.row.audioCodec);
    else
        f.writer.add("-c:a").add(p.audioCodec().currentValue());
    f.writer.add("-b:a").add(p.audioQuality().currentValue() + QLatin1Char('k'));
    f.writer.add("-ar").add(p.audioSampleRate().currentValue());
    f.writer.add("-ac").add(p.audioChannel().currentValue());
}

void writeVolume(VideoFrame& f)
{
    if (const std::optional<QString> filter = GenVolumeFilter(f.node, f.config))
        f.writer.add("-filter:a").add(*filter);
}

// Timed text of an MP4 or QuickTime source cannot be copied into another
// container as it is; SRT carries the same text.
bool isTimedText(const VideoFrame& f)
{
    const DNSubtitleTrack* track = f.node.selectedSubtitleTrack();
    return track && DNSubtitleFields(*track).isTextformat
        && f.node.fileFormat().toUpper() == QLatin1String("MPEG-4");
}

void writeSubtitleCodec(VideoFrame& f)
{
    if (f.row.streamMaps != StreamMapRule::SubtitleStream || f.subtitle == SubtitleKind::None)
        return;
    const bool convert = f.subtitle == SubtitleKind::Embedded && isTimedText(f);
    f.writer.add("-c:s").add(convert ? "srt" : "copy");
}

void writeMetadataPair(VideoFrame& f, const char* key, const std::optional<QString>& value)
{
    if (value)
        f.writer.add("-metadata").add(QLatin1String(key) + QLatin1Char('=') + *value);
}

void writeMetadata(VideoFrame& f)
{
    if (!f.row.metadata)
        return;
    const DNNodeInfo& info = f.node.nodeInfo();
    writeMetadataPair(f, "title", info.displayName);
    writeMetadataPair(f, "artist", info.artist);
    writeMetadataPair(f, "genre", info.genre);
}

// The language chosen for the external subtitle, as the three-letter code
// the containers store ("en" gives "eng").
QString externalSubtitleLanguage(const DNFileNode& node)
{
    const QLocale::Language language = QLocale(node.extraSubtitleLanguage()).language();
    const QString code = language == QLocale::C
        ? QString()
        : QLocale::languageToCode(language, QLocale::ISO639Part2B);
    return code.size() == 3 ? code : QStringLiteral("und");
}

void writeMark(VideoFrame& f, const std::optional<QString>& mark)
{
    if (!mark || mark->isEmpty()) {
        f.fail(QStringLiteral("no stream specifier for a chosen track"));
        return;
    }
    f.writer.add("-map").add(*mark);
}

void writeSubtitleMap(VideoFrame& f)
{
    switch (f.subtitle) {
    case SubtitleKind::External:
        f.writer.add("-map").add("1:0").add("-metadata:s:s:0");
        f.writer.add(QStringLiteral("language=%1").arg(externalSubtitleLanguage(f.node)));
        return;
    case SubtitleKind::Extracted:
        // The file has no tags of its own; the stream keeps the source
        // stream's language and title.
        f.writer.add("-map").add("1:0").add("-map_metadata:s:s:0");
        f.writer.add(QStringLiteral("0:s:s:%1").arg(f.node.setting().subtitleIndex()));
        return;
    case SubtitleKind::Embedded:
        writeMark(f, GenSubtitleStreamMark(f.node, false, f.config));
        noteBuildSubtitle(SubtitleStreamName(f.node));
        return;
    case SubtitleKind::None:
        // No subtitle chosen, or one that could not be prepared.
        f.writer.add("-sn");
        return;
    }
}

void writeStreamMaps(VideoFrame& f)
{
    if (!f.maps && !f.graph)
        return;
    if (f.graph)
        f.writer.add("-map").add("[video]");
    else
        writeMark(f, GenVideoStreamMark(f.node, false, f.config));
    if (soundChosen(f.node))
        writeMark(f, GenAudioStreamMark(f.node, false, f.config));
    else if (addsSilence(f))
        f.writer.add("-map").addf("%d:a:0", silenceInput(f));
    else
        f.writer.add("-an");
    if (f.row.streamMaps == StreamMapRule::SubtitleStream)
        writeSubtitleMap(f);
}

// Rows that carry a subtitle stream end their maps with the subtitle's own
// choice. Without maps the engine would pick a subtitle stream of the source
// by itself, although none was chosen.
void writeSubtitleSwitch(VideoFrame& f)
{
    const bool mapped = f.maps || f.graph;
    if (f.row.streamMaps != StreamMapRule::SubtitleStream || !mapped)
        f.writer.add("-sn");
}

// The colour tags come with the pictures: the graph tags what it writes.
void writePictureFormat(VideoFrame& f)
{
    if (f.row.pixelFormat)
        f.writer.add("-pix_fmt").add(f.row.pixelFormat);
}

void writeChapters(VideoFrame& f)
{
    // A cut or fractional length would leave chapter marks past the end.
    if (f.vtrack.duration != static_cast<float>(f.duration) && f.duration != 0)
        f.writer.add("-map_chapters").addf("%d", -1);
}

void writeOutputPath(VideoFrame& f)
{
    const QString path = MakeOutputPath(
        configPath(f.config.outputDir), f.node.nodeInfo().outputName, f.profile.fileNameSuffix());
    if (path.isEmpty()) {
        f.fail(QStringLiteral("no output path"));
        return;
    }
    f.node.setOutputName(path);
    f.writer.add(path);
}

void runHook(const FrameHook& hook, VideoFrame& f)
{
    if (hook && !f.failed())
        hook(f);
}

void writeVideoPart(VideoFrame& f, const FrameEnvironment& environment)
{
    f.writer.add("encoder").add("-d").add("-y");
    if (f.vtrack.codec == QLatin1String("mp2v"))
        f.writer.add("-c:v").add("mpeg2video");
    writeInputs(f, environment);
    runHook(f.row.afterInput, f);
    writeFrameRate(f);
    if (f.row.videoBitrate)
        f.writer.add("-b:v").add(f.profile.videoQuality().currentValue() + QLatin1Char('k'));
    if (f.row.aspect)
        runHook(f.row.aspect, f);
    else
        writeAspect(f);
    runHook(f.row.codecBlock, f);
    writeFilterGraph(f);
}

void writeRest(VideoFrame& f)
{
    writeAudioOptions(f);
    writeVolume(f);
    writeSubtitleCodec(f);
    runHook(f.row.afterVolume, f);
    writeMetadata(f);
    writeStreamMaps(f);
    writeSubtitleSwitch(f);
    writePictureFormat(f);
    runHook(f.row.beforeContainer, f);
    f.writer.add("-f").add(f.row.container);
    runHook(f.row.afterContainer, f);
    writeChapters(f);
    writeOutputPath(f);
}

ArgumentBlockPtr buildFileNode(const VideoBuilderRow& row, DNFileNode& node,
    const DNProfile& profile, const EncodeConfig& config, const FrameEnvironment& environment)
{
    ArgumentWriter writer(row.name);
    const DNTVideo& vtrack = *node.selectedVideoTrack();
    VideoFrame f(row, node, profile, config, vtrack, writer);
    f.duration = static_cast<int32_t>(vtrack.duration);
    f.maps = mapsNeeded(row, node) || addsSilence(f);
    if (row.streamMaps == StreamMapRule::SubtitleStream)
        f.subtitle = subtitleKindOf(node);
    writeVideoPart(f, environment);
    writeRest(f);
    if (f.failed()) {
        logFor(row, f.failure);
        noteBuildRefusal(f.failure);
        return nullptr;
    }
    return writer.finish(f.duration);
}

} // namespace

VideoBuilderRow::VideoBuilderRow(const char* rowName, StreamMapRule mapRule,
    ThreadsRule threadsRule, FrameRateRule rateRule, QString containerName)
    : name(rowName)
    , streamMaps(mapRule)
    , threads(threadsRule)
    , frameRate(rateRule)
    , container(std::move(containerName))
{ }

VideoFrame::VideoFrame(const VideoBuilderRow& buildRow, DNFileNode& fileNode,
    const DNProfile& nodeProfile, const EncodeConfig& engineConfig, const DNTVideo& videoTrack,
    ArgumentWriter& argumentWriter)
    : row(buildRow)
    , node(fileNode)
    , profile(nodeProfile)
    , config(engineConfig)
    , vtrack(videoTrack)
    , writer(argumentWriter)
{ }

void VideoFrame::fail(const QString& reason)
{
    if (failure.isEmpty())
        failure = reason;
}

FrameEnvironment FrameEnvironment::current()
{
    return FrameEnvironment { SystemInfo::processorCount() };
}

void writeAspect(VideoFrame& frame)
{
    const QString aspect = frame.profile.videoAspect().currentValue();
    if (!isKeepOriginAspect(aspect))
        frame.writer.add("-aspect").add(normalizeAspectString(aspect, QStringLiteral(":")));
}

ArgumentBlockPtr buildVideoFrame(const VideoBuilderRow& row,
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, const EncodeConfig& config,
    const FrameEnvironment& environment)
{
    const auto file = std::dynamic_pointer_cast<DNFileNode>(node);
    if (!file) {
        logFor(row, QStringLiteral("no file node to convert"));
        return nullptr;
    }
    if (isMemberOf<DNFileGroupNode>(node))
        return Video_Concat_With_AVEncoder(*file, titleIndex, config, row.join);
    const std::shared_ptr<DNProfile> profile = file->profile();
    const QString problem = profile ? trackChoiceProblem(*file) : QStringLiteral("no profile");
    if (!problem.isEmpty()) {
        logFor(row, problem);
        return nullptr;
    }
    return buildFileNode(row, *file, *profile, config, environment);
}

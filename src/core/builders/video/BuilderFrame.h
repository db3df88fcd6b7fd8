#pragma once

#include "builders/video/BuilderServices.h"
#include "builders/video/PictureTarget.h"
#include "engine/ArgumentBlock.h"
#include "engine/EncodeConfig.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class DNFileNode;
class DNProfile;
class NXBasicMediaNode;
struct DNTVideo;

// Every video builder writes the same frame of arguments in the same order:
//
//   "encoder" "-d" "-y", [source decoder], [trim] "-i" source, [threads],
//   [second input], [trim], {afterInput}, [frame rate], [video bitrate],
//   {aspect}, {codecBlock}, [filter graph], [audio options], [volume],
//   [subtitle codec], {afterVolume}, [metadata], [stream maps], ["-sn"],
//   [pixel format], [colour tags], {beforeContainer}, "-f" container,
//   {afterContainer}, [chapters], path
//
// and differs from the others only in a few choices and in its own options,
// which it writes through the hooks in braces. A builder is therefore one
// VideoBuilderRow plus its hooks, handed to buildVideoFrame().

// When the frame writes explicit "-map" options instead of letting the
// engine pick streams.
enum class StreamMapRule {
    // A chosen track other than the first, or streams the engine counts
    // differently from our probe. The chosen subtitle is drawn into the
    // picture, so "-sn" always follows the maps.
    TrackChoiceOrMismatch,
    // As above, and any chosen subtitle: it travels as a subtitle stream of
    // its own (embedded, or a file as the second input: an external file,
    // or a text stream of the source taken out to carry the position and the
    // trim), so the maps end with its map, or with "-sn" when there is none.
    SubtitleStream,
    // A chosen track other than the first; the stream counts are not
    // consulted. "-sn" always follows.
    TrackChoiceOnly,
};

// The "-threads" option after the source path.
enum class ThreadsRule {
    None,
    // Only when the configured core count differs from the processors we have.
    UnlessAllProcessors,
    Always,
};

// "-r" for a profile whose frame rate is "keep origin" (a profile rate is
// always written, except with None).
enum class FrameRateRule {
    None, // no "-r" at all
    // The source's own rate, when safe mode is on, the source rate is out of
    // range or the source is RealMedia.
    SourceRate,
    // The film rate 24000/1001 when the source rate is out of range.
    FixedRate,
};

// How the chosen subtitle reaches an output that carries it as a stream.
enum class SubtitleKind {
    None,
    Embedded, // a subtitle stream of the source
    External, // a subtitle file, the engine's second input
    // A text stream of the source taken out as an SRT file, the engine's
    // second input, so that the editor's position and the trim reach its cues.
    Extracted,
};

struct VideoBuilderRow;

// What a build knows while it runs; hooks read it and write through
// `writer`. A hook that cannot build its part calls fail().
struct VideoFrame {
    VideoFrame(const VideoBuilderRow& row, DNFileNode& node, const DNProfile& profile,
        const EncodeConfig& config, const DNTVideo& vtrack, ArgumentWriter& writer);

    const VideoBuilderRow& row;
    DNFileNode& node;
    const DNProfile& profile;
    const EncodeConfig& config;
    // The chosen video track.
    const DNTVideo& vtrack;
    ArgumentWriter& writer;
    // Whole seconds of output: the track's length, or the trimmed length.
    int32_t duration = 0;
    // A trim written before the input: the engine seeks to its start before
    // decoding the source.
    std::optional<Trim> seekedTrim;
    // Explicit stream maps are written.
    bool maps = false;
    SubtitleKind subtitle = SubtitleKind::None;
    // The rate the output's picture runs at, when the list sets one: the
    // graph changes the rate first, where each frame keeps its own time.
    QString pictureRate;
    // The picture filter graph, when there is one.
    std::optional<QString> graph;
    // Why the build was refused; empty while it goes on.
    QString failure;

    void fail(const QString& reason);
    bool failed() const { return !failure.isEmpty(); }
};

using FrameHook = std::function<void(VideoFrame&)>;

// One video builder: its name (in log lines and refusals), its choices among
// the frame's variants, and its own options. The constructor takes the
// choices every builder makes; the rest have the usual values.
struct VideoBuilderRow {
    VideoBuilderRow(const char* name, StreamMapRule streamMaps, ThreadsRule threads,
        FrameRateRule frameRate, QString container);

    const char* name = "";
    StreamMapRule streamMaps = StreamMapRule::TrackChoiceOrMismatch;
    ThreadsRule threads = ThreadsRule::None;
    FrameRateRule frameRate = FrameRateRule::FixedRate;
    // "-b:v" with the profile's bitrate.
    bool videoBitrate = true;
    // The chosen subtitle is drawn into the picture by the filter graph.
    bool burnSubtitles = true;
    // The picture is always padded to the profile's frame, whatever the
    // node's setting says.
    bool expandToProfile = false;
    // "-c:a" "-b:a" "-ar" "-ac".
    bool audioOptions = true;
    // The audio codec; null writes the profile's own.
    const char* audioCodec = nullptr;
    // The "-metadata" pairs of the node's output metadata.
    bool metadata = true;
    // What the encoder takes and the output's players expect: most encoders
    // write 8-bit 4:2:0.
    PictureTarget picture { true, true, true };
    // "-pix_fmt", for an encoder that would otherwise keep a source's format
    // that the output's players do not take; null leaves it to the encoder.
    const char* pixelFormat = nullptr;
    // The name after "-f".
    QString container;
    // What the join of a merge group's parts encodes again.
    JoinEncoding join;

    // Written right after the source input (and the trim that follows it).
    FrameHook afterInput;
    // Replaces the aspect step when set; writeAspect() is the usual one.
    FrameHook aspect;
    // The video codec and its rate control, before the filter graph.
    FrameHook codecBlock;
    // Right after the volume filter and the subtitle codec.
    FrameHook afterVolume;
    // Right before "-f".
    FrameHook beforeContainer;
    // Right after the container name.
    FrameHook afterContainer;
};

// Facts about the machine a build depends on; tests pass their own.
struct FrameEnvironment {
    int processorCount = 1;

    static FrameEnvironment current();
};

// Builds the command line of `row` for the node: a file node, or a merge
// group, which is handed to the group joiner unchanged. Null, with the reason
// in the log, when no sound command line can be made: no node or no profile,
// a chosen track outside its list, a refused argument or a failing hook.
ArgumentBlockPtr buildVideoFrame(const VideoBuilderRow& row,
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, const EncodeConfig& config,
    const FrameEnvironment& environment = FrameEnvironment::current());

// The usual aspect step: "-aspect" with the profile's aspect, unless it is
// "keep origin".
void writeAspect(VideoFrame& frame);

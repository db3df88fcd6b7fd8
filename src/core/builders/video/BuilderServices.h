#pragma once

#include "builders/video/PictureTarget.h"
#include "engine/ArgumentBlock.h"

#include <QString>

#include <cstdint>
#include <optional>

class DNFileNode;
class DNBaseEditSetting;
struct DNTVideo;
struct EncodeConfig;

// Services shared by the video and the audio command-line builders: output
// path, stream specifiers, volume and picture filters, and the joining of a
// merge group's converted members. Plain functions without state; they run
// on the conversion worker thread. A failure is logged and returned as an
// empty value, never thrown.

// --- Output path -----------------------------------------------------------

// A copy of `name` in which every "'" and every '"' becomes "_". A missing
// name is refused: empty result and a log line.
QString ReplaceQuotesInName(const std::optional<QString>& name);

// The full path of a new output file in `folder` (the home folder when null or
// empty) for the requested `outputName`, with the profile's `suffix` (null
// counts as empty). The name loses its extension, its quotes and its slashes
// (so that it cannot leave the folder) and becomes "Untitled" when nothing is
// left. The name's own extension is kept when it equals the suffix ignoring
// case, and "mp4" and "m4v" stand in for each other; otherwise the suffix is
// the extension. The result names no existing file: " (n)" is added before
// the extension as needed. Nothing is created. A missing name gives an empty
// string and a log line.
QString MakeOutputPath(
    const QString& folder, const std::optional<QString>& outputName, const QString& suffix);

// The file name MakeOutputPath starts from for `outputName` and `suffix`,
// before a number is added to keep it unique; for showing it beforehand.
// `middle` goes between the base and the extension (a DVD title's "_T2").
QString OutputFileName(
    const QString& outputName, const QString& suffix, const QString& middle = QString());

// --- Trim ------------------------------------------------------------------

// The kept part of a source, in seconds, as precise as the edit setting gives
// it: a trim to the end keeps the last frames.
struct Trim {
    double start = 0;
    double length = 0;
};

// The trim of `setting` on a selected video track lasting `duration` seconds,
// or none when trimming is off, the duration unknown or the trim refused.
std::optional<Trim> TrimOfSetting(const DNBaseEditSetting& setting, float duration);
// Why the trim of `setting` on that track leaves nothing to convert: it keeps
// less than a whole second (unless it keeps a shorter source whole) or starts
// outside the track. A build refuses it rather than convert what was not
// asked for; empty when the trim is none or can be kept.
QString TrimRefusal(const DNBaseEditSetting& setting, float duration);

// The trim counted from where the file engine's "-ss" counts, the start of the
// source's earliest stream: the editor counts from the first picture, which in
// a transport stream may come well after the sound's start.
Trim TrimFromFileStart(const Trim& trim, const DNTVideo& track);

// A time of a trim as the engines read it: seconds to the millisecond, without
// trailing zeros, whatever the user's locale ("71.96", "3528").
QString TrimTimeText(double seconds);

// --- Stream specifiers -----------------------------------------------------

// The specifier of the node's selected video, audio or subtitle track: "0:#id"
// when the track has an id (0 or more), the container lets the engine select
// by id and safe mode is off; else "0:v:n", "0:a:n" or "0:s:n" with the
// selected index. `bracketed` gives "[...]" for filter graphs. Empty, with a
// log line, when the selected index points outside the track list.
std::optional<QString> GenVideoStreamMark(
    const DNFileNode& node, bool bracketed, const EncodeConfig& config);
std::optional<QString> GenAudioStreamMark(
    const DNFileNode& node, bool bracketed, const EncodeConfig& config);
std::optional<QString> GenSubtitleStreamMark(
    const DNFileNode& node, bool bracketed, const EncodeConfig& config);

// --- Audio -----------------------------------------------------------------

// "volume=<gain>[audio]" with the node's volume percent as a factor with two
// decimals ("volume=1.50[audio]" for 150); empty when the volume is 100.
std::optional<QString> GenVolumeFilter(const DNFileNode& node, const EncodeConfig& config);

// --- Subtitles and picture -------------------------------------------------

// A copy of the subtitle file in UTF-8 in the temporary folder ("qzsub"
// prefix, the source's extension), and `charset` becomes "UTF-8". The file is
// read in `charset`, or, when that is empty, in the character set
// chooseSubtitleCharset tells with the tag of the file's name; a file without
// a letter to tell a set by is copied as it is, `charset` left alone. The
// whole file is read in the set (subtitleTextInSet). Empty, with a log line
// and no copy left behind, when the file cannot be read as readSubtitleFile
// reads it (a regular file of at most kMostSubtitleBytes), its set cannot be
// told, it is not valid text in its set, it holds no text (empty, or a
// byte-order mark or blank lines alone), or the copy cannot be written.
std::optional<QString> ConvertSubtitleToUTF8(const QString& path, QString& charset);

// The filter that draws the subtitle file into the picture arriving on the
// label "[VA]": "[VA]subtitles=filename=<copy>"; for the editor's top or
// centre `position` (the setting's subtitle position, 67 or 78), the style's
// alignment in ":force_style=". The file, in `charset`, is first copied
// with ConvertSubtitleToUTF8. When the engine seeks the source to the start of
// `seekedTrim` before decoding it (a trim written before the input), the cues
// of the SRT copy move back by as much, and a cue over by then goes; a copy
// that is no SRT cannot follow the seek and is left out. Empty, with a log
// line naming the subtitle, when the engine cannot read the file as subtitles,
// the copy fails, or no cue shows within the trim. The log names it by `name`
// ("stream 2 of \"film.mkv\"" for a file the caller took out of the source),
// or by the file's path when empty; so does noteBuildSubtitle when the
// subtitle goes into the command line. A file without `name`, the user's
// own, that cannot go in is noted with noteBuildSubtitleLeftOut too, and the
// driver fails the run with the log line.
std::optional<QString> GenSubtitlesFilter(const QString& path, const QString& charset,
    quint32 position, const std::optional<Trim>& seekedTrim = std::nullopt,
    const QString& name = {});

// The subtitle file as the copy a builder gives the engine as a subtitle
// stream: ConvertSubtitleToUTF8's copy, in which an SRT text gets the
// editor's top or centre `position` as an override tag opening every cue
// (a stream copy has no other place for it), every cue of an SRT or SSA/ASS
// text overlapping the `trim` of the output is narrowed to it (the engine
// drops a cue that starts before the cut), and, when `pictureSeconds` (the
// length of the source's picture) is known, a cue after the picture's end
// goes and one over it is cut there: the subtitle ends with the picture.
// Empty, with a log line naming the subtitle, when the engine cannot read the
// file as subtitles or the copy fails. An empty path, with a log line, when
// no cue of the text shows in the output (none within the trim and the
// picture), as the engine cannot read a text without cues. The log names the
// subtitle, and a file of the user's is noted, as GenSubtitlesFilter does.
std::optional<QString> GenSubtitleStreamFile(const QString& path, QString& charset,
    quint32 position, const std::optional<Trim>& trim, double pictureSeconds = 0,
    const QString& name = {});

// How a log line names the node's chosen subtitle stream to the user, for
// the file taken out of it: "stream 2 of \"<source>\"", counted from 1.
QString SubtitleStreamName(const DNFileNode& node);

// Whether GenSubtitleStreamFile writes `position` into the cues: the editor's
// top and centre; every other value leaves the lines at the bottom.
bool SubtitlePositionMovesCues(quint32 position);

// Whether the subtitle file at `path` is SubRip text, by its name ("film.SRT" too).
bool IsSrtFile(const QString& path);

// Whether the subtitle chosen for the node, drawn into the picture, is text
// whose cues GenVideoFilterChain moves with a seek: an SRT file, or a text
// stream of the source, which is taken out as SRT. A trimmed source can then
// be seeked before it is decoded instead of being decoded up to the cut.
bool SubtitleCuesFollowSeek(const DNFileNode& node);

// The "-filter_complex" graph of the node's picture edits, reading the
// selected video stream and ending on the label "[video]": deinterlacing,
// crop, scale to the profile's frame size, centred pad to that size when
// `expandToProfile` is on (callers pass the setting's autoExpandToProfile, or
// true where the output format needs the full frame), clockwise rotation and
// then a left-to-right mirror of the turned picture, the chosen subtitle when `burnSubtitles` is
// on (its text cues fitted to `seekedTrim`, the trim the engine seeks to before decoding), the
// watermark, and last `prefixFilter` when it is not empty. Empty when there is nothing to
// filter, and when the selected video index points outside the track list (logged).
// Between the mirror and the subtitle, the picture is brought to the output's
// `target`: a side it cannot take loses a pixel, and an HDR picture is tone-mapped.
// A `frameRate` ("25", "30000/1001") comes first of all: each frame is kept or
// dropped by its time, so the picture stays with the sound.
std::optional<QString> GenVideoFilterChain(const DNFileNode& node, const QString& prefixFilter,
    bool burnSubtitles, bool expandToProfile, const EncodeConfig& config,
    const std::optional<Trim>& seekedTrim = std::nullopt, const PictureTarget& target = {},
    const QString& frameRate = {});

// Quotes `value` for use as an option value inside a filter graph, so that
// ":", ",", ";", "[", "]", "'" and "\" in paths cannot end the value, the
// filter or the graph.
QString FilterGraphQuote(const QString& value);

// --- Merge groups ----------------------------------------------------------

// What a join encodes again, because a container's packets of that kind do
// not survive being copied into a new file of it, or lose their timing there;
// with neither, every stream is copied.
struct JoinEncoding {
    // The picture's codec, at the profile's bitrate.
    const char* pictureCodec = nullptr;
    const char* soundCodec = nullptr;
};

// The command line that joins the converted members of a merge group (exactly
// a DNFileGroupNode) without encoding again: a concat list of the members'
// output files in a "qzfl" temporary file, "-c copy" (or the codecs of
// `encoding`), the group's metadata and its output path, which is also stored
// as the group's output name. The duration is the sum of the members'
// selected video tracks. Null, with a log line, for another kind of node, a
// member that is not a file, or a list that cannot be written.
ArgumentBlockPtr Video_Concat_With_AVEncoder(DNFileNode& groupNode, int titleIndex,
    const EncodeConfig& config, const JoinEncoding& encoding = {});

// One line of a concat list naming `path`, quoted as the concat demuxer
// reads it (a "'" inside the path survives).
QString ConcatListLine(const QString& path);

// Writes a concat list into a "qzfl" temporary file and gives its path; an
// empty path, with a log line, when it cannot be written.
QString WriteConcatList(const QString& text);

#pragma once

#include "engine/ProgressInfo.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

// The encoder-core bridge: runs a DVD builder's command line on the installed
// mencoder as a child process, with ffmpeg as a finishing stage for the sound
// this mencoder cannot encode. Plain functions over plain records, meant to
// be called from the conversion worker thread; progress, stop and the state
// callback may be used from any thread.
//
// The DVD builders write their lists for the encoder core as it was
// designed; everything about this particular mencoder (its options, the words
// it rejects or misreads, the encoders it lacks) is the bridge's business.

// Reported through the state callback when a run starts.
constexpr int kEncoderCoreStateRunning = 3298;

// Results other than mencoder's own exit status.
constexpr int kEncoderCoreFailed
    = -1; // bad list, a program missing, a signal, a failed finishing stage
constexpr int kEncoderCoreStopped = -2; // EncoderCoreStop() ended the run: the output is incomplete

using EncoderCoreStateCallback = void (*)(int state, void* context);

// Where the state codes go; null to stop reporting. Called on the thread of
// the run; it may call EncoderCoreProgress() and EncoderCoreStop().
void EncoderCoreSetStateCallback(EncoderCoreStateCallback callback, void* context);

// Runs one command line (argument 0 "encoder", as a builder wrote it) and
// blocks until mencoder, and the finishing stage when there is one, have
// ended. `duration` is the output's length in whole seconds, the base of the
// percent; 0 takes mencoder's own percent. One run at a time: a second caller
// waits for the first run to end. The commands as run, the engines' messages
// and the reason of a failure go to the log. mencoder answers 0 for some runs
// that wrote nothing: the caller checks the output.
int EncoderCoreEncode(int argc, const char* const* argv, int duration);

// The running engine's progress (all zero before the first run).
ProgressInfo EncoderCoreProgress();

// Asks the current run to end: mencoder and the finishing stage get SIGINT
// and are killed when they have not ended within a grace period; the run then
// returns kEncoderCoreStopped. Returns at once; a stop that comes before the
// engines have started keeps them from starting.
void EncoderCoreStop();

// The last run as the bridge ran it: mencoder's command and, with a finishing
// stage, the word "|" and ffmpeg's command that read mencoder's output.
QStringList EncoderCoreLastCommand();
// Why the last run failed: mencoder's or ffmpeg's status and last message;
// empty when it did not.
QString EncoderCoreLastFailure();

// Building blocks of the bridge, open for tests.

// The part of a dumped sound a trimmed title keeps, in seconds on the dump's
// clock; `seconds` 0 to its end.
struct EncoderCoreSoundCut {
    double from = 0;
    double seconds = 0;
};

// ffmpeg's part of a run whose sound mencoder cannot encode itself: mencoder
// writes PCM in NUT, ffmpeg copies the picture and encodes the sound. Sound
// that mencoder copies into a DVD program stream comes through ffmpeg too,
// frame by frame on its own clock.
struct EncoderCoreFinishing {
    QString audioCodec; // ffmpeg's encoder, "aac" or "ac3"; "copy" for the copied sound
    QString bitrate; // kbit/s, as the list gave it
    QString format; // ffmpeg's muxer for the output
    bool audioOnly = false; // the sound alone, as a raw stream
    // A trimmed title's copied sound, dumped from the disc: ffmpeg takes it
    // from this file, past `soundSkipBytes`, and the picture alone from
    // mencoder.
    QString soundFile;
    qint64 soundSkipBytes = 0;
    EncoderCoreSoundCut soundCut;
    // The dump's frame (AC-3 32 ms, MPEG audio 24 ms at 48 kHz): AVI and a
    // raw stream keep no time, so their cut falls on a whole frame.
    double soundFrameSeconds = 0;
};

// A join of a merge's converted titles, which the bridge runs on ffmpeg: its
// concat demuxer places each title by its own timestamps, where mencoder
// appends each title's sound to the one before, however longer than its
// picture that ran.
struct EncoderCoreTitleJoin {
    QStringList titles;
    QString output;
    QString format; // ffmpeg's muxer
    QString aspect; // "-aspect" of the list; empty for the titles' own
    // "copy", or ffmpeg's encoder; empty for the encoder of the first title
    // with sound, where the container keeps no timestamps (AVI) and so
    // copied sound would be appended as mencoder appends it. "copy" too
    // takes that encoder when a title has no sound.
    QString soundCodec;
    QString soundBitrate; // kbit/s; empty for that title's (or the encoder's default)
};

// A trimmed title: mencoder's seek on a disc puts picture and sound in
// different places (the picture on the next key frame, up to half a second
// after the sound) and its A-V correction then drops pictures. The title is
// read instead from the start of one of its units (what lies between two of
// the disc's navigation packs) a second or more before the trim, or from
// its own start, and what lies before the trim is decoded and dropped frame
// by frame through an edit list. mencoder loses the disc's sound over such a
// cut, so the sound comes from a file the title's sound was decoded to
// beforehand.
struct EncoderCoreTrimmedTitle {
    double start = 0; // seconds into the title
    double length = 0; // seconds kept; 0 to the title's end
    QString title; // "dvd://N"
    QString device;
    bool sound = true;
    QString audioId; // empty for the disc's first sound track
    QString channels; // the list's "-channels", empty for the disc's own
    // The disc's sound copied into a DVD program stream: it is dumped as it
    // is and cut by the finishing stage.
    bool copiedSound = false;
    // The list's "-ofps" in pictures a second, 0 for the title's own:
    // mencoder repeats or drops pictures to make it.
    double outputRate = 0;
};
struct EncoderCorePlan {
    QStringList arguments; // mencoder's arguments, program name excluded
    qsizetype outputAt = -1; // the position of the output path in `arguments`, -1 for none
    std::optional<EncoderCoreFinishing> finishing;
    bool join = false; // `arguments` are ffmpeg's: a join of files through a concat list
    // A join of converted titles, run on ffmpeg; `arguments` run instead
    // when the titles cannot be measured, and mencoder says why.
    std::optional<EncoderCoreTitleJoin> titleJoin;
    // A list that reads part of a title and encodes its sound, or has none;
    // one that copies the disc's sound keeps mencoder's seek.
    std::optional<EncoderCoreTrimmedTitle> trim;
};

// The builder's list (argument 0 included) turned into mencoder's run, or
// into ffmpeg's when the list joins files through a concat list ("-f
// concat"), which mencoder cannot read, or joins two or more converted
// titles. With a finishing stage the output path in `arguments` is still the
// builder's; the run puts its FIFO there.
EncoderCorePlan EncoderCoreAdaptArguments(const QStringList& builderArguments);
// Whether the list's "-ofps" (`outputRate`, "30000/1001") changes a title
// of `titleRate` pictures a second; false when either is unknown.
bool EncoderCoreChangesRate(const QString& outputRate, double titleRate);
// ffmpeg's arguments (program name excluded) for a finishing stage reading
// `input` and writing `output`.
QStringList EncoderCoreFinishingArguments(
    const EncoderCoreFinishing& finishing, const QString& input, const QString& output);

// What a title join needs to know of each title's file, measured before it
// runs: seconds on the file's own clock.
struct EncoderCoreJoinedTitle {
    QString path;
    double start = 0; // the file's start, where the concat demuxer puts a title
    double pictureStart = 0; // the first frame's time
    double pictureEnd = 0; // the end of the last frame
    double soundEnd = 0; // the end of the sound; 0 without sound
    double pictureSeconds() const { return pictureEnd - pictureStart; }
};
struct EncoderCoreSoundShape {
    QString encoder; // ffmpeg's encoder for the sound's codec; empty when none
    int rate = 0;
    int channels = 0;
    qint64 bitRate = 0; // bit/s, 0 when unknown
};
// The concat list of a join. When the sound is encoded, a title's part is its
// picture, from its first frame to its last frame's end, so the next
// title's picture follows at once (AVI would drop a gap between them, and a
// picture that starts late would add a frame). Copied sound cannot be cut:
// the part runs from the file's start until the later of picture and sound
// ends, so that no title's sound runs into the next one's. Empty for a path
// the list cannot hold.
QString EncoderCoreJoinList(const std::vector<EncoderCoreJoinedTitle>& titles, bool soundEncoded);
// What the join's run measured: its titles, the first sound among them and
// the samples of silence the join's sound encoder puts before the sound.
struct EncoderCoreJoinFacts {
    std::vector<EncoderCoreJoinedTitle> titles;
    EncoderCoreSoundShape firstSound;
    int encoderDelay = 0;
};
// Each title's file measured; nothing, and why, when a picture cannot be read.
// Reading long files ends when `stopped` says so.
std::optional<EncoderCoreJoinFacts> EncoderCoreMeasureTitles(
    const QStringList& paths, QString& failure, const std::function<bool()>& stopped = {});
// The samples of silence `encoder` puts before sound of that shape, as it
// says once opened; 0 when it cannot be opened.
int EncoderCoreEncoderDelay(const QString& encoder, const EncoderCoreSoundShape& shape);
// ffmpeg's encoder for the joined sound, or "copy" (also when no title has
// sound); sound that would be copied is encoded when a title has none.
QString EncoderCoreJoinSoundEncoder(
    const EncoderCoreTitleJoin& join, const EncoderCoreJoinFacts& facts);
// ffmpeg's arguments for a join: the pictures, and copied sound, through the
// concat list `lists[0]`; encoded sound from each title's own file, through
// its own list `lists[1 + n]` (so that its clock starts where the joined
// list puts the title's), cut at its picture's end or filled with silence
// up to it, so that every title's sound starts with its picture.
QStringList EncoderCoreJoinArguments(
    const EncoderCoreTitleJoin& join, const QStringList& lists, const EncoderCoreJoinFacts& facts);
// The files of a concat list as the builders write it ("file '<path>'" lines,
// a quote in a path written '\''); empty for a list with any other line.
QStringList EncoderCoreConcatListFiles(const QString& list);

// A title's display aspect, as mencoder takes "-aspect" ("1.3333"), and its
// pictures a second.
struct EncoderCoreTitleShape {
    QString aspect;
    double rate = 0;
};
// The shape of title `titleNumber` of a disc folder (one that holds VIDEO_TS,
// or VIDEO_TS itself), as its IFO files name it; nothing for an image, a
// drive, or files that do not read as a disc's.
std::optional<EncoderCoreTitleShape> EncoderCoreFolderTitleShape(
    const QString& device, int titleNumber);

// What a read of a title tells of it: its rate, length and sound, and where
// its trim's part is read from, on the disc's clock.
struct EncoderCoreTitleStart {
    // The first picture of the stretch of the title whose clock runs on
    // without a restart up to the trim's start, and its time in the title.
    double picture = 0;
    double pictureTitleTime = 0;
    // The first sound frame where the title is read from (on the same
    // clock), which is where the trim's sound file starts.
    double sound = 0;
    double frameSeconds = 0;
    double titleSeconds = 0; // the title's length, 0 when unknown
    QString soundFormat; // mplayer's ID_AUDIO_FORMAT ("8192" for AC-3)
    // Where the title is read from: a unit's first byte, or 0 for the
    // title's own start.
    qint64 readFrom = 0;
};

// mplayer's ID_AUDIO_FORMAT of the sound a trimmed title's dump can hold:
// AC-3 and MPEG audio, whose frames ffmpeg finds in a raw stream.
bool EncoderCoreDumpsSound(const QString& soundFormat);
// The duration of one frame of that sound at 48 kHz; 0 for another.
double EncoderCoreSoundFrameSeconds(const QString& soundFormat);

// A unit of a title as mplayer's scan of its packets shows it: where it lies
// and the earliest time of the pictures whose packets start in it.
struct EncoderCoreTitleUnit {
    qint64 sector = 0; // its navigation pack, as the disc's reader names it
    // Its first picture packet's byte as the demuxer counts them (from the
    // start of the title's set of files); -1 when it has none.
    qint64 firstPacket = -1;
    double firstPicture = -1; // on the disc's clock; -1 when no picture starts in it
};
// Reads mplayer's lines of a scan (its demuxer's and its DVD reader's
// messages) into the title's units, in the order they come. Lines of the
// format probe, which reads the start twice, are left out.
class EncoderCoreTitleScan {
public:
    // True for a line the scan took.
    bool readLine(const QString& line);
    const std::vector<EncoderCoreTitleUnit>& units() const { return m_units; }

private:
    std::vector<EncoderCoreTitleUnit> m_units;
};
// The byte mplayer starts reading the title at when told to ("-sb", which
// counts from the title's first sector) for the unit `index`: the sector
// that holds its first picture packet; -1 when it has none.
qint64 EncoderCoreUnitByte(const std::vector<EncoderCoreTitleUnit>& units, std::size_t index);
// A stretch of units whose clock runs on: where the disc's clock restarts
// (titles made of several files, cells of other sources), a new one begins.
struct EncoderCoreClockRun {
    std::size_t firstUnit = 0;
    std::size_t endUnit = 0; // past its last unit
    double clockStart = 0; // its first picture, on the disc's clock
};
std::vector<EncoderCoreClockRun> EncoderCoreClockRuns(
    const std::vector<EncoderCoreTitleUnit>& units);
// Whether the disc's clock restarted between two units whose first pictures
// lie at these times: it went back, or on by more than a unit lasts.
bool EncoderCoreClockRestarts(double previousUnit, double nextUnit);
// Where a trimmed title is read from: the unit of its clock run that starts
// a second or more before the trim's first picture (the run's first unit
// when none does), given each run's time in the title. Fills `start`'s
// picture, pictureTitleTime and readFrom; false when no run holds the trim
// or its unit cannot be reached by its byte alone (bytes read twice).
bool EncoderCorePlaceTrim(const EncoderCoreTrimmedTitle& trim,
    const std::vector<EncoderCoreTitleUnit>& units, const std::vector<EncoderCoreClockRun>& runs,
    const std::vector<double>& runTitleTimes, EncoderCoreTitleStart& start);

// mplayer's arguments that dump the trimmed title's sound as it lies on the
// disc, from where it is read to a second past the trim, into `soundFile`.
QStringList EncoderCoreTrimSoundDumpArguments(const EncoderCoreTrimmedTitle& trim,
    const EncoderCoreTitleStart& start, const QString& soundFile);
// ffmpeg's arguments that decode that dump, past `skipBytes`, from `from`
// seconds on ffmpeg's clock of it, into a WAV file of 16-bit samples, mixed
// down as mencoder's decoder would to the list's channels.
QStringList EncoderCoreTrimSoundDecodeArguments(const EncoderCoreTrimmedTitle& trim,
    const QString& soundFormat, const QString& dump, qint64 skipBytes, double from,
    const QString& soundFile);
// mplayer's arguments that decode the trimmed title's sound, for sound its
// dump cannot hold (LPCM), into a WAV file of 16-bit samples.
QStringList EncoderCoreTrimSoundArguments(const EncoderCoreTrimmedTitle& trim,
    const EncoderCoreTitleStart& start, const QString& soundFile);
// The part of a trimmed title's dumped sound that lies under the pictures
// kept.
EncoderCoreSoundCut EncoderCoreTrimSoundCut(
    const EncoderCoreTrimmedTitle& trim, const EncoderCoreTitleStart& start);
// The edit list that drops the title's pictures before the trim's start.
QString EncoderCoreTrimCutList(
    const EncoderCoreTrimmedTitle& trim, const EncoderCoreTitleStart& start);
// mencoder's arguments reading the title from where `start` says, cut by
// `cutList`, the sound from `soundFile` (none when the list has no sound),
// and ending after the trim's pictures; nothing when the sound file starts
// too early on the disc's clock for mencoder to be told where it is.
std::optional<QStringList> EncoderCoreReadTrimFromStart(QStringList arguments,
    const EncoderCoreTrimmedTitle& trim, const EncoderCoreTitleStart& start, const QString& cutList,
    const QString& soundFile);

// Reads one of mencoder's status lines ("Pos:  12.3s    369f (20%) ...") into
// `progress`; other lines leave it as it is. False for a line that is not one.
bool EncoderCoreReadProgressLine(const QString& line, int duration, ProgressInfo& progress);

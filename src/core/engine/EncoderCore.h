#pragma once

#include "engine/ProgressInfo.h"

#include <QString>
#include <QStringList>

#include <optional>

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

// ffmpeg's part of a run whose sound mencoder cannot encode itself: mencoder
// writes PCM in NUT, ffmpeg copies the picture and encodes the sound. Sound
// that mencoder copies into a DVD program stream comes through ffmpeg too,
// frame by frame on its own clock.
struct EncoderCoreFinishing {
    QString audioCodec; // ffmpeg's encoder, "aac" or "ac3"; "copy" for the copied sound
    QString bitrate; // kbit/s, as the list gave it
    QString format; // ffmpeg's muxer for the output
    bool audioOnly = false; // the sound alone, as a raw stream
};

struct EncoderCorePlan {
    QStringList arguments; // mencoder's arguments, program name excluded
    qsizetype outputAt = -1; // the position of the output path in `arguments`, -1 for none
    std::optional<EncoderCoreFinishing> finishing;
    bool join = false; // `arguments` are ffmpeg's: a join of files through a concat list
};

// The builder's list (argument 0 included) turned into mencoder's run, or
// into ffmpeg's when the list joins files through a concat list ("-f
// concat"), which mencoder cannot read. With a
// finishing stage the output path in `arguments` is still the builder's; the
// run puts its FIFO there.
EncoderCorePlan EncoderCoreAdaptArguments(const QStringList& builderArguments);
// ffmpeg's arguments (program name excluded) for a finishing stage reading
// `input` and writing `output`.
QStringList EncoderCoreFinishingArguments(
    const EncoderCoreFinishing& finishing, const QString& input, const QString& output);
// Reads one of mencoder's status lines ("Pos:  12.3s    369f (20%) ...") into
// `progress`; other lines leave it as it is. False for a line that is not one.
bool EncoderCoreReadProgressLine(const QString& line, int duration, ProgressInfo& progress);

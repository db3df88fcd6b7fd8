#pragma once

#include "engine/ProgressInfo.h"

#include <QString>
#include <QStringList>

// The file encoder bridge: runs a built command line on the installed ffmpeg
// as a child process. Plain functions over plain records, meant to be called
// from the conversion worker thread; progress, stop and the state callback
// may be used from any thread.
//
// Builders write their lists for the engine as it was designed; everything
// that is about this particular ffmpeg (the program, words it rejects, its
// progress and quiet options) is the bridge's business alone.

// Reported through the state callback when a run starts.
constexpr int kAVEncoderStateRunning = 3298;

// Results other than ffmpeg's own exit status (0 is success, 1 to 255 are
// ffmpeg's failures).
constexpr int kAVEncoderFailed = -1; // bad list, ffmpeg missing or ended by a signal
constexpr int kAVEncoderStopped = -2; // AVEncoderStop() ended the run: the output is incomplete

using AVEncoderStateCallback = void (*)(int state, void* context);

// Where the state codes go; null to stop reporting. Called on the thread of
// the run; it may call AVEncoderProgress() and AVEncoderStop(), not start a run.
void AVEncoderSetStateCallback(AVEncoderStateCallback callback, void* context);

// Runs one command line (argument 0 the program name, as a builder wrote it)
// and blocks until ffmpeg has ended. `duration` is the output's length in
// whole seconds, the base of the percent; 0 leaves the percent at 0. One run
// at a time: a second caller waits for the first run to end. The command as
// run, the engine's messages and the reason of a failure go to the log.
int AVEncoderEncode(int argc, const char* const* argv, int duration);

// The running engine's progress (all zero before the first run).
ProgressInfo AVEncoderProgress();

// Asks the current run to end (ffmpeg finishes its output on SIGINT, and is
// killed when it has not within a grace period); the run then returns
// kAVEncoderStopped. Returns at once; does nothing when no run is under way.
void AVEncoderStop();

// Writes the source's subtitle stream "0:s:<index>" as an SRT file at the
// output path, replacing what is there; 0 on success. Waits for a running
// encode like AVEncoderEncode.
int AVEncoderExtractSubFile(const char* sourcePath, int subtitleIndex, const char* outputPath);

// The program and arguments of the last run, as the bridge ran them.
QStringList AVEncoderLastCommand();
// Why the last run failed, as ffmpeg's status and last message; empty when
// it did not.
QString AVEncoderLastFailure();

// Building blocks of the bridge, open for tests.
//
// The builder's list (argument 0 included) turned into ffmpeg's arguments
// (program name excluded), before the bridge's own options are added.
QStringList AVEncoderAdaptArguments(const QStringList& builderArguments);
// Reads one "key=value" line of ffmpeg's -progress output into `progress`.
void AVEncoderReadProgressLine(const QString& line, int duration, ProgressInfo& progress);

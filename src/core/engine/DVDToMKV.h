#pragma once

#include "engine/ProgressInfo.h"
#include "engine/ToolBridge.h"

#include <QString>
#include <QStringList>

// The DVD-to-MKV bridge: runs the HandBrake-style builders' lists (argument
// 0 "encoder") on the installed HandBrakeCLI as a child process. Plain
// functions over the bridge's module state, as the other bridges.

// The job's entry: runs the list and blocks until HandBrakeCLI has ended. A
// `duration` above 0 is a stop limit, for a list that names no "--stop-at"
// of its own: the job ends once that many seconds of the title are
// converted. 0, HandBrakeCLI's failure status (2: a source
// or title it cannot open, 3: an output it cannot write, 5: a read error),
// or one of the kToolBridge results; a failed or stopped run leaves no
// output of its own. HandBrakeCLI answers 0 for some runs that wrote nothing
// or dropped tracks: the caller checks the output.
int appMain(int argc, const char* const* argv, int duration);
// Stops the running job: HandBrakeCLI gets SIGINT (it ends within half a
// second) and is killed after a grace period.
void HBStopJob();
ProgressInfo DVDToMKVProgress();
void DVDToMKVSetStateCallback(ToolBridgeStateCallback callback, void* context);
QStringList DVDToMKVLastCommand();
QString DVDToMKVLastFailure();

// Building blocks of the bridge, open for tests.
//
// HandBrakeCLI's arguments (program name excluded) for the builder's list.
QStringList DVDToMKVAdaptArguments(const QStringList& builderArguments, int duration);
// Reads "Encoding: task 1 of 1, 43.45 %" into `progress`.
bool DVDToMKVReadProgressLine(const QString& line, int duration, ProgressInfo& progress);

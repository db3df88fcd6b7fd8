#pragma once

#include "engine/ProgressInfo.h"
#include "engine/ToolBridge.h"

#include <QString>
#include <QStringList>

// The stream-dump bridge: runs the full-backup builder's list (a title's
// streams dumped unchanged into one file) on the installed mplayer. The list
// has no program-name slot: every word from the first one on is mplayer's.
// Plain functions over the bridge's module state, as the other bridges.

// Runs the list and blocks until mplayer has ended. `duration` is the
// dump's length in seconds; progress is the dump file's size against the
// part of the title it covers, whose sectors the title reader gives. A disc
// the reader refuses, or one without the title, fails before mplayer starts.
// 0, mplayer's failure status, or one of the kToolBridge results; a failed or
// stopped run leaves no dump of its own.
int PlayerStreamDumpEncode(int argc, const char* const* argv, int duration);
ProgressInfo PlayerStreamDumpProgress();
// mplayer gets SIGINT; a stop before it has started keeps it from starting.
void PlayerStreamDumpStop();
void PlayerStreamDumpSetStateCallback(ToolBridgeStateCallback callback, void* context);
QStringList PlayerStreamDumpLastCommand();
QString PlayerStreamDumpLastFailure();

// mplayer's arguments for the builder's list (program name excluded).
QStringList PlayerStreamDumpAdaptArguments(const QStringList& builderArguments);

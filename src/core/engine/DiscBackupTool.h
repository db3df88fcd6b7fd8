#pragma once

#include "engine/ProgressInfo.h"
#include "engine/ToolBridge.h"

#include <QString>
#include <QStringList>

// The ISO backup bridge: runs the ISO builder's three words (source, output,
// "iso") with no program-name slot. A DVD folder becomes an image through
// genisoimage; an ISO image is copied, and a drive read sector by sector,
// by the bridge itself. Plain functions over the bridge's module state.

// Makes the image and blocks until it is written. `duration` is the disc's
// length, the base of the reported time. 0, genisoimage's failure status,
// or one of the kToolBridge results; a failed or stopped run leaves no image
// of its own, and the source is never written to.
int DiscBackupToolEncode(int argc, const char* const* argv, int duration);
ProgressInfo DiscBackupToolProgress();
// genisoimage gets SIGINT; a copy stops before its next block.
void DiscBackupToolStop();
void DiscBackupToolSetStateCallback(ToolBridgeStateCallback callback, void* context);
QStringList DiscBackupToolLastCommand();
QString DiscBackupToolLastFailure();

// Building blocks of the bridge, open for tests.
//
// genisoimage's arguments for a folder source (program name excluded): the
// folder that holds VIDEO_TS, the parent when `source` is VIDEO_TS itself.
// Empty, with the reason in `failure`, for a folder without VIDEO_TS.
QStringList DiscBackupToolImageArguments(
    const QString& source, const QString& output, QString& failure);
// Reads genisoimage's " 45.12% done, estimate finish ..." lines.
bool DiscBackupToolReadProgressLine(const QString& line, int duration, ProgressInfo& progress);

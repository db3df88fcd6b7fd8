#pragma once

#include "engine/ArgvAssemblerTables.h"
#include "engine/ProgressInfo.h"
#include "model/NXBasicMediaNode.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <span>

// The conversion driver: turns one list node and its profile into engine runs
// (engine choice, builder, two passes, merge groups, cover art). Plain
// functions over module state; one conversion at a time. Start runs on the
// conversion worker thread and blocks until the node is done; progress and
// stop may be called from any thread.

// Results of a conversion besides the engine's own status (0 is success).
constexpr int kDNVideoConverterFailed = -1; // no builder, no list, no engine, bad node
constexpr int kDNVideoConverterStopped = -2; // DNVideoConverterStop() ended it: no complete output
constexpr int kDNVideoConverterBusy = -3; // another conversion is running

// The state code every engine reports when a pass starts.
constexpr int kDNVideoConverterStatePassStarted = 3298;

// Receives the engines' state codes, on the worker thread.
using DNVideoConverterStateCallback = void (*)(int state, void* context);

// For a DVD entry: every selected title, one after the other.
constexpr int32_t kDNVideoConverterEverySelectedTitle = -1;

// Converts one node: a file, a merge group (members first, then the group),
// or a DVD entry: the title at `titleIndex` (a position in its titles), or
// with kDNVideoConverterEverySelectedTitle every selected one; merged titles
// (a DNDVDGroupTitle, or an entry whose mergeIntoOne is set) become one
// output whatever the index. Files and groups take 0. Refuses to start
// while another conversion runs. The outputs of MP4, M4V and 3GP runs get the
// source's picture as cover art.
int DNVideoConverterStart(const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex,
    DNVideoConverterStateCallback stateCallback, void* context);

// Where the running engine is; the last reading once it has ended.
ProgressInfo DNVideoConverterProgress();

// Ends the running conversion: the engine is stopped, and no further member or
// pass is started; a stop that comes before the engine has started (while the
// list is built, between members or passes) ends it without starting the
// engine. A stop while no conversion runs is kept for the next start, which
// then ends at once as stopped: a caller walking a list of entries may be
// stopped between two of them.
void DNVideoConverterStop();

// Drops a stop kept for the next start; a caller calls it before it begins a
// new list of entries.
void DNVideoConverterForgetStop();

bool DNVideoConverterIsRunning();

// Why the last conversion failed, as the log says: a refusal, the engine's
// last words, a check of the output. Empty after one that succeeded or was
// stopped.
QString DNVideoConverterLastFailure();

// The engines a node can run on. DVD entries pick theirs by the profile's
// GlobalID, and the HandBrake-style MP4 builder's by its builder name; files,
// merge groups and photo albums all run on the file encoder.
enum class DNConversionEngineKind {
    FileEncoder,
    EncoderCore,
    PlayerStreamDump,
    DiscBackupTool,
    DVDToMKV,
};

// The profile ids that send a DVD entry to an engine other than the encoder core.
constexpr int kGlobalIDPlayerStreamDump = 1000003;
constexpr int kGlobalIDDiscBackupTool = 1000002;
constexpr int kGlobalIDDVDToMKV = 1000005;
// The MP4 profile that HandBrakeCLI runs keeps an id of its own (ids are
// unique in the catalogue), so its builder name chooses the engine.
constexpr const char* kHandBrakeMP4Builder = "DVD_To_MP4_H264_With_HandBrake";

DNConversionEngineKind conversionEngineKind(
    NXNodeClass nodeClass, int globalID, const QString& builderName);

// One engine bridge as the driver drives it.
struct DNConversionEngine {
    const char* name;
    // Runs the list to its end and answers the engine's status.
    int (*encode)(const ArgumentBlock& block);
    ProgressInfo (*progress)();
    void (*stop)();
    void (*setStateCallback)(DNVideoConverterStateCallback callback, void* context);
    // The command as the bridge last ran it.
    QStringList (*lastCommand)();
    // Why the bridge's last run failed, in its words.
    QString (*lastFailure)();
};

// The bridge of that kind.
const DNConversionEngine& conversionEngine(DNConversionEngineKind kind);

// The builder tables the driver looks profiles' builder names up in: the
// program's own unless others are put in place (a tool or a test with
// builders of its own). The rows must outlive their use.
void DNVideoConverterSetAssemblerTables(
    std::span<const ArgvAssemblerEntry> dvdTable, std::span<const ArgvAssemblerEntry> videoTable);
void DNVideoConverterUseProgramAssemblerTables();

// What one engine run was, for those who report runs one by one.
struct DNEngineRun {
    QStringList built; // the builder's list
    QStringList ran; // the command as the engine ran it
    int status = 0;
    // The run's output: the name it got once checked and named (the
    // builder's choice, or the next free name when another writer took that
    // first), else the hidden name the engine wrote it under.
    QString output;
};
using DNEngineRunObserver = void (*)(const DNEngineRun& run, void* context);

// Called on the worker thread after every engine run; null to stop.
void DNVideoConverterSetRunObserver(DNEngineRunObserver observer, void* context);

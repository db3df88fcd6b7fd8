#pragma once

// The conversion driver's DVD path, for DNVideoConverter.cpp alone.

#include "engine/ArgvAssemblerTables.h"
#include "engine/EncodeConfig.h"

#include <QString>

#include <cstdint>
#include <memory>

class DNDVDNode;
class NXBasicMediaNode;

// What the DVD path uses of the driver: one engine run of the profile's
// builder, the same with the profile's passes, whether a stop was asked for,
// how a refusal reaches the user: as the conversion's first reason, or as
// the one that explains it best, and the end of a run's output once it is
// checked: named when the result is 0, else removed (the result, which
// fails when no name can be taken), and the builder a profile names.
struct DNVideoConverterDVDDriver {
    int (*runOnce)(
        const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, const EncodeConfig&);
    int (*runPasses)(
        const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig);
    bool (*stopRequested)();
    void (*reportFailure)(const QString& message);
    void (*explainFailure)(const QString& message);
    int (*settleOutput)(int result);
    ArgvAssembler (*findAssembler)(const char* name);
};

// Why an output cannot be written at `output` under its hidden partial name:
// its folder's path leaves no room for the name within an engine's argument.
// Empty when it can.
QString heldOutputProblem(const QString& output);

// Converts a DVD entry: the title at `titleIndex`, or every selected title
// on its own for a negative index, or, when the titles are merged (a
// DNDVDGroupTitle, or a node whose mergeIntoOne is set), the titles into the
// temporary folder and then their join. Every output is checked before it
// takes its name; a failed or stopped run leaves no file of its own behind.
int convertDVDEntry(const std::shared_ptr<DNDVDNode>& node, int32_t titleIndex,
    const EncodeConfig& config, const DNVideoConverterDVDDriver& driver);

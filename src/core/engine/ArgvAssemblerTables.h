#pragma once

#include "engine/ArgumentBlock.h"
#include "engine/EncodeConfig.h"

#include <cstdint>
#include <memory>
#include <span>

class NXBasicMediaNode;

// A builder: the node to convert (a file, a merge group, a DVD or its merged
// titles), the index of the title being converted (0 for files, -1 for the
// merge run of DVD titles) and the run's options. It returns the command line,
// which the caller owns, or null when none can be made.
using ArgvAssembler = ArgumentBlockPtr (*)(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

// One row: the name a profile gives under "ArgvAssembler", and its builder.
struct ArgvAssemblerEntry {
    const char* name;
    ArgvAssembler assembler;
};

// The rows of both tables live in builders/ArgvAssemblerRows.cpp, beside
// the builders they list.
// The builders of DVD titles.
std::span<const ArgvAssemblerEntry> DVDArgvAssemblerTable();
// The builders of media files, video and audio.
std::span<const ArgvAssemblerEntry> VideoArgvAssemblerTable();

// Whether the DVD builder of that name can merge titles into one output: the
// backups of one title, the sound-only builders and the HandBrake-style one
// convert one title at a time. Like the tables, this lives with the builders.
bool DVDArgvAssemblerMergesTitles(const char* name);

// The builder of that name in the DVD table, else in the media file table;
// null when neither has it. Names are compared byte for byte, rows in table
// order, and the first equal row wins.
ArgvAssembler findArgvAssembler(const char* name);
// The same lookup in the media file table alone.
ArgvAssembler FindAVEncoderAssembler(const char* name);
// The same lookup over any two tables.
ArgvAssembler findArgvAssemblerIn(const char* name, std::span<const ArgvAssemblerEntry> dvdTable,
    std::span<const ArgvAssemblerEntry> videoTable);

// Logs a command line as one line, every argument followed by a blank. A null
// block is logged as a failed build; the result says whether there was one.
bool logArgumentBlock(const ArgumentBlock* block);
// The text logArgumentBlock writes for a block.
QString argumentLine(const ArgumentBlock& block);

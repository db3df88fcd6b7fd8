#pragma once

#include "engine/ArgumentBlock.h"

#include <memory>

class NXBasicMediaNode;
struct EncodeConfig;

// What sets one audio output format apart. Both command lines of every format
// (one source file, a merge group) are otherwise the same, so a format is a
// row of data and the frame in AudioBuilder.cpp writes the lists.
struct AudioFormat {
    // The builder's name in the table; its single-path log lines carry it.
    const char* name = nullptr;
    // The name the merge-group path's log lines carry.
    const char* groupName = nullptr;
    // The encoder after "-c:a"; null lets the container pick its default.
    const char* codec = nullptr;
    // "-b:a" <quality>k; formats without a bitrate do not read the quality.
    bool bitrate = true;
    // "-ac" <channels>.
    bool channels = true;
    // A fixed option pair after the channel count, or none.
    const char* extraOption = nullptr;
    const char* extraValue = nullptr;
    // The group path writes the codec options at all.
    bool groupCodecOptions = true;
    // The group path writes its concat filter before the codec options.
    bool groupFilterFirst = false;
    // The "-f" value of each path; null writes no "-f" pair and the output's
    // extension decides.
    const char* singleContainer = nullptr;
    const char* groupContainer = nullptr;
};

// The format's command line for the node: the merge-group path for exactly a
// DNFileGroupNode, the single-source path for another file node.
ArgumentBlockPtr assembleAudioArguments(const AudioFormat& format,
    const std::shared_ptr<NXBasicMediaNode>& node, const EncodeConfig& config);

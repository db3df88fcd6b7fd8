#pragma once

#include "engine/ArgvAssemblerTables.h"

// VOB files: MPEG-2 video with a fixed set of encoder options and either a
// bitrate or a constant-quality model, MP2 audio.
ArgumentBlockPtr Video_To_VOB_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

// DVD files for one television standard ("NTSC" or "PAL"): the engine's DVD
// target stands for every codec, rate and audio option; the builder writes
// only the edits, with the picture padded to the full DVD frame.
ArgumentBlockPtr Video_To_DVD_With_AVEncoder(const std::shared_ptr<NXBasicMediaNode>& node,
    int32_t titleIndex, const QString& standard, EncodeConfig config);

ArgumentBlockPtr Video_To_NTSCDVD_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr Video_To_PALDVD_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

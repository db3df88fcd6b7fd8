#pragma once

#include "engine/ArgvAssemblerTables.h"

// Phone outputs. Each entry hands the node to one of two cores by the
// profile's video codec: exactly "h264" goes to the H.264 core, every other
// value to the MPEG-4 core. `kind` 1 makes the cores write a 3G2 file, any
// other value a 3GP file.
ArgumentBlockPtr Video_To_3GP_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr Video_To_3G2_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

// MPEG-4 Part 2 through libxvid, AAC audio. A "keep origin" aspect on an AVI
// source is written out from the source track, whose container may not
// carry it into the phone file by itself.
ArgumentBlockPtr Video_To_GP_XVID_With_AVEncoder(int kind,
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

// H.264 baseline-style options through libx264, AAC audio.
ArgumentBlockPtr Video_To_GP_H264_With_AVEncoder(int kind,
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

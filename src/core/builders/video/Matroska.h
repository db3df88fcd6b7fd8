#pragma once

#include "engine/ArgvAssemblerTables.h"

// Matroska outputs: MPEG-4 or H.264 video by the profile, the profile's audio
// codec, and the chosen subtitle carried as a subtitle stream.
ArgumentBlockPtr Video_To_MKV_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

// High-definition Matroska: H.264 at the "slow" preset, AAC audio, the chosen
// subtitle carried as a subtitle stream.
ArgumentBlockPtr Video_To_HD_MKV_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

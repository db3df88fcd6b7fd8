#pragma once

#include "engine/ArgvAssemblerTables.h"

// RealMedia: RealVideo 2.0 at the profile's bitrate, AC-3 audio, the chosen
// subtitle drawn into the picture.
ArgumentBlockPtr Video_To_RM_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

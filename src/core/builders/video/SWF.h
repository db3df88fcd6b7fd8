#pragma once

#include "engine/ArgvAssemblerTables.h"

// SWF: FLV1 video at the profile's bitrate, MP3 audio, the chosen subtitle
// drawn into the picture.
ArgumentBlockPtr Video_To_SWF_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

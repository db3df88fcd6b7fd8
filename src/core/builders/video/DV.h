#pragma once

#include "engine/ArgvAssemblerTables.h"

// A DV stream: the engine's NTSC or PAL DV target (picked by the profile's
// frame size) stands for codec, rate and audio options; the picture is always
// padded to the full DV frame and the chosen subtitle drawn into it.
ArgumentBlockPtr Video_To_DV_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

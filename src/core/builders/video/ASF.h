#pragma once

#include "engine/ArgvAssemblerTables.h"

// ASF: MPEG-4 Part 2 video, WMA 2 audio, the chosen subtitle drawn into the
// picture; a "keep origin" frame rate is written out for RealMedia sources
// and in safe mode.
ArgumentBlockPtr Video_To_ASF_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

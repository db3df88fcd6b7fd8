#pragma once

#include "engine/ArgvAssemblerTables.h"

// Flash video: H.264 with the Flash option set, or FLV1 when the profile's
// video codec is "h263"; MP3 audio; the chosen subtitle drawn into the
// picture.
ArgumentBlockPtr Video_To_FLV_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

// F4V: always H.264 with the Flash option set, MP3 audio, the chosen
// subtitle drawn into the picture.
ArgumentBlockPtr Video_To_F4V_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

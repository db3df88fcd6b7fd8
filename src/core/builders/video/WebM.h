#pragma once

#include "engine/ArgvAssemblerTables.h"

// WebM: VP8 video, Vorbis audio, the chosen subtitle drawn into the picture.
// The configured core count is always passed on as "-threads".
ArgumentBlockPtr Video_To_WEBM_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

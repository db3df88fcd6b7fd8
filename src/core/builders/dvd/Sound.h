#pragma once

#include "engine/ArgumentBlock.h"
#include "engine/EncodeConfig.h"

#include <cstdint>
#include <memory>

class NXBasicMediaNode;

// The sound of one title alone, as raw MP3 (LAME at a constant bit rate, the
// title's volume as LAME's level factor), raw AAC (faac) or the DVD track
// copied as it is (AC-3). Merged titles, and a title without sound (the
// engine would end without writing anything), are refused with a log line.
ArgumentBlockPtr DVD_To_MP3_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr DVD_To_AAC_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr DVD_To_AC3_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

#pragma once

#include "engine/ArgumentBlock.h"
#include "engine/EncodeConfig.h"

#include <cstdint>
#include <memory>

class NXBasicMediaNode;

// Lists in HandBrake's command-line language for the DVD-to-MKV library,
// "encoder" in the program-name place. Tracks are numbered from 1 in the
// title's order, as the library counts them, never by the disc's stream ids.
// A trimmed title runs from "--start-at pts:<start>" for "--stop-at
// pts:<kept length>", on the library's 90 kHz clock, so that it holds to the
// millisecond; its kept length in whole seconds is the block's duration.
// Merged titles are refused with a log line.
ArgumentBlockPtr DVD_To_DVD_MainBackup_MKV(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr DVD_To_MP4_H264_With_HandBrake(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

#pragma once

#include "engine/ArgumentBlock.h"
#include "engine/EncodeConfig.h"

#include <cstdint>
#include <memory>

class NXBasicMediaNode;

// MPEG-2 video through lavc with the aspect in the codec ("autoaspect"), in a
// DVD-format program stream with the chosen sound copied (and "-mc 0" always),
// or re-encoded to AC-3 or MP2. The transport-stream builder writes the MP2
// list in lavf's "mpegts". Merged titles go to Group_DVDTitle_To_MPEG2_With_MEncoder.
ArgumentBlockPtr DVD_To_MPEG2_AC3_Copy_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr DVD_To_MPEG2_AC3_Reencode_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr DVD_To_MPEG2_MP2_Reencode_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr DVD_To_TS_MPEG2_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

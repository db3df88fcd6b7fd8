#pragma once

#include "engine/ArgumentBlock.h"
#include "engine/EncodeConfig.h"

#include <cstdint>
#include <memory>

class NXBasicMediaNode;

// Flash Video: lavc "flv" video and MP3 at an average bit rate, in lavf's
// "flv"; no metadata. Merged titles go to Group_DVDTitle_To_FLV_With_MEncoder.
ArgumentBlockPtr DVD_To_FLV_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

// Windows Media: lavc WMV2 at the engine's default bit rate and MP3 at a
// constant one. Merged titles go to Group_DVDTitle_To_WMV_With_MEncoder.
ArgumentBlockPtr DVD_To_WMV_MP3_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

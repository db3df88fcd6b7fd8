#pragma once

#include "engine/ArgumentBlock.h"
#include "engine/EncodeConfig.h"

#include <cstdint>
#include <memory>

class NXBasicMediaNode;

// MPEG-4 in the engine's own AVI muxer: lavc tagged "DX50", or Xvid tagged
// "XVID". The sound is the chosen DVD track copied when the profile keeps the
// original codec and has room for the track's channels, else MP3 at a
// constant bit rate. Merged titles go to Group_DVDTitle_To_AVI_With_MEncoder.
ArgumentBlockPtr DVD_To_AVI_DIVX_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr DVD_To_AVI_XVID_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

// The codec switch of the AVI rows: the DivX builder for a profile video codec
// "DIVX" in any case, the Xvid builder for "XVID"; any other codec, or none,
// is refused with a log line.
ArgumentBlockPtr DVD_To_AVI_CodecSwitch_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

#pragma once

#include "engine/ArgumentBlock.h"
#include "engine/EncodeConfig.h"

#include <QString>

#include <cstdint>
#include <memory>

class NXBasicMediaNode;

// MPEG-4 video and AAC sound, both through lavc, in a lavf container, in one
// pass or in two (the options' twoPass, passIndex and passLog): the first of
// two passes writes only its statistics, to "-passlogfile", and its output to
// /dev/null. Merged titles go to Merge_DVDTitle_To_MPEG4_Default_With_MEncoder.
ArgumentBlockPtr _DVD_To_MPEG4_Default_With_MEncoder(const std::shared_ptr<NXBasicMediaNode>& node,
    int32_t titleIndex, const QString& container, EncodeConfig config);
// The game-console core: MP4, without a level, with "coder=1".
ArgumentBlockPtr DVD_To_PS_MPEG4_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
// The transport-stream core: "mpegts", no global video header, and the
// channel count after the audio track.
ArgumentBlockPtr DVD_To_TS_MPEG4_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

// The container dispatchers of the default core: "mov" for a profile suffix
// "mov" in any case, else "ipod"; "psp"; "mp4".
ArgumentBlockPtr DVD_To_MPEG4_MovOrIpod_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr DVD_To_MPEG4_PSP_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr DVD_To_MPEG4_MP4_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

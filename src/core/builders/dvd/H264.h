#pragma once

#include "engine/ArgumentBlock.h"
#include "engine/EncodeConfig.h"

#include <QString>

#include <cstdint>
#include <memory>

class NXBasicMediaNode;

// H.264 (x264) and AAC (faac) from one DVD title, in a lavf container, for
// the encoder core; merged titles go to Merge_DVDTitle_To_H264_Default_With_MEncoder.
ArgumentBlockPtr _DVD_To_H264_Default_With_MEncoder(const std::shared_ptr<NXBasicMediaNode>& node,
    int32_t titleIndex, const QString& container, EncodeConfig config);

// The container dispatchers: "mov" for a profile suffix "mov" in any case,
// else "ipod"; "psp"; "mp4".
ArgumentBlockPtr DVD_To_H264_MovOrIpod_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr DVD_To_H264_PSP_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr DVD_To_H264_MP4_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

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

// The H.264 sisters with their container and x264 options built in: High
// profile in MP4 for the game console, Baseline in an MPEG transport stream,
// and constant-quality Baseline in MP4 (no bit rate, its own block order).
ArgumentBlockPtr DVD_To_PS_H264_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr DVD_To_TS_H264_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr DVD_To_AVC_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

#pragma once

#include "engine/ArgumentBlock.h"
#include "engine/EncodeConfig.h"

#include <cstdint>
#include <memory>

class NXBasicMediaNode;

// The merge runs of merged DVD titles (a DNDVDGroupTitle): the titles' own
// output files, in the group's order, joined into one output in the output
// folder with the picture copied. The title index is not read. A node that is
// not a group is refused with a log line.
ArgumentBlockPtr Merge_DVDTitle_To_H264_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr Merge_DVDTitle_To_AVC_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr Merge_DVDTitle_To_MPEG4_Default_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr Group_DVDTitle_To_FLV_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr Group_DVDTitle_To_WMV_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr Group_DVDTitle_To_AVI_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
// The MPEG-2 merges write ffmpeg's join of the titles through its concat
// demuxer; the encoder-core bridge runs such a list on ffmpeg.
ArgumentBlockPtr Group_DVDTitle_To_MPEG2_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr Group_DVDTitle_To_MainBackupMPEG2_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

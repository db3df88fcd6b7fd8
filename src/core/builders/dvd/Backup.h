#pragma once

#include "engine/ArgumentBlock.h"
#include "engine/EncodeConfig.h"

#include <cstdint>
#include <memory>

class NXBasicMediaNode;

// The disc backups: nothing is encoded. The stream dump and the ISO lists go
// to tools that take their arguments from the first word on, so they have no
// "encoder" word in front; the main-title copy is an encoder-core list. The
// dump and the ISO image refuse merged titles with a log line; the main-title
// copy hands them to Group_DVDTitle_To_MainBackupMPEG2_With_MEncoder.
ArgumentBlockPtr DVD_To_DVD_FullBackup_MPEG2_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr DVD_To_DVD_MainBackup_MPEG2_With_MEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr DVD_To_DVD_MainBackup_ISO(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

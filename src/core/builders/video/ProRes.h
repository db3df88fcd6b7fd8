#pragma once

#include "engine/ArgvAssemblerTables.h"

#include <optional>

// QuickTime movies with ProRes video and AAC audio. The core takes the
// encoder's "-profile:v" value, or none for 4444, which the encoder then
// picks from the 4:4:4 pixel format; the five flavours are its front ends.
ArgumentBlockPtr Video_To_ProRes_With_AVEncoder(const std::shared_ptr<NXBasicMediaNode>& node,
    int32_t titleIndex, const std::optional<QString>& profile, EncodeConfig config);

ArgumentBlockPtr Video_To_ProRes4444_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr Video_To_ProRes422HQ_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr Video_To_ProRes422_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
ArgumentBlockPtr Video_To_ProRes422LT_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);
// The proxy flavour; the name is the one profiles give.
ArgumentBlockPtr Video_To_ProRes422Poxy_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config);

#include "builders/audio/AudioBuilders.h"

#include "builders/audio/AudioFormat.h"

// One row per audio output. Unnamed fields keep their defaults: a "-b:a" and
// an "-ac" option, the codec options before the concat filter, no container.

namespace {

constexpr AudioFormat kAAC {
    .name = "Video_To_AAC_With_AVEncoder",
    .groupName = "AVEncoder_AAC_Concat",
    .codec = "libfaac",
    .groupContainer = "mp4",
};

constexpr AudioFormat kAC3 {
    .name = "Video_To_AC3_With_AVEncoder",
    .groupName = "AVEncoder_AC3_Concat",
    .codec = "ac3",
    .singleContainer = "ac3",
    .groupContainer = "ac3",
};

constexpr AudioFormat kAIFF {
    .name = "Video_To_AIFF_With_AVEncoder",
    .groupName = "AVEncoder_AIFF_Concat",
    .bitrate = false,
    .channels = false,
    .groupCodecOptions = false,
    .singleContainer = "aiff",
    .groupContainer = "aiff",
};

constexpr AudioFormat kALAC {
    .name = "Video_To_ALAC_With_AVEncoder",
    .groupName = "AVEncoder_ALAC_Concat",
    .codec = "alac",
    .bitrate = false,
};

constexpr AudioFormat kAU {
    .name = "Video_To_AU_With_AVEncoder",
    .groupName = "AVEncoder_AU_Concat",
    .bitrate = false,
};

constexpr AudioFormat kCAF {
    .name = "Video_To_CAF_With_AVEncoder",
    .groupName = "AVEncoder_CAF_Concat",
    .singleContainer = "caf",
    .groupContainer = "caf",
};

constexpr AudioFormat kDTS {
    .name = "Video_To_DTS_With_AVEncoder",
    .groupName = "AVEncoder_DTS_Concat",
    .codec = "dts",
    .bitrate = false,
    // The engine's DTS encoder is marked experimental.
    .extraOption = "-strict",
    .extraValue = "-2",
    .singleContainer = "dts",
    .groupContainer = "dts",
};

constexpr AudioFormat kFLAC {
    .name = "Video_To_FLAC_With_AVEncoder",
    .groupName = "AVEncoder_FLAC_Concat",
    .codec = "flac",
    .bitrate = false,
    .singleContainer = "flac",
    .groupContainer = "flac",
};

constexpr AudioFormat kM4R {
    .name = "Video_To_M4R_With_AVEncoder",
    .groupName = "AVEncoder_M4R_Concat",
    .codec = "libfaac",
    .singleContainer = "mp4",
    .groupContainer = "mp4",
};

constexpr AudioFormat kMP3 {
    .name = "Video_To_MP3_With_AVEncoder",
    .groupName = "AVEncoder_MP3_Concat",
    .codec = "libmp3lame",
    .groupFilterFirst = true,
    .singleContainer = "mp3",
    .groupContainer = "mp3",
};

constexpr AudioFormat kOGG {
    .name = "Video_To_OGG_With_AVEncoder",
    .groupName = "AVEncoder_OGG_Concat",
    .codec = "libvorbis",
    .extraOption = "-aq",
    .extraValue = "3",
};

constexpr AudioFormat kRA {
    .name = "Video_To_RA_With_AVEncoder",
    .groupName = "AVEncoder_RA_Concat",
    .codec = "ac3",
    .singleContainer = "rm",
    .groupContainer = "rm",
};

constexpr AudioFormat kWAV {
    .name = "Video_To_WAV_With_AVEncoder",
    .groupName = "AVEncoder_WAV_Concat",
    .bitrate = false,
    .singleContainer = "wav",
    .groupContainer = "wav",
};

constexpr AudioFormat kWMA {
    .name = "Video_To_WMA_With_AVEncoder",
    .groupName = "AVEncoder_WMA_Concat",
    .codec = "wmav2",
};

} // namespace

ArgumentBlockPtr Video_To_AAC_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return assembleAudioArguments(kAAC, node, config);
}

ArgumentBlockPtr Video_To_AC3_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return assembleAudioArguments(kAC3, node, config);
}

ArgumentBlockPtr Video_To_AIFF_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return assembleAudioArguments(kAIFF, node, config);
}

ArgumentBlockPtr Video_To_ALAC_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return assembleAudioArguments(kALAC, node, config);
}

ArgumentBlockPtr Video_To_AU_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return assembleAudioArguments(kAU, node, config);
}

ArgumentBlockPtr Video_To_CAF_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return assembleAudioArguments(kCAF, node, config);
}

ArgumentBlockPtr Video_To_DTS_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return assembleAudioArguments(kDTS, node, config);
}

ArgumentBlockPtr Video_To_FLAC_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return assembleAudioArguments(kFLAC, node, config);
}

ArgumentBlockPtr Video_To_M4R_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return assembleAudioArguments(kM4R, node, config);
}

ArgumentBlockPtr Video_To_MP3_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return assembleAudioArguments(kMP3, node, config);
}

ArgumentBlockPtr Video_To_OGG_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return assembleAudioArguments(kOGG, node, config);
}

ArgumentBlockPtr Video_To_RA_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return assembleAudioArguments(kRA, node, config);
}

ArgumentBlockPtr Video_To_WAV_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return assembleAudioArguments(kWAV, node, config);
}

ArgumentBlockPtr Video_To_WMA_With_AVEncoder(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t, EncodeConfig config)
{
    return assembleAudioArguments(kWMA, node, config);
}

#include "model/DNNodeSetting.h"

DNNodeSetting DNNodeSetting::copy() const
{
    DNNodeSetting fresh;
    fresh.copyEditsFrom(*this);
    fresh.setVideoIndex(videoIndex());
    fresh.setAudioIndex(audioIndex());
    fresh.setSubtitleIndex(subtitleIndex());
    return fresh;
}

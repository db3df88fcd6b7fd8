#include "model/DNNodeSetting.h"

DNNodeSetting DNNodeSetting::copy() const
{
    DNNodeSetting fresh;
    fresh.copyEditsFrom(*this);
    fresh.m_videoIndex = m_videoIndex;
    fresh.m_audioIndex = m_audioIndex;
    fresh.m_subtitleIndex = m_subtitleIndex;
    return fresh;
}

#pragma once

#include "support/PrivateDisplay.h"
#include "support/PrivateSoundServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

// What the screen recorder's tests record: a private X server showing moving
// content, DISPLAY pointing at it, and a private sound server whose
// microphone plays a 440 Hz sine. Stops at the first part that fails.
inline void startRecordingStage(
    std::unique_ptr<PrivateDisplay>& display, std::unique_ptr<PrivateSoundServer>& sound)
{
    display = std::make_unique<PrivateDisplay>();
    sound = std::make_unique<PrivateSoundServer>();
    ASSERT_EQ(display->start(), "");
    ::setenv("DISPLAY", display->display().toUtf8().constData(), 1);
    ASSERT_EQ(sound->start(), "");
    ASSERT_EQ(display->showMovingPicture(), "");
    ASSERT_EQ(sound->addSineMicrophone(440), "");
}

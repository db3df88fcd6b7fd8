#pragma once

#include "GuiTestSupport.h"

#include "platform/NotificationCenter.h"
#include "services/DNSetting.h"
#include "shell/DNFileLoader.h"
#include "shell/NXAppController.h"
#include "shell/NXApplicationDelegate.h"
#include "shell/NXProgressController.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

// A test of the main window: the application with scripted dialogs and
// counted system calls, conversions written to a folder of the test's own,
// and the end of every conversion noted.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(output.isValid());
        system = recorder.actions();
        delegate.emplace(dialogs, system);
        endObserver = NotificationCenter::defaultCenter().addObserver(
            NXProgressController::kDidEndNotification, nullptr, nullptr,
            [this](const Notification& note) {
                ended = note.userInfo;
                ++ends;
            });
    }

    void TearDown() override
    {
        NotificationCenter::defaultCenter().removeObserver(endObserver);
        delegate.reset();
    }

    // Launches with `files` named on the command line, converting into `output`.
    void launch(const QStringList& files = {})
    {
        delegate->applicationDidFinishLaunching(files);
        DNSetting::shareSetting().appSetting().setVideoOutputDirectory(output.path());
    }

    NXAppController& window() { return *delegate->controller(); }

    QTemporaryDir output;
    ScriptedDialogs dialogs;
    RecordingSystem recorder;
    NXSystemActions system;
    std::optional<NXApplicationDelegate> delegate;
    NotificationCenter::Token endObserver = 0;
    std::optional<QVariantMap> ended; // the last conversion's end
    int ends = 0;
};

// The main window launched with no files, for a test that drops photo folders
// on it: the photo loader without its pause between photos.
struct LaunchedWindow {
    LaunchedWindow()
    {
        delegate.applicationDidFinishLaunching({});
        window().photoLoader()->setPause(std::chrono::milliseconds(0));
    }
    NXAppController& window() { return *delegate.controller(); }

    ScriptedDialogs dialogs;
    RecordingSystem recorder;
    const NXSystemActions system = recorder.actions();
    NXApplicationDelegate delegate { dialogs, system };
};

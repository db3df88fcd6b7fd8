// The preview in full screen on a real X server (Xvfb), and its volume as
// the sound server sees it (a private PulseAudio with a null sink).
#include "gui/player/PreviewTestSupport.h"
#include "support/PrivateDisplay.h"
#include "support/PrivateSoundServer.h"

#include "list/NXMediaTableView.h"

#include "platform/UserDefaults.h"
#include "player/MPlayerVideoRenderer.h"
#include "player/NXMPlayerControl.h"
#include "player/NXMPlayerView.h"
#include "shell/NXAppController.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const char* const kInsideX = "FullScreen.DISABLED_InsideX";

bool isGrey(QRgb pixel)
{
    return qRed(pixel) > 100 && qRed(pixel) < 160;
}

// The volume of the first stream playing into the server, as "100%".
QString streamVolume()
{
    static const QRegularExpression volume(
        QStringLiteral("^\\s*Volume:.*?(\\d+)%"), QRegularExpression::MultilineOption);
    return volume.match(PrivateSoundServer::pactl({ "list", "sink-inputs" })).captured(1);
}

} // namespace

TEST(FullScreen, FillsTheScreenShowsTheBarPausesAndLeavesUnderX)
{
    const TestUnderX run = runTestUnderPrivateDisplay(kInsideX);
    if (!run.skipped.isEmpty())
        GTEST_SKIP() << run.skipped.toStdString();
    EXPECT_TRUE(run.passed()) << run.output.toStdString();
}

TEST(FullScreen, DISABLED_InsideX)
{
    QTemporaryDir folder;
    const QString clip = folder.filePath("shades.mp4");
    ASSERT_TRUE(PreviewClips::makeShades(clip, 8));
    PreviewWindow main;
    main.window->addOpenedFiles({ clip });
    // The profile question that a first file brings up would hold the input.
    if (main.window->profileChooser())
        main.window->profileChooser()->reject();
    main.window->tableView()->selectAll();
    main.window->playOrStop();
    ASSERT_TRUE(main.waitFor(NXMPlayerControl::kPlaybackDidStart));
    main.window->toggleFullScreen();
    NXMPlayerView& view = main.view();
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_TRUE(waitUntil([&] {
        const QImage shown = screen->grabWindow(0).toImage();
        return view.isFullScreen() && isGrey(shown.pixel(1915, 1075)) && isGrey(shown.pixel(200, 5))
            && isGrey(shown.pixel(5, 1060));
    })) << "the picture fills the 1920x1080 screen";

    QTest::mouseMove(&view, QPoint(400, 300));
    QTest::mouseMove(&view, QPoint(420, 320));
    EXPECT_TRUE(waitUntil([&] { return view.controlBar() != nullptr; }, 3000))
        << "a mouse move shows the bar";

    QTest::keyClick(&view, Qt::Key_Space);
    ASSERT_TRUE(waitUntil([&] { return main.player()->isPlayerPuased(); }, 3000));
    // Pictures already on their way when the pause was asked for still arrive.
    QTest::qWait(500);
    const qint64 pausedAt = main.player()->render()->picture().cacheKey();
    EXPECT_FALSE(
        waitUntil([&] { return main.player()->render()->picture().cacheKey() != pausedAt; }, 1000))
        << "no new picture while paused";

    QTest::keyClick(&view, Qt::Key_Escape);
    EXPECT_TRUE(main.posted.contains(NXMPlayerControl::kWillExitFullScreenMode));
    EXPECT_FALSE(view.isFullScreenMode());
    EXPECT_EQ(view.controlBar(), nullptr);
    main.player()->stopPlay();
    ASSERT_TRUE(main.waitFor(NXMPlayerControl::kPlaybackDidEnd));
}

TEST(MainPreviewSound, VolumeAndMuteReachTheSoundServer)
{
    PrivateSoundServer pulse;
    if (const QString reason = pulse.start(); !reason.isEmpty())
        GTEST_SKIP() << reason.toStdString();
    QTemporaryDir folder;
    const QString clip = folder.filePath("tone.mp4");
    ASSERT_TRUE(PreviewClips::makeShades(clip, 10, true));
    const QByteArray output = qgetenv("QUILLON_PLAYER_AO");
    qunsetenv("QUILLON_PLAYER_AO");
    UserDefaults defaults(folder.filePath("defaults.conf"));
    NXMPlayerControl player(defaults);
    player.startPlaybackWithParams({ clip, "-identify", "-slave" });
    struct Step {
        const char* change;
        std::function<void()> apply;
        QString percent;
    };
    const Step steps[] = {
        { "at start", [] {}, "100" },
        { "set to 50", [&] { player.setVideoVolume(50); }, "50" },
        { "muted", [&] { player.setMute(true); }, "0" },
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.change);
        step.apply();
        EXPECT_TRUE(waitUntil([&] { return streamVolume() == step.percent; }, 10000))
            << streamVolume().toStdString();
    }
    player.stopPlay();
    EXPECT_TRUE(waitUntil([&] { return !player.isPlayerBegin() && streamVolume().isEmpty(); }));
    qunsetenv("PULSE_SERVER");
    qputenv("QUILLON_PLAYER_AO", output);
}

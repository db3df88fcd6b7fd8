// The online preview's player control: its command line, against a fake tool
// that answers each command with the next piece of scripted output, and with
// the real tool on a stream of the loopback test server.
#include "player/NXOVPlayerControl.h"

#include "core/player/PlayerTestSupport.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/ProcessRunner.h"
#include "player/MPlayerVideoRenderer.h"
#include "player/PlayerProcesses.h"
#include "server/TestHttpServer.h"
#include "support/AdoptedOrphans.h"
#include "support/ChildProcesses.h"
#include "support/PrivateSoundServer.h"
#include "support/StallLimit.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include <sys/wait.h>

#include <unistd.h>

namespace {

// Records its arguments and folder, prints "piece1", then after each command
// it reads (and records in "input") the next piece, until "quit".
const char* const kFakeTool = R"(#!/bin/sh
dir=$(dirname "$0")
printf '%s\n' "$@" > "$dir/arguments"
printf '%s\n' "$QUILLON_STALL_LIMIT_MS" > "$dir/stall"
pwd > "$dir/cwd"
piece=1
[ -f "$dir/piece1" ] && cat "$dir/piece1"
while IFS= read -r line; do
  printf '%s\n' "$line" >> "$dir/input"
  piece=$((piece + 1))
  [ -f "$dir/piece$piece" ] && cat "$dir/piece$piece"
  [ "$line" = quit ] && exit 0
done
)";

struct RecordingDelegate : NXOVPlayerControlDelegate {
    QStringList events;
    void playbackDidStarted(NXOVPlayerControl*) override { events << "started"; }
    void playbackDidEnded(NXOVPlayerControl*) override { events << "ended"; }
    void playbackDidPaused(NXOVPlayerControl*) override { events << "paused"; }
    void playbackDidContinued(NXOVPlayerControl*) override { events << "continued"; }
    void playbackCacheUnavilabled(NXOVPlayerControl*) override { events << "cache off"; }
    void playbackCacheAvilabled(NXOVPlayerControl*) override { events << "cache on"; }
    void playbackDidFail(NXOVPlayerControl*, const QString& reason) override
    {
        events << "failed: " + reason;
    }
    bool waitFor(const QString& event)
    {
        return QTest::qWaitFor([&] { return events.contains(event); }, 20000);
    }
};

// The control with the player tool looked for in a folder of our own.
struct PreviewWithTools {
    QTemporaryDir root;
    QString tools = root.filePath("tools");
    QByteArray previousTools = qgetenv("QUILLON_TOOLS");
    RecordingDelegate delegate;
    NXOVPlayerControl control;

    explicit PreviewWithTools(bool withFakeTool)
    {
        QDir().mkpath(tools);
        if (withFakeTool) {
            writeAll(tools + "/DORavuzo", kFakeTool);
            QFile::setPermissions(tools + "/DORavuzo", QFile::ExeOwner | QFile::ReadOwner);
        }
        qputenv("QUILLON_TOOLS", tools.toUtf8());
        control.setDelegate(&delegate);
    }
    ~PreviewWithTools() { qputenv("QUILLON_TOOLS", previousTools); }
    QByteArray file(const QString& name) const { return readAll(tools + "/" + name); }
    void script(const QList<QByteArray>& pieces)
    {
        for (int index = 0; index < pieces.size(); ++index)
            writeAll(tools + QStringLiteral("/piece%1").arg(index + 1), pieces[index]);
    }
};

} // namespace

TEST(NXOVPlayerControl, CommandLineHasTheCacheInKibibytesOnlyWhenTheVideoNeedsOne)
{
    const QStringList volume { "-softvol", "-softvol-max", "100", "-volume", "0.00",
        "http://v/a b" };
    const struct {
        double cacheInMB;
        QStringList expected;
    } cases[] = {
        { -1.0, volume },
        { 1.59, QStringList { "-cache", "1629" } + volume },
        { 0.0625, QStringList { "-cache", "64" } + volume },
    };
    for (const auto& row : cases) {
        NXOVPlayerControl control;
        control.setCacheBufferSizeInMB(row.cacheInMB);
        const QStringList leading { "-vf", "screenshot", "-identify", "-slave", "-vo",
            "corevideo:buffer_name=\"L<->1\"" };
        EXPECT_EQ(control.playerArguments("http://v/a b", "L<->1"), leading + row.expected)
            << row.cacheInMB;
    }
}

TEST(NXOVPlayerControl, FollowsCacheAndPositionAndWritesItsCommands)
{
    PreviewWithTools preview(true);
    const QString pictures = AppPaths::picturesFolder();
    QDir(pictures).removeRecursively();
    preview.script({ "ID_LENGTH=200.00\nA:  99.0 V:  99.0 A-V:  0.0 ct:  0.0   0/  0 ??% ??% ??,?% "
                     "0 0 0%\r",
        "A: 100.0 V: 100.0 A-V:  0.0 ct:  0.0   0/  0 ??% ??% ??,?% 0 0 5%\r", "",
        "A: 101.0 V: 101.0 A-V:  0.0 ct:  0.0   0/  0 ??% ??% ??,?% 0 0 1%\r" });
    auto& control = preview.control;
    EXPECT_EQ(control.currentPlaybackPercent(), 0) << "no duration yet";
    EXPECT_EQ(control.currentLoadingPercent(), 0) << "no duration or size yet";
    control.playOnlineVideoWidthAddress("http://127.0.0.1/v.mp4");
    ASSERT_TRUE(QTest::qWaitFor([&] { return control.currentPlaybackTime() == 99; }));
    EXPECT_EQ(control.status(), 2) << "a cache at 0 % waits";
    EXPECT_EQ(control.duration(), 200);
    EXPECT_EQ(readAll(preview.tools + "/cwd").trimmed(), pictures.toUtf8());
    EXPECT_EQ(preview.file("stall"), "120000\n") << "the tool ends itself when it stalls";

    control.setPlayerVolume(20);
    ASSERT_TRUE(preview.delegate.waitFor("cache on"));
    EXPECT_EQ(control.status(), 1);
    EXPECT_DOUBLE_EQ(control.currentPlaybackPercent(), 50);
    // At 50 % of the video, the cache 5 % full.
    const struct {
        double videoInMB;
        double cacheInMB;
        double buffered;
    } sizes[] = { { 100, 200, 60 }, { 1, 1000, 100 }, { 0, 200, 50 }, { 100, -1, 50 } };
    for (const auto& row : sizes) {
        control.setVideoSizeInMB(row.videoInMB);
        control.setCacheBufferSizeInMB(row.cacheInMB);
        EXPECT_DOUBLE_EQ(control.currentLoadingPercent(), row.buffered) << row.videoInMB;
    }

    control.seekToDurationInPercent(50);
    control.pauseOrContinue();
    EXPECT_EQ(control.status(), 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview.delegate.events.count("cache off") == 2; }));
    EXPECT_EQ(control.status(), 2) << "a starving cache waits again";
    control.stopPlay();
    ASSERT_TRUE(preview.delegate.waitFor("ended"));
    EXPECT_EQ(control.status(), 0);
    EXPECT_EQ(preview.file("input"), "set_property volume 20.00\nseek 100.0 2\npause\nquit\n");
    EXPECT_EQ(preview.delegate.events,
        QStringList({ "cache off", "cache on", "paused", "cache off", "ended" }));
    EXPECT_EQ(PlayerProcesses::shared().count(), 0);
}

TEST(NXOVPlayerControl, EachPreviewAfterAStopHasAFrameLinkWithTheNextNumber)
{
    PreviewWithTools preview(true);
    QStringList linkNames;
    for (int run = 0; run < 2; ++run) {
        preview.control.playOnlineVideoWidthAddress("http://127.0.0.1/v.mp4");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !preview.file("arguments").isEmpty(); }));
        linkNames << QString::fromUtf8(preview.file("arguments")).split('\n').value(5);
        QFile::remove(preview.tools + "/arguments");
        preview.control.stopPlay();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return preview.delegate.events.count("ended") == run + 1; }));
    }
    const int first = linkNames[0].section("<->", 1).chopped(1).toInt();
    EXPECT_EQ(linkNames,
        QStringList(
            { QStringLiteral("corevideo:buffer_name=\"ONLINE_VIDEO_BUFFER_NAME<->%1\"").arg(first),
                QStringLiteral("corevideo:buffer_name=\"ONLINE_VIDEO_BUFFER_NAME<->%1\"")
                    .arg(first + 1) }));
}

TEST(NXOVPlayerControl, AMissingPlayerEndsTheStartWithALogLine)
{
    PreviewWithTools preview(false);
    preview.control.playOnlineVideoWidthAddress("http://127.0.0.1/v.mp4");
    EXPECT_EQ(preview.delegate.events, QStringList { "ended" });
    EXPECT_EQ(preview.control.status(), 0);
    EXPECT_TRUE(readAll(DNLogger::shareRoughLog().path()).contains("Can NOT find player binary!"));
}

// A player that dies, or that stops moving (mplayer printing the same cache
// fill for ever once its cache process has died), is stopped, and the
// preview says the stream could not be played; a player asked to quit is not
// taken for a failure even when it never showed the stream.
TEST(NXOVPlayerControl, APlayerThatDiesOrStallsSaysTheStreamCouldNotBePlayed)
{
    const ScopedStallLimit stallLimit(std::chrono::milliseconds(500));
    const QByteArray status = "A:   1.0 V:   1.0 A-V:  0.0 ct:  0.0   0/  0 ??% ??% ??,?% 0 0 5%\r";
    const struct {
        const char* name;
        QByteArray tool;
        bool quit;
        QStringList events;
    } cases[] = {
        { "dies of a signal", "#!/bin/sh\nprintf '" + status + "'\nkill -SEGV $$\n", false,
            { "failed: The stream could not be played.", "ended" } },
        { "never shows the stream", "#!/bin/sh\nsleep 0.2\nexit 2\n", false,
            { "failed: The stream could not be played.", "ended" } },
        { "stops moving", "#!/bin/sh\nwhile :; do echo 'Cache fill: 833617%'; sleep 0.05; done\n",
            false, { "failed: The stream could not be played.", "ended" } },
        { "asked to quit before it showed anything", "#!/bin/sh\nread x\nexit 2\n", true,
            { "ended" } },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        PreviewWithTools preview(false);
        writeAll(preview.tools + "/DORavuzo", row.tool);
        QFile::setPermissions(preview.tools + "/DORavuzo", QFile::ExeOwner | QFile::ReadOwner);
        preview.control.playOnlineVideoWidthAddress("http://127.0.0.1/v.mp4");
        if (row.quit)
            preview.control.stopPlay();
        ASSERT_TRUE(preview.delegate.waitFor("ended"));
        preview.delegate.events.removeAll("cache off");
        EXPECT_EQ(preview.delegate.events, row.events);
        EXPECT_EQ(preview.control.status(), 0);
        EXPECT_EQ(PlayerProcesses::shared().count(), 0);
    }
}

namespace {

// A 4-second clip with sound, served by the loopback server at url().
struct LoopbackStream {
    QTemporaryDir folder;
    TestHttpServer server;

    bool start()
    {
        const QString clip = folder.filePath("av4.mp4");
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg",
            { "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                "testsrc2=size=320x240:rate=10:duration=4", "-f", "lavfi", "-i",
                "sine=frequency=440:duration=4", "-c:v", "libx264", "-preset", "ultrafast",
                "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", clip });
        if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0 || !server.start())
            return false;
        // mplayer fills its cache until the connection closes: one kept alive
        // holds the start back until the server gives up on it.
        TestReply stream = TestReply::text(readAll(clip));
        stream.closeAfter = true;
        server.route("/av4.mp4", stream);
        return true;
    }
    QString url() const { return server.url("/av4.mp4").toString(); }
};

// The private server's one sink, at full volume on both its channels.
bool sinkAtFullVolume()
{
    return PrivateSoundServer::pactl({ "get-sink-volume", "speakers" }).count("/ 100% /") == 2;
}

} // namespace

TEST(NXOVPlayerControl, PlaysAStreamOfTheLoopbackServerWithTheRealPlayer)
{
    const AdoptedOrphans orphans;
    ASSERT_TRUE(orphans.adopting());
    LoopbackStream stream;
    ASSERT_TRUE(stream.start());
    RecordingDelegate delegate;
    NXOVPlayerControl control;
    control.setDelegate(&delegate);
    control.setViewSize({ 640, 360 });
    control.setCacheBufferSizeInMB(1.59);
    control.playOnlineVideoWidthAddress(stream.url());
    ASSERT_TRUE(delegate.waitFor("started"));
    ASSERT_TRUE(delegate.waitFor("cache on"));
    EXPECT_EQ(delegate.events.first(), "cache off");
    EXPECT_EQ(control.duration(), 4);
    EXPECT_EQ(control.render()->curTextureFrame(), QRectF(80, 0, 480, 360));
    control.stopPlay();
    ASSERT_TRUE(delegate.waitFor("ended"));
    EXPECT_EQ(PlayerProcesses::shared().count(), 0);
    EXPECT_TRUE(QTest::qWaitFor([] { return ::waitpid(-1, nullptr, WNOHANG) < 0; }, 5000))
        << "a player of ours is still running";
}

// The real player on streams it cannot play on: bytes that are no video, and
// a stream whose server falls silent half way (mplayer waits for ever).
TEST(NXOVPlayerControl, TheRealPlayerOnAStreamItCannotPlayOnSaysSo)
{
    const ScopedStallLimit stallLimit(std::chrono::seconds(1));
    LoopbackStream stream;
    ASSERT_TRUE(stream.start());
    QByteArray noise(200000, '\0');
    for (qsizetype at = 0; at < noise.size(); ++at)
        noise[at] = char((at * 7919 + at / 13) & 0xff);
    TestReply garbage = TestReply::text(noise);
    garbage.closeAfter = true;
    stream.server.route("/noise.mp4", garbage);
    TestReply silent = TestReply::text(readAll(stream.folder.filePath("av4.mp4")));
    silent.stallAfter = silent.body.size() / 2;
    stream.server.route("/silent.mp4", silent);
    for (const char* path : { "/noise.mp4", "/silent.mp4" }) {
        SCOPED_TRACE(path);
        RecordingDelegate delegate;
        NXOVPlayerControl control;
        control.setDelegate(&delegate);
        control.setCacheBufferSizeInMB(1.59);
        control.playOnlineVideoWidthAddress(stream.server.url(path).toString());
        ASSERT_TRUE(delegate.waitFor("ended"));
        EXPECT_TRUE(delegate.events.contains("failed: The stream could not be played."))
            << qPrintable(delegate.events.join(", "));
        EXPECT_EQ(PlayerProcesses::shared().count(), 0);
    }
}

// The preview's volume scales its samples: the device's volume stays as it
// was. mplayer forks a process for its network cache: killed with the tool,
// the whole group of mplayer goes, the cache's process and its connection too.
TEST(NXOVPlayerControl, AStreamedPreviewLeavesTheDeviceVolumeAndNoProcessOfItsGroup)
{
    PrivateSoundServer pulse;
    const QString noSound = pulse.start();
    const QByteArray output = qgetenv("QUILLON_PLAYER_AO");
    qunsetenv("QUILLON_PLAYER_AO");
    LoopbackStream stream;
    ASSERT_TRUE(stream.start());
    RecordingDelegate delegate;
    NXOVPlayerControl control;
    control.setDelegate(&delegate);
    control.setCacheBufferSizeInMB(1.59);
    control.setPlayerVolume(20);
    control.playOnlineVideoWidthAddress(stream.url());
    ASSERT_TRUE(delegate.waitFor("started"));
    // Without a sound server of our own only the processes are looked at.
    if (noSound.isEmpty()) {
        ASSERT_TRUE(QTest::qWaitFor([] {
            return !PrivateSoundServer::pactl({ "list", "short", "sink-inputs" }).isEmpty();
        }));
        control.setPlayerVolume(30);
        EXPECT_FALSE(QTest::qWaitFor([] { return !sinkAtFullVolume(); }, 1500));
    }
    QStringList tools = childProcesses(); // the sound server is one too
    tools.removeIf(
        [](const QString& pid) { return readAll("/proc/" + pid + "/comm") != "DORavuzo\n"; });
    ASSERT_EQ(tools.size(), 1);
    const int group = playerGroupOf(tools.first().toInt());
    const auto isMPlayer
        = [](const QString& pid) { return readAll("/proc/" + pid + "/comm") == "mplayer\n"; };
    ASSERT_GE(std::ranges::count_if(processGroupMembers(group), isMPlayer), 2)
        << "mplayer and its cache";

    ::kill(tools.first().toInt(), SIGKILL);
    EXPECT_TRUE(delegate.waitFor("ended"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return processGroupMembers(group).isEmpty(); }, 5000));
    qunsetenv("PULSE_SERVER");
    qputenv("QUILLON_PLAYER_AO", output);
}

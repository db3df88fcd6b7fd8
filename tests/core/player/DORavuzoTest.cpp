// The player tool on Debian's mplayer with a frame link server of ours:
// pictures, commands, sizes, bad input and the tool's end.
#include "core/player/PlayerTestSupport.h"

#include "fixtures/TestMedia.h"
#include "model/DNFileNode.h"
#include "player/PlayerProcesses.h"
#include "support/ChildProcesses.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace Proto = MPlayerOSXVOProto;

QByteArray checksum(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

QStringList sharedPictures()
{
    const QString ours = QStringLiteral("quillon-%1-%2-*").arg(::getuid()).arg(::getpid());
    return QDir("/dev/shm").entryList({ ours }, QDir::Files | QDir::System);
}

// Running, not a zombie waiting to be reaped.
bool isAlive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    return !text.isEmpty() && text.mid(text.lastIndexOf(')') + 2, 1) != "Z";
}

} // namespace

TEST(DORavuzo, PlaysAClipThroughTheLink)
{
    const QString clip = PlayerClips::path(PlayerClips::kShades3);
    const QByteArray before = checksum(clip);
    // A "/" in the name must not reach the socket's or the picture's path.
    RecordedServer recorded("Plays/Through");
    ToolRun tool(ToolRun::previewArguments(clip, recorded.server.bufferName()));
    EXPECT_EQ(tool.waitForExit(), 0);
    ASSERT_TRUE(recorded.waitFor("stop"));
    EXPECT_EQ(recorded.events(),
        QStringList({ "start 320x240 133", "picture 0", "picture 1", "picture 2", "stop" }));
    EXPECT_TRUE(tool.output().contains("Starting playback..."));
    // yuv4mpeg writes to whatever file is on descriptor 3.
    EXPECT_EQ(checksum(clip), before);
    EXPECT_TRUE(sharedPictures().isEmpty());
}

// mplayer speaks the commands itself; the pictures must follow them. The
// other byte order than above: a wrong one would read chroma as the box's luma.
TEST(DORavuzo, SeekAndPauseCommandsShowTheirPictures)
{
    RecordedServer recorded("Commands", Proto::kFormat2vuy);
    ToolRun tool(ToolRun::previewArguments(PlayerClips::path(PlayerClips::kShades10), "Commands"));
    ASSERT_TRUE(recorded.waitFor("picture 0"));
    tool.send("seek 7.0 2\n");
    ASSERT_TRUE(recorded.waitFor("picture 7"));

    // A command that keeps the pause asks whether the player stayed paused;
    // mplayer answers it after the pictures it showed before.
    const QByteArray stillPaused = "pausing_keep_force get_property pause\n";
    tool.send("pause\n" + stillPaused);
    ASSERT_TRUE(tool.waitForOutput("ID_PAUSED"));
    ASSERT_TRUE(tool.waitForOutput("ANS_pause=yes"));
    const QStringList paused = recorded.events();
    const int second = paused.last().section(' ', 1).toInt();
    tool.send("seek -4.0 0\n pause\n" + stillPaused);
    ASSERT_TRUE(tool.waitForOutput("ANS_pause=yes", 2));
    EXPECT_EQ(
        recorded.events(), paused + QStringList { QStringLiteral("picture %1").arg(second - 4) });
    tool.send("quit\n");
    EXPECT_EQ(tool.waitForExit(), 0);
}

// mplayer starts at a key frame: the tool shows the part asked for from its
// first picture to its last, however far the key frame lies before it, on
// every loop.
TEST(DORavuzo, ShowsOnlyThePartAskedForToThePicture)
{
    RecordedServer recorded("Part");
    ToolRun tool(
        ToolRun::previewArguments(PlayerClips::path(PlayerClips::kShades10OneKeyFrame), "Part")
        + QStringList {
            "-ss", "0", "-endpos", "5.5", "-showfrom", "3.5", "-showto", "5.5", "-loop", "2" });
    EXPECT_EQ(tool.waitForExit(30s), 0);
    ASSERT_TRUE(recorded.waitFor("stop"));
    const QStringList loop { "picture 3", "picture 4", "picture 5" };
    EXPECT_EQ(recorded.events(),
        QStringList { "start 320x240 133" } + loop + loop + QStringList { "stop" });
    // Ten pictures a second: 3.5 to 3.9, 4.0 to 4.9 and 5.0 to 5.4, twice.
    EXPECT_EQ(recorded.count("picture 3"), 10);
    EXPECT_EQ(recorded.count("picture 4"), 20);
    EXPECT_EQ(recorded.count("picture 5"), 10);
}

TEST(DORavuzo, AnnouncesEachStreamWithItsSizeAndAspect)
{
    struct Row {
        const char* clip;
        QStringList filters; // a node's own "-vf" before the preview's "screenshot"
        QString starts; // a regular expression over the start events
    };
    const Row rows[] = {
        // mplayer's decoder hands on an even width.
        { PlayerClips::kOddWidth, {}, "start 852x480 178" },
        { PlayerClips::kWideMpeg2, {}, "start 720x480 17[78]" },
        { PlayerClips::kSizeChange, {}, "start 320x240 133 stop start 160x120 133" },
        // Only the last "-vf" counts with mplayer: the chains must be joined.
        { PlayerClips::kOddWidth, { "-vf", "scale=320:180" }, "start 320x180 178" },
        // Odd sides reach the link padded to even ones, at the source's aspect.
        { PlayerClips::kOddWidthMpeg4, {}, "start 854x480 178" },
        { PlayerClips::kOddSidesMpeg4, {}, "start 322x242 13[23]" },
        { PlayerClips::kOnePixelMpeg4, {}, "start 2x2 100" },
        { PlayerClips::kOddWidthMpeg4, { "-vf", "scale=427:241" }, "start 428x242 17[78]" },
        // Told its sides are even, the tool keeps its word from mplayer and plays.
        { PlayerClips::kWideMpeg2, { "-evensides" }, "start 720x480 17[78]" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.clip);
        RecordedServer recorded("Sizes");
        ToolRun tool(row.filters + ToolRun::previewArguments(PlayerClips::path(row.clip), "Sizes"));
        EXPECT_EQ(tool.waitForExit(), 0);
        ASSERT_TRUE(
            recorded.waitUntil([](const QStringList& events) { return events.endsWith("stop"); }));
        QStringList streams = recorded.events();
        streams.removeIf([](const QString& event) { return event.startsWith("picture"); });
        streams.removeLast();
        EXPECT_TRUE(QRegularExpression("^" + row.starts + "$").match(streams.join(' ')).hasMatch())
            << streams.join(' ').toStdString();
    }
}

// A phone's clip is shown upright through the link, with the upright size
// and aspect: its node asks the player to turn the stored picture, and the
// red square stands in the corner the conversion puts it in.
TEST(DORavuzo, ShowsAFileStoredWithARotationUpright)
{
    const struct {
        int rotation;
        const char* start;
    } rows[] = {
        { 0, "start 320x180 178" },
        { 90, "start 180x320 56" },
        { 180, "start 320x180 178" },
        { 270, "start 180x320 56" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.rotation);
        const QString clip = TestMedia::markedClip(row.rotation);
        const auto node = DNFileNode::fileNodeWithFile(clip);
        ASSERT_TRUE(node);
        RecordedServer recorded("Turned");
        ToolRun tool(
            node->NXMPlayerPlaybackParameters() + ToolRun::previewArguments(clip, "Turned").mid(3));
        ASSERT_TRUE(recorded.waitUntil([](const QStringList& events) {
            return events.size() > 1 && events[1].startsWith("picture");
        }));
        tool.send("quit\n");
        EXPECT_EQ(tool.waitForExit(), 0);
        EXPECT_EQ(recorded.events().first(), row.start);
        EXPECT_EQ(TestMedia::markedCorner(recorded.lastPicture()),
            TestMedia::markedCorner(TestMedia::convertedPicture(clip)));
        EXPECT_FALSE(TestMedia::markedCorner(recorded.lastPicture()).isEmpty());
    }
}

TEST(DORavuzo, BadInputOrNoServerEndsWithAStatusAndNoPicture)
{
    struct Row {
        const char* name;
        QString media;
        QStringList environment;
        const char* link; // the frame link the tool is given; ours is "Ours"
        int exitCode;
    };
    const Row rows[] = {
        { "missing file", PlayerClips::path(PlayerClips::kEmpty) + ".missing", {}, "Ours", 2 },
        { "empty file", PlayerClips::path(PlayerClips::kEmpty), {}, "Ours", 2 },
        // libavformat takes these bytes for raw video that mplayer then cannot show.
        { "random bytes", PlayerClips::path(PlayerClips::kRandomBytes), {}, "Ours", 2 },
        { "no mplayer on PATH", PlayerClips::path(PlayerClips::kOddWidth), { "PATH=/nonexistent" },
            "Ours", 127 },
        // Without a server the pictures are drained and the playback goes on.
        { "no server", PlayerClips::path(PlayerClips::kOddWidth), {}, "Nobody's", 0 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RecordedServer recorded("Ours");
        ToolRun tool(ToolRun::previewArguments(row.media, row.link), row.environment);
        EXPECT_EQ(tool.waitForExit(5s), row.exitCode);
        const QByteArray complaint = tool.process.readAllStandardError();
        EXPECT_EQ(complaint.contains("DORavuzo: the media could not be played"), row.exitCode == 2);
        if (row.exitCode == 0) {
            EXPECT_TRUE(tool.output().contains("ID_EXIT=EOF"));
        }
        EXPECT_TRUE(recorded.events().isEmpty());
    }
}

// mplayer reads no command while it probes an endless device or waits for a
// FIFO's writer: the tool ends it itself soon after a "quit".
TEST(DORavuzo, QuitEndsAPlayerStuckOnItsInput)
{
    QTemporaryDir folder;
    const QString fifo = folder.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& media : { QStringLiteral("/dev/zero"), fifo }) {
        SCOPED_TRACE(media.toStdString());
        ToolRun tool(ToolRun::previewArguments(media, "Stuck"));
        ASSERT_TRUE(tool.waitForOutput("Playing "));
        tool.send("pausing_keep quit\n");
        EXPECT_EQ(tool.waitForExit(5s), 2);
    }
}

namespace {

QStringList stallLimit(std::chrono::milliseconds limit)
{
    return { QStringLiteral("QUILLON_STALL_LIMIT_MS=%1").arg(limit.count()) };
}

// How long this machine, as busy as it is now, takes to start the tool and
// show a picture: the measure of every wait for a player below.
std::chrono::milliseconds timeToShowLife()
{
    QElapsedTimer run;
    run.start();
    RecordedServer recorded("Life");
    ToolRun tool(ToolRun::previewArguments(PlayerClips::path(PlayerClips::kShades3), "Life"),
        stallLimit(10min));
    EXPECT_TRUE(recorded.waitFor("picture 0", 10min));
    const std::chrono::milliseconds life(run.elapsed());
    tool.send("quit\n");
    EXPECT_EQ(tool.waitForExit(10min), 0);
    return life;
}

} // namespace

// An mplayer that stops moving (waiting for a FIFO's writer) is ended with
// its group at the stall limit, and the media could not be played; a paused
// one is left alone past the limit. A busy machine is slow to start, answer
// and end a player: each wait is bounded by how long one took to show life,
// and the paused player's limit lies far past that, so that a player slow
// to show its first picture is not taken for a stalled one.
TEST(DORavuzo, AStalledPlayerIsEndedAtTheLimitAndAPausedOneIsNot)
{
    const std::chrono::milliseconds life = timeToShowLife();
    constexpr auto kLimit = 500ms;
    QTemporaryDir folder;
    const QString fifo = folder.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QElapsedTimer run;
    run.start();
    ToolRun stuck(ToolRun::previewArguments(fifo, "Stalled"), stallLimit(kLimit));
    EXPECT_EQ(stuck.waitForExit(kLimit + std::max(2000ms, 10 * life)), 2);
    EXPECT_GE(run.elapsed(), kLimit.count()) << "ended before the limit";
    EXPECT_TRUE(stuck.process.readAllStandardError().contains(
        "DORavuzo: mplayer made no progress for 0.5 s"));

    const std::chrono::milliseconds pausedLimit = std::max(kLimit, 10 * life);
    RecordedServer recorded("Paused");
    ToolRun paused(ToolRun::previewArguments(PlayerClips::path(PlayerClips::kShades10), "Paused"),
        stallLimit(pausedLimit));
    ASSERT_TRUE(recorded.waitFor("picture 0", 10s + 10 * life));
    paused.send("pause\n");
    ASSERT_TRUE(paused.waitForOutput("ID_PAUSED"));
    // How long the paused player takes to answer through the tool; the
    // tool's look at the limit may come as late.
    const QByteArray stillPaused = "pausing_keep_force get_property pause\n";
    QElapsedTimer trip;
    trip.start();
    paused.send(stillPaused);
    ASSERT_TRUE(paused.waitForOutput("ANS_pause=yes"));
    const std::chrono::milliseconds answer(trip.elapsed());
    EXPECT_EQ(paused.waitForExit(pausedLimit + std::max(500ms, 4 * answer)), -1)
        << "a paused player still runs";
    paused.send(stillPaused);
    EXPECT_TRUE(paused.waitForOutput("ANS_pause=yes", 2)) << "and still answers";
    paused.send("quit\n");
    EXPECT_EQ(paused.waitForExit(), 0);
}

// The tool's mplayer plays on when its input ends, so it must die with the
// tool, and so must everything in its group.
TEST(DORavuzo, KillingTheToolEndsItsMPlayerAndLeavesNoSharedPicture)
{
    RecordedServer recorded("Killed");
    ToolRun tool(ToolRun::previewArguments(PlayerClips::path(PlayerClips::kShades10), "Killed")
        << "-loop"
        << "0");
    ASSERT_TRUE(recorded.waitFor("picture 0"));
    const int group = playerGroupOf(tool.process.processId());
    ASSERT_GT(group, 0);
    ::kill(static_cast<pid_t>(tool.process.processId()), SIGKILL);
    EXPECT_TRUE(QTest::qWaitFor([&] { return processGroupMembers(group).isEmpty(); }, 5000));
    // A tool that dies sends no stop: the end of its connection is one.
    EXPECT_TRUE(recorded.waitFor("stop"));
    EXPECT_TRUE(sharedPictures().isEmpty()) << sharedPictures().join(' ').toStdString();
}

// The main thread never runs its event loop here, as when it waits for the
// players to end: the servers must keep answering without it.
TEST(PlayerProcesses, KillsOurToolsAndSparesAStrangerOfTheSameName)
{
    QTemporaryDir folder;
    const QString strangerPath = folder.path() + "/" + Proto::kToolName;
    ASSERT_TRUE(QFile::copy("/bin/sleep", strangerPath));
    QProcess stranger;
    stranger.start(strangerPath, { "30" });
    ASSERT_TRUE(stranger.waitForStarted());

    PlayerProcesses processes;
    const QString clip = PlayerClips::path(PlayerClips::kShades10);
    RecordedServer first("First");
    RecordedServer second("Second");
    ToolRun firstTool(ToolRun::previewArguments(clip, "First"));
    ToolRun secondTool(ToolRun::previewArguments(clip, "Second"));
    for (ToolRun* tool : { &firstTool, &secondTool })
        ASSERT_TRUE(processes.add(static_cast<pid_t>(tool->process.processId())));
    ASSERT_TRUE(first.waitFor("picture 1"));
    ASSERT_TRUE(second.waitFor("picture 1"));

    EXPECT_TRUE(processes.killAll(5s));
    EXPECT_EQ(processes.count(), 0);
    for (ToolRun* tool : { &firstTool, &secondTool })
        EXPECT_FALSE(isAlive(tool->process.processId()));
    EXPECT_TRUE(isAlive(stranger.processId()));
    stranger.kill();
    stranger.waitForFinished();
}

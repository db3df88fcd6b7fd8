// The player tool on Debian's mplayer with a frame link server of ours:
// pictures, commands, sizes, bad input and the tool's end.
#include "core/player/PlayerTestSupport.h"

#include "player/MPlayerOSXVOProto.h"
#include "player/PlayerProcesses.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace Proto = MPlayerOSXVOProto;

QByteArray checksum(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

// A server listening under a name of the test's own.
struct LinkedServer {
    explicit LinkedServer(const QString& name, Proto::PixelFormat format = Proto::kFormatYuvs)
        : server(name)
        , link(server)
    {
        server.setPixFormat(format);
        EXPECT_TRUE(server.listen());
    }
    FrameLinkServer server;
    LinkRecorder link;
};

bool hasEnded(const LinkRecorder& link)
{
    return link.ends > 0;
}

QStringList sharedPictures()
{
    const QString ours = QStringLiteral("quillon-%1-%2-").arg(::getuid()).arg(::getpid());
    return QDir("/dev/shm").entryList({ ours + "*" }, QDir::Files | QDir::System);
}

// Running, not a zombie waiting to be reaped.
bool isAlive(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) != "Z";
}

} // namespace

TEST(DORavuzo, PlaysAClipThroughTheLinkInTheByteOrderAsked)
{
    const QString clip = PlayerClips::path(PlayerClips::kShades3);
    const QByteArray before = checksum(clip);
    LinkedServer linked("Plays/Through");
    ToolRun tool(ToolRun::previewArguments(clip, linked.server.bufferName()));
    EXPECT_EQ(tool.waitForExit(), 0) << tool.errors().toStdString();
    ASSERT_TRUE(linked.link.waitUntil(hasEnded));

    ASSERT_EQ(linked.link.starts.size(), 1u);
    EXPECT_EQ(linked.link.starts[0].size, QSize(320, 240));
    EXPECT_EQ(linked.link.starts[0].aspect, 133);
    EXPECT_EQ(linked.link.events.first(), "start");
    EXPECT_EQ(linked.link.events.last(), "stop");
    std::vector<int> shown = linked.link.seconds;
    shown.erase(std::unique(shown.begin(), shown.end()), shown.end());
    EXPECT_EQ(shown, (std::vector<int> { 0, 1, 2 }));
    EXPECT_TRUE(tool.output().contains("Starting playback..."));
    EXPECT_EQ(checksum(clip), before);
    EXPECT_TRUE(sharedPictures().isEmpty());
}

// mplayer speaks the commands itself; the pictures must follow them.
TEST(DORavuzo, SeekAndPauseCommandsShowTheirPictures)
{
    LinkedServer linked("Commands", Proto::kFormat2vuy);
    ToolRun tool(ToolRun::previewArguments(PlayerClips::path(PlayerClips::kShades10), "Commands"));
    ASSERT_TRUE(linked.link.waitForPictureOf(0));

    tool.send("seek 7.0 2\n");
    ASSERT_TRUE(linked.link.waitForPictureOf(7));

    tool.send("pause\n");
    ASSERT_TRUE(tool.waitForOutput("ID_PAUSED"));
    tool.send("pausing_keep_force get_property pause\n");
    ASSERT_TRUE(tool.waitForOutput("ANS_pause=yes"));
    const std::size_t paused = linked.link.pictureCount();

    tool.send("seek -4.0 0\n pause\n");
    ASSERT_TRUE(tool.waitForOutput("ID_PAUSED", 2));
    tool.send("pausing_keep_force get_property pause\n");
    ASSERT_TRUE(tool.waitForOutput("ANS_pause=yes", 2));
    const std::size_t shown = linked.link.pictureCount() - paused;
    EXPECT_TRUE(shown == 1 || shown == 2) << shown;
    EXPECT_TRUE(linked.link.waitForPictureOf(3, 0ms));

    tool.send("quit\n");
    EXPECT_EQ(tool.waitForExit(), 0);
}

TEST(DORavuzo, AnnouncesEachStreamWithItsSizeAndAspect)
{
    struct Row {
        const char* clip;
        std::vector<QSize> sizes;
        std::vector<int> aspects; // either is right
    };
    const Row rows[] = {
        // mplayer's decoder hands on an even width.
        { PlayerClips::kOddWidth, { QSize(852, 480) }, { 178 } },
        { PlayerClips::kWideMpeg2, { QSize(720, 480) }, { 177, 178 } },
        { PlayerClips::kSizeChange, { QSize(320, 240), QSize(160, 120) }, { 133 } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.clip);
        LinkedServer linked("Sizes");
        ToolRun tool(ToolRun::previewArguments(PlayerClips::path(row.clip), "Sizes"));
        EXPECT_EQ(tool.waitForExit(), 0);
        ASSERT_TRUE(linked.link.waitUntil([&](const LinkRecorder& link) {
            return link.ends == static_cast<int>(row.sizes.size());
        }));
        ASSERT_EQ(linked.link.starts.size(), row.sizes.size());
        for (std::size_t index = 0; index < row.sizes.size(); ++index) {
            EXPECT_EQ(linked.link.starts[index].size, row.sizes[index]);
            EXPECT_TRUE(std::ranges::count(row.aspects, linked.link.starts[index].aspect))
                << linked.link.starts[index].aspect;
        }
        QStringList bounds = linked.link.events;
        bounds.removeAll("picture");
        QStringList expected;
        for (std::size_t stream = 0; stream < row.sizes.size(); ++stream)
            expected << "start"
                     << "stop";
        EXPECT_EQ(bounds, expected);
    }
}

TEST(DORavuzo, BadInputEndsWithAStatusAndNoPicture)
{
    struct Row {
        const char* name;
        QString media;
        QStringList environment;
        int exitCode;
    };
    const Row rows[] = {
        { "missing file", PlayerClips::path(PlayerClips::kEmpty) + ".missing", {}, 2 },
        { "empty file", PlayerClips::path(PlayerClips::kEmpty), {}, 2 },
        { "random bytes", PlayerClips::path(PlayerClips::kRandomBytes), {}, 2 },
        { "no mplayer on PATH", PlayerClips::path(PlayerClips::kShades3), { "PATH=/nonexistent" },
            127 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LinkedServer linked("Bad input");
        ToolRun tool(ToolRun::previewArguments(row.media, "Bad input"), row.environment);
        EXPECT_EQ(tool.waitForExit(5s), row.exitCode);
        if (row.exitCode == 2) {
            EXPECT_TRUE(tool.errors().contains("DORavuzo: the media could not be played"));
        }
        EXPECT_TRUE(linked.link.seconds.empty());
    }
}

// The tool's mplayer plays on when its input ends, so it must die with the
// tool; the shared picture's name is gone once the stream was answered.
TEST(DORavuzo, KillingTheToolEndsItsMPlayerAndLeavesNoSharedPicture)
{
    // Orphans come to us instead of init, where we can see them end.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    LinkedServer linked("Killed");
    ToolRun tool(ToolRun::previewArguments(PlayerClips::path(PlayerClips::kShades10), "Killed")
        << "-loop"
        << "0");
    ASSERT_TRUE(linked.link.waitForPictureOf(0));
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(tool.pid()));
    ASSERT_TRUE(children.open(QIODevice::ReadOnly));
    const pid_t mplayer = children.readAll().trimmed().toInt();
    ASSERT_GT(mplayer, 0);
    const int mplayerFd = static_cast<int>(::syscall(SYS_pidfd_open, mplayer, 0));
    ASSERT_GE(mplayerFd, 0);

    ::kill(static_cast<pid_t>(tool.pid()), SIGKILL);
    pollfd ended { mplayerFd, POLLIN, 0 };
    EXPECT_EQ(::poll(&ended, 1, 5000), 1);
    ::close(mplayerFd);
    ::waitpid(mplayer, nullptr, 0);
    EXPECT_TRUE(linked.link.waitUntil(hasEnded));
    EXPECT_TRUE(sharedPictures().isEmpty()) << sharedPictures().join(' ').toStdString();
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// The main thread never runs its event loop here, as when it waits for the
// players to end: the servers must keep answering without it.
TEST(PlayerProcesses, KillsOurToolsAndSparesAStrangerOfTheSameName)
{
    QTemporaryDir folder;
    const QString stranger = folder.path() + "/" + Proto::kToolName;
    ASSERT_TRUE(QFile::copy("/bin/sleep", stranger));
    QProcess strangerProcess;
    strangerProcess.start(stranger, { "30" });
    ASSERT_TRUE(strangerProcess.waitForStarted());

    PlayerProcesses processes;
    LinkedServer first("First");
    LinkedServer second("Second");
    ToolRun firstTool(
        ToolRun::previewArguments(PlayerClips::path(PlayerClips::kShades10), "First"));
    ToolRun secondTool(
        ToolRun::previewArguments(PlayerClips::path(PlayerClips::kShades10), "Second"));
    ASSERT_TRUE(processes.add(static_cast<pid_t>(firstTool.pid())));
    ASSERT_TRUE(processes.add(static_cast<pid_t>(secondTool.pid())));
    const auto flowing = [](const LinkRecorder& link) { return link.seconds.size() >= 5; };
    ASSERT_TRUE(first.link.waitUntil(flowing));
    ASSERT_TRUE(second.link.waitUntil(flowing));

    EXPECT_TRUE(processes.killAll(5s));
    EXPECT_EQ(processes.count(), 0);
    for (ToolRun* tool : { &firstTool, &secondTool }) {
        EXPECT_TRUE(tool->process().waitForFinished(1000));
        EXPECT_EQ(tool->process().exitStatus(), QProcess::CrashExit);
    }
    EXPECT_TRUE(isAlive(static_cast<pid_t>(strangerProcess.processId())));
    strangerProcess.kill();
    strangerProcess.waitForFinished();
}

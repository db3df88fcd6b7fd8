// Every engine bridge ends an engine that stops moving: a stand-in for each
// engine that keeps printing one unchanging line and writes nothing (as
// mencoder does when its cache process has died) is ended at the stall limit,
// and the run fails with that reason.
#include "engine/AVEncoder.h"
#include "engine/ArgumentBlock.h"
#include "engine/DVDToMKV.h"
#include "engine/DiscBackupTool.h"
#include "engine/EncoderCore.h"
#include "engine/PlayerStreamDump.h"
#include "fixtures/TestDisc.h"
#include "platform/ProcessRunner.h"
#include "support/TestFiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

using Encode = int (*)(int argc, const char* const* argv, int duration);
using LastFailure = QString (*)();

int run(Encode encode, const QStringList& words, int duration)
{
    ArgumentWriter writer("test list");
    for (const QString& word : words)
        writer.add(word);
    const ArgumentBlockPtr block = writer.finish(duration);
    return block ? encode(block->argc, block->argv.data(), block->duration) : -100;
}

// The stand-ins in `folder` come first on the PATH, and the stall limit is
// half a second, for as long as this lives.
class StandIns {
public:
    explicit StandIns(const QString& folder)
        : m_path(qgetenv("PATH"))
    {
        qputenv("PATH", QFile::encodeName(folder) + ':' + m_path);
        setEngineStallLimit(500ms);
    }
    ~StandIns()
    {
        qputenv("PATH", m_path);
        setEngineStallLimit(120s);
    }
    StandIns(const StandIns&) = delete;
    StandIns& operator=(const StandIns&) = delete;

private:
    const QByteArray m_path;
};

} // namespace

TEST(EngineStall, EveryBridgeEndsAnEngineThatStopsMoving)
{
    ASSERT_EQ(TestDisc::ensure(), QString());
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const char* program : { "ffmpeg", "mencoder", "mplayer", "genisoimage", "HandBrakeCLI" })
        ASSERT_TRUE(writeTestScript(folder.filePath(program),
            "#!/bin/sh\nwhile :; do echo 'Cache fill: 833617%'; sleep 0.05; done\n"));
    const StandIns standIns(folder.path());

    const QString out = folder.filePath("out");
    const struct {
        const char* engine;
        Encode encode;
        LastFailure lastFailure;
        QStringList list;
    } rows[] = {
        { "ffmpeg", &AVEncoderEncode, &AVEncoderLastFailure,
            { "encoder", "-i", "in.mp4", out + ".mkv" } },
        { "mencoder", &EncoderCoreEncode, &EncoderCoreLastFailure,
            { "encoder", "a.avi", "b.avi", "-oac", "copy", "-ovc", "copy", "-o", out + ".avi" } },
        { "mplayer", &PlayerStreamDumpEncode, &PlayerStreamDumpLastFailure,
            { "dvd://1", "-dvd-device", TestDisc::folder(), "-dumpstream", "-dumpfile",
                out + ".vob" } },
        { "genisoimage", &DiscBackupToolEncode, &DiscBackupToolLastFailure,
            { TestDisc::folder(), out + ".iso", "iso" } },
        { "HandBrakeCLI", &appMain, &DVDToMKVLastFailure,
            { "encoder", "-i", TestDisc::image(), "-t", "1", "-f", "mkv", "-o", out + ".mkv" } },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.engine);
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(run(row.encode, row.list, 12), -1);
        EXPECT_LT(timer.elapsed(), 10'000);
        EXPECT_EQ(row.lastFailure(), QString(row.engine) + " made no progress for 0.5 s.");
    }
}

// ffmpeg moving an MP4's index to the front rewrites the file in place for
// as long as the file is large, printing nothing and growing it by nothing:
// that is work, not a stall.
TEST(EngineStall, AnEngineRewritingItsOutputInPlaceIsNotEnded)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(writeTestScript(folder.filePath("ffmpeg"),
        "#!/bin/sh\nfor out; do :; done\nhead -c 64 /dev/zero > \"$out\"\n"
        "for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do\n"
        "  printf y | dd of=\"$out\" bs=1 seek=$i conv=notrunc 2>/dev/null; sleep 0.1\ndone\n"));
    const StandIns standIns(folder.path());

    EXPECT_EQ(
        run(&AVEncoderEncode, { "encoder", "-i", "in.mp4", folder.filePath("out.mp4") }, 2), 0)
        << qPrintable(AVEncoderLastFailure());
}

// Every engine bridge ends an engine that stops moving: a stand-in for each
// engine that keeps printing one unchanging line and writes nothing (as
// mencoder does when its cache process has died) is ended at the stall limit,
// and the run fails with that reason.
#include "core/builders/BuilderTestSupport.h"
#include "engine/AVEncoder.h"
#include "engine/ArgumentBlock.h"
#include "engine/CoverArt.h"
#include "engine/DNVideoConverter.h"
#include "engine/DVDToMKV.h"
#include "engine/DiscBackupTool.h"
#include "engine/EncoderCore.h"
#include "engine/PlayerStreamDump.h"
#include "fixtures/TestDisc.h"
#include "fixtures/TestMedia.h"
#include "model/DNFileNode.h"
#include "platform/ProcessRunner.h"
#include "services/DNSetting.h"
#include "support/StallLimit.h"
#include "support/TestFiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include <sys/stat.h>

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

// A stall limit this machine can keep now: three times what a run of the
// real ffmpeg on the test's media takes here (a frame grabbed, as for a
// cover), and half a second at least.
std::chrono::milliseconds fairLimit()
{
    EXPECT_EQ(TestMedia::ensure(), QString());
    QTemporaryDir folder;
    QElapsedTimer timer;
    timer.start();
    ProcessRunner runner;
    EXPECT_TRUE(
        runner
            .run("ffmpeg",
                { "-nostdin", "-v", "error", "-i", TestMedia::path(TestMedia::kVideoWithAudio),
                    "-frames:v", "1", folder.filePath("frame.jpg") })
            .succeeded());
    return std::max(std::chrono::milliseconds(3 * timer.elapsed()), std::chrono::milliseconds(500));
}

// The stand-ins in `folder` come first on the PATH, and the stall limit is
// `limit`, for as long as this lives.
class StandIns {
public:
    StandIns(const QString& folder, std::chrono::milliseconds limit)
        : m_path(qgetenv("PATH"))
        , m_limit(limit)
    {
        qputenv("PATH", QFile::encodeName(folder) + ':' + m_path);
    }
    ~StandIns() { qputenv("PATH", m_path); }
    StandIns(const StandIns&) = delete;
    StandIns& operator=(const StandIns&) = delete;

private:
    const QByteArray m_path;
    const ScopedStallLimit m_limit;
};

// A stand-in that prints `line` every `pause` for ever, one process that
// neither reads nor starts another.
QByteArray printingForEver(const QByteArray& line, std::chrono::milliseconds pause)
{
    return "#!/usr/bin/perl\n$| = 1;\nwhile (1) { print \"" + line
        + "\\n\"; select(undef, undef, undef, " + QByteArray::number(pause.count() / 1000.0)
        + ") }\n";
}

} // namespace

TEST(EngineStall, EveryBridgeEndsAnEngineThatStopsMoving)
{
    ASSERT_EQ(TestDisc::ensure(), QString());
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::chrono::milliseconds limit = fairLimit();
    for (const char* program : { "ffmpeg", "mencoder", "mplayer", "genisoimage", "HandBrakeCLI" })
        ASSERT_TRUE(writeTestScript(
            folder.filePath(program), printingForEver("Cache fill: 833617%", limit / 10)));
    const StandIns standIns(folder.path(), limit);

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
        EXPECT_LT(timer.elapsed(), 20 * limit.count());
        EXPECT_EQ(row.lastFailure(), QString(row.engine) + ' ' + stallReason(limit) + '.');
    }
}

// ffmpeg moving an MP4's index to the front rewrites the file in place for
// as long as the file is large, printing nothing and growing it by nothing:
// that is work, not a stall.
TEST(EngineStall, AnEngineRewritingItsOutputInPlaceIsNotEnded)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    // A byte rewritten every fifth of the limit, for two limits and more;
    // one process that reads nothing, so only the file's time shows it moves.
    const std::chrono::milliseconds limit = fairLimit();
    ASSERT_TRUE(writeTestScript(folder.filePath("ffmpeg"),
        "#!/usr/bin/perl\nmy $out = $ARGV[-1];\n"
        "open(my $file, '>', $out) or die; print $file \"\\0\" x 64; close($file);\n"
        "for my $i (1 .. 12) {\n"
        "  open($file, '+<', $out) or die; seek($file, $i, 0); print $file 'y'; close($file);\n"
        "  select(undef, undef, undef, "
            + QByteArray::number(limit.count() / 5000.0) + ");\n}\n"));
    const StandIns standIns(folder.path(), limit);

    EXPECT_EQ(
        run(&AVEncoderEncode, { "encoder", "-i", "in.mp4", folder.filePath("out.mp4") }, 2), 0)
        << qPrintable(AVEncoderLastFailure());
}

// mencoder writes into a FIFO that ffmpeg reads: when one stops, the other
// soon waits on the FIFO, and the reason names the one that stopped.
TEST(EngineStall, ThePipelineNamesTheProgramThatStopped)
{
    const QByteArray writesAll
        = "#!/bin/sh\nwhile [ $# -gt 1 ] && [ \"$1\" != -o ]; do shift; done\n"
          "exec yes > \"$2\"\n";
    const QByteArray readsAll
        = "#!/bin/sh\nwhile [ $# -gt 1 ] && [ \"$1\" != -i ]; do shift; done\n"
          "exec cat \"${2#file:}\" > /dev/null\n";
    const QByteArray stops = "#!/bin/sh\nexec sleep 30\n";
    const struct {
        const char* stopped;
        QByteArray mencoder;
        QByteArray ffmpeg;
    } rows[] = {
        { "ffmpeg", writesAll, stops },
        { "mencoder", stops, readsAll },
    };
    const std::chrono::milliseconds limit = fairLimit();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stopped);
        QTemporaryDir folder;
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(writeTestScript(folder.filePath("mencoder"), row.mencoder));
        ASSERT_TRUE(writeTestScript(folder.filePath("ffmpeg"), row.ffmpeg));
        const StandIns standIns(folder.path(), limit);
        // AAC leaves mencoder for ffmpeg's finishing stage.
        EXPECT_EQ(run(&EncoderCoreEncode,
                      { "encoder", "a.avi", "-oac", "faac", "-ovc", "copy", "-o",
                          folder.filePath("out.mp4") },
                      12),
            -1);
        EXPECT_EQ(EncoderCoreLastFailure(), QString(row.stopped) + ' ' + stallReason(limit) + '.');
    }
}

// The conversion's reason names the program that stalled, and only it.
TEST(EngineStall, TheConversionNamesTheStalledProgramOnce)
{
    ASSERT_EQ(TestMedia::ensure(), QString());
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(writeTestScript(folder.filePath("ffmpeg"), "#!/bin/sh\nexec sleep 30\n"));
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(folder.path());
    const auto node = DNFileNode::fileNodeWithFile(TestMedia::path(TestMedia::kVideoWithAudio));
    ASSERT_TRUE(node);
    node->setProfile(shippedProfile("MKV Video (H.264)"));
    const std::chrono::milliseconds limit = fairLimit();
    const StandIns standIns(folder.path(), limit);

    EXPECT_NE(DNVideoConverterStart(node, 0, nullptr, nullptr), 0);
    EXPECT_EQ(DNVideoConverterLastFailure(), "ffmpeg " + stallReason(limit) + '.');
}

// The cover's tools are children like the engines: a tagger that hangs is
// ended at the stall limit, and a source or an output that is no regular file
// (replaced by a FIFO while the engine ran) is refused before any tool reads it.
TEST(EngineStall, CoverArtToolsAreEndedOrNeverStarted)
{
    ASSERT_EQ(TestMedia::ensure(), QString());
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(writeTestScript(folder.filePath("AtomicParsley"), "#!/bin/sh\nexec sleep 600\n"));
    const QString fifo = folder.filePath("fifo.mp4");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString output = folder.filePath("out.mp4");
    ASSERT_TRUE(QFile::copy(TestMedia::path(TestMedia::kVideoWithAudio), output));
    const std::chrono::milliseconds limit = fairLimit();
    const StandIns standIns(folder.path(), limit);
    const QString source = TestMedia::path(TestMedia::kVideoWithAudio);
    const QString refused = QStringLiteral("No cover art for %1: %2 is not a regular file");
    const struct {
        const char* what;
        QString output;
        QString source;
        QString logged;
    } rows[] = {
        { "a tagger that hangs", output, source, "AtomicParsley " + stallReason(limit) + '.' },
        { "a FIFO as the source", output, fifo, refused.arg(output, fifo) },
        { "a FIFO as the output", fifo, source, refused.arg(fifo, fifo) },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        CoverArtTagger tagger;
        auto tagging
            = std::async(std::launch::async, [&] { return tagger.tag(row.output, row.source, 2); });
        // A frame grabbed, then a tagger ended at the limit: a tagging that
        // has not ended long after would have waited for ever. It is ended
        // here, so that the case leaves nothing running.
        const bool ended = tagging.wait_for(20 * limit) == std::future_status::ready;
        if (!ended)
            tagger.stop();
        EXPECT_TRUE(ended);
        EXPECT_FALSE(tagging.get());
        EXPECT_TRUE(sharedLogText().contains(row.logged)) << qPrintable(row.logged);
    }
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
        QStringList({ "AtomicParsley", "out.mp4" }));
}

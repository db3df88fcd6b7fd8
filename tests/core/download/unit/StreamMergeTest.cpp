#include "download/NXStreamMergeOperation.h"

#include "platform/ProcessRunner.h"
#include "platform/RunDeadline.h"
#include "support/ChildProcesses.h"
#include "support/StallLimit.h"
#include "support/StandInFfmpeg.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;

// A merge whose ffmpeg hangs, having started a program of its own, is ended
// by the engines' stall limit, with a reason that names ffmpeg, and nothing
// it started is left; its streams stay. One that writes a little at a time,
// for longer than the limit, is let finish.
TEST(StreamMerge, AMergeThatHangsIsEndedByTheStallLimit)
{
    const ScopedStallLimit stallLimit(1500ms);
    QTemporaryDir folder;
    const QString video = folder.filePath("clip [VideoStream].mp4");
    const QString audio = folder.filePath("clip [AudioStream].m4a");
    const QString destination = folder.filePath("clip.mp4");
    ASSERT_TRUE(writeTestFile(video, "video") && writeTestFile(audio, "audio"));
    const QString leader = folder.filePath("leader");
    const struct {
        const char* name;
        QByteArray script;
        QString reason; // empty: it succeeds
    } cases[] = {
        { "hangs",
            "echo $$ >'" + QFile::encodeName(leader)
                + "'\n"
                  "sleep 1000 &\n"
                  "exec sleep 1000\n",
            "ffmpeg made no progress for 1.5 s while merging the streams into " + destination
                + ", and was ended" },
        { "writes slowly",
            "for last; do :; done\n"
            "for i in $(seq 20); do printf x >>\"${last#file:}\"; sleep 0.2; done\n",
            "" },
    };
    StandInFfmpeg ffmpeg;
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(ffmpeg.write(row.script));
        QFile::remove(leader);
        QFile::remove(destination);
        ProcessRunner runner;
        // Only so that a merge nothing ends cannot hold the test for ever.
        const RunDeadline giveUp(60s, [&runner] { runner.stop(); });
        const StreamMergeResult result = AVEncoderAVSynthetize(video, audio, destination, runner);
        EXPECT_EQ(result.succeeded, row.reason.isEmpty());
        EXPECT_EQ(result.reason.toStdString(), row.reason.toStdString());
        EXPECT_EQ(QFile::exists(destination), row.reason.isEmpty());
        EXPECT_TRUE(QFile::exists(video) && QFile::exists(audio));
        if (row.reason.isEmpty())
            continue;
        const int group = readTestFile(leader).trimmed().toInt();
        ASSERT_GT(group, 0);
        // The kill of what is left reaches it at once; it may take a moment to die.
        EXPECT_TRUE(
            QTest::qWaitFor([group] { return processGroupMembers(group).isEmpty(); }, 10000))
            << processGroupMembers(group).join(' ').toStdString();
    }
}

} // namespace

#include "engine/ToolBridge.h"

#include <gtest/gtest.h>

namespace {

// Stand-in engines that print what a real one printed on a full disk, and
// answer 0 as mencoder did or 1 as ffmpeg does.
TEST(ToolBridge, AnEngineThatSaidTheDiskIsFullFailedForThatReason)
{
    const struct {
        const char* script;
        int status;
        QString failure; // the start of it
    } cases[] = {
        { "echo 'Error writing file: No space left on device' >&2; echo 'Exiting... (End of file)'",
            0,
            "the disk is full: sh could not write all of its output; it said \"Error writing file: "
            "No space left on device\"" },
        { "echo 'av_interleaved_write_frame(): No space left on device' >&2;"
          "echo 'Conversion failed!' >&2; exit 1",
            1,
            "the disk is full: sh could not write all of its output; it said "
            "\"av_interleaved_write_frame(): No space" },
        { "echo 'Conversion failed!' >&2; exit 1", 1, "sh failed with exit status 1: Conversion" },
        { "kill -KILL $$", kToolBridgeFailed, "sh was ended by signal 9 (Killed)." },
        { "echo 'done'", 0, "" },
    };
    ToolBridge bridge("stand-in");
    for (const auto& row : cases) {
        SCOPED_TRACE(row.script);
        const ToolBridge::Call call(bridge);
        EXPECT_EQ(
            bridge.run({ .program = "sh", .arguments = { "-c", row.script }, .output = {} }, {}),
            row.status);
        EXPECT_EQ(
            bridge.lastFailure().left(row.failure.size()).toStdString(), row.failure.toStdString());
        EXPECT_EQ(bridge.lastFailure().isEmpty(), row.failure.isEmpty());
    }
}

} // namespace

#include "services/OutputPublishing.h"

#include "platform/OwnerMark.h"

#include "support/OwnerMarks.h"
#include "support/SmallFileSystem.h"
#include "support/TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(PartialOutputPath, IsAHiddenFreeNameBesideTheTargetWithItsExtension)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const QString& name : { QStringLiteral("clip.mkv"), QString(255, 'a') }) {
        const QString partial = partialOutputPath(dir.filePath(name));
        const QFileInfo info(partial);
        EXPECT_EQ(info.path(), dir.path());
        EXPECT_TRUE(info.fileName().startsWith('.'));
        EXPECT_EQ(info.suffix(), name.endsWith(".mkv") ? "mkv" : "partial");
        EXPECT_LE(QFile::encodeName(info.fileName()).size(), 255);
        EXPECT_FALSE(info.exists());
        EXPECT_NE(partialOutputPath(dir.filePath(name)), partial);
    }
}

// What another writer left at the names by the time the output is named.
TEST(PublishOutput, TakesTheNameOrTheNextFreeOneAndNeverReplaces)
{
    const struct {
        const char* what;
        QStringList taken;
        const char* wanted;
        const char* named;
    } cases[] = {
        { "free", {}, "clip.mkv", "clip.mkv" },
        { "taken meanwhile", { "clip.mkv" }, "clip.mkv", "clip (1).mkv" },
        { "numbered, taken meanwhile", { "clip.mkv", "clip (1).mkv" }, "clip (1).mkv",
            "clip (2).mkv" },
        { "counts on from its own number", { "clip (4).mkv" }, "clip (4).mkv", "clip (5).mkv" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        for (const QString& name : c.taken)
            ASSERT_TRUE(writeTestFile(dir.filePath(name), "theirs"));
        const QString wanted = dir.filePath(c.wanted);
        const QString partial = partialOutputPath(wanted);
        ASSERT_TRUE(writeTestFile(partial, "ours"));
        QString reason;
        EXPECT_EQ(publishOutput(partial, wanted, &reason), dir.filePath(c.named));
        EXPECT_EQ(reason, QString());
        EXPECT_EQ(readTestFile(dir.filePath(c.named)), "ours");
        for (const QString& name : c.taken)
            EXPECT_EQ(readTestFile(dir.filePath(name)), "theirs");
        EXPECT_FALSE(QFileInfo::exists(partial));
    }
}

// A mark as a process of ours that ended wrote it, or as one in another PID
// namespace (a sandboxed copy sharing the folder) that runs.
QByteArray markOf(const char* whose)
{
    if (qstrcmp(whose, "dead") == 0)
        return markOfAnEndedProcess();
    QList<QByteArray> words = OwnerMark::ownMark().split(' ');
    if (qstrcmp(whose, "elsewhere") == 0)
        words[1] = "pid:[1]";
    return words.join(' ');
}

// What writers killed outright left, beside what is not theirs to remove: a
// file is ours by its mark, not by its name.
TEST(RemoveAbandonedPartials, RemovesOnlyOurPartialsWhoseWriterIsGone)
{
    const struct {
        QString name;
        const char* mark; // "" for none
        bool removed;
    } cases[] = {
        { ".clip.3999999.0a1b2c3d.partial.mkv", "dead", true },
        { ".yt-dlp.3999999.0a1b2c3d.partial", "dead", true },
        // A file of the user's named like ours, its pid not running.
        { ".notes.3999999.0badc0de.partial.txt", "", false },
        { ".clip.3999999.0a1b2c3d.partial.mp4", "live", false },
        { ".clip.17.0a1b2c3d.partial.mkv", "elsewhere", false },
        // Marked, but not named as a partial.
        { "clip.mkv", "dead", false },
        { ".clip.partial.mkv", "dead", false },
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const auto& c : cases) {
        ASSERT_TRUE(writeTestFile(dir.filePath(c.name), "partial"));
        if (*c.mark && !putOwnerMark(dir.filePath(c.name), markOf(c.mark)))
            GTEST_SKIP() << "this file system keeps no attributes of users";
    }
    const QStringList removed = removeAbandonedPartials(dir.path());
    for (const auto& c : cases) {
        EXPECT_EQ(removed.contains(dir.filePath(c.name)), c.removed) << c.name.toStdString();
        EXPECT_EQ(QFileInfo::exists(dir.filePath(c.name)), !c.removed) << c.name.toStdString();
    }
}

// A partial is claimed marked as ours; the finished output is no more.
TEST(ClaimPartialOutput, MarksThePartialAndPublishingTakesTheMarkOff)
{
    QTemporaryDir dir;
    QString reason;
    const QString partial = claimPartialOutput(dir.filePath("clip.mkv"), &reason);
    ASSERT_FALSE(partial.isEmpty()) << reason.toStdString();
    if (OwnerMark::ownerOf(partial) == OwnerMark::Owner::None)
        GTEST_SKIP() << "this file system keeps no attributes of users";
    EXPECT_EQ(OwnerMark::ownerOf(partial), OwnerMark::Owner::Running);
    const QString published = publishOutput(partial, dir.filePath("clip.mkv"), &reason);
    ASSERT_EQ(published, dir.filePath("clip.mkv")) << reason.toStdString();
    EXPECT_EQ(OwnerMark::ownerOf(published), OwnerMark::Owner::None);
}

// A failed run's reason by the room its folder has left: the disk is full
// only when the engine said so or the room is gone; a reason of its own
// keeps its words, with little room left as a note.
TEST(ReasonWithRoom, SaysTheDiskIsFullOnlyWhenItIs)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const SmallFileSystem disk(dir.path(), "8m");
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    const QString output = dir.filePath(".clip.mp4");
    const QString decode
        = "ffmpeg failed with exit status 1: Invalid data found when processing input";
    const QString full = "av_interleaved_write_frame(): No space left on device";
    const QString prefix = "the disk is full: ffmpeg could not write all of its output into \""
        + dir.path() + "\", which has ";
    const struct {
        const char* what;
        qint64 left; // bytes left after a filler
        QString fullLine;
        QString told;
    } cases[] = {
        { "a decode failure with 600 KB left", 600 * 1024, {},
            decode + " (\"" + dir.path() + "\" has 600 KB left)" },
        { "the engine said so", 600 * 1024, full, prefix + "600 KB left; it said \"" + full + '"' },
        { "no room left", 0, {}, prefix + "0 KB left (" + decode + ')' },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(dir.filePath("filler"));
        const std::optional<FolderRoom> room = roomOfFolder(dir.path());
        ASSERT_TRUE(room);
        ASSERT_TRUE(writeTestFile(dir.filePath("filler"), QByteArray(room->bytes - c.left, 'x')));
        EXPECT_EQ(reasonWithRoom("ffmpeg", output, c.fullLine, decode).toStdString(),
            c.told.toStdString());
    }
    QFile::remove(dir.filePath("filler"));
    EXPECT_EQ(reasonWithRoom("ffmpeg", output, {}, decode).toStdString(), decode.toStdString())
        << "plenty of room";
}

// A folder with room for bytes but for no more files is full, and said to
// be in those words, not by the room it has.
TEST(ReasonWithRoom, NoRoomForAnotherFileIsAFullDisk)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const SmallFileSystem disk(dir.path(), "1m", 4);
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    for (int file = 0; file < 8; ++file)
        QFile(dir.filePath(QString::number(file))).open(QIODevice::WriteOnly);
    EXPECT_EQ(reasonWithRoom("mencoder", dir.filePath("clip.avi"), {}, {}).toStdString(),
        QStringLiteral("the disk is full: mencoder could not write all of its output into \"%1\", "
                       "which can hold no more files")
            .arg(dir.path())
            .toStdString());
}

} // namespace

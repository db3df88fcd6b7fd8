#include "services/OutputPublishing.h"

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

// What writers killed outright left, beside what is not theirs to remove.
TEST(RemoveAbandonedPartials, RemovesOnlyOurPartialsWhoseWriterIsGone)
{
    QProcess ended;
    ended.start("true");
    const QString dead = QString::number(ended.processId());
    ASSERT_TRUE(ended.waitForFinished());
    const QString live = QString::number(QCoreApplication::applicationPid());
    const struct {
        QString name;
        bool removed;
    } cases[] = {
        { ".clip." + dead + ".0a1b2c3d.partial.mkv", true },
        // Another program's naming: no token of ours.
        { ".notes." + dead + ".partial.txt", false },
        { ".yt-dlp." + dead + ".0a1b2c3d.partial", true },
        // A token of decimal digits is no pid.
        { ".clip." + live + ".12345678.partial.mkv", false },
        { "clip." + dead + ".partial.mkv", false },
        { ".clip.partial.mkv", false },
        { ".clip." + dead + ".partial.mkv.txt", false },
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const auto& c : cases)
        ASSERT_TRUE(writeTestFile(dir.filePath(c.name), "partial"));
    const QStringList removed = removeAbandonedPartials(dir.path());
    for (const auto& c : cases) {
        EXPECT_EQ(removed.contains(dir.filePath(c.name)), c.removed) << c.name.toStdString();
        EXPECT_EQ(QFileInfo::exists(dir.filePath(c.name)), !c.removed) << c.name.toStdString();
    }
}

// A failed run's folder with room for bytes but for no more files is full,
// and said to be in those words, not by the room it has.
TEST(OutputFolder, NoRoomForAnotherFileIsAFullDisk)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const SmallFileSystem disk(dir.path(), "1m", 4);
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    const OutputFolder folder(dir.path());
    EXPECT_EQ(folder.fullDiskReason().toStdString(), "");
    for (int file = 0; file < 8; ++file)
        QFile(dir.filePath(QString::number(file))).open(QIODevice::WriteOnly);
    EXPECT_EQ(folder.fullDiskReason().toStdString(),
        QStringLiteral("the disk is full: \"%1\" can hold no more files")
            .arg(dir.path())
            .toStdString());
}

} // namespace

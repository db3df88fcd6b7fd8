#include "services/OutputPublishing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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
            write(dir.filePath(name), "theirs");
        const QString wanted = dir.filePath(c.wanted);
        const QString partial = partialOutputPath(wanted);
        write(partial, "ours");
        QString reason;
        EXPECT_EQ(publishOutput(partial, wanted, &reason), dir.filePath(c.named));
        EXPECT_EQ(reason, QString());
        EXPECT_EQ(contents(dir.filePath(c.named)), "ours");
        for (const QString& name : c.taken)
            EXPECT_EQ(contents(dir.filePath(name)), "theirs");
        EXPECT_FALSE(QFileInfo::exists(partial));
    }
}

} // namespace

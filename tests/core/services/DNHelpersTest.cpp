#include "services/DNHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <climits>

namespace {

void touch(const QString& path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

struct UniqueCase {
    const char* what;
    QStringList existing; // files made first; a trailing "/" makes a folder
    const char* fileName;
    int counter;
    const char* expected; // relative to the folder
};

TEST(DNUniqueFilePath, SkipsEveryTakenName)
{
    const UniqueCase cases[] = {
        { "free name", {}, "clip.mp4", 0, "clip.mp4" },
        { "negative counter is plain", {}, "clip.mp4", -4, "clip.mp4" },
        { "taken name counts from 1", { "clip.mp4" }, "clip.mp4", 0, "clip (1).mp4" },
        { "counts on", { "clip.mp4", "clip (1).mp4" }, "clip.mp4", 0, "clip (2).mp4" },
        { "start counter", {}, "clip.mp4", 3, "clip (3).mp4" },
        { "start counter taken", { "clip (3).mp4" }, "clip.mp4", 3, "clip (4).mp4" },
        { "no extension, no trailing dot", { "clip" }, "clip", 0, "clip (1)" },
        { "last extension only", { "a.b.mp4" }, "a.b.mp4", 0, "a.b (1).mp4" },
        { "hidden name has no extension", { ".clip" }, ".clip", 0, ".clip (1)" },
        { "a folder takes the name", { "clip.mp4/" }, "clip.mp4", 0, "clip (1).mp4" },
    };
    for (const UniqueCase& c : cases) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        for (const QString& name : c.existing) {
            if (name.endsWith('/'))
                ASSERT_TRUE(QDir(dir.path()).mkdir(name.chopped(1)));
            else
                touch(dir.filePath(name));
        }
        EXPECT_EQ(DNUniqueFilePath(dir.path(), c.fileName, c.counter), dir.filePath(c.expected))
            << c.what;
    }
}

TEST(DNUniqueFilePath, JoinsFolderAndTreatsDanglingLinksAsTaken)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    touch(dir.filePath("clip.mp4"));
    EXPECT_EQ(DNUniqueFilePath(dir.path() + "/", "clip.mp4", 0), dir.filePath("clip (1).mp4"));
    EXPECT_EQ(DNUniqueFilePath(dir.path() + "/", "new.mp4", 0), dir.filePath("new.mp4"));
    EXPECT_EQ(DNUniqueFilePath("", "no-such-clip.mp4", 0), "no-such-clip.mp4");

    ASSERT_TRUE(QFile::link(dir.filePath("gone"), dir.filePath("link.mp4")));
    EXPECT_EQ(DNUniqueFilePath(dir.path(), "link.mp4", 0), dir.filePath("link (1).mp4"));
}

// A source name as long as a name can be: the output's own name, " (n)"
// included, keeps within 255 bytes and never ends inside a character.
TEST(DNUniqueFilePath, KeepsLongNamesWithinTheLongestFileName)
{
    const QString ascii = QString(251, 'a'); // with ".mkv", 255 bytes
    const QString accents = QString(125, QChar(0xE9)) + 'x'; // "é" is two bytes
    const struct {
        const char* what;
        QString fileName;
        bool taken;
        QString expected;
    } cases[] = {
        { "fits as it is", ascii + ".mkv", false, ascii + ".mkv" },
        { "numbered, cut", ascii + ".mkv", true, QString(247, 'a') + " (1).mkv" },
        { "too long, cut", QString(300, 'a') + ".mkv", false, ascii + ".mkv" },
        { "cut between characters", accents + ".mkv", true,
            QString(123, QChar(0xE9)) + " (1).mkv" },
        { "no extension", QString(260, 'a'), false, QString(255, 'a') },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        if (c.taken)
            touch(dir.filePath(c.fileName));
        const QString path = DNUniqueFilePath(dir.path(), c.fileName, 0);
        EXPECT_EQ(path, dir.filePath(c.expected));
        EXPECT_LE(QFile::encodeName(QFileInfo(path).fileName()).size(), 255);
        touch(path); // a name the file system takes
        EXPECT_TRUE(QFileInfo::exists(path));
    }
}

TEST(DNTimeStringFromSeconds, FormatsHoursMinutesSeconds)
{
    const std::pair<int, const char*> cases[] = {
        { 0, "00:00:00" },
        { 9, "00:00:09" },
        { 61, "00:01:01" },
        { 3599, "00:59:59" },
        { 36000, "10:00:00" },
        { 360000, "100:00:00" },
        { -3661, "01:01:01" },
        { INT_MIN, "596523:14:08" },
    };
    for (const auto& [seconds, expected] : cases)
        EXPECT_EQ(DNTimeStringFromSeconds(seconds), expected) << seconds;
}

TEST(DNQuotedWords, CutsOnlyWhatIsLongAndSaysSo)
{
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80"); // two UTF-16 units
    const std::tuple<QString, qsizetype, QString> cases[] = {
        { "short", 5, "short" },
        { "longer", 5, "longe… (cut)" },
        { "abcd" + smile, 5, "abcd… (cut)" }, // the pair stays whole or goes
        { QString(20'000'000, 'x'), 300, QString(300, 'x') + "… (cut)" },
    };
    for (const auto& [words, limit, quoted] : cases)
        EXPECT_EQ(DNQuotedWords(words, limit), quoted) << words.left(20).toStdString();
}

struct FitCase {
    QSizeF size, box, expected;
};

TEST(DNAspectFitSize, KeepsProportionsAndTruncates)
{
    const FitCase cases[] = {
        { { 1920, 1080 }, { 640, 480 }, { 640, 360 } }, // wider: box width
        { { 480, 640 }, { 640, 480 }, { 360, 480 } }, // taller: box height
        { { 320, 240 }, { 640, 480 }, { 640, 480 } }, // same ratio: the box
        { { 1000, 333 }, { 100, 100 }, { 100, 33 } }, // truncated, not rounded
        { { 720, 576 }, { 640.9, 480.7 }, { 600, 480 } }, // the box side is truncated too
        { { 16000, 9000.5 }, { 16, 9 }, { 16, 9 } }, // ratios within 0.0001
        { { 16000, 9002 }, { 16, 9 }, { 15, 9 } }, // just outside
        { { 0, 480 }, { 640, 480 }, { 640, 480 } }, // no area: nothing to divide by
        { { 640, 0 }, { 640, 480 }, { 640, 480 } },
        { { 640, 480 }, { 640, 0 }, { 640, 0 } },
    };
    for (const FitCase& c : cases)
        EXPECT_EQ(DNAspectFitSize(c.size, c.box), c.expected)
            << c.size.width() << "x" << c.size.height() << " in " << c.box.width() << "x"
            << c.box.height();
}

} // namespace

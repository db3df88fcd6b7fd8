#include "platform/DNLogger.h"

#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QDateTime at(int hour, int minute)
{
    return QDateTime(QDate(2024, 3, 5), QTime(hour, minute, 42));
}

class DNLoggerTest : public ::testing::Test {
protected:
    QString logPath() const { return m_folder.path() + "/Quillon.log"; }
    QString previousLogPath() const { return m_folder.path() + "/previous-run/Quillon.log"; }
    // A log left by an earlier run, readable by others as an old one could be.
    bool writePreviousRun() const
    {
        QFile old(logPath());
        return old.open(QIODevice::WriteOnly)
            && old.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther)
            && old.write("the previous run\n") > 0;
    }

    QTemporaryDir m_folder { AppPaths::temporaryFolder() + "/logs-XXXXXX" };
};

} // namespace

TEST_F(DNLoggerTest, DatePattern)
{
    struct Case {
        QDateTime date;
        QString expected;
    };
    const QList<Case> cases {
        { at(0, 5), "2024:03:05 12:05 AM" },
        { at(9, 30), "2024:03:05 9:30 AM" },
        { at(12, 0), "2024:03:05 12:00 PM" },
        { at(23, 59), "2024:03:05 11:59 PM" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(DNLogger::formatDate(c.date), c.expected);
}

TEST_F(DNLoggerTest, FirstLineMovesThePreviousLogAndWritesTheHeader)
{
    QFile::remove(previousLogPath());
    ASSERT_TRUE(writePreviousRun());
    QDateTime now = at(14, 7);
    DNLogger logger(logPath(), [&] { return now; });
    EXPECT_FALSE(QFile::exists(previousLogPath())) << "moved by the first line, not before";
    logger.log("BUILD DATE:Mar  5 2024");
    now = at(14, 8);
    logger.log("100% done, %1 stays");
    logger.logEngineLine("Stream #0:0: Video: h264");
    logger.logEngineLine("frame=  120 fps= 30 q=28.0 size=     256kB");
    logger.logEngineLine(" frame= is not at the start");
    logger.log("été");
    EXPECT_EQ(contents(previousLogPath()), "the previous run\n");
    EXPECT_EQ(contents(logPath()),
        "Log Created on 2024:03:05 2:07 PM\n"
        "2024:03:05 2:07 PM [Quillon]: BUILD DATE:Mar  5 2024\n"
        "2024:03:05 2:08 PM [Quillon]: 100% done, %1 stays\n"
        "\tStream #0:0: Video: h264\n"
        "\t frame= is not at the start\n"
        "2024:03:05 2:08 PM [Quillon]: \xc3\xa9t\xc3\xa9\n");
}

TEST_F(DNLoggerTest, PreviousLogIsPrivateAndNoPlantedLinkIsFollowed)
{
    const QString victim = m_folder.path() + "/victim";
    const QString previousFolder = QFileInfo(previousLogPath()).absolutePath();
    struct Case {
        const char* name;
        QString linkAt; // empty: nothing planted
    };
    const Case cases[] = {
        { "nothing planted", {} },
        { "link where the previous log goes", previousLogPath() },
        { "link in place of its folder", previousFolder },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(previousFolder).removeRecursively();
        QFile::remove(previousFolder);
        QDir(victim).removeRecursively();
        QFile::remove(victim);
        if (!c.linkAt.isEmpty()) {
            QDir().mkpath(QFileInfo(c.linkAt).absolutePath());
            ASSERT_TRUE(QFile::link(victim, c.linkAt));
        }
        ASSERT_TRUE(writePreviousRun());
        DNLogger logger(logPath());
        logger.log("this run");
        EXPECT_FALSE(QFileInfo::exists(victim)) << "nothing was written through the link";
        EXPECT_FALSE(QFileInfo(previousLogPath()).isSymLink());
        EXPECT_FALSE(QFileInfo(previousFolder).isSymLink());
        EXPECT_EQ(contents(previousLogPath()), "the previous run\n");
        EXPECT_EQ(QFileInfo(previousLogPath()).permissions() & 0x7077, 0x6000);
        EXPECT_EQ(QFileInfo(previousFolder).permissions() & 0x7077, 0x7000);
        EXPECT_EQ(QFileInfo(logPath()).permissions() & 0x7077, 0x6000);
    }
}

TEST_F(DNLoggerTest, LinesStopAtTenMebibytes)
{
    // A line is written while the file holds less than the cap, whatever its length.
    struct Case {
        qint64 fillTo;
        bool nextLineWritten;
    };
    const QList<Case> cases {
        { DNLogger::kMaxLogBytes - 1, true },
        { DNLogger::kMaxLogBytes, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fillTo);
        QFile::remove(logPath());
        DNLogger logger(logPath(), [] { return at(8, 0); });
        logger.log("start");
        const qint64 started = QFileInfo(logPath()).size();
        // An engine line is a tab, the text and a newline.
        logger.logEngineLine(QString(c.fillTo - started - 2, 'x'));
        ASSERT_EQ(QFileInfo(logPath()).size(), c.fillTo);
        logger.log("next");
        logger.log("dropped");
        const QByteArray written = contents(logPath());
        EXPECT_EQ(written.endsWith("[Quillon]: next\n"), c.nextLineWritten);
        EXPECT_FALSE(written.contains("dropped"));
    }
}

TEST_F(DNLoggerTest, UnwritableLogIsNotFatal)
{
    QFile blocker(m_folder.path() + "/not-a-folder");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    DNLogger logger(blocker.fileName() + "/Quillon.log");
    logger.log("goes nowhere");
    logger.logEngineLine("goes nowhere either");
    EXPECT_FALSE(QFile::exists(logger.path()));
}

TEST_F(DNLoggerTest, SharedLogLivesInTheDataFolder)
{
    EXPECT_EQ(DNLogger::shareRoughLog().path(), AppPaths::dataFolder() + "/Quillon.log");
    DNLog("through the shared log");
    EXPECT_TRUE(
        contents(DNLogger::shareRoughLog().path()).endsWith("[Quillon]: through the shared log\n"));
}

TEST_F(DNLoggerTest, SecondInstanceAppendsToTheRunningLog)
{
    QFile::remove(previousLogPath());
    ASSERT_TRUE(writePreviousRun());
    DNLogger first(logPath(), [] { return at(9, 0); });
    EXPECT_FALSE(first.anotherCopyHoldsTheLog()) << "asking starts the log";
    first.log("first instance");
    {
        DNLogger second(logPath(), [] { return at(9, 1); });
        second.log("second instance");
        EXPECT_TRUE(second.anotherCopyHoldsTheLog());
        first.log("first goes on");
    }
    EXPECT_EQ(contents(previousLogPath()), "the previous run\n");
    EXPECT_EQ(contents(logPath()),
        "Log Created on 2024:03:05 9:00 AM\n"
        "2024:03:05 9:00 AM [Quillon]: first instance\n"
        "Log Created on 2024:03:05 9:01 AM\n"
        "2024:03:05 9:01 AM [Quillon]: second instance\n"
        "2024:03:05 9:00 AM [Quillon]: first goes on\n");

    first.close();
    DNLogger next(logPath(), [] { return at(10, 0); });
    next.log("next run");
    EXPECT_FALSE(next.anotherCopyHoldsTheLog()) << "the first copy has ended";
    EXPECT_TRUE(contents(previousLogPath()).endsWith("first goes on\n"));
    EXPECT_EQ(contents(logPath()),
        "Log Created on 2024:03:05 10:00 AM\n2024:03:05 10:00 AM [Quillon]: next run\n");
}

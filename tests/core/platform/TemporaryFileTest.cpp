#include "platform/TemporaryFile.h"
#include "platform/AppPaths.h"
#include "platform/SystemInfo.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <thread>

#include <unistd.h>

TEST(TemporaryFile, KeepsPrefixAndExtensionInTheTemporaryFolder)
{
    struct Case {
        QString prefix;
        QString extension;
        QString pattern; // the file name expected, as a regular expression
    };
    const QList<Case> cases {
        { "qzimg", "png", R"(^qzimg[A-Za-z0-9]{6}\.png$)" },
        { "qzsubsrt", ".srt", R"(^qzsubsrt[A-Za-z0-9]{6}\.srt$)" },
        { "KR_", "", R"(^KR_[A-Za-z0-9]{6}$)" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefix.toStdString());
        const QString first = makeTemporaryFile(c.prefix, c.extension);
        const QString second = makeTemporaryFile(c.prefix, c.extension);
        ASSERT_FALSE(first.isEmpty());
        EXPECT_NE(first, second);
        const QFileInfo info(first);
        EXPECT_EQ(info.absolutePath(), AppPaths::temporaryFolder());
        EXPECT_TRUE(QRegularExpression(c.pattern).match(info.fileName()).hasMatch())
            << info.fileName().toStdString();
        EXPECT_TRUE(info.isFile());
        EXPECT_EQ(info.size(), 0);
    }
}

TEST(TemporaryFile, RefusesNamesThatLeaveTheFolder)
{
    EXPECT_TRUE(makeTemporaryFile("../qzfl", "txt").isEmpty());
    EXPECT_TRUE(makeTemporaryFile("qzfl", "x/../../txt").isEmpty());
}

TEST(TemporaryFile, AScopeRemovesWhatWasMadeWithinItOnItsThread)
{
    const QString before = makeTemporaryFile("qzfl");
    QString outer;
    QString inner;
    QString otherThread;
    {
        const TemporaryFileScope run;
        outer = makeTemporaryFile("qzsub", "srt");
        {
            const TemporaryFileScope nested;
            inner = makeTemporaryFile("qzwm", "png");
        }
        EXPECT_FALSE(QFileInfo::exists(inner));
        EXPECT_TRUE(QFileInfo::exists(outer));
        std::thread([&] { otherThread = makeTemporaryFile("qzfl"); }).join();
    }
    EXPECT_FALSE(QFileInfo::exists(outer));
    EXPECT_TRUE(QFileInfo::exists(before));
    EXPECT_TRUE(QFileInfo::exists(otherThread));
    const QString after = makeTemporaryFile("qzfl");
    EXPECT_TRUE(QFileInfo::exists(after));
}

TEST(SystemInfo, Facts)
{
    const int count = SystemInfo::processorCount();
    EXPECT_GE(count, 1);
    EXPECT_LE(count, ::sysconf(_SC_NPROCESSORS_CONF));
    EXPECT_TRUE(QRegularExpression(R"(^\d+\.\d+\.\d+$)").match(SystemInfo::osVersion()).hasMatch())
        << SystemInfo::osVersion().toStdString();
    EXPECT_FALSE(SystemInfo::osName().isEmpty());
}

#include "http/PartialFileOrigin.h"
#include "http/HttpHeaders.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(PartialFileOrigin, APieceContinuesOnlyWhatItAgreesWith)
{
    const PartialFileOrigin began { "\"v1\"", "Mon, 01 Jan 2024 00:00:00 GMT", 100000 };
    struct Case {
        const char* name;
        PartialFileOrigin piece;
        bool continues;
    };
    const Case cases[] = {
        { "the same", began, true },
        { "says nothing", {}, true },
        { "length unknown", { "\"v1\"", {}, std::nullopt }, true },
        { "another tag", { "\"v2\"", {}, 100000 }, false },
        { "another length", { {}, {}, 120000 }, false },
        { "another date", { {}, "Tue, 02 Jan 2024 00:00:00 GMT", std::nullopt }, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(began.continuedBy(c.piece), c.continues);
    }
}

TEST(PartialFileOrigin, OnlyAStrongTagOrADateIsAskedWith)
{
    const QString date = QStringLiteral("Mon, 01 Jan 2024 00:00:00 GMT");
    struct Case {
        const char* tag;
        QString ifRange;
    };
    const Case cases[] = { { "\"v1\"", QStringLiteral("\"v1\"") }, { "W/\"v1\"", date },
        { "v1", date }, { "", date } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        HttpHeaders headers;
        if (*c.tag)
            headers.add(QStringLiteral("ETag"), QString::fromLatin1(c.tag));
        headers.add(QStringLiteral("Last-Modified"), date);
        const PartialFileOrigin origin = PartialFileOrigin::fromAnswer(headers, 10);
        EXPECT_EQ(origin.ifRangeValue(), c.ifRange);
        // Every tag is kept: a weak one still tells another version.
        EXPECT_EQ(origin.entityTag, QString::fromLatin1(c.tag));
    }
}

TEST(PartialFileOrigin, TravelsWithTheFileThroughARename)
{
    QTemporaryDir dir;
    const QString partial = dir.filePath(QStringLiteral("partial"));
    const QString renamed = dir.filePath(QStringLiteral("renamed"));
    QFile file(partial);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(PartialFileOrigin::readFrom(partial), std::nullopt);
    const PartialFileOrigin origin { "\"v1\"", {}, 42 };
    if (!origin.writeTo(partial))
        GTEST_SKIP() << "this file system keeps no extended attributes";
    ASSERT_TRUE(QFile::rename(partial, renamed));
    EXPECT_EQ(PartialFileOrigin::readFrom(renamed), origin);
    PartialFileOrigin::removeFrom(renamed);
    EXPECT_EQ(PartialFileOrigin::readFrom(renamed), std::nullopt);
}

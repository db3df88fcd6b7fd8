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

TEST(PartialFileOrigin, OnlyAStrongTagOrAStrongDateIsAskedWith)
{
    // A weak tag, or a date within the second of its answer, names no
    // bytes; nor does a date where any tag is known.
    const QString date = QStringLiteral("Mon, 01 Jan 2024 00:00:00 GMT");
    const QString later = QStringLiteral("Mon, 01 Jan 2024 00:00:01 GMT");
    struct Case {
        const char* tag;
        QString answered; // the answer's Date
        QString ifRange;
    };
    const Case cases[] = { { "\"v1\"", later, QStringLiteral("\"v1\"") },
        { "\"v1\"", {}, QStringLiteral("\"v1\"") }, { "W/\"v1\"", later, {} }, { "v1", later, {} },
        { "", later, date }, { "", date, {} }, { "", {}, {} },
        { "", QStringLiteral("not a date"), {} } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        SCOPED_TRACE(c.answered.toStdString());
        HttpHeaders headers;
        if (*c.tag)
            headers.add(QStringLiteral("ETag"), QString::fromLatin1(c.tag));
        headers.add(QStringLiteral("Last-Modified"), date);
        if (!c.answered.isEmpty())
            headers.add(QStringLiteral("Date"), c.answered);
        const PartialFileOrigin origin = PartialFileOrigin::fromAnswer(headers, 10);
        EXPECT_EQ(origin.ifRangeValue(), c.ifRange);
        // Every tag is kept: a weak one still tells another version.
        EXPECT_EQ(origin.entityTag, QString::fromLatin1(c.tag));
    }
}

TEST(PartialFileOrigin, OnlyAStrongValidatorTiesAPieceToThePartial)
{
    const QString monday = QStringLiteral("Mon, 01 Jan 2024 00:00:00 GMT");
    const QString tuesday = QStringLiteral("Tue, 02 Jan 2024 00:00:00 GMT");
    const PartialFileOrigin strongTag { "\"v1\"", monday, 100000, {}, tuesday };
    const PartialFileOrigin strongDate { {}, monday, 100000, {}, tuesday };
    const PartialFileOrigin weakTag { "W/\"a\"", monday, 100000, {}, tuesday };
    struct Case {
        const char* name;
        PartialFileOrigin began;
        PartialFileOrigin piece;
        bool tied;
        bool contradicted;
    };
    const Case cases[] = {
        { "the same strong tag", strongTag, { "\"v1\"", {}, 100000 }, true, false },
        { "the same strong tag, length unknown", strongTag, { "\"v1\"", {}, {} }, true, false },
        { "the same strong tag, another length", strongTag, { "\"v1\"", {}, 80000 }, false, true },
        { "its weak form", strongTag, { "W/\"v1\"", {}, 100000 }, false, false },
        { "no validator", strongTag, { {}, {}, 100000 }, false, false },
        { "only the date", strongTag, { {}, monday, 100000 }, false, false },
        { "the same strong date", strongDate, { {}, monday, 100000 }, true, false },
        { "the same date with a tag", strongDate, { "\"v1\"", monday, 100000 }, false, false },
        { "another date", strongDate, { {}, tuesday, 100000 }, false, false },
        { "no date", strongDate, {}, false, false },
        { "the same weak tag and date", weakTag, { "W/\"a\"", monday, 100000 }, false, false },
        { "a date within its answer's second", { {}, monday, 100000, {}, monday },
            { {}, monday, 100000 }, false, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.began.tiedTo(c.piece), c.tied);
        EXPECT_EQ(c.began.contradictedBy(c.piece), c.contradicted);
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
    const PartialFileOrigin origin { "\"v1\"", {}, 42, "video/mp4",
        QStringLiteral("Mon, 01 Jan 2024 00:00:00 GMT") };
    if (!origin.writeTo(partial))
        GTEST_SKIP() << "this file system keeps no extended attributes";
    ASSERT_TRUE(QFile::rename(partial, renamed));
    EXPECT_EQ(PartialFileOrigin::readFrom(renamed), origin);
    PartialFileOrigin::removeFrom(renamed);
    EXPECT_EQ(PartialFileOrigin::readFrom(renamed), std::nullopt);
}

#include "http/PartialFile.h"

#include "RequestTestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

HttpError refused(const QString&)
{
    return HttpError(QStringLiteral("Test"), 1, QStringLiteral("not the file"));
}

HttpError accepted(const QString&)
{
    return {};
}

} // namespace

TEST(PartialFile, AWholeBodyTakesThePartialsPlaceOnlyWhenItHoldsAsMuchAndIsAccepted)
{
    const QByteArray good = pattern(1000);
    struct Case {
        const char* name;
        QByteArray partialBefore; // empty: none
        QByteArray body; // written from the start
        PartialFile::Refusal refusal;
        QByteArray destination; // empty: not made
        QByteArray partialAfter;
        bool tookPartialsName;
    };
    const QByteArray none = "<missing>";
    const Case cases[] = {
        { "longer", good.left(400), good, accepted, good, none, true },
        { "as long", good.left(400), good.left(400), accepted, good.left(400), none, true },
        { "shorter", good.left(400), "login", accepted, {}, good.left(400), false },
        { "refused, still beside", good.left(400), good.left(300), refused, {}, good.left(400),
            false },
        // Past the partial's length it took the partial's name: it holds more.
        { "refused after taking its name", good.left(400), good.left(600), refused, {},
            good.left(600), true },
        // Written into the empty partial, which it leaves empty.
        { "refused, no partial before", {}, good, refused, {}, "", false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString partialPath = dir.filePath(QStringLiteral("file.part"));
        const QString destination = dir.filePath(QStringLiteral("file"));
        if (!c.partialBefore.isEmpty())
            writeFile(partialPath, c.partialBefore);
        PartialFile partial;
        QStringList replaced;
        partial.setReplaceHook([&](const QString& replacement) { replaced << replacement; });
        partial.setPath(partialPath, false);
        ASSERT_TRUE(partial.open(false, !c.partialBefore.isEmpty()).isNull());
        for (qsizetype at = 0; at < c.body.size(); at += 100)
            ASSERT_TRUE(partial
                            .append(c.body.constData() + at,
                                std::min<qsizetype>(100, c.body.size() - at), true)
                            .isNull());
        partial.close();
        const HttpError failure = partial.finish(destination, true, c.refusal);
        EXPECT_EQ(failure.isNull(), !c.destination.isEmpty());
        EXPECT_EQ(fileBytes(destination), c.destination.isEmpty() ? "<missing>" : c.destination);
        const QByteArray left = fileBytes(partialPath);
        EXPECT_EQ(left, c.partialAfter) << left.size();
        // Nothing hidden is left beside them.
        const QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        EXPECT_EQ(files.size(), int(!c.destination.isEmpty()) + int(c.partialAfter != none))
            << files.join(' ').toStdString();
        EXPECT_EQ(replaced.size(), c.tookPartialsName ? 1 : 0);
    }
}

TEST(PartialFile, ACodedBodyLeavesThePartialUnlessItsCopyTakesTheDestination)
{
    const QByteArray good = pattern(3000);
    struct Case {
        const char* name;
        QByteArray coded;
        bool destinationTaken;
        bool inPlace;
    };
    const Case cases[] = {
        { "decodes", deflated(good, 31), false, true },
        { "does not decode", "not gzip", false, false },
        { "name taken", deflated(good, 31), true, false },
        { "shorter than the partial", deflated(good.left(10), 31), false, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString partialPath = dir.filePath(QStringLiteral("file.part"));
        const QString destination = dir.filePath(QStringLiteral("file"));
        writeFile(partialPath, good.left(1000));
        if (c.destinationTaken)
            writeFile(destination, "theirs");
        PartialFile partial;
        partial.setPath(partialPath, false);
        ASSERT_TRUE(partial.open(false, true).isNull());
        ASSERT_TRUE(partial.append(c.coded.constData(), c.coded.size(), false).isNull());
        partial.close();
        const HttpError failure
            = partial.finishCoded(destination, NXDataDecompressor::Format::GzipOrZlib, 0, accepted);
        EXPECT_EQ(failure.isNull(), c.inPlace);
        const QByteArray theirs = c.destinationTaken ? "theirs" : "<missing>";
        EXPECT_EQ(fileBytes(destination), c.inPlace ? good : theirs);
        EXPECT_EQ(fileBytes(partialPath), c.inPlace ? QByteArray("<missing>") : good.left(1000));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(),
            int(c.inPlace) + int(!c.inPlace) + int(c.destinationTaken));
    }
}

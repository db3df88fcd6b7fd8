// Every profile the program ships must load, name a builder of its own kind's
// table and offer only values the builders can write.
#include "engine/ArgvAssemblerTables.h"
#include "platform/AppPaths.h"
#include "profiles/DNProfile.h"

#include <QDir>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <set>

namespace {

const QString kKeepOrigin = QStringLiteral("keep origin");

bool matchesAll(const QStringList& values, const QString& pattern, bool keepOriginAllowed)
{
    const QRegularExpression expression(QRegularExpression::anchoredPattern(pattern));
    for (const QString& value : values) {
        if (!(keepOriginAllowed && value == kKeepOrigin) && !expression.match(value).hasMatch())
            return false;
    }
    return true;
}

void expectWellFormed(const DNProfile& p)
{
    const QString number = QStringLiteral("[1-9][0-9]*");
    const QString decimal = QStringLiteral("[0-9]+(\\.[0-9]+)?");
    EXPECT_TRUE(QRegularExpression("^[A-Za-z0-9]+$").match(p.fileNameSuffix()).hasMatch());
    EXPECT_FALSE(p.profileName().isEmpty());
    EXPECT_TRUE(matchesAll(p.videoCodec().values(), "[A-Za-z0-9_]+", false));
    EXPECT_TRUE(matchesAll(p.audioCodec().values(), "[A-Za-z0-9_]+", true));
    EXPECT_TRUE(matchesAll(p.videoQuality().values(), number, false));
    EXPECT_TRUE(matchesAll(p.videoFrameRate().values(), decimal, true));
    EXPECT_TRUE(matchesAll(p.videoResolution().values(), number + "x" + number, true));
    EXPECT_TRUE(matchesAll(p.videoAspect().values(), decimal + "([x:]" + decimal + ")?", true));
    EXPECT_TRUE(matchesAll(p.audioQuality().values(), number, false));
    EXPECT_TRUE(matchesAll(p.audioSampleRate().values(), number, false));
    EXPECT_TRUE(matchesAll(p.audioChannel().values(), number, false));
    if (p.videoQuality().isPresent()) {
        EXPECT_GT(p.videoQuality().maxVideoBitrate(), 0);
    }
}

TEST(ShippedProfiles, LoadNameARegisteredBuilderAndHoldWellFormedValues)
{
    std::set<int> globalIDs;
    const struct {
        QString folder;
        int type;
        std::span<const ArgvAssemblerEntry> table;
    } kinds[] = {
        { AppPaths::resourcesFolder() + "/profiles/Video", DNProfileTypeVideo,
            VideoArgvAssemblerTable() },
        // Written by the build from its data table.
        { AppPaths::generatedResourcesFolder() + "/profiles/DVD", DNProfileTypeDVD,
            DVDArgvAssemblerTable() },
    };
    for (const auto& kind : kinds) {
        const QDir dir(kind.folder);
        ASSERT_TRUE(dir.exists()) << qPrintable(dir.path());
        for (const QString& file : dir.entryList({ "*.plist" }, QDir::Files, QDir::Name)) {
            SCOPED_TRACE(qPrintable(dir.filePath(file)));
            QString error;
            const auto profile = DNProfile::profileWithFile(dir.filePath(file), kind.type, error);
            ASSERT_NE(profile, nullptr) << qPrintable(error);
            const QByteArray name = profile->argvAssembler().toUtf8();
            EXPECT_NE(findArgvAssemblerIn(name.constData(), kind.table, {}), nullptr)
                << "no builder named " << name.constData();
            EXPECT_TRUE(globalIDs.insert(profile->GlobalID()).second)
                << "GlobalID " << profile->GlobalID() << " repeated";
            expectWellFormed(*profile);
        }
    }
}

} // namespace

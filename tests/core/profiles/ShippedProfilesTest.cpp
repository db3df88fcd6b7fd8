// Every profile the program ships must load, name a builder of its own kind's
// table and offer only values the builders can write.
#include "engine/ArgvAssemblerTables.h"
#include "platform/AppPaths.h"
#include "profiles/DNProfile.h"

#include <QDir>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

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

// The chooser groups DVD profiles by category; each category is the block of
// the table that holds the profile's row, so a row out of its block shows.
TEST(ShippedProfiles, EveryDVDRowHasOneProfileInTheGroupOfItsBlock)
{
    const QDir dir(AppPaths::generatedResourcesFolder() + "/profiles/DVD");
    std::map<std::string, QString> categoryOfRow;
    std::map<int, std::string> rowOfGlobalID;
    for (const QString& file : dir.entryList({ "*.plist" }, QDir::Files)) {
        QString error;
        const auto profile
            = DNProfile::profileWithFile(dir.filePath(file), DNProfileTypeDVD, error);
        ASSERT_NE(profile, nullptr) << qPrintable(error);
        const std::string row = profile->argvAssembler().toStdString();
        EXPECT_TRUE(categoryOfRow.emplace(row, profile->category()).second) << row;
        rowOfGlobalID[profile->GlobalID()] = row;
    }
    EXPECT_EQ(categoryOfRow.size(), 299U);
    const std::pair<std::size_t, const char*> blocks[] = { { 0, "Apple" }, { 38, "Backup" },
        { 42, "Audio" }, { 45, "Android" }, { 105, "Windows Phone" }, { 112, "Android" },
        { 202, "Windows 8" }, { 221, "PC" }, { 229, "Mac" }, { 235, "Web" }, { 247, "BlackBerry" },
        { 258, "PDA" }, { 260, "Xbox and Zune" }, { 271, "Nokia" }, { 276, "Sony" }, { 286, "TS" },
        { 295, "DodazeRev" }, { 299, "PC" } };
    const auto table = DVDArgvAssemblerTable();
    for (std::size_t row = 0, block = 0; row < table.size(); ++row) {
        block += block + 1 < std::size(blocks) && blocks[block + 1].first == row ? 1 : 0;
        const auto found = categoryOfRow.find(table[row].name);
        ASSERT_NE(found, categoryOfRow.end()) << "no profile for " << table[row].name;
        EXPECT_EQ(found->second, blocks[block].second) << "row " << row << " " << table[row].name;
    }
    // The driver picks the backup engines by these ids.
    EXPECT_EQ(rowOfGlobalID[1000003], "DVD_To_DVDFullBackup_MPEG_With_MEncoder");
    EXPECT_EQ(rowOfGlobalID[1000002], "DVD_Backup_To_ISO");
    EXPECT_EQ(rowOfGlobalID[1000005], "DVD_Backup_To_MKV");
}

} // namespace

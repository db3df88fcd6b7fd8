#include "profiles/DNProfileManager.h"

#include "core/profiles/ProfileTestSupport.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QVariantMap profile(int globalID, const QString& name, const QString& category)
{
    QVariantMap map = fullProfile();
    map.insert("GlobalID", globalID);
    map.insert("ProfileName", name);
    map.insert("Category", category);
    return map;
}

class Catalogue : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(m_dir.path()).mkpath("profiles/Video"));
        ASSERT_TRUE(QDir(m_dir.path()).mkpath("profiles/DVD"));
        write("Video/mp4.plist", profile(11, "MP4", "Formats"));
        write("Video/avi.plist", profile(12, "avi", "Formats"), PlistForm::Binary);
        write("Video/phone.plist", profile(13, "Phone", "Devices"));
        write("Video/repeated.plist", profile(11, "Repeated", "Formats"));
        QVariantMap broken = profile(14, "Broken", "Formats");
        broken.remove("ArgvAssembler");
        write("Video/broken.plist", broken);
        ASSERT_TRUE(writeFile(folder("Video/notes.txt"), "not a profile"));
        ASSERT_TRUE(writeFile(folder("Video/garbage.plist"), "\x01\x02 garbage"));
        write("DVD/dvd.plist", profile(21, "DVD to MP4", "Formats"));
    }

    QString folder(const QString& sub = {}) const
    {
        return QDir::cleanPath(m_dir.filePath("profiles/" + sub));
    }
    void write(const QString& file, const QVariantMap& map, PlistForm form = PlistForm::Xml)
    {
        ASSERT_TRUE(writeProfile(folder(file), map, form));
    }
    std::unique_ptr<DNProfileManager> makeManager()
    {
        return std::make_unique<DNProfileManager>(folder(), m_defaults);
    }

    QTemporaryDir m_dir;
    UserDefaults m_defaults { m_dir.filePath("defaults.conf") };
};

QStringList namesOf(const DNProfileCategory& category)
{
    QStringList names;
    for (const auto& p : category.profiles)
        names << p->profileName();
    return names;
}

std::vector<int> recentIDs(const DNProfileManager& manager)
{
    std::vector<int> ids;
    for (const auto& p : manager.recentProfilesOfType(DNProfileTypeVideo))
        ids.push_back(p->GlobalID());
    return ids;
}

TEST_F(Catalogue, LoadsTheGoodProfilesAndLogsTheBadOnes)
{
    const auto manager = makeManager();
    const auto& video = manager->categoriesOfType(DNProfileTypeVideo);
    ASSERT_EQ(video.size(), 2U);
    EXPECT_EQ(video[0].name, "Devices");
    EXPECT_EQ(namesOf(video[0]), QStringList({ "Phone" }));
    EXPECT_EQ(video[1].name, "Formats");
    EXPECT_EQ(namesOf(video[1]), QStringList({ "avi", "MP4" }));
    const auto& dvd = manager->categoriesOfType(DNProfileTypeDVD);
    ASSERT_EQ(dvd.size(), 1U);
    EXPECT_EQ(dvd[0].profiles.front()->profileType(), DNProfileTypeDVD);
    EXPECT_TRUE(manager->categoriesOfType(3).empty());

    const QString log = sharedLogText();
    EXPECT_TRUE(log.contains(folder("Video/broken.plist") + "\" lacks the key \"ArgvAssembler\""));
    EXPECT_TRUE(log.contains(folder("Video/garbage.plist") + "\" is not a property list"));
    EXPECT_TRUE(log.contains(folder("Video/repeated.plist") + "\" repeats the \"GlobalID\" 11"));
}

TEST_F(Catalogue, LastProfileOfTypeIsACopy)
{
    const auto manager = makeManager();
    const struct {
        int type;
        int globalID; // 0: none
    } cases[] = { { DNProfileTypeVideo, 13 }, { DNProfileTypeDVD, 21 }, { 0, 0 }, { 3, 0 } };
    for (const auto& c : cases) {
        const auto last = manager->lastProfileOfType(c.type);
        EXPECT_EQ(last ? last->GlobalID() : 0, c.globalID) << c.type;
    }

    const auto copy = manager->lastProfileOfType(DNProfileTypeVideo);
    copy->audioQuality().setCurrentValue("96");
    EXPECT_EQ(manager->lastProfileOfType(DNProfileTypeVideo)->audioQuality().currentValue(), "128");
    EXPECT_EQ(manager->profileWithGlobalID(21)->profileName(), "DVD to MP4");
    EXPECT_EQ(manager->profileWithGlobalID(99), nullptr);
}

TEST_F(Catalogue, RecentProfilesAreStoredWithTheUsersChoices)
{
    {
        const auto manager = makeManager();
        auto mp4 = manager->profileWithGlobalID(11);
        mp4->audioQuality().setCurrentValue("192");
        manager->addRecentProfile(*manager->profileWithGlobalID(12));
        manager->addRecentProfile(*mp4);
        manager->addRecentProfile(*manager->profileWithGlobalID(21));
        mp4->audioQuality().setCurrentValue("96"); // after picking: not recorded
        manager->storeRecentProfiles();
    }
    ASSERT_TRUE(
        m_defaults.contains("NXRecentVideoProfile_") && m_defaults.contains("NXRecentDvdProfile_"));

    const auto manager = makeManager();
    EXPECT_EQ(recentIDs(*manager), std::vector<int>({ 11, 12 }));
    EXPECT_EQ(manager->lastProfileOfType(DNProfileTypeVideo)->audioQuality().currentValue(), "192");
    EXPECT_EQ(manager->lastProfileOfType(DNProfileTypeDVD)->GlobalID(), 21);
    // Picking one again moves it to the front without repeating it.
    manager->addRecentProfile(*manager->profileWithGlobalID(12));
    EXPECT_EQ(recentIDs(*manager), std::vector<int>({ 12, 11 }));
}

// A run that uses only video profiles neither reads the DVD folder nor
// forgets the DVD profiles picked in earlier runs.
TEST_F(Catalogue, TheDVDProfilesAreReadOnlyWhenAskedFor)
{
    {
        const auto manager = makeManager();
        manager->addRecentProfile(*manager->profileWithGlobalID(21));
        manager->storeRecentProfiles();
    }
    const auto manager = makeManager();
    manager->addRecentProfile(*manager->lastProfileOfType(DNProfileTypeVideo));
    write("DVD/late.plist", profile(22, "Late", "Formats"));
    manager->storeRecentProfiles();
    EXPECT_EQ(namesOf(manager->categoriesOfType(DNProfileTypeDVD).at(0)),
        QStringList({ "DVD to MP4", "Late" }));
    EXPECT_EQ(makeManager()->lastProfileOfType(DNProfileTypeDVD)->GlobalID(), 21);
}

} // namespace

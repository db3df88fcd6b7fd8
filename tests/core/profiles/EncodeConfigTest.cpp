#include "engine/EncodeConfig.h"

#include "core/profiles/ProfileTestSupport.h"
#include "platform/AppPaths.h"
#include "services/DNAppSetting.h"
#include "services/DNMainWindowSetting.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct FlagCase {
    const char* name;
    bool deinterlacing, safemode, highQuality;
    bool dvdNav, deinterlace, avSyncFix;
};

class EncodeConfigFlags : public ::testing::TestWithParam<FlagCase> { };

TEST_P(EncodeConfigFlags, FollowTheEngineSettings)
{
    const FlagCase& c = GetParam();
    DNMainWindowSetting engine;
    engine.setDeinterlacing(c.deinterlacing);
    engine.setSafemode(c.safemode);
    engine.setHighQuality(c.highQuality);
    engine.setCpuCore(6);
    DNAppSetting app;
    app.setVideoOutputDirectory(QStringLiteral("/home/Ünïcode/Movies"));

    const EncodeConfig config = makeEncodeConfig(engine, app);
    EXPECT_EQ(config.dvdNav, c.dvdNav);
    EXPECT_EQ(config.deinterlace, c.deinterlace);
    EXPECT_EQ(config.avSyncFix, c.avSyncFix);
    EXPECT_EQ(config.resetTimestamps(), c.avSyncFix);
    EXPECT_EQ(config.safeMode, c.safemode);
    EXPECT_EQ(config.highQuality, c.highQuality);
    EXPECT_EQ(config.cpuCore, 6);
    EXPECT_EQ(configPath(config.outputDir), QStringLiteral("/home/Ünïcode/Movies"));
    EXPECT_FALSE(config.twoPass);
    EXPECT_EQ(config.passIndex, 0);
    EXPECT_EQ(configPath(config.passLog), QString());
}

INSTANTIATE_TEST_SUITE_P(EncodeConfig, EncodeConfigFlags,
    ::testing::Values(FlagCase { "AllOff", false, false, false, true, false, false },
        FlagCase { "Deinterlacing", true, false, false, true, true, false },
        FlagCase { "SafeMode", false, true, false, false, false, true },
        FlagCase { "SafeModeHighQuality", false, true, true, false, false, false },
        FlagCase { "HighQualityAlone", false, false, true, true, false, false }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

struct FolderCase {
    const char* name;
    qsizetype bytes; // length of the output folder in UTF-8 bytes
    bool replacedByHome;
};

class EncodeConfigFolder : public ::testing::TestWithParam<FolderCase> { };

// The field holds 2048 bytes, so a folder of 2048 bytes has no room for its NUL.
TEST_P(EncodeConfigFolder, TooLongIsReplacedByHome)
{
    const FolderCase& c = GetParam();
    // "é" takes two bytes: the limit is counted in bytes, not letters.
    const QString folder = QLatin1Char('/') + QString((c.bytes - 1) / 2, QChar(0xE9))
        + QString((c.bytes - 1) % 2, QLatin1Char('d'));
    ASSERT_EQ(folder.toUtf8().size(), c.bytes);
    DNAppSetting app;
    app.setVideoOutputDirectory(folder);
    const QString logBefore = sharedLogText();

    const EncodeConfig config = makeEncodeConfig(DNMainWindowSetting(), app);
    EXPECT_EQ(configPath(config.outputDir), c.replacedByHome ? AppPaths::homeFolder() : folder);
    const QString warning = QStringLiteral("Warrning: the output path is too long to use for "
                                           "encoder, So replace it with home directory.");
    EXPECT_EQ(sharedLogText().count(warning) - logBefore.count(warning), c.replacedByHome ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(EncodeConfig, EncodeConfigFolder,
    ::testing::Values(FolderCase { "Fits", 2047, false }, FolderCase { "NoRoomForNul", 2048, true },
        FolderCase { "FarTooLong", 5000, true }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace

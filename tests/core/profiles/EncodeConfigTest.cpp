#include "engine/EncodeConfig.h"

#include "core/profiles/ProfileTestSupport.h"
#include "platform/AppPaths.h"
#include "services/DNAppSetting.h"
#include "services/DNMainWindowSetting.h"

#include <gtest/gtest.h>

namespace {

TEST(EncodeConfig, FlagsFollowTheEngineSettings)
{
    const struct {
        bool deinterlacing, safemode, highQuality;
        bool dvdNav, deinterlace, avSyncFix;
    } cases[] = { { false, false, false, true, false, false },
        { true, false, false, true, true, false }, { false, true, false, false, false, true },
        { false, true, true, false, false, false }, { false, false, true, true, false, false } };
    for (const auto& c : cases) {
        DNMainWindowSetting engine;
        engine.setDeinterlacing(c.deinterlacing);
        engine.setSafemode(c.safemode);
        engine.setHighQuality(c.highQuality);
        engine.setCpuCore(6);
        DNAppSetting app;
        app.setVideoOutputDirectory(QStringLiteral("/home/Ünïcode/Movies"));

        const EncodeConfig config = makeEncodeConfig(engine, app);
        SCOPED_TRACE(testing::Message() << c.deinterlacing << c.safemode << c.highQuality);
        EXPECT_EQ(config.dvdNav, c.dvdNav);
        EXPECT_EQ(config.deinterlace, c.deinterlace);
        EXPECT_EQ(config.resetTimestamps(), c.avSyncFix);
        EXPECT_EQ(config.safeMode, c.safemode);
        EXPECT_EQ(config.highQuality, c.highQuality);
        EXPECT_EQ(config.cpuCore, 6);
        EXPECT_EQ(configPath(config.outputDir), QStringLiteral("/home/Ünïcode/Movies"));
        EXPECT_FALSE(config.twoPass);
        EXPECT_EQ(configPath(config.passLog), QString());
    }
}

// The field holds 2048 bytes, so a folder of 2048 bytes has no room for its NUL.
TEST(EncodeConfig, TooLongOutputFolderIsReplacedByHome)
{
    const QString warning = QStringLiteral("Warrning: the output path is too long to use for "
                                           "encoder, So replace it with home directory.");
    const struct {
        qsizetype bytes;
        bool replaced;
    } cases[] = { { 2047, false }, { 2048, true }, { 5000, true } };
    for (const auto& c : cases) {
        // "é" takes two bytes: the limit is counted in bytes, not letters.
        const QString folder
            = '/' + QString((c.bytes - 1) / 2, QChar(0xE9)) + QString((c.bytes - 1) % 2, 'd');
        ASSERT_EQ(folder.toUtf8().size(), c.bytes);
        DNAppSetting app;
        app.setVideoOutputDirectory(folder);
        const qsizetype warningsBefore = sharedLogText().count(warning);

        const EncodeConfig config = makeEncodeConfig(DNMainWindowSetting(), app);
        EXPECT_EQ(configPath(config.outputDir), c.replaced ? AppPaths::homeFolder() : folder)
            << c.bytes;
        EXPECT_EQ(sharedLogText().count(warning) - warningsBefore, c.replaced ? 1 : 0) << c.bytes;
    }
}

} // namespace

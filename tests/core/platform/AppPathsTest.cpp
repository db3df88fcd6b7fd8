#include "platform/AppPaths.h"

#include <gtest/gtest.h>

// The test main points HOME and XDG_* at a private folder; every path must follow it.
TEST(AppPaths, FollowsTheXdgEnvironment)
{
    const QString home = qEnvironmentVariable("HOME");
    EXPECT_EQ(AppPaths::dataFolder(), qEnvironmentVariable("XDG_DATA_HOME") + "/Farrowby/Quillon");
    EXPECT_EQ(AppPaths::settingsFile(), qEnvironmentVariable("XDG_CONFIG_HOME") + "/Farrowby/Quillon.conf");
    EXPECT_TRUE(AppPaths::moviesFolder().startsWith(home));
    EXPECT_EQ(AppPaths::homeFolder(), home);
    EXPECT_EQ(AppPaths::temporaryFolder(), qEnvironmentVariable("TMPDIR"));
    EXPECT_TRUE(AppPaths::ensureDataFolder());
}

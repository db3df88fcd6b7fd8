#include "platform/AppPaths.h"

#include <gtest/gtest.h>

// The test main points HOME and XDG_* at a private folder; every path must follow it.
TEST(AppPaths, FollowsTheXdgEnvironment)
{
    const QString home = qEnvironmentVariable("HOME");
    EXPECT_EQ(AppPaths::dataFolder(), qEnvironmentVariable("XDG_DATA_HOME") + "/Farrowby/Quillon");
    EXPECT_EQ(AppPaths::settingsFile(),
        qEnvironmentVariable("XDG_CONFIG_HOME") + "/Farrowby/Quillon.conf");
    EXPECT_TRUE(AppPaths::moviesFolder().startsWith(home));
    EXPECT_EQ(AppPaths::homeFolder(), home);
    EXPECT_EQ(AppPaths::temporaryFolder(), qEnvironmentVariable("TMPDIR"));
    EXPECT_TRUE(AppPaths::ensureDataFolder());
}

TEST(AppPaths, UserFoldersAndOverrides)
{
    const QString home = qEnvironmentVariable("HOME");
    for (const QString& folder :
        { AppPaths::picturesFolder(), AppPaths::downloadsFolder(), AppPaths::moviesFolder() }) {
        EXPECT_TRUE(folder.startsWith(home + '/')) << folder.toStdString();
    }

    struct Case {
        const char* variable;
        QString (*folder)();
    };
    const Case cases[] = {
        { "QUILLON_RESOURCES", &AppPaths::resourcesFolder },
        { "QUILLON_RESOURCES", &AppPaths::generatedResourcesFolder },
        { "QUILLON_TOOLS", &AppPaths::toolsFolder },
    };
    for (const Case& c : cases) {
        qputenv(c.variable, "/opt/elsewhere");
        EXPECT_EQ(c.folder(), "/opt/elsewhere") << c.variable;
        qunsetenv(c.variable);
        EXPECT_NE(c.folder(), "/opt/elsewhere") << c.variable;
    }
}

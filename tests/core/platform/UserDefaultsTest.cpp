#include "platform/UserDefaults.h"

#include "platform/AppPaths.h"

#include <QFile>

#include <gtest/gtest.h>

TEST(UserDefaults, RoundTripThroughTheFile)
{
    const QString file = AppPaths::temporaryFolder() + "/defaults-round-trip.conf";
    QFile::remove(file);
    QByteArray archive("\x00\x01\xff\xfe archive\n", 14);
    archive.append("[section]\n=@ByteArray(x)");
    struct Case {
        QString key;
        QVariant value;
    };
    const QList<Case> cases {
        { "MergeExistsMediaNode", false },
        { "_NotPressentDiffType_", true },
        { "keyTolvaConvertDidSafeTerminate_0.0", true },
        { "AppleLanguages", QStringList { "en" } },
        { "LastOutputFolder", QString("/home/x/Vidéos/a;b=c, \"d\" @e") },
        { "Count", 42 },
        { "Volume", 0.75 },
    };
    {
        UserDefaults defaults(file);
        for (const Case& c : cases)
            defaults.setValue(c.key, c.value);
        defaults.setData("kApplicationSetting002", archive);
        defaults.setValue("Removed", 1);
        defaults.remove("Removed");
        defaults.synchronize();
    }
    const UserDefaults reread(file);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key.toStdString());
        ASSERT_TRUE(reread.contains(c.key));
        EXPECT_EQ(reread.value(c.key).toString(), c.value.toString());
    }
    EXPECT_FALSE(reread.boolValue("MergeExistsMediaNode", true));
    EXPECT_TRUE(reread.boolValue("_NotPressentDiffType_"));
    EXPECT_EQ(reread.value("AppleLanguages").toStringList(), QStringList { "en" });
    EXPECT_EQ(reread.data("kApplicationSetting002"), archive);
    EXPECT_FALSE(reread.contains("Removed"));
    EXPECT_TRUE(reread.boolValue("Missing", true));
}

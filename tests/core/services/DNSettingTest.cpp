#include "services/DNSetting.h"

#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/UserDefaults.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

QByteArray logText()
{
    QFile log(DNLogger::shareRoughLog().path());
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

// Changes one field of every record away from its default, one of each type.
void changeEveryRecord(DNSetting& setting)
{
    setting.appSetting().setVideoOutputDirectory(QStringLiteral("/srv/out é"));
    setting.mainWindowSetting().setCpuCore(3);
    setting.downloadSetting().setVolume(55.5);
    setting.cameraSetting().setIsShowInFinder(true);
    setting.screenRecordSetting().setMaxFramerate(30);
}

// A restore starts over from the defaults, so a setting equals a fresh one
// exactly when its archive does.
bool hasDefaults(const DNSetting& s)
{
    return s.archive() == DNSetting().archive();
}

class DNSettingStore : public ::testing::Test {
protected:
    QTemporaryDir folder;
    QString file() const { return folder.filePath(QStringLiteral("defaults.conf")); }
};

TEST_F(DNSettingStore, SurvivesSaveAndANewLaunch)
{
    DNSetting setting;
    changeEveryRecord(setting);
    {
        UserDefaults defaults(file());
        setting.save(defaults);
    }
    UserDefaults reopened(file());
    DNSetting restored;
    restored.restore(reopened);
    EXPECT_FALSE(hasDefaults(restored));
    EXPECT_EQ(restored.archive(), setting.archive());
    EXPECT_EQ(restored.appSetting().videoOutputDirectory(), QStringLiteral("/srv/out é"));
    EXPECT_DOUBLE_EQ(restored.downloadSetting().volume(), 55.5);
}

TEST_F(DNSettingStore, NothingStoredGivesTheDefaultsAndMakesTheRecordFolder)
{
    UserDefaults empty(file());
    DNSetting setting;
    changeEveryRecord(setting);
    setting.restore(empty);
    EXPECT_TRUE(hasDefaults(setting));
    EXPECT_TRUE(QFileInfo(AppPaths::moviesFolder() + QStringLiteral("/Record")).isDir());
}

TEST_F(DNSettingStore, UnusableArchiveFallsBackToDefaultsWithALogLine)
{
    const QByteArray good = DNSetting().archive();
    QByteArray flipped = good;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x5a);
    QByteArray otherVersion = good;
    otherVersion[7] = 9; // the layout version follows the four-byte mark

    const struct {
        const char* name;
        QByteArray bytes;
        const char* reason;
    } rows[] = {
        { "garbage", QByteArrayLiteral("not an archive at all"), "not a settings archive" },
        { "truncated", good.left(good.size() - 5), "damaged" },
        { "flipped_byte", flipped, "damaged" },
        { "trailing_bytes", good + "xx", "damaged" },
        { "other_version", otherVersion, "layout version 9" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        UserDefaults(file()).setData(DNSetting::kArchiveKey, row.bytes);
        DNSetting setting;
        changeEveryRecord(setting);
        UserDefaults defaults(file());
        const qsizetype logBefore = logText().size();
        setting.restore(defaults);
        EXPECT_TRUE(hasDefaults(setting));
        const QByteArray newLines = logText().mid(logBefore);
        EXPECT_TRUE(newLines.contains("The saved settings are not used"));
        EXPECT_TRUE(newLines.contains(row.reason)) << newLines.constData();
    }
}

// An archive whose records are written by hand, as an older or foreign
// writer might have left them.
QByteArray archiveOf(const QVariantMap& records)
{
    QByteArray payload;
    QDataStream recordStream(&payload, QIODevice::WriteOnly);
    recordStream.setVersion(QDataStream::Qt_6_4);
    recordStream << records;
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << quint32(0x514C5354) << quint32(1) << payload << qChecksum(QByteArrayView(payload));
    return bytes;
}

TEST(DNSetting, MissingOrMistypedValuesKeepTheirDefaults)
{
    const QVariantMap records {
        { QStringLiteral("mainWindowSetting"),
            QVariantMap { { QStringLiteral("safemode"), true },
                { QStringLiteral("cpuCore"), QStringLiteral("eight") } } },
        { QStringLiteral("screenRecordSetting"),
            QVariantMap { { QStringLiteral("countDown"), quint64(5) } } },
        { QStringLiteral("cameraSetting"), QStringLiteral("not a record") },
    };
    DNSetting setting;
    const qint32 cores = setting.mainWindowSetting().cpuCore();
    const qsizetype logBefore = logText().size();
    ASSERT_TRUE(setting.restoreArchive(archiveOf(records)));

    EXPECT_TRUE(setting.mainWindowSetting().safemode());
    EXPECT_EQ(setting.mainWindowSetting().cpuCore(), cores);
    EXPECT_EQ(setting.screenRecordSetting().countDown(), 5u);
    EXPECT_EQ(setting.screenRecordSetting().maxFramerate(), 10u);
    EXPECT_DOUBLE_EQ(setting.cameraSetting().volume(), 0.5);
    EXPECT_EQ(setting.downloadSetting().favFormat(), QStringLiteral("mp4"));
    const QByteArray newLines = logText().mid(logBefore);
    EXPECT_TRUE(newLines.contains("\"cpuCore\"")) << newLines.constData();
    EXPECT_TRUE(newLines.contains("\"cameraSetting\"")) << newLines.constData();
}

TEST(DNSetting, ValuesOfKindsNoRecordHoldsRefuseTheArchive)
{
    // A URL would be built from the bytes; a list would first reserve room
    // for the count it names.
    const QVariant foreignValues[] { QUrl(QStringLiteral("file:///x")),
        QStringList { QStringLiteral("a"), QStringLiteral("b") } };
    for (const QVariant& foreign : foreignValues) {
        SCOPED_TRACE(foreign.typeName());
        const QVariantMap records { { QStringLiteral("mainWindowSetting"),
            QVariantMap {
                { QStringLiteral("safemode"), true }, { QStringLiteral("cpuCore"), foreign } } } };
        DNSetting setting;
        EXPECT_FALSE(setting.restoreArchive(archiveOf(records)));
        EXPECT_TRUE(hasDefaults(setting));
    }
}

TEST(DNSetting, DownloadFolderChangesAreObservedAcrossARestore)
{
    DNSetting setting;
    NXVideoDownloadSetting& download = setting.downloadSetting();
    QSignalSpy spy(&download, &NXVideoDownloadSetting::downloadTargetChanged);

    DNSetting other;
    other.downloadSetting().setDownloadTarget(QStringLiteral("/srv/dl"));
    ASSERT_TRUE(setting.restoreArchive(other.archive()));

    EXPECT_EQ(&setting.downloadSetting(), &download); // references stay valid
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toString(), QStringLiteral("/srv/dl"));

    // The same folder again is no change, even though a restore starts over
    // from the defaults.
    ASSERT_TRUE(setting.restoreArchive(other.archive()));
    EXPECT_EQ(spy.count(), 1);
}

} // namespace

#include "profiles/DNProfile.h"

#include "core/profiles/ProfileTestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class ProfileFiles : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    std::shared_ptr<DNProfile> load(const QVariantMap& map, PlistForm form, QString& error)
    {
        const QString file = path(QStringLiteral("profile.plist"));
        EXPECT_TRUE(writeProfile(file, map, form));
        return DNProfile::profileWithFile(file, DNProfileTypeVideo, error);
    }

    QTemporaryDir m_dir;
};

// The profile's values in a fixed order, the parameters' current values last.
QStringList summary(const DNProfile& p)
{
    QStringList values { p.profileName(), p.category(), QString::number(p.GlobalID()),
        p.argvAssembler(), p.fileNameSuffix(), p.fileFormat(), QString::number(p.qualityPhase()),
        p.userEnableTwopassCode() ? "two passes" : "one pass",
        QString::number(p.videoQuality().maxVideoBitrate()),
        QString::number(p.videoQuality().curBitrateModel()) };
    for (const NXProfileInfoBase* info :
        std::initializer_list<const NXProfileInfoBase*> { &p.videoCodec(), &p.videoQuality(),
            &p.videoFrameRate(), &p.videoResolution(), &p.videoAspect(), &p.audioCodec(),
            &p.audioQuality(), &p.audioSampleRate(), &p.audioChannel(), &p.subtitleOptions() })
        values << (info->isPresent() ? info->currentValue() : "absent");
    return values;
}

TEST_F(ProfileFiles, ReadEveryValueInBothForms)
{
    for (const PlistForm form : { PlistForm::Xml, PlistForm::Binary }) {
        QString error;
        const auto profile = load(fullProfile(), form, error);
        ASSERT_NE(profile, nullptr) << qPrintable(error);
        EXPECT_EQ(summary(*profile),
            QStringList({ "MP4 Video", "Formats", "2001", "Video_To_MP4_With_AVEncoder", "mp4",
                "iPod", "2", "two passes", "3000", "0", "libx264", "1500", "29.97", "640x480",
                "4x3", "aac", "128", "44100", "2", "absent" }));
        EXPECT_EQ(profile->videoQuality().values(), QStringList({ "800", "1500", "3000" }));
        EXPECT_EQ(profile->videoAspect().values(), QStringList({ "4x3" }));
    }
}

TEST_F(ProfileFiles, OptionalKeysHaveDefaults)
{
    QVariantMap map;
    for (const char* key :
        { "ProfileName", "Category", "GlobalID", "ArgvAssembler", "FileNameSuffix" })
        map.insert(key, fullProfile().value(key));
    QString error;
    const auto profile = load(map, PlistForm::Xml, error);
    ASSERT_NE(profile, nullptr) << qPrintable(error);
    QStringList expected { "MP4 Video", "Formats", "2001", "Video_To_MP4_With_AVEncoder", "mp4", "",
        "1", "one pass", "0", "1" };
    for (int i = 0; i < 10; ++i)
        expected << "absent";
    EXPECT_EQ(summary(*profile), expected);
}

// The model of the rate control: a stored choice wins over the profile's
// default model, and "CBR" is the default when the profile names none.
TEST_F(ProfileFiles, BitrateModel)
{
    const struct {
        QVariant model;
        QVariant stored;
        int expected;
    } cases[] = {
        { {}, {}, NXVideoQuality::CBR },
        { "CBR", {}, NXVideoQuality::CBR },
        { "VBR", {}, NXVideoQuality::VBR },
        { "CBR", 0, NXVideoQuality::VBR },
        { "VBR", 1, NXVideoQuality::CBR },
        { {}, 0, NXVideoQuality::VBR },
    };
    for (const auto& c : cases) {
        QVariantMap map = fullProfile();
        QVariantMap quality = map.value("VideoQuality").toMap();
        quality.remove("BitrateModel");
        if (c.model.isValid())
            quality.insert("BitrateModel", c.model);
        if (c.stored.isValid())
            quality.insert("curBitrateModel", c.stored);
        map.insert("VideoQuality", quality);
        QString error;
        const auto profile = load(map, PlistForm::Xml, error);
        ASSERT_NE(profile, nullptr) << qPrintable(error);
        EXPECT_EQ(profile->videoQuality().curBitrateModel(), c.expected)
            << qPrintable(c.model.toString()) << " stored " << qPrintable(c.stored.toString());
    }
}

// The profile with the value at "Key" or "Key/Inner" replaced, or removed
// when the value is invalid.
QVariantMap damaged(QVariantMap map, const QString& keyPath, const QVariant& value)
{
    const QStringList keys = keyPath.split('/');
    QVariantMap entry = keys.size() == 1 ? map : map.value(keys[0]).toMap();
    if (value.isValid())
        entry.insert(keys.last(), value);
    else
        entry.remove(keys.last());
    if (keys.size() == 1)
        return entry;
    map.insert(keys[0], entry);
    return map;
}

TEST_F(ProfileFiles, DamagedProfilesAreRefusedNamingTheFileAndTheKey)
{
    const struct {
        const char* key;
        QVariant value; // invalid: the key is removed
        const char* reason;
    } cases[] = {
        { "ArgvAssembler", {}, "lacks the key \"ArgvAssembler\"" },
        { "GlobalID", {}, "lacks the key \"GlobalID\"" },
        { "GlobalID", "many", "\"GlobalID\" is not an integer" },
        { "EnableTwoPass", "yes", "\"EnableTwoPass\" is not a boolean" },
        { "VideoQuality/MaxVideoBitrate", {}, "lacks the key \"VideoQuality/MaxVideoBitrate\"" },
        { "VideoQuality/BitrateModel", "ABR", "\"VideoQuality/BitrateModel\" is neither" },
        { "AudioQuality/DefaultValue", {}, "lacks the key \"AudioQuality/DefaultValue\"" },
        { "AudioChannel/DefaultValue", "6",
            "\"AudioChannel/DefaultValue\" is not one of its \"AllowChannels\"" },
        { "AudioSampleRate/SampleRates", "44100",
            "\"AudioSampleRate/SampleRates\" is not an array" },
        { "VideoCodec", "libx264", "\"VideoCodec\" is not a dictionary" },
    };
    for (const auto& c : cases) {
        QString error;
        EXPECT_EQ(load(damaged(fullProfile(), c.key, c.value), PlistForm::Xml, error), nullptr);
        EXPECT_TRUE(
            error.contains(path("profile.plist")) && error.contains(QLatin1String(c.reason)))
            << qPrintable(error);
    }
}

TEST_F(ProfileFiles, UnreadableFilesAreRefused)
{
    // A damaged file can hold a zero byte inside a text.
    QByteArray zeroInText
        = plistBytes(damaged(fullProfile(), "ProfileName", "Zero_byte"), PlistForm::Xml);
    zeroInText.replace(QByteArray("Zero_byte"), QByteArray("Zero\0byte", 9));
    const struct {
        const char* file;
        QByteArray bytes; // null: no file at all
        const char* reason;
    } cases[] = {
        { "missing.plist", QByteArray(), "cannot be read" },
        { "empty.plist", QByteArray(""), "is not a property list" },
        { "cut.plist", plistBytes(fullProfile(), PlistForm::Xml).left(200),
            "is not a property list" },
        { "array.plist", plistBytes(QVariantList { "a", "b" }, PlistForm::Xml),
            "is not a dictionary" },
        { "zero.plist", zeroInText, "\"ProfileName\" is not a text or a number" },
        // libplist's parser recurses once a level: this one ended its stack.
        { "deep.plist", QByteArray("<plist><array>") + QByteArray("<array>").repeated(100000),
            "nests deeper than 256 levels" },
        { "large.plist", QByteArray(2 * 1024 * 1024, ' '), "is larger than 1048576 bytes" },
    };
    for (const auto& c : cases) {
        const QString file = path(c.file);
        if (!c.bytes.isNull()) {
            ASSERT_TRUE(writeFile(file, c.bytes));
        }
        QString error;
        EXPECT_EQ(DNProfile::profileWithFile(file, DNProfileTypeVideo, error), nullptr) << c.file;
        EXPECT_TRUE(error.contains(file) && error.contains(QLatin1String(c.reason)))
            << qPrintable(error);
    }
}

// A profile of /dev/zero has no size to look at: it was read until memory ran out.
TEST_F(ProfileFiles, AnEndlessProfileIsRefused)
{
    QString error;
    EXPECT_EQ(DNProfile::profileWithFile("/dev/zero", DNProfileTypeVideo, error), nullptr);
    EXPECT_TRUE(error.contains("is larger than")) << qPrintable(error);
}

TEST_F(ProfileFiles, StoredChoicesComeBackUnlessNoLongerOffered)
{
    QString error;
    const auto profile = load(fullProfile(), PlistForm::Binary, error);
    ASSERT_NE(profile, nullptr) << qPrintable(error);
    const auto chosen = profile->copy();
    chosen->audioQuality().setCurrentValue("192");
    chosen->videoQuality().setCurBitrateModel(NXVideoQuality::CBR);
    chosen->setQualityPhase(0);
    chosen->setUserEnableTwopassCode(false);
    EXPECT_EQ(summary(*profile)[16], "128"); // the copy is a value of its own

    QVariantMap stored = chosen->choices();
    stored.insert("VideoResolution", "333x222");
    profile->applyChoices(stored);
    EXPECT_EQ(summary(*profile).mid(6),
        QStringList({ "0", "one pass", "3000", "1", "libx264", "1500", "29.97", "640x480", "4x3",
            "aac", "192", "44100", "2", "absent" }));
}

} // namespace

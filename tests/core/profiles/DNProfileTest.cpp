#include "profiles/DNProfile.h"

#include "core/profiles/ProfileTestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <string>

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

class ProfileForms : public ProfileFiles, public ::testing::WithParamInterface<PlistForm> { };

TEST_P(ProfileForms, ReadEveryValue)
{
    QString error;
    const auto profile = load(fullProfile(), GetParam(), error);
    ASSERT_NE(profile, nullptr) << qPrintable(error);
    EXPECT_EQ(profile->profileName(), "MP4 Video");
    EXPECT_EQ(profile->category(), "Formats");
    EXPECT_EQ(profile->GlobalID(), 2001);
    EXPECT_EQ(profile->argvAssembler(), "Video_To_MP4_With_AVEncoder");
    EXPECT_EQ(profile->fileNameSuffix(), "mp4");
    EXPECT_EQ(profile->fileFormat(), "iPod");
    EXPECT_EQ(profile->qualityPhase(), 2);
    EXPECT_TRUE(profile->userEnableTwopassCode());
    EXPECT_EQ(profile->profileType(), DNProfileTypeVideo);
    EXPECT_EQ(profile->videoCodec().currentValue(), "libx264");
    EXPECT_EQ(profile->videoQuality().currentValue(), "1500");
    EXPECT_EQ(profile->videoQuality().values(), QStringList({ "800", "1500", "3000" }));
    EXPECT_EQ(profile->videoQuality().maxVideoBitrate(), 3000);
    EXPECT_EQ(profile->videoQuality().curBitrateModel(), NXVideoQuality::VBR);
    EXPECT_EQ(profile->videoFrameRate().currentValue(), "29.97");
    EXPECT_EQ(profile->videoResolution().currentValue(), "640x480");
    EXPECT_EQ(profile->videoAspect().currentValue(), "4x3");
    EXPECT_EQ(profile->videoAspect().values(), QStringList({ "4x3" }));
    EXPECT_EQ(profile->audioCodec().currentValue(), "aac");
    EXPECT_EQ(profile->audioQuality().currentValue(), "128");
    EXPECT_EQ(profile->audioSampleRate().currentValue(), "44100");
    EXPECT_EQ(profile->audioChannel().currentValue(), "2");
    EXPECT_FALSE(profile->subtitleOptions().isPresent());
    EXPECT_TRUE(profile->subtitleOptions().currentValue().isNull());
}

INSTANTIATE_TEST_SUITE_P(DNProfile, ProfileForms,
    ::testing::Values(PlistForm::Xml, PlistForm::Binary), [](const auto& testCase) {
        return std::string(testCase.param == PlistForm::Xml ? "Xml" : "Binary");
    });

TEST_F(ProfileFiles, OptionalKeysHaveDefaults)
{
    QVariantMap map;
    for (const char* key :
        { "ProfileName", "Category", "GlobalID", "ArgvAssembler", "FileNameSuffix" })
        map.insert(key, fullProfile().value(key));
    QString error;
    const auto profile = load(map, PlistForm::Xml, error);
    ASSERT_NE(profile, nullptr) << qPrintable(error);
    EXPECT_EQ(profile->qualityPhase(), 1);
    EXPECT_FALSE(profile->userEnableTwopassCode());
    EXPECT_TRUE(profile->fileFormat().isEmpty());
    EXPECT_FALSE(profile->audioQuality().isPresent());
    EXPECT_TRUE(profile->audioQuality().currentValue().isNull());
    EXPECT_TRUE(profile->videoResolution().currentValue().isNull());
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

struct DamageCase {
    const char* name;
    std::function<QVariantMap(QVariantMap)> damage;
    const char* reason;
};

QVariantMap withoutKey(QVariantMap map, const QString& key)
{
    map.remove(key);
    return map;
}

QVariantMap withInner(
    QVariantMap map, const QString& key, const QString& inner, const QVariant& value)
{
    QVariantMap entry = map.value(key).toMap();
    if (value.isValid())
        entry.insert(inner, value);
    else
        entry.remove(inner);
    map.insert(key, entry);
    return map;
}

class DamagedProfiles : public ProfileFiles, public ::testing::WithParamInterface<DamageCase> { };

TEST_P(DamagedProfiles, AreRefusedNamingTheFileAndTheKey)
{
    const DamageCase& c = GetParam();
    QString error;
    const auto profile = load(c.damage(fullProfile()), PlistForm::Xml, error);
    EXPECT_EQ(profile, nullptr);
    EXPECT_TRUE(error.contains(path("profile.plist"))) << qPrintable(error);
    EXPECT_TRUE(error.contains(QLatin1String(c.reason))) << qPrintable(error);
}

INSTANTIATE_TEST_SUITE_P(DNProfile, DamagedProfiles,
    ::testing::Values(
        DamageCase { "NoArgvAssembler", [](auto m) { return withoutKey(m, "ArgvAssembler"); },
            "lacks the key \"ArgvAssembler\"" },
        DamageCase { "NoGlobalID", [](auto m) { return withoutKey(m, "GlobalID"); },
            "lacks the key \"GlobalID\"" },
        DamageCase { "NoSuffix", [](auto m) { return withoutKey(m, "FileNameSuffix"); },
            "lacks the key \"FileNameSuffix\"" },
        DamageCase { "NoCategory", [](auto m) { return withoutKey(m, "Category"); },
            "lacks the key \"Category\"" },
        DamageCase { "TextGlobalID",
            [](auto m) {
                m.insert("GlobalID", "many");
                return m;
            },
            "\"GlobalID\" is not an integer" },
        DamageCase { "ListAssembler",
            [](auto m) {
                m.insert("ArgvAssembler", QVariantList { "a" });
                return m;
            },
            "\"ArgvAssembler\" is not a text" },
        DamageCase { "TextTwoPass",
            [](auto m) {
                m.insert("EnableTwoPass", "yes");
                return m;
            },
            "\"EnableTwoPass\" is not a boolean" },
        DamageCase { "NoMaxBitrate",
            [](auto m) { return withInner(m, "VideoQuality", "MaxVideoBitrate", {}); },
            "lacks the key \"VideoQuality/MaxVideoBitrate\"" },
        DamageCase { "OddBitrateModel",
            [](auto m) { return withInner(m, "VideoQuality", "BitrateModel", "ABR"); },
            "\"VideoQuality/BitrateModel\" is neither" },
        DamageCase { "NoDefaultValue",
            [](auto m) { return withInner(m, "AudioQuality", "DefaultValue", {}); },
            "lacks the key \"AudioQuality/DefaultValue\"" },
        DamageCase { "DefaultNotOffered",
            [](auto m) { return withInner(m, "AudioChannel", "DefaultValue", "6"); },
            "\"AudioChannel/DefaultValue\" is not one of its \"AllowChannels\"" },
        DamageCase { "ChoicesNotAList",
            [](auto m) { return withInner(m, "AudioSampleRate", "SampleRates", "44100"); },
            "\"AudioSampleRate/SampleRates\" is not an array" },
        DamageCase { "ParameterNotADictionary",
            [](auto m) {
                m.insert("VideoCodec", "libx264");
                return m;
            },
            "\"VideoCodec\" is not a dictionary" }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(ProfileFiles, UnreadableFilesAreRefused)
{
    const struct {
        const char* file;
        QByteArray bytes; // null: no file at all
        const char* reason;
    } cases[] = {
        { "missing.plist", QByteArray(), "cannot be read" },
        { "empty.plist", QByteArray(""), "is not a property list" },
        { "text.plist", QByteArray("ArgvAssembler = Video_To_MP4\n"), "is not a property list" },
        { "cut.plist", plistBytes(fullProfile(), PlistForm::Xml).left(200),
            "is not a property list" },
        { "array.plist", plistBytes(QVariantList { "a", "b" }, PlistForm::Xml),
            "is not a dictionary" },
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

TEST_F(ProfileFiles, CopiesAndStoredChoicesAreIndependentValues)
{
    QString error;
    const auto profile = load(fullProfile(), PlistForm::Binary, error);
    ASSERT_NE(profile, nullptr) << qPrintable(error);
    const auto copy = profile->copy();
    copy->audioQuality().setCurrentValue("192");
    copy->videoQuality().setCurBitrateModel(NXVideoQuality::CBR);
    copy->setQualityPhase(0);
    copy->setUserEnableTwopassCode(false);
    EXPECT_EQ(profile->audioQuality().currentValue(), "128");
    EXPECT_EQ(profile->videoQuality().curBitrateModel(), NXVideoQuality::VBR);

    QVariantMap stored = copy->choices();
    stored.insert("VideoResolution", "333x222"); // no longer offered: skipped
    const auto restored = profile->copy();
    restored->applyChoices(stored);
    EXPECT_EQ(restored->audioQuality().currentValue(), "192");
    EXPECT_EQ(restored->videoResolution().currentValue(), "640x480");
    EXPECT_EQ(restored->videoQuality().curBitrateModel(), NXVideoQuality::CBR);
    EXPECT_EQ(restored->qualityPhase(), 0);
    EXPECT_FALSE(restored->userEnableTwopassCode());
}

} // namespace

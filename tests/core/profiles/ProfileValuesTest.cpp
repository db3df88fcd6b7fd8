#include "profiles/ProfileValues.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const QString kNull;

struct KeepOriginCase {
    QString value;
    bool exact; // isKeepOriginFrameRate, ...Aspect, ...Resolution
    bool ignoringCase;
};

TEST(ProfileValues, KeepOrigin)
{
    const KeepOriginCase cases[] = { { "keep origin", true, true }, { "Keep Origin", false, true },
        { "KEEP ORIGIN", false, true }, { "keep origin ", false, false }, { "", false, false },
        { "640x480", false, false }, { kNull, false, true } };
    for (const KeepOriginCase& c : cases) {
        EXPECT_EQ(isKeepOriginFrameRate(c.value), c.exact) << qPrintable(c.value);
        EXPECT_EQ(isKeepOriginAspect(c.value), c.exact) << qPrintable(c.value);
        EXPECT_EQ(isKeepOriginResolution(c.value), c.exact) << qPrintable(c.value);
        EXPECT_EQ(isKeepOriginIgnoringCase(c.value), c.ignoringCase) << qPrintable(c.value);
    }
}

TEST(ProfileValues, NormalizeAspectString)
{
    const struct {
        QString value, separator, expected;
    } cases[] = { { "16x9", ":", "16:9" }, { "4:3", ":", "4:3" }, { "2.35:1", ":", "2.35" },
        { "2.35x1", ":", "2.35" }, { "1.85x1.0", ":", "1.85" }, { "16x10", "/", "16/10" },
        { "4x3x1", ":", "4:3:1" }, { "1", ":", "1" }, { "5x2", "", "52" }, { kNull, ":", kNull } };
    for (const auto& c : cases) {
        const QString result = normalizeAspectString(c.value, c.separator);
        EXPECT_EQ(result, c.expected) << qPrintable(c.value);
        EXPECT_EQ(result.isNull(), c.expected.isNull()) << qPrintable(c.value);
    }
}

TEST(ProfileValues, FrameRateOrSourceValue)
{
    EXPECT_EQ(frameRateOrSourceValue("keep origin", 29.97f), "29.97");
    EXPECT_EQ(frameRateOrSourceValue("keep origin", 25.f), "25.00");
    EXPECT_EQ(frameRateOrSourceValue("Keep Origin", 25.f), "Keep Origin");
    EXPECT_EQ(frameRateOrSourceValue("15", 25.f), "15");
}

TEST(ProfileValues, FrameRateToRational)
{
    const struct {
        const char* rate;
        const char* rational;
    } cases[] = { { "15", "15" }, { "23.97", "24000/1001" }, { "23.976", "24000/1001" },
        { "29.97", "30000/1001" }, { "29.970", "30000/1001" }, { "29.976", "30000/1001" },
        { "30.00", "30" }, { "25.", "25" }, { "59.97", "60000/1001" },
        // Rates the table lacks take the film rate.
        { "50", "24000/1001" }, { "29.9", "24000/1001" }, { "", "24000/1001" },
        { nullptr, "24000/1001" }, { "a very long rate text that no table holds", "24000/1001" } };
    for (const auto& c : cases)
        EXPECT_STREQ(frameRateToRational(c.rate), c.rational) << (c.rate ? c.rate : "(null)");
}

TEST(ProfileValues, ResolutionFromString)
{
    const struct {
        QString value;
        QSizeF expected;
    } cases[] = { { "640x480", { 640, 480 } }, { "1280X720", { 1280, 720 } },
        { " 320x 240", { 320, 240 } }, { "keep origin", { 720, 576 } },
        { "KEEP ORIGIN", { 720, 576 } }, { "640", { 720, 576 } }, { "1x2x3", { 720, 576 } },
        { "", { 720, 576 } }, { kNull, { 720, 576 } } };
    for (const auto& c : cases)
        EXPECT_EQ(resolutionFromString(c.value, 720, 576), c.expected) << qPrintable(c.value);
}

TEST(ProfileValues, ResolutionFromStringOrOne)
{
    const struct {
        QString value;
        QSizeF expected;
    } cases[] = { { "16x9", { 16, 9 } }, { "4X3", { 4, 3 } }, { "keep origin", { 853, 480 } },
        { "Keep Origin", { 853, 480 } }, { "2.35", { 1, 1 } }, { "4:3", { 1, 1 } },
        { kNull, { 1, 1 } } };
    for (const auto& c : cases)
        EXPECT_EQ(resolutionFromStringOrOne(c.value, QSizeF(853, 480)), c.expected)
            << qPrintable(c.value);
}

TEST(ProfileValues, LeadingIntValue)
{
    const struct {
        QString text;
        int value;
    } cases[] = { { "128", 128 }, { "  42abc", 42 }, { "-7", -7 }, { "+3", 3 }, { "1.9", 1 },
        { "abc", 0 }, { "", 0 }, { "99999999999", 2147483647 },
        { "-99999999999", -2147483647 - 1 } };
    for (const auto& c : cases)
        EXPECT_EQ(leadingIntValue(c.text), c.value) << qPrintable(c.text);
}

} // namespace

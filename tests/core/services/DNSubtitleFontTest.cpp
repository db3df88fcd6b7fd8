#include "services/DNSubtitleFont.h"

#include <gtest/gtest.h>

TEST(DNSubtitleFontPath, ChineseHasItsOwnFontEveryOtherKeyTheLatinOne)
{
    const QString latin = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    const struct {
        const char* language;
        QString font;
    } rows[] = {
        { "zh-Hans", "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc" },
        { "en", latin },
        { "el", latin },
        { "zh-hant", latin },
        { "", latin },
    };
    for (const auto& row : rows)
        EXPECT_EQ(DNSubtitleFontPath(row.language), row.font) << row.language;
}

#include "engine/ArgumentBlock.h"

#include "core/profiles/ProfileTestSupport.h"
#include "engine/ArgvAssemblerTables.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

namespace {

bool slotIsEmpty(const ArgumentBlock& block, int index)
{
    const char* slot = block.argv[std::size_t(index)];
    for (int i = 0; i < MaxCharLength; ++i) {
        if (slot[i] != '\0')
            return false;
    }
    return true;
}

TEST(ArgumentWriter, AcceptsUpToTheLimitsAndNeverWritesPastThem)
{
    const char* const slotLimit = "strlen(buf)<MaxCharLength";
    const char* const countLimit = "argument->argc < MaxArguNumber";
    const struct {
        int argumentsBefore; // short arguments written first
        std::size_t lastLength; // bytes of the argument written last
        bool formatted; // the last one through addf("%s", ...)
        const char* refusal; // the limit named, null when accepted
    } cases[] = { { 0, 2047, false, nullptr }, { 0, 2048, false, slotLimit },
        { 3, 2047, true, nullptr }, { 3, 2048, true, slotLimit }, { 1, 9000, true, slotLimit },
        { 126, 4, false, nullptr }, { 127, 4, false, countLimit }, { 127, 4, true, countLimit } };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.argumentsBefore << " + " << c.lastLength);
        ArgumentWriter writer("Limit_Test_Builder");
        for (int i = 0; i < c.argumentsBefore; ++i)
            writer.add("-y");
        const std::string last(c.lastLength, 'a');
        if (c.formatted)
            writer.addf("%s", last.c_str());
        else
            writer.add(last.c_str());
        if (c.refusal) // once refused, nothing more is written
            writer.add("-n");

        const ArgumentBlock& block = *writer.block();
        EXPECT_EQ(block.argc, c.argumentsBefore + (c.refusal ? 0 : 1));
        EXPECT_EQ(writer.failure().contains(QLatin1String(c.refusal ? c.refusal : "-")),
            c.refusal != nullptr);
        if (!c.refusal) {
            EXPECT_EQ(std::strlen(block.argv[std::size_t(c.argumentsBefore)]), c.lastLength);
        }
        for (int i = block.argc; i < MaxArguNumber; ++i)
            EXPECT_TRUE(slotIsEmpty(block, i)) << "slot " << i;
    }
}

TEST(ArgumentWriter, FinishHandsOverTheBlockOrLogsTheRefusal)
{
    ArgumentWriter writer("Finishing_Test_Builder");
    writer.add("ffmpeg").add(QStringLiteral("/films/Été à Paris.mkv")).addf("%dk", 1835);
    const ArgumentBlockPtr block = writer.finish(95);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->duration, 95);
    EXPECT_EQ(block->arguments(),
        QStringList({ "ffmpeg", QStringLiteral("/films/Été à Paris.mkv"), "1835k" }));
    EXPECT_EQ(argumentLine(*block), QStringLiteral("ffmpeg /films/Été à Paris.mkv 1835k "));
    EXPECT_TRUE(logArgumentBlock(block.get()));
    EXPECT_FALSE(logArgumentBlock(nullptr));
    EXPECT_TRUE(sharedLogText().contains(QLatin1String("construc arguments failed, exit....")));

    ArgumentWriter refusing("Refusing_Test_Builder");
    refusing.add("ffmpeg").add(std::string(MaxCharLength, 'p').c_str());
    EXPECT_EQ(refusing.finish(12), nullptr);
    EXPECT_EQ(refusing.block(), nullptr);
    EXPECT_TRUE(sharedLogText().contains(
        QLatin1String("Refusing_Test_Builder: cannot build the command line: argument 1 refused, "
                      "strlen(buf)<MaxCharLength")));

    ArgumentWriter cut("Cut_Test_Builder");
    cut.add("ffmpeg").add(QStringLiteral("/out/a") + QChar(0) + QStringLiteral("b.mp4"));
    EXPECT_EQ(cut.finish(12), nullptr) << "the engine would read the path only up to the NUL";
}

// Qt sets the C library locale from the environment, so a German user's
// printf would write "29,97".
TEST(ArgumentWriter, WritesNumbersWithAPointUnderADecimalCommaLocale)
{
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "the de_DE.UTF-8 locale is missing: run scripts/install-deps";
    char sample[16];
    std::snprintf(sample, sizeof sample, "%.2f", 29.97);
    EXPECT_STREQ(sample, "29,97") << "the locale does not write a decimal comma";

    ArgumentWriter writer("Locale_Test_Builder");
    writer.addf("%.2f", 29.97).addf("%g", 0.5).addf("%.3f", 1234.5);
    const ArgumentBlockPtr block = writer.finish(0);
    std::setlocale(LC_ALL, previous.c_str());
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->arguments(), QStringList({ "29.97", "0.5", "1234.500" }));
}

} // namespace

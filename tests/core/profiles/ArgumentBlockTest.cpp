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

struct LimitCase {
    const char* name;
    int argumentsBefore; // short arguments written first
    std::size_t lastLength; // bytes of the argument written last
    bool formatted; // the last one through addf("%s", ...)
    bool accepted;
    const char* assertion; // the limit named when refused
};

class WriterLimits : public ::testing::TestWithParam<LimitCase> { };

TEST_P(WriterLimits, AcceptUpToTheLimitAndNeverWritePastIt)
{
    const LimitCase& c = GetParam();
    ArgumentWriter writer(c.name);
    for (int i = 0; i < c.argumentsBefore; ++i)
        writer.add("-y");
    const std::string last(c.lastLength, 'a');
    if (c.formatted)
        writer.addf("%s", last.c_str());
    else
        writer.add(last.c_str());

    ASSERT_NE(writer.block(), nullptr);
    const ArgumentBlock& block = *writer.block();
    EXPECT_EQ(writer.failed(), !c.accepted);
    EXPECT_EQ(block.argc, c.argumentsBefore + (c.accepted ? 1 : 0));
    if (c.accepted) {
        EXPECT_EQ(std::strlen(block.argv[std::size_t(c.argumentsBefore)]), c.lastLength);
    } else {
        EXPECT_TRUE(writer.failure().contains(QLatin1String(c.assertion)))
            << qPrintable(writer.failure());
    }
    // Every slot after the ones accepted is untouched.
    for (int i = block.argc; i < MaxArguNumber; ++i)
        EXPECT_TRUE(slotIsEmpty(block, i)) << "slot " << i;
    // Once refused, nothing more is written.
    if (!c.accepted) {
        writer.add("-n");
        EXPECT_EQ(block.argc, c.argumentsBefore);
        EXPECT_TRUE(slotIsEmpty(block, c.argumentsBefore));
    }
}

INSTANTIATE_TEST_SUITE_P(ArgumentWriter, WriterLimits,
    ::testing::Values(LimitCase { "Longest", 0, 2047, false, true, "" },
        LimitCase { "TooLong", 0, 2048, false, false, "strlen(buf)<MaxCharLength" },
        LimitCase { "FormattedLongest", 3, 2047, true, true, "" },
        LimitCase { "FormattedTooLong", 3, 2048, true, false, "strlen(buf)<MaxCharLength" },
        LimitCase { "FormattedFarTooLong", 1, 9000, true, false, "strlen(buf)<MaxCharLength" },
        LimitCase { "LastCountAccepted", 126, 4, false, true, "" },
        LimitCase { "CountTooHigh", 127, 4, false, false, "argument->argc < MaxArguNumber" },
        LimitCase {
            "CountTooHighFormatted", 127, 4, true, false, "argument->argc < MaxArguNumber" }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(ArgumentWriter, RefusalFailsTheBuildWithTheBuilderNameInTheLog)
{
    ArgumentWriter writer("Refusing_Test_Builder");
    writer.add("ffmpeg").add(std::string(MaxCharLength, 'p').c_str());
    EXPECT_EQ(writer.finish(12), nullptr);
    EXPECT_EQ(writer.block(), nullptr);
    EXPECT_TRUE(sharedLogText().contains(
        QLatin1String("Refusing_Test_Builder: cannot build the command line: argument 1 refused, "
                      "strlen(buf)<MaxCharLength")));
}

TEST(ArgumentWriter, FinishHandsOverTheArgumentsAndDuration)
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

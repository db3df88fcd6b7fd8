#include "engine/ArgvAssemblerTables.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Each row's builder answers a block whose duration tells the rows apart.
template<int Tag>
ArgumentBlockPtr taggedBuilder(const std::shared_ptr<NXBasicMediaNode>&, int32_t, EncodeConfig)
{
    ArgumentWriter writer("Tagged_Test_Builder");
    return writer.add("tag").finish(Tag);
}

constexpr ArgvAssemblerEntry kDvdRows[] = {
    { "DVD_Only", &taggedBuilder<1> },
    { "In_Both", &taggedBuilder<2> },
};

constexpr ArgvAssemblerEntry kVideoRows[] = {
    { "In_Both", &taggedBuilder<3> },
    { "Video_Twice", &taggedBuilder<4> },
    { "Video_Twice", &taggedBuilder<5> },
    { "Video_To_MKV", &taggedBuilder<6> },
};

struct LookupCase {
    const char* name;
    const char* lookedUp;
    int tag; // 0: nothing found
};

class TableLookup : public ::testing::TestWithParam<LookupCase> { };

TEST_P(TableLookup, ScansTheDvdTableFirstAndTakesTheFirstExactMatch)
{
    const LookupCase& c = GetParam();
    const ArgvAssembler found = findArgvAssemblerIn(c.lookedUp, kDvdRows, kVideoRows);
    if (c.tag == 0) {
        EXPECT_EQ(found, nullptr);
        return;
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found(nullptr, 0, EncodeConfig {})->duration, c.tag);
}

INSTANTIATE_TEST_SUITE_P(ArgvAssemblerTables, TableLookup,
    ::testing::Values(LookupCase { "DvdTable", "DVD_Only", 1 },
        LookupCase { "DvdTableWins", "In_Both", 2 },
        LookupCase { "FirstRowWins", "Video_Twice", 4 },
        LookupCase { "VideoTable", "Video_To_MKV", 6 },
        LookupCase { "CaseCounts", "video_to_mkv", 0 }, LookupCase { "NoPrefix", "Video_To_MK", 0 },
        LookupCase { "NoLongerName", "Video_To_MKV2", 0 }, LookupCase { "Empty", "", 0 },
        LookupCase { "Null", nullptr, 0 }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// Guards the rows the builder families add.
TEST(ArgvAssemblerTables, EveryRowNamesABuilder)
{
    for (const auto table : { DVDArgvAssemblerTable(), VideoArgvAssemblerTable() }) {
        for (const ArgvAssemblerEntry& row : table) {
            ASSERT_NE(row.name, nullptr);
            EXPECT_GT(std::string(row.name).size(), 0U);
            EXPECT_NE(row.assembler, nullptr) << row.name;
        }
    }
}

} // namespace

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

TEST(ArgvAssemblerTables, LookupScansTheDvdTableFirstAndTakesTheFirstExactMatch)
{
    constexpr ArgvAssemblerEntry dvdRows[]
        = { { "DVD_Only", &taggedBuilder<1> }, { "In_Both", &taggedBuilder<2> } };
    constexpr ArgvAssemblerEntry videoRows[]
        = { { "In_Both", &taggedBuilder<3> }, { "Video_Twice", &taggedBuilder<4> },
              { "Video_Twice", &taggedBuilder<5> }, { "Video_To_MKV", &taggedBuilder<6> } };
    const struct {
        const char* name;
        int tag; // 0: nothing found
    } cases[] = { { "DVD_Only", 1 }, { "In_Both", 2 }, { "Video_Twice", 4 }, { "Video_To_MKV", 6 },
        { "video_to_mkv", 0 }, { "Video_To_MK", 0 }, { "Video_To_MKV2", 0 }, { "", 0 },
        { nullptr, 0 } };
    for (const auto& c : cases) {
        const ArgvAssembler found = findArgvAssemblerIn(c.name, dvdRows, videoRows);
        const ArgumentBlockPtr block = found ? found(nullptr, 0, EncodeConfig {}) : nullptr;
        EXPECT_EQ(block ? block->duration : 0, c.tag) << (c.name ? c.name : "(null)");
    }
}

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

// The player tool's rewriting of its command line: where the padding to even
// sides goes, and that the tool's own words never reach mplayer.
#include "MPlayerArguments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The value of mplayer's "-vf", "" when there is none; one at most is given.
std::string filterChainOf(const std::vector<std::string>& words)
{
    const auto at = std::find(words.begin(), words.end(), "-vf");
    EXPECT_EQ(std::count(words.begin(), words.end(), "-vf"), at == words.end() ? 0 : 1);
    return at == words.end() || at + 1 == words.end() ? std::string() : *(at + 1);
}

} // namespace

TEST(MPlayerArguments, PadsToEvenSidesUnlessTheCallerSaysTheyAreEven)
{
    const std::vector<std::string> linked { "-vo", "corevideo:buffer_name=\"N\"" };
    const std::vector<std::string> turned { "-vf", "rotate=1", "-vf", "screenshot" };
    const std::vector<std::string> evenSides { "-evensides" };
    const auto join = [](std::initializer_list<std::vector<std::string>> parts) {
        std::vector<std::string> words { "media.mp4" };
        for (const auto& part : parts)
            words.insert(words.end(), part.begin(), part.end());
        return words;
    };
    const struct {
        const char* name;
        std::vector<std::string> words;
        std::string chain;
    } rows[] = {
        { "linked", join({ linked }), "expand=0:0:0:0:0:0:2" },
        { "linked, filters", join({ turned, linked }), "rotate=1,screenshot,expand=0:0:0:0:0:0:2" },
        { "linked, filters, even", join({ turned, linked, evenSides }), "rotate=1,screenshot" },
        { "even before the link", join({ evenSides, linked }), "" },
        { "not linked", join({ turned, { "-vo", "null" } }), "rotate=1,screenshot" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<std::string> words = rewriteArguments(row.words, "null").words;
        EXPECT_EQ(filterChainOf(words), row.chain);
        EXPECT_EQ(std::count(words.begin(), words.end(), "-evensides"), 0);
    }
}

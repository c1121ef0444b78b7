#include <gtest/gtest.h>

#include "tool/model/text_file.h"

namespace kalvo::tool {
namespace {

TEST(TextFile, SplitsCommaListsUpToTheFirstLineBreak) {
    struct Case {
        const char* text;
        std::vector<std::string> items;
        int commas;
    } cases[] = {
        {"0,1, 2", {"0", "1", "2"}, 2},
        {"0,,3", {"0", "", "3"}, 2},
        {"1,2,", {"1", "2"}, 2},
        {"4,5\r\n6", {"4", "5"}, 1},
        {"  7 8,9", {"7 8", "9"}, 1},
        {"", {}, 0},
        {",", {""}, 1},
    };
    for (const Case& c : cases) {
        std::vector<std::string> items{"stale"};
        EXPECT_EQ(TTextFileClass::split(c.text, &items), c.commas) << c.text;
        EXPECT_EQ(items, c.items) << c.text;
    }
}

TEST(TextFile, JoinsWithBareCommas) {
    EXPECT_EQ(TTextFileClass::join({"5"}), "5");
    EXPECT_EQ(TTextFileClass::join({"0", "1", "2"}), "0,1,2");
    EXPECT_EQ(TTextFileClass::join({}), "");
}

}  // namespace
}  // namespace kalvo::tool

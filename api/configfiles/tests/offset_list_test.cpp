#include "api/configfiles/offset_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kalvo::configfiles {
namespace {

std::vector<int32_t> listOf(const std::string& text) {
    OffsetList list = parseOffsetList(text);
    for (int i = list.count; i < kMaxOffsets; ++i) EXPECT_EQ(list.offsets[i], -1) << text;
    return std::vector<int32_t>(list.offsets.begin(), list.offsets.begin() + list.count);
}

TEST(OffsetList, FieldsUpToTheFirstNegativeOrUnscannedOne) {
    using V = std::vector<int32_t>;
    EXPECT_EQ(listOf("0, 1,2"), (V{0, 1, 2}));
    EXPECT_EQ(listOf("0,\t 7 ,3"), (V{0, 7, 3}));
    EXPECT_EQ(listOf("0,x,2"), (V{0}));
    EXPECT_EQ(listOf("4,5x,6"), (V{4, 5, 6}));  // the scan stops at the 'x'
    EXPECT_EQ(listOf("+3,1"), (V{3, 1}));
    EXPECT_EQ(listOf("1,,2"), (V{1}));
    EXPECT_EQ(listOf("1,2,"), (V{1, 2}));
    EXPECT_EQ(listOf("3,-2,4"), (V{3}));
    EXPECT_EQ(listOf("-1"), V{});
    EXPECT_EQ(listOf(""), V{});
    EXPECT_EQ(listOf(" "), V{});
}

TEST(OffsetList, TextEndsAtTheFirstLineBreakOrNul) {
    using V = std::vector<int32_t>;
    EXPECT_EQ(listOf("1,2\r\n3,4"), (V{1, 2}));
    EXPECT_EQ(listOf("1,2\n,3"), (V{1, 2}));
    EXPECT_EQ(listOf(std::string("5,6\0,7", 6)), (V{5, 6}));
}

TEST(OffsetList, AtMostSixteenFields) {
    std::string text;
    for (int i = 0; i < 20; ++i) text += std::to_string(i % 16) + ",";
    std::vector<int32_t> list = listOf(text);
    ASSERT_EQ(list.size(), 16u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(list[i], i);

    EXPECT_EQ(listOf(std::string(1000, ',')).size(), 0u);
    EXPECT_EQ(listOf("0" + std::string(1000, ',')).size(), 1u);
}

// A huge number must not wrap into a small offset that a unit would accept.
TEST(OffsetList, OutOfRangeNumbersStayOutOfRange) {
    EXPECT_EQ(listOf("4294967296"), (std::vector<int32_t>{INT32_MAX}));
    EXPECT_EQ(listOf("1," + std::string(300, '9')), (std::vector<int32_t>{1, INT32_MAX}));
    EXPECT_EQ(listOf("1,-4294967297,2"), (std::vector<int32_t>{1}));
}

}  // namespace
}  // namespace kalvo::configfiles

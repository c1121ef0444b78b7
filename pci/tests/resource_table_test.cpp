// The resource table of a PCI device as sysfs prints it, and the BARs it
// gives as resource descriptors.
#include <gtest/gtest.h>

#include "pci/resource_table.h"

namespace kalvo::pci {
namespace {

using kernel::ResourceDescriptor;

constexpr const char* kEmpty = "0x0000000000000000 0x0000000000000000 0x0000000000000000\n";

std::string join(std::initializer_list<const char*> parts) {
    std::string text;
    for (const char* part : parts) text.append(part);
    return text;
}

TEST(ResourceTable, ReadsLinesOrSaysWhichIsWrong) {
    struct Row {
        const char* name;
        std::string text;
        size_t lines;         // when read
        const char* refusal;  // part of the reason, null when read
    };
    const Row rows[] = {
        {"sysfs form",
         join({"0x00000000fe000000 0x00000000fe00007f 0x0000000000040200\n", kEmpty,
               "0x000000000000e000 0x000000000000e01f 0x0000000000040101\n"}),
         3, nullptr},
        {"no prefix, CRLF, no final newline", "fe000000 fe000fff 200\r\n0 0 0", 2, nullptr},
        {"empty file", "", 0, nullptr},
        {"two fields", "0x1000 0x1fff\n", 0, "line 1 is not three hexadecimal numbers"},
        {"text after the flags", "0x1000 0x1fff 0x200 x\n", 0, "line 1"},
        {"not hexadecimal", join({kEmpty, "0x1000 0x1g00 0x200\n"}), 0, "line 2"},
        {"more than 64 bits", "0x10000000000000000 0x1 0x200\n", 0, "line 1"},
        {"ends before it starts", "0x2000 0x1fff 0x200\n", 0, "line 1 ends before it starts"},
        {"blank line", join({kEmpty, "\n", kEmpty}), 0, "line 2"},
    };
    for (const Row& row : rows) {
        std::string error;
        auto lines = parseResourceTable(row.text, &error);
        if (row.refusal) {
            EXPECT_FALSE(lines) << row.name;
            EXPECT_NE(error.find(row.refusal), std::string::npos) << row.name << ": " << error;
        } else {
            ASSERT_TRUE(lines) << row.name << ": " << error;
            EXPECT_EQ(lines->size(), row.lines) << row.name;
            for (size_t i = 0; i < lines->size(); ++i) EXPECT_EQ((*lines)[i].index, i);
        }
    }
}

TEST(ResourceTable, BarsBecomeMemoryAndPortDescriptorsInBarOrder) {
    const std::string text = join({
        "0x00000000fe000000 0x00000000fe00007f 0x0000000000040200\n",
        kEmpty,  // BAR 1 unused: skipped, BAR 2 keeps its number
        "0x000000000000e000 0x000000000000e01f 0x0000000000040101\n",
        "0x00000000fe001000 0x00000000fe001fff 0x0000000000042208\n",
        "0x0000004000000000 0x00000040ffffffff 0x0000000000140204\n",
        kEmpty,
        // The expansion ROM and a bridge window are no BARs.
        "0x00000000fe100000 0x00000000fe10ffff 0x0000000000046200\n",
        "0x00000000fd000000 0x00000000fdffffff 0x0000000000000200\n",
    });
    auto lines = parseResourceTable(text, nullptr);
    ASSERT_TRUE(lines);
    std::string skipped;
    auto bars = barDescriptors(*lines, &skipped);
    ASSERT_EQ(bars.size(), 3u);
    EXPECT_EQ(bars[0].type, ResourceDescriptor::Memory);
    EXPECT_EQ(bars[0].start, 0xfe000000u);
    EXPECT_EQ(bars[0].length, 0x80u);
    EXPECT_EQ(bars[0].flags, 0u);  // read-write
    EXPECT_EQ(bars[1].type, ResourceDescriptor::Port);
    EXPECT_EQ(bars[1].start, 0xe000u);
    EXPECT_EQ(bars[1].length, 0x20u);
    EXPECT_EQ(bars[1].flags, 1u);  // a port in I/O space
    EXPECT_EQ(bars[2].type, ResourceDescriptor::Memory);
    EXPECT_EQ(bars[2].start, 0xfe001000u);
    EXPECT_EQ(bars[2].length, 0x1000u);
    EXPECT_EQ(bars[2].flags, 4u);  // prefetchable
    // 4 GiB does not fit a descriptor's length: left out, and said so.
    EXPECT_NE(skipped.find("BAR 4 is 4 GiB or larger"), std::string::npos) << skipped;
}

}  // namespace
}  // namespace kalvo::pci

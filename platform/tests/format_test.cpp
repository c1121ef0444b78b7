// wsprintf-style formatting: 32-bit "%l" conversions, flags, and the cut at
// the buffer.
#include "platform/format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

using kalvo::platform::format;
using kalvo::platform::formatTo;

namespace {

template <typename... Args>
std::string fmt(const char* f, Args... args) {
    char buf[512];
    int n = format(buf, sizeof buf, f, args...);
    EXPECT_EQ(static_cast<size_t>(n), std::strlen(buf));
    return buf;
}

TEST(Format, LongConversionsReadThirtyTwoBits) {
    // On an LLP64 system "%ld" is a 32-bit value: log texts pass int32_t.
    EXPECT_EQ(fmt("Ret(%lxh)", int32_t{-1}), "Ret(ffffffffh)");
    EXPECT_EQ(fmt("%ld %lu %li", int32_t{-249}, uint32_t{0xFFFFFF07u}, int32_t{7}),
              "-249 4294967047 7");
    EXPECT_EQ(fmt("%d|%u|%x|%X", INT32_MIN, UINT32_MAX, 0xBEEFu, 0xBEEFu),
              "-2147483648|4294967295|beef|BEEF");
    // 64-bit forms.
    EXPECT_EQ(fmt("%lld %llx %I64d %I64X", int64_t{-5000000000}, uint64_t{1} << 40, INT64_MIN,
                  uint64_t{0xABCDEF0123}),
              "-5000000000 10000000000 -9223372036854775808 ABCDEF0123");
    // Short forms narrow the promoted value.
    EXPECT_EQ(fmt("%hd %hu %hx", 0x18000, 0x1FFFF, 0x12345), "-32768 65535 2345");
}

TEST(Format, FlagsWidthAndPrecision) {
    EXPECT_EQ(fmt("[%5d][%-5d][%05d][%+d][% d][%+d]", 42, 42, -42, 7, 7, -7),
              "[   42][42   ][-0042][+7][ 7][-7]");
    EXPECT_EQ(fmt("[%.3d][%8.3x][%-#6x][%#X][%#x][%#o]", 5, 0xA, 0xA, 0xFFu, 0, 8),
              "[005][     00a][0xa   ][0XFF][0][010]");
    EXPECT_EQ(fmt("[%.0d][%5.0d]", 0, 0), "[][     ]");
    // The octal '#' form always leads with a 0, even for a zero of precision 0.
    EXPECT_EQ(fmt("[%#.0o][%#4.0o][%#-3.0o][%.0o][%#.0x]", 0u, 0u, 0u, 0u, 0u),
              "[0][   0][0  ][][]");
    EXPECT_EQ(fmt("[%02d/%02d/%02d %02d:%02d:%02d]", 12, 8, 26, 5, 3, 9), "[12/08/26 05:03:09]");
    EXPECT_EQ(fmt("[%*d][%-*d][%.*s]", 4, 1, 4, 2, 3, "abcdef"), "[   1][2   ][abc]");
    EXPECT_EQ(fmt("[%*d]", -4, 1), "[1   ]");
    EXPECT_EQ(fmt("[%s][%-4s][%4s][%c][%3c]", "x", "ab", "ab", 'Q', 'R'),
              "[x][ab  ][  ab][Q][  R]");
    EXPECT_EQ(fmt("%s", static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(fmt("100%% %p", reinterpret_cast<void*>(0x1234)),
              sizeof(void*) == 8 ? "100% 0000000000001234" : "100% 00001234");
    // A precision bounds a string that has no NUL within it.
    const char unterminated[3] = {'a', 'b', 'c'};
    EXPECT_EQ(fmt("%.3s", unterminated), "abc");
    EXPECT_EQ(fmt("%ls|%S", L"wide", L"\u00e9t\u00e9"), "wide|?t?");
}

TEST(Format, OutputIsCutAtTheBufferAndTerminated) {
    char buf[8];
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(format(buf, 5, "%s-%d", "abcdef", 123), 4);
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(buf[5], 'Z');

    char small[6];
    EXPECT_EQ(formatTo(small, "%08x", 0x1234u), 5);
    EXPECT_STREQ(small, "00001");

    buf[0] = 'Z';
    EXPECT_EQ(format(buf, 0, "abc"), 0);
    EXPECT_EQ(buf[0], 'Z');
    EXPECT_EQ(format(buf, 1, "abc"), 0);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(format(nullptr, 10, "abc"), 0);
    EXPECT_EQ(format(buf, sizeof buf, nullptr), 0);
    EXPECT_STREQ(buf, "");

    // A huge width costs nothing and is cut like anything else.
    char line[256];
    EXPECT_EQ(format(line, sizeof line, "%999999999d|%.999999999d", 1, 2), 255);
    EXPECT_EQ(std::string(line, 3), "   ");
}

TEST(Format, OddFormatsPrintAndConsumeNothingUnknown) {
    // Unknown conversions print their character and take no argument, so the
    // next conversion still gets its own argument.
    EXPECT_EQ(fmt("%k%d", 5), "k5");
    EXPECT_EQ(fmt("%f|%d", 6), "f|6");
    EXPECT_EQ(fmt("end%"), "end%");
    EXPECT_EQ(fmt("end%-5"), "end%-5");
}

}  // namespace

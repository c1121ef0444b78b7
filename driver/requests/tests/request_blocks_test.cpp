// Codes and records as they travel between the board library and a device.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "driver/requests/request_blocks.h"
#include "driver/requests/request_codes.h"

namespace kalvo::requests {
namespace {

std::vector<uint8_t> connectBytes(const char (&text)[9], int32_t size) {
    ConnectRequestBlock block{};
    std::memcpy(block.address, text, 8);
    block.size = size;
    return toBytes(block);
}

TEST(RequestCodes, ElevenConsecutiveFunctionsOfTheBoardDeviceType) {
    const std::array<std::pair<uint32_t, const char*>, 11> table = {{
        {0x99022000, "IOCTL_TOLVA_RESET"},
        {0x99022004, "IOCTL_TOLVA_CONNECT"},
        {0x99022008, "IOCTL_TOLVA_DISCONNECT"},
        {0x9902200c, "IOCTL_TOLVA_MAP_MEMORY"},
        {0x99022010, "IOCTL_TOLVA_MAIL"},
        {0x99022014, "IOCTL_TOLVA_STATUS"},
        {0x99022018, "IOCTL_TOLVA_NAME"},
        {0x9902201c, "IOCTL_TOLVA_OPT2"},
        {0x99022020, "IOCTL_TOLVA_OPT3"},
        {0x99022024, "IOCTL_TOLVA_CONNECT_LF"},
        {0x99022028, "IOCTL_TOLVA_CONNECT_GMM"},
    }};
    for (size_t i = 0; i < table.size(); ++i) {
        const auto [code, name] = table[i];
        EXPECT_EQ(tolvaCode(0x800 + i), code) << name;
        ASSERT_NE(requestName(code), nullptr);
        EXPECT_STREQ(requestName(code), name);
        EXPECT_EQ(deviceTypeOf(code), FILE_DEVICE_TOLVA);
        EXPECT_EQ(functionOf(code), 0x800 + i);
        EXPECT_EQ(methodOf(code), kMethodBuffered);
        EXPECT_EQ(accessOf(code), kFileAnyAccess);
    }
    EXPECT_EQ(requestName(tolvaCode(0x80c)), nullptr);
    EXPECT_EQ(requestName(ctlCode(0x22, 0x800, kMethodBuffered, kFileAnyAccess)), nullptr);
    EXPECT_EQ(ctlCode(0x22, 0x801, 2, 3), 0x0022E006u);  // every field in its place

    EXPECT_EQ(connectModeOf(IOCTL_TOLVA_CONNECT), ConnectMode::Normal);
    EXPECT_EQ(connectModeOf(IOCTL_TOLVA_CONNECT_LF), ConnectMode::LongFrame);
    EXPECT_EQ(connectModeOf(IOCTL_TOLVA_CONNECT_GMM), ConnectMode::Gmm);
    EXPECT_FALSE(isConnectRequest(IOCTL_TOLVA_DISCONNECT));
}

TEST(ConnectBlock, DeviceReadsSevenCharactersAndTheSizeAsASignedByte) {
    auto seven = parseConnectBlock(connectBytes("7\0\0\0\0\0\0\0", 3));
    ASSERT_TRUE(seven);
    EXPECT_EQ(seven->address, 7);
    EXPECT_EQ(seven->size, 3);
    EXPECT_STREQ(seven->text, "7");

    auto eight = parseConnectBlock(connectBytes("12345678", 1));
    ASSERT_TRUE(eight);
    EXPECT_EQ(eight->address, 1234567);  // byte 7 is taken as NUL
    EXPECT_STREQ(eight->text, "1234567");

    auto big = parseConnectBlock(connectBytes("5\0\0\0\0\0\0\0", 200));
    ASSERT_TRUE(big);
    EXPECT_EQ(big->size, -56);
    EXPECT_EQ(makeStatusBlock(1, *big).size, -56);  // widened with its sign

    // Only the low byte of the size counts; bytes 9-11 are ignored.
    EXPECT_EQ(parseConnectBlock(connectBytes("1\0\0\0\0\0\0\0", 0x7FFFFF02))->size, 2);

    // The address stops at the first non-digit.
    EXPECT_EQ(parseConnectBlock(connectBytes("42x9\0\0\0\0", 1))->address, 42);
}

TEST(ConnectBlock, RefusesABlockThatDoesNotStartWithADigitOrIsNotTwelveBytes) {
    EXPECT_FALSE(parseConnectBlock(connectBytes(" 7\0\0\0\0\0\0", 1)));
    EXPECT_FALSE(
        parseConnectBlock(connectBytes("\0"
                                       "7\0\0\0\0\0\0",
                                       1)));
    EXPECT_FALSE(parseConnectBlock(connectBytes("-1\0\0\0\0\0\0", 1)));
    EXPECT_FALSE(parseConnectBlock(connectBytes("+1\0\0\0\0\0\0", 1)));

    auto bytes = connectBytes("7\0\0\0\0\0\0\0", 3);
    EXPECT_FALSE(parseConnectBlock(std::span(bytes).first(11)));
    bytes.push_back(0);
    EXPECT_FALSE(parseConnectBlock(bytes));
    EXPECT_FALSE(parseConnectBlock({}));
}

TEST(ConnectBlock, LibraryTextIsReadBackAsTheSameAddress) {
    for (int32_t address : {0, 7, 63, 1234567}) {
        auto parsed = parseConnectBlock(toBytes(makeConnectBlock(address, 1)));
        ASSERT_TRUE(parsed) << address;
        EXPECT_EQ(parsed->address, address);
    }
    ConnectRequestBlock gmm = makeConnectBlock(0, 0);
    EXPECT_STREQ(gmm.address, "0");
    EXPECT_EQ(gmm.size, 0);
    // Too long for the text: cut, still NUL-terminated.
    ConnectRequestBlock cut = makeConnectBlock(123456789, 1);
    EXPECT_EQ(cut.address[7], '\0');
    EXPECT_STREQ(cut.address, "1234567");
    EXPECT_STREQ(makeConnectBlock(-5, 1).address, "-5");
    EXPECT_STREQ(makeConnectBlock(INT32_MIN, 1).address, "-214748");
}

TEST(MapBlock, BothFormsCarryCommandAddressAndLengthAtTheirOffsets) {
    MapRequest request{MapCommand::Map, 0x12345678, 4096};
    auto narrow = encodeMapRequest(request, 32);
    ASSERT_EQ(narrow.size(), 12u);
    EXPECT_EQ(narrow[4], 0x78);
    EXPECT_EQ(narrow[7], 0x12);
    EXPECT_EQ(narrow[9], 0x10);  // 4096 little-endian

    MapRequest wideRequest{MapCommand::Unmap, 0x00007F0012345000ull, 4096};
    auto wide = encodeMapRequest(wideRequest, 64);
    ASSERT_EQ(wide.size(), 24u);
    EXPECT_EQ(wide[0], 0xFF);  // -1: all bits set
    EXPECT_EQ(wide[3], 0xFF);
    EXPECT_EQ(wide[9], 0x50);
    EXPECT_EQ(wide[13], 0x7F);
    EXPECT_EQ(wide[17], 0x10);

    auto back = decodeMapRequest(wide, 64);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->isUnmap());
    EXPECT_EQ(back->address, wideRequest.address);
    EXPECT_EQ(back->length, 4096u);
    // The padding is neither required nor read.
    wide[4] = wide[20] = 0xAB;
    EXPECT_EQ(decodeMapRequest(wide, 64)->address, wideRequest.address);

    EXPECT_EQ(decodeMapRequest(narrow, 32)->address, 0x12345678u);
    EXPECT_FALSE(decodeMapRequest(narrow, 64));  // a 12-byte block from a 64-bit caller
    EXPECT_FALSE(decodeMapRequest(wide, 32));    // a 24-byte block from a 32-bit caller
    EXPECT_FALSE(decodeMapRequest(narrow, 16));
    EXPECT_TRUE(encodeMapRequest({0, 0x100000000ull, 4096}, 32).empty());
    EXPECT_EQ(mapRequestSize(32), 12u);
    EXPECT_EQ(mapRequestSize(64), 24u);
    EXPECT_EQ(sizeof(MapRequestBlock), mapRequestSize(sizeof(void*) * 8));
}

TEST(NameBlock, KeepsElevenCharactersAndAnUnknownSlot) {
    NameRequestBlock block = makeNameBlock("STATION_NAME_TOO_LONG");
    EXPECT_STREQ(block.name, "STATION_NAM");
    EXPECT_EQ(block.slot, kNameSlotUnknown);
    EXPECT_EQ(block.reserved, 0u);
    EXPECT_STREQ(makeNameBlock("io3").name, "io3");
    EXPECT_STREQ(makeNameBlock(nullptr).name, "");
    auto image = toBytes(makeNameBlock("ab"));
    ASSERT_EQ(image.size(), 20u);
    EXPECT_EQ(image[12], 0xFF);  // slot -1
    EXPECT_EQ(fromBytes<NameRequestBlock>(image)->slot, -1);
    EXPECT_FALSE(fromBytes<NameRequestBlock>(std::span(image).first(19)));
}

}  // namespace
}  // namespace kalvo::requests

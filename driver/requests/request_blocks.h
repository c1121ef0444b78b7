// The records exchanged with the board devices, byte for byte as they
// travel in a METHOD_BUFFERED request, and the small conversions that both
// the board library and the drivers perform on them. Both sides are
// little-endian; the records are copied as raw bytes.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

namespace kalvo::requests {

static_assert(std::endian::native == std::endian::little,
              "the device records are little-endian byte images");

// Sent with the three connect requests: the station address as decimal text
// and the number of consecutive station addresses the station takes.
struct ConnectRequestBlock {
    char address[8];  // NUL-terminated within the 8 bytes
    int32_t size;
};
static_assert(sizeof(ConnectRequestBlock) == 12);
static_assert(offsetof(ConnectRequestBlock, address) == 0);
static_assert(offsetof(ConnectRequestBlock, size) == 8);

// Answer of the status request: what the device kept of the last connect.
struct StatusBlock {
    int32_t lineState;  // LineState
    int32_t address;
    int32_t size;  // the kept signed byte, widened with its sign
};
static_assert(sizeof(StatusBlock) == 12);
static_assert(offsetof(StatusBlock, lineState) == 0);
static_assert(offsetof(StatusBlock, address) == 4);
static_assert(offsetof(StatusBlock, size) == 8);

// The map request carries an address of the caller's pointer width, so a
// 32-bit caller sends 12 bytes and a 64-bit caller 24 (naturally aligned).
// Padding is spelled out so that the layout is the same in any build.
struct MapRequestBlock32 {
    int32_t command;   // MapCommand
    uint32_t address;  // map in: offset in the memory window; out / unmap: view address
    uint32_t length;   // bytes to map; unused by an unmap
};
static_assert(sizeof(MapRequestBlock32) == 12);
static_assert(offsetof(MapRequestBlock32, command) == 0);
static_assert(offsetof(MapRequestBlock32, address) == 4);
static_assert(offsetof(MapRequestBlock32, length) == 8);

struct MapRequestBlock64 {
    int32_t command;
    uint32_t padding0;  // not written by the caller, not read by the device
    uint64_t address;
    uint32_t length;
    uint32_t padding1;
};
static_assert(sizeof(MapRequestBlock64) == 24);
static_assert(offsetof(MapRequestBlock64, command) == 0);
static_assert(offsetof(MapRequestBlock64, address) == 8);
static_assert(offsetof(MapRequestBlock64, length) == 16);

// The block of this build's own pointer width.
using MapRequestBlock =
    std::conditional_t<sizeof(void*) == 8, MapRequestBlock64, MapRequestBlock32>;

struct MapCommand {
    static constexpr int32_t Map = 0;     // the library sends 0; any value but -1 maps
    static constexpr int32_t Unmap = -1;  // all bits set
};

// Resolves a station name to the index of its 8-byte station slot.
struct NameRequestBlock {
    char name[12];  // NUL-terminated, at most 11 characters
    int32_t slot;   // the caller sets -1; a device that knows the name writes 0..63
    uint32_t reserved;
};
static_assert(sizeof(NameRequestBlock) == 20);
static_assert(offsetof(NameRequestBlock, name) == 0);
static_assert(offsetof(NameRequestBlock, slot) == 12);
static_assert(offsetof(NameRequestBlock, reserved) == 16);

inline constexpr int32_t kNameSlotUnknown = -1;

// ---- raw byte images ---------------------------------------------------------

template <class Block>
std::vector<uint8_t> toBytes(const Block& block) {
    static_assert(std::is_trivially_copyable_v<Block>);
    std::vector<uint8_t> bytes(sizeof(Block));
    std::memcpy(bytes.data(), &block, sizeof(Block));
    return bytes;
}

// The block whose image is exactly these bytes; nothing for any other length.
template <class Block>
std::optional<Block> fromBytes(std::span<const uint8_t> bytes) {
    static_assert(std::is_trivially_copyable_v<Block>);
    if (bytes.size() != sizeof(Block)) return std::nullopt;
    Block block;
    std::memcpy(&block, bytes.data(), sizeof(Block));
    return block;
}

// ---- connect block -------------------------------------------------------------

// What a device keeps of a connect request.
struct ConnectParameters {
    char text[8];     // the address text; byte 7 is always NUL
    int32_t address;  // the leading digits of the text
    int8_t size;      // the low byte of the size field, signed
};

// Reads a connect block as the devices do: only bytes 0-6 of the text count
// (byte 7 is taken as NUL, so an eighth digit is dropped), the address is
// the run of leading digits, and only byte 8 of the size is kept, as a
// signed byte (200 becomes -56). Nothing when the block is not exactly 12
// bytes or its text does not start with a decimal digit.
inline std::optional<ConnectParameters> parseConnectBlock(std::span<const uint8_t> block) {
    if (block.size() != sizeof(ConnectRequestBlock)) return std::nullopt;
    if (block[0] < '0' || block[0] > '9') return std::nullopt;
    ConnectParameters out{};
    std::memcpy(out.text, block.data(), 7);
    out.text[7] = '\0';
    int32_t address = 0;  // at most seven digits: no overflow
    for (size_t i = 0; i < 7 && out.text[i] >= '0' && out.text[i] <= '9'; ++i) {
        address = address * 10 + (out.text[i] - '0');
    }
    out.address = address;
    out.size = static_cast<int8_t>(block[offsetof(ConnectRequestBlock, size)]);
    return out;
}

// The block the library sends: the decimal text of the address (cut to
// seven characters so that it stays NUL-terminated) and the size.
inline ConnectRequestBlock makeConnectBlock(int32_t address, int32_t size) {
    ConnectRequestBlock block{};
    char digits[12];
    size_t n = 0;
    uint32_t magnitude =
        address < 0 ? 0u - static_cast<uint32_t>(address) : static_cast<uint32_t>(address);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (address < 0) digits[n++] = '-';
    size_t len = std::min<size_t>(n, sizeof(block.address) - 1);
    for (size_t i = 0; i < len; ++i) block.address[i] = digits[n - 1 - i];
    block.size = size;
    return block;
}

inline StatusBlock makeStatusBlock(int32_t lineState, const ConnectParameters& kept) {
    return StatusBlock{lineState, kept.address, kept.size};
}

// ---- map block -------------------------------------------------------------------

// The map request independent of the caller's word size.
struct MapRequest {
    int32_t command = MapCommand::Map;
    uint64_t address = 0;
    uint32_t length = 0;
    bool isUnmap() const { return command == MapCommand::Unmap; }
};

// 12 for a 32-bit caller, 24 for a 64-bit caller, 0 for any other size.
constexpr size_t mapRequestSize(int wordSize) {
    return wordSize == 32   ? sizeof(MapRequestBlock32)
           : wordSize == 64 ? sizeof(MapRequestBlock64)
                            : 0;
}

// Reads the form of the given word size; nothing when the length differs.
inline std::optional<MapRequest> decodeMapRequest(std::span<const uint8_t> bytes, int wordSize) {
    if (wordSize == 32) {
        auto b = fromBytes<MapRequestBlock32>(bytes);
        if (!b) return std::nullopt;
        return MapRequest{b->command, b->address, b->length};
    }
    if (wordSize == 64) {
        auto b = fromBytes<MapRequestBlock64>(bytes);
        if (!b) return std::nullopt;
        return MapRequest{b->command, b->address, b->length};
    }
    return std::nullopt;
}

// Writes the form of the given word size; empty for an unknown word size or
// an address that a 32-bit block cannot hold.
inline std::vector<uint8_t> encodeMapRequest(const MapRequest& request, int wordSize) {
    if (wordSize == 32) {
        if (request.address > UINT32_MAX) return {};
        return toBytes(MapRequestBlock32{request.command, static_cast<uint32_t>(request.address),
                                         request.length});
    }
    if (wordSize == 64) {
        return toBytes(MapRequestBlock64{request.command, 0, request.address, request.length, 0});
    }
    return {};
}

// ---- name block ----------------------------------------------------------------

// The block the library sends to resolve a name: at most 11 characters are
// kept so that the name stays NUL-terminated; the slot starts unknown.
inline NameRequestBlock makeNameBlock(const char* name) {
    NameRequestBlock block{};
    if (name != nullptr) {
        size_t len = strnlen(name, sizeof(block.name) - 1);
        std::memcpy(block.name, name, len);
    }
    block.slot = kNameSlotUnknown;
    return block;
}

}  // namespace kalvo::requests

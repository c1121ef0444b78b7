// The calls on the board window: addresses of the window and its station
// slots, the slots themselves, registers by offset, the GM area, CHKC and the
// board reset. Arguments are checked before anything is touched: an offset
// and count that would leave the 4096-byte window, or a station outside 0 to
// 63, is refused with 3, as is a missing pointer. On a board whose device
// host is gone every call that reaches the board answers -1 (board_loss.h);
// a window access looks at that inside its WindowUse.
#include <cstring>

#include "boardlib/frame/board_loss.h"
#include "boardlib/frame/library.h"
#include "boardlib/window/gm_access.h"
#include "boardlib/window/window_users.h"
#include "kalvo/board_library.h"

namespace kalvo::boardlib {
namespace {

using kalvo::chipmap::kChkcRegister;
constexpr int32_t kStations = 64;
constexpr size_t kMapTextRoom = 12;  // the name record's name field with its NUL

// The slot named by a KV_Map text: the leading decimal digits, or the
// device's answer to a name lookup. 0, 3 (no such station) or -1.
int32_t mapStation(BoardContext& board, const char* text, int32_t* station) {
    if (strnlen(text, kMapTextRoom) >= kMapTextRoom) return KV_ERR_REQUEST;
    int64_t value;
    if (text[0] >= '0' && text[0] <= '9') {
        value = 0;
        for (const char* c = text; *c >= '0' && *c <= '9' && value < kStations; ++c)
            value = value * 10 + (*c - '0');
    } else {
        requests::NameRequestBlock block = requests::makeNameBlock(text);
        if (boardLost(board) || device::name(board.device, &block) != 0) return KV_ERR_REQUEST;
        // A device that does not know the name leaves the slot at -1.
        if (block.slot == requests::kNameSlotUnknown) return KV_ERR_REQUEST;
        value = block.slot;
    }
    if (value < 0 || value >= kStations) return KV_ERR_ARGUMENT;
    *station = static_cast<int32_t>(value);
    return KV_OK;
}

// ---- registers -------------------------------------------------------------

template <class T>
int32_t getRegister(const char* call, int32_t board, int32_t line, int32_t offset, T* value) {
    BoardContext* b;
    int32_t code = checkLine(board, line, &b);
    const uint32_t at = static_cast<uint32_t>(offset) & 0xFFFF;
    if (code == KV_OK && (value == nullptr || at + sizeof(T) > kBoardWindowSize))
        code = KV_ERR_ARGUMENT;
    if (code == KV_OK && b->window == nullptr) code = KV_ERR_NOT_MAPPED;
    if (code == KV_OK) {
        WindowUse use;
        if (boardLost(*b))
            code = KV_ERR_REQUEST;
        else
            *value = loadElement<T>(b->window, at);
    }
    if (code != KV_OK) return logLineResult(call, board, line, code);
    libraryLog().writef(kLogCall, "%s(%d) %s: Line(%d)-OffsetAdr(0x%x)-Reg(0x%x): OK",
                        kBuild.shortName, board, call, line, at, static_cast<uint32_t>(*value));
    return KV_OK;
}

template <class T>
int32_t setRegister(const char* call, int32_t board, int32_t line, int32_t offset, T value) {
    BoardContext* b;
    int32_t code = checkLine(board, line, &b);
    const uint32_t at = static_cast<uint32_t>(offset) & 0xFFFF;
    if (code == KV_OK && at + sizeof(T) > kBoardWindowSize) code = KV_ERR_ARGUMENT;
    if (code == KV_OK && b->window == nullptr) code = KV_ERR_NOT_MAPPED;
    if (code == KV_OK) {
        WindowUse use;
        if (boardLost(*b))
            code = KV_ERR_REQUEST;
        else
            storeElement<T>(b->window, at, value);
    }
    if (code != KV_OK) return logLineResult(call, board, line, code);
    libraryLog().writef(kLogCall, "%s(%d) %s: Line(%d)-OffsetAdr(0x%x)-Reg(0x%x): OK",
                        kBuild.shortName, board, call, line, at, static_cast<uint32_t>(value));
    return KV_OK;
}

// ---- GM area ---------------------------------------------------------------

// The element offset and count of a GM call: station times the elements per
// block plus the offset, and the count, each cut to its low 16 bits.
struct GmRange {
    uint32_t offset;
    uint32_t count;
};

template <class T>
GmRange gmRange(int32_t station, int32_t offset, int32_t count) {
    const uint32_t element =
        static_cast<uint32_t>(station) * (8 / sizeof(T)) + static_cast<uint32_t>(offset);
    return {element & 0xFFFF, static_cast<uint32_t>(count) & 0xFFFF};
}

// The memory calls' line; the size field names the unit ("ByteSize"). Only
// formatted when the log wants the line: the calls' fast path is a filter
// test.
[[gnu::noinline]] int32_t writeMemoryLine(const char* call, const char* unit, int32_t board,
                                          int32_t line, GmRange range, int32_t code) {
    if (code != KV_OK) return logLineResult(call, board, line, code);
    libraryLog().writef(kLogCall, "%s(%d) %s: Line(%d)-OffsetAdr(%d)-%sSize(%d): OK",
                        kBuild.shortName, board, call, line, range.offset, unit, range.count);
    return KV_OK;
}

inline int32_t logMemory(const char* call, const char* unit, int32_t board, int32_t line,
                         GmRange range, int32_t code) {
    if (code == KV_OK && !libraryLog().passes(kLogCall)) [[likely]]
        return KV_OK;
    return writeMemoryLine(call, unit, board, line, range, code);
}

template <class T>
[[gnu::always_inline]] inline int32_t checkMemory(int32_t board, int32_t line, const T* data,
                                                  GmRange range, BoardContext** b) {
    int32_t code = checkLine(board, line, b);
    if (code == KV_OK && (data == nullptr || !gmFits(range.offset, range.count, sizeof(T))))
        code = KV_ERR_ARGUMENT;
    if (code == KV_OK && (*b)->window == nullptr) code = KV_ERR_NOT_MAPPED;
    return code;
}

template <class T>
int32_t getMemory(const char* call, const char* unit, int32_t board, int32_t line, T* data,
                  GmRange range) {
    BoardContext* b;
    int32_t code = checkMemory<T>(board, line, data, range, &b);
    if (code == KV_OK && !gmRead<T>(b->window, b->readSemaphore[line], b->lost, range.offset,
                                    range.count, data)) [[unlikely]]
        code = KV_ERR_REQUEST;
    return logMemory(call, unit, board, line, range, code);
}

template <class T>
int32_t setMemory(const char* call, const char* unit, int32_t board, int32_t line, const T* data,
                  GmRange range) {
    BoardContext* b;
    int32_t code = checkMemory<T>(board, line, data, range, &b);
    if (code == KV_OK) {
        bool done;
        if constexpr (sizeof(T) == 8)
            done = gmWriteDLong(b->window, b->writeSemaphore[line], b->lost, b->busWidth[line],
                                range.offset, range.count, data);
        else
            done = gmWrite<T>(b->window, b->writeSemaphore[line], b->lost, b->busWidth[line],
                              range.offset, range.count, data);
        if (!done) [[unlikely]]
            code = KV_ERR_REQUEST;
    }
    return logMemory(call, unit, board, line, range, code);
}

}  // namespace
}  // namespace kalvo::boardlib

using namespace kalvo::boardlib;

extern "C" {

int32_t KV_Attach(int32_t board, int32_t line, void** address) {
    BoardContext* b;
    int32_t code = checkLine(board, line, &b);
    if (code == KV_OK && address == nullptr) code = KV_ERR_ARGUMENT;
    if (code == KV_OK && boardLost(*b)) code = KV_ERR_REQUEST;
    if (code == KV_OK && b->window == nullptr) code = KV_ERR_NOT_MAPPED;
    if (code == KV_OK) *address = b->window;
    return logLineResult("KV_Attach", board, line, code);
}

int32_t KV_Alloc(int32_t board, int32_t line, int32_t station, void** address) {
    BoardContext* b;
    int32_t code = checkLine(board, line, &b);
    if (code == KV_OK && (address == nullptr || station < 0 || station >= kStations))
        code = KV_ERR_ARGUMENT;
    if (code == KV_OK && boardLost(*b)) code = KV_ERR_REQUEST;
    if (code == KV_OK && b->window == nullptr) code = KV_ERR_NOT_MAPPED;
    if (code == KV_OK) *address = b->window + 8 * station;
    if (code == KV_OK)
        libraryLog().writef(kLogCall, "%s(%d) KV_Alloc: Line(%d)-StationAdr(%d): OK",
                            kBuild.shortName, board, line, station);
    else
        libraryLog().writef(kLogNg, "%s(%d) KV_Alloc: Line(%d)-StationAdr(%d): NG: Ret(%xh)",
                            kBuild.shortName, board, line, station, code);
    return code;
}

int32_t KV_Map(int32_t board, int32_t line, const char* text, void** address) {
    BoardContext* b;
    int32_t code = checkLine(board, line, &b);
    if (code == KV_OK && (text == nullptr || address == nullptr)) code = KV_ERR_ARGUMENT;
    if (code == KV_OK && boardLost(*b)) code = KV_ERR_REQUEST;
    if (code == KV_OK && b->window == nullptr) code = KV_ERR_NOT_MAPPED;
    int32_t station = 0;
    if (code == KV_OK) code = mapStation(*b, text, &station);
    if (code == KV_OK) *address = b->window + 8 * station;
    return logLineResult("KV_Map", board, line, code);
}

int32_t KV_Free(int32_t board, int32_t line) {
    BoardContext* b;
    return logLineResult("KV_Free", board, line, checkLine(board, line, &b));
}

int32_t KV_UnMap(int32_t board, int32_t line) {
    BoardContext* b;
    return logLineResult("KV_UnMap", board, line, checkLine(board, line, &b));
}

int32_t KV_Put(int32_t board, int32_t line, const uint8_t* data) {
    BoardContext* b;
    int32_t code = checkLine(board, line, &b);
    if (code == KV_OK && data == nullptr) code = KV_ERR_ARGUMENT;
    if (code == KV_OK && b->window == nullptr) code = KV_ERR_NOT_MAPPED;
    if (code == KV_OK) {
        // The own slot is the station address the device reports; without
        // that answer there is no slot to write, and the caller is told.
        kalvo::requests::StatusBlock status{};
        if (boardLost(*b) || device::status(b->device, &status) != 0) {
            code = KV_ERR_REQUEST;
        } else {
            const uint32_t slot = 8 * (static_cast<uint32_t>(status.address) & 63);
            uint32_t words[2];
            std::memcpy(words, data, sizeof words);
            WindowUse use;
            if (boardLost(*b)) {
                code = KV_ERR_REQUEST;
            } else {
                bus::store<uint32_t>(b->window, slot, words[0]);
                bus::store<uint32_t>(b->window, slot + 4, words[1]);
            }
        }
    }
    return logLineResult("KV_Put", board, line, code);
}

int32_t KV_Get(int32_t board, int32_t line, int32_t station, uint8_t* data) {
    BoardContext* b;
    int32_t code = checkLine(board, line, &b);
    if (code == KV_OK && data == nullptr) code = KV_ERR_ARGUMENT;
    if (code == KV_OK && b->window == nullptr) code = KV_ERR_NOT_MAPPED;
    if (code == KV_OK) {
        kalvo::requests::StatusBlock status{};
        if (!boardLost(*b))
            device::status(b->device, &status);  // asked as the chip expects; answer not used
        const uint32_t slot = 8 * (static_cast<uint32_t>(station) & 63);
        WindowUse use;
        if (boardLost(*b)) {
            code = KV_ERR_REQUEST;
        } else {
            const uint32_t words[2] = {bus::load<uint32_t>(b->window, slot),
                                       bus::load<uint32_t>(b->window, slot + 4)};
            std::memcpy(data, words, sizeof words);
        }
    }
    return logLineResult("KV_Get", board, line, code);
}

int32_t KV_GetReg16(int32_t board, int32_t line, int32_t offset, uint16_t* value) {
    return getRegister("KV_GetReg16", board, line, offset, value);
}
int32_t KV_GetReg32(int32_t board, int32_t line, int32_t offset, uint32_t* value) {
    return getRegister("KV_GetReg32", board, line, offset, value);
}
int32_t KV_GetReg64(int32_t board, int32_t line, int32_t offset, uint64_t* value) {
    return getRegister("KV_GetReg64", board, line, offset, value);
}
int32_t KV_SetReg16(int32_t board, int32_t line, int32_t offset, int32_t value) {
    return setRegister("KV_SetReg16", board, line, offset, static_cast<uint16_t>(value));
}
int32_t KV_SetReg32(int32_t board, int32_t line, int32_t offset, int32_t value) {
    return setRegister("KV_SetReg32", board, line, offset, static_cast<uint32_t>(value));
}
int32_t KV_SetReg64(int32_t board, int32_t line, int32_t offset, uint64_t value) {
    return setRegister("KV_SetReg64", board, line, offset, value);
}

int32_t KV_GetMemByte(int32_t board, int32_t line, uint8_t* data, int32_t station, int32_t offset,
                      int32_t count) {
    return getMemory("KV_GetMemByte", "Byte", board, line, data,
                     gmRange<uint8_t>(station, offset, count));
}
int32_t KV_GetMemShort(int32_t board, int32_t line, uint16_t* data, int32_t station, int32_t offset,
                       int32_t count) {
    return getMemory("KV_GetMemShort", "Short", board, line, data,
                     gmRange<uint16_t>(station, offset, count));
}
int32_t KV_GetMemLong(int32_t board, int32_t line, uint32_t* data, int32_t station, int32_t offset,
                      int32_t count) {
    return getMemory("KV_GetMemLong", "Long", board, line, data,
                     gmRange<uint32_t>(station, offset, count));
}
int32_t KV_GetMemDLong(int32_t board, int32_t line, uint64_t* data, int32_t index1, int32_t index2,
                       int32_t count) {
    return getMemory("KV_GetMemDLong", "DLong", board, line, data,
                     gmRange<uint64_t>(index1, index2, count));
}
int32_t KV_SetMemByte(int32_t board, int32_t line, const uint8_t* data, int32_t station,
                      int32_t offset, int32_t count) {
    return setMemory("KV_SetMemByte", "Byte", board, line, data,
                     gmRange<uint8_t>(station, offset, count));
}
int32_t KV_SetMemShort(int32_t board, int32_t line, const uint16_t* data, int32_t station,
                       int32_t offset, int32_t count) {
    return setMemory("KV_SetMemShort", "Short", board, line, data,
                     gmRange<uint16_t>(station, offset, count));
}
int32_t KV_SetMemLong(int32_t board, int32_t line, const uint32_t* data, int32_t station,
                      int32_t offset, int32_t count) {
    return setMemory("KV_SetMemLong", "Long", board, line, data,
                     gmRange<uint32_t>(station, offset, count));
}
int32_t KV_SetMemDLong(int32_t board, int32_t line, const uint64_t* data, int32_t index1,
                       int32_t index2, int32_t count) {
    return setMemory("KV_SetMemDLong", "DLong", board, line, data,
                     gmRange<uint64_t>(index1, index2, count));
}

int32_t KV_Ck(int32_t board, int32_t line, uint16_t* value) {
    BoardContext* b;
    int32_t code = checkLine(board, line, &b);
    if (code == KV_OK && value == nullptr) code = KV_ERR_ARGUMENT;
    if (code == KV_OK && b->window == nullptr) code = KV_ERR_NOT_MAPPED;
    if (code == KV_OK) {
        WindowUse use;
        if (boardLost(*b))
            code = KV_ERR_REQUEST;
        else
            *value = bus::load<uint16_t>(b->window, kChkcRegister);
    }
    if (code != KV_OK) {
        libraryLog().writef(kLogNg, "%s(%d) KV_Ck: Line(%d): NG: Ret(%xh)", kBuild.shortName, board,
                            line, code);
        return code;
    }
    libraryLog().writef(kLogCall, "%s(%d) KV_Ck: Line(%d)-CHKC(0x%x): OK", kBuild.shortName, board,
                        line, static_cast<uint32_t>(*value));
    return KV_OK;
}

int32_t KV_HardReset(int32_t board, int32_t line) {
    BoardContext* b;
    int32_t code = checkLine(board, line, &b);
    if (code == KV_OK)
        code = !boardLost(*b) && device::reset(b->device) == 0 ? KV_OK : KV_ERR_REQUEST;
    return logLineResult("KV_HardReset", board, line, code);
}

}  // extern "C"

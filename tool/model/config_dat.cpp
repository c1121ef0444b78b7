#include "tool/model/config_dat.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "api/configfiles/ini_file_io.h"
#include "platform/file_io.h"

namespace kalvo::tool {

namespace {

void put16(std::string& buffer, size_t at, uint16_t value) {
    buffer[at] = char(value & 0xFF);
    buffer[at + 1] = char(value >> 8);
}

}  // namespace

uint16_t datLineWord(int32_t baudrate, int32_t longFrame) {
    int32_t code = baudrate == 3 ? 1 : baudrate == 6 ? 2 : baudrate == 12 ? 3 : 0;
    if (code == 0) return uint16_t(longFrame);
    return uint16_t(longFrame * 256 + code);
}

uint16_t boardLineWord(const TBoardSetRec& board, int line) {
    const bool chosen = board.Kind > 0 && board.Kind < kBoardKinds &&
                        boardKinds()[size_t(board.Kind)].LineSettings == 1;
    // A kind without line settings has them fixed: the board dialogs' first
    // items, 3 Mbit/s without long frame, whatever its record holds (-1 when
    // read back from Kalvo.ini, which has no such keys for it).
    if (!chosen) return datLineWord(3, 0);
    const TLineSetRec& l = board.Line[size_t(std::clamp(line, 0, kSettingLines - 1))];
    return datLineWord(l.Baudrate, l.LongFrame);
}

std::string buildConfigDat(const ConfigModel& model) {
    int32_t used = 0;
    for (const auto& b : model.boards()) used += b.BoardNo != 0;
    std::string image(kDatHeaderBytes, '\0');
    put16(image, 0, 1);
    put16(image, 2, uint16_t(model.boardCount()));
    image.reserve(kDatHeaderBytes + kDatBoardBytes * size_t(used));
    for (int b = 0; b < kBoardSlots; ++b) {
        const TBoardSetRec& board = model.boards()[size_t(b)];
        if (board.BoardNo == 0) continue;
        std::string record(kDatBoardBytes, '\0');
        put16(record, 0, uint16_t(board.BoardNo - 1));
        for (int j = 0; j < std::min(board.LineCount, kSettingLines); ++j) {
            const size_t block = 2 + kDatLineBytes * size_t(j);
            // The network holds line 0 only; a second line has no stations.
            if (j < kLines) {
                for (int a = 0; a < kAddresses; ++a) {
                    const TStaAddRec& rec = model.at(b, j, a);
                    if (!rec.Head) continue;
                    // A station's units run on into its continuation
                    // addresses' IDs; the last ID is block offset 142.
                    size_t p = block + 15 + 4 * size_t(a);
                    for (int s = 0; s < kSlots; ++s) {
                        const TKVStlRec& slot = rec.Slot[size_t(s)];
                        if (slot.Unit == 0) continue;
                        if (p >= block + 15 + 128) break;
                        record[p++] = char(slot.Info.Info.Code & 0xFF);
                    }
                }
            }
            put16(record, block + 2, boardLineWord(board, j));
        }
        image += record;
    }
    return image;
}

bool writeConfigDat(const ConfigModel& model, std::string* error) {
    const std::string path = configfiles::projectFilePath(model.folder(), "KalvoConfig.dat");
    if (!platform::replaceFile(path, buildConfigDat(model))) {
        *error = path + " could not be written (" + std::strerror(errno) +
                 "); the previous file, if any, is unchanged";
        return false;
    }
    return true;
}

}  // namespace kalvo::tool

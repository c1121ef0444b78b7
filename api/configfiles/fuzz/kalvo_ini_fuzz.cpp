// Kalvo.ini and its "Offset" lists: any bytes as the file the API library
// and the configuration tool read. The library's readers (board count, board
// and unit sections), the tool's ini class (boards, units, stations, then a
// rewrite of the file read again) and the offset list parser of every value
// in the file must never crash; an offset list holds only offsets from 0.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "api/configfiles/kalvo_ini_class.h"
#include "api/configfiles/kalvo_ini_reader.h"
#include "api/configfiles/offset_list.h"

namespace cf = kalvo::configfiles;

namespace {

std::string gDir;

void removeDir() {
    std::error_code ec;
    std::filesystem::remove_all(gDir, ec);
}

void checkOffsets(std::string_view text) {
    cf::OffsetList list = cf::parseOffsetList(text);
    // count offsets from 0, then -1 in every entry.
    if (list.count < 0 || list.count > cf::kMaxOffsets) std::abort();
    for (int i = 0; i < cf::kMaxOffsets; ++i)
        if (i < list.count ? list.offsets[size_t(i)] < 0 : list.offsets[size_t(i)] != -1)
            std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/kalvo-ini-fuzz-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    gDir = dir;
    std::atexit(removeDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (gDir.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
    std::string_view text(reinterpret_cast<const char*>(data), size);
    checkOffsets(text);

    std::string file = gDir + "/Kalvo.ini";
    if (FILE* f = std::fopen(file.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    int32_t boards = cf::readBoardCount(file);
    for (int32_t b = 1; b <= 4; ++b) cf::readBoardSection(file, b);
    (void)boards;
    cf::TKalvoIniClass ini(file);
    for (const std::string& section : ini.document().sections()) {
        cf::KalvoUnitSection unit = cf::readUnitSection(file, section);
        (void)unit;
        ini.readUnit(section);
        for (const std::string& key : ini.document().keys(section))
            checkOffsets(ini.readString(section, key, ""));
    }
    for (int32_t b = 0; b <= 4; ++b) {
        ini.readBoard(b);
        for (int32_t a = 0; a < 3; ++a) ini.readStation(b, 1, a);
    }
    ini.readToolMark();
    if (!ini.readFailed() && ini.writeString("FUZZ", "Key", "1") && ini.updateFile()) {
        cf::TKalvoIniClass again(file);
        if (again.readString("FUZZ", "Key", "") != "1") std::abort();
    }
    return 0;
}

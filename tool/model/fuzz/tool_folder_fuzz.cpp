// A configuration folder as the configuration tool reads it, then edited and
// saved. The input is split at NUL bytes: Kalvo.ini (with its BOARD_n, unit
// and CTR_* sections), ModelTbl.ini (empty: the example models below), then
// editing commands of four bytes each (place, remove, copy, move, modules,
// board settings, save). Checked:
// - a folder that check passes is saved without refusal, and saving what
//   was saved reloads and saves to the same bytes (Kalvo.ini, the board
//   library ini files, KalvoConfig.dat);
// - whatever was loaded and however it was edited, a save either refuses or
//   writes a folder that check passes and that saves to the same bytes again;
// - every KalvoConfig.dat written follows its rules: header, one record per
//   used board in slot order, the line word, each head's unit code bytes at
//   its logical IDs, zeros elsewhere.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tool/model/config_dat.h"
#include "tool/model/configuration_check.h"
#include "tool/model/configuration_files.h"
#include "tool/model/editor_operations.h"
#include "tool/model/folder_save.h"

namespace fs = std::filesystem;
using namespace kalvo::tool;

namespace {

// The example table's kinds of model: general, shared input/output, the
// module that ends a station, the axis and RFID heads.
constexpr std::string_view kModels =
    "[Config]\nUnitCount=10\n"
    "[Model_0]\nModel=QMDIO16\nName=16-point digital I/O\nType=DIO\nCode=17\nId=1\nCh=1\n"
    "Series=QMS\n"
    "[Model_1]\nModel=QMADA04\nType=ADA\nCode=33\nId=1\nCh=4\nSeries=QMS\n"
    "[Model_2]\nModel=QMSA40*\nType=ADA\nCode=34\nId=1\nCh=4\nSeries=QMS\n"
    "[Model_3]\nModel=QMSA04*\nType=ADA\nCode=35\nId=1\nCh=4\nSeries=QMS\n"
    "[Model_4]\nModel=QMSC20*\nType=DIO\nCode=37\nId=1\nCh=2\nSeries=QMS\n"
    "[Model_5]\nModel=MRUM02*\nType=AXSA\nCode=39\nId=1\nCh=4\nSeries=MRU\n"
    "[Model_6]\nModel=MRUM04*\nType=AXSA\nCode=40\nId=3\nCh=4\nSeries=MRU\n"
    "[Model_7]\nModel=QMSIO01\nType=SIO\nCode=49\nId=1\nCh=1\nSeries=QMS\n"
    "[Model_8]\nModel=KVZC220\nType=RFID\nCode=50\nId=2\nCh=2\nSeries=KVZ\n"
    "[Model_9]\nModel=KVZC220\nType=RFID\nCode=51\nId=3\nCh=2\nSeries=KVZ\n";

std::string gRoot;

void removeRoot() {
    std::error_code ec;
    fs::remove_all(gRoot, ec);
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "tool folder fuzz: %s\n", what.c_str());
    std::abort();
}

std::string folder(const char* name) {
    const std::string dir = gRoot + "/" + name;
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directory(dir, ec);
    return dir;
}

void write(const std::string& path, std::string_view text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) fail("cannot write " + path);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

std::string read(const std::string& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

// Every file of a folder but the model table, by name.
std::string contents(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename() != "ModelTbl.ini") names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    std::string all;
    for (const std::string& name : names) all += "== " + name + "\n" + read(dir + "/" + name);
    return all;
}

// The check of a saved folder's Kalvo.ini (its model table is the one in use).
std::vector<std::string> checkFolder(const std::string& dir, ConfigModel* into) {
    into->setFolder(dir);
    const LoadResult loaded = loadConfiguration(*into);
    return checkKalvoIni(*into, loaded, IniSections(dir + "/Kalvo.ini"));
}

uint16_t get16(const std::string& image, size_t at) {
    return uint16_t(uint8_t(image[at]) | uint8_t(image[at + 1]) << 8);
}

// KalvoConfig.dat against the model it was written from.
void checkDat(const ConfigModel& model, const std::string& image) {
    size_t used = 0;
    for (const TBoardSetRec& b : model.boards()) used += b.BoardNo != 0;
    if (image.size() != kDatHeaderBytes + kDatBoardBytes * used) fail("KalvoConfig.dat size");
    if (get16(image, 0) != 1 || get16(image, 2) != uint16_t(used)) fail("KalvoConfig.dat header");
    size_t at = kDatHeaderBytes;
    for (int s = 0; s < kBoardSlots; ++s) {
        const TBoardSetRec& board = model.boards()[size_t(s)];
        if (board.BoardNo == 0) continue;
        std::string expected(kDatBoardBytes, '\0');
        expected[0] = char((board.BoardNo - 1) & 0xFF);
        expected[1] = char(((board.BoardNo - 1) >> 8) & 0xFF);
        for (int l = 0; l < std::min(board.LineCount, kSettingLines); ++l) {
            const size_t block = 2 + kDatLineBytes * size_t(l);
            const bool settable = boardKinds()[size_t(board.Kind)].LineSettings == 1;
            const TLineSetRec& line = board.Line[size_t(l)];
            const uint16_t word = settable ? datLineWord(line.Baudrate, line.LongFrame) : 0x0001;
            expected[block + 2] = char(word & 0xFF);
            expected[block + 3] = char(word >> 8);
            if (l >= kLines) continue;
            for (int a = 0; a < kAddresses; ++a) {
                const TStaAddRec& rec = model.at(s, l, a);
                if (!rec.Head) continue;
                size_t id = 4 * size_t(a);
                for (int k = 0; k < kSlots && id < 128; ++k)
                    if (rec.Slot[size_t(k)].Unit != 0)
                        expected[block + 15 + id++] = char(rec.Slot[size_t(k)].Info.Info.Code);
            }
        }
        if (image.compare(at, kDatBoardBytes, expected) != 0) fail("KalvoConfig.dat board record");
        at += kDatBoardBytes;
    }
}

// Saves model into a fresh folder: refused, or a folder that passes check
// and saves again to the same bytes. True when it was written.
bool saveAndCompare(const ModelTable& models, ConfigModel& model, const char* name) {
    const std::string dir = folder(name);
    model.setFolder(dir);
    const SaveOutcome saved = saveFolder(model);
    if (!saved.Refused.empty()) return false;
    if (!saved.ok()) fail("a save that was not refused failed: " + saved.DatError);
    checkDat(model, read(dir + "/KalvoConfig.dat"));
    ConfigModel again(models);
    const std::vector<std::string> problems = checkFolder(dir, &again);
    if (!problems.empty()) fail("a save wrote a folder that check rejects: " + problems[0]);
    const std::string again1 = std::string(name) + "-again";
    const std::string dir2 = folder(again1.c_str());
    again.setFolder(dir2);
    const SaveOutcome resaved = saveFolder(again);
    if (!resaved.ok())
        fail("the saved folder does not save again: " +
             (resaved.Refused.empty() ? resaved.DatError : resaved.Refused[0]));
    if (contents(dir) != contents(dir2)) fail("a saved folder saves to other bytes");
    return true;
}

void runCommands(const ModelTable& models, ConfigModel& model, std::string_view commands) {
    const auto count = int32_t(models.list().size());
    for (size_t i = 0; i + 4 <= commands.size() && i < 4 * 64; i += 4) {
        const auto op = uint8_t(commands[i]), x = uint8_t(commands[i + 1]),
                   y = uint8_t(commands[i + 2]), z = uint8_t(commands[i + 3]);
        const int slot = z % kBoardSlots, from = x % kAddresses, to = y % kAddresses;
        switch (op % 7) {
            case 0:
                placeStation(model, slot, 0, from, y % kStationTypes);
                break;
            case 1:
                removeStation(model, slot, 0, from);
                break;
            case 2:
                duplicateStation(model, slot, 0, from, to);
                break;
            case 3:
                moveStation(model, slot, 0, from, to);
                break;
            case 4:
                setStationModules(model, slot, 0, from,
                                  {int32_t(y % count), int32_t(z % count),
                                   int32_t((y >> 4) % count), int32_t((z >> 4) % count)});
                break;
            case 5: {
                std::array<int32_t, kBoardSlots> kinds{x % 5, (x >> 3) % 5, y % 5, (y >> 3) % 5};
                std::array<TLineSetRec, kBoardSlots> lines{};
                for (int k = 0; k < kBoardSlots; ++k)
                    lines[size_t(k)] = {baudFromItem((z >> k) % 3, 0), (z >> (k + 4)) & 1};
                const BoardSettings boards = boardSettingsFromDialog(model, kinds, lines);
                if (std::any_of(boards.begin(), boards.end(),
                                [](const TBoardSetRec& b) { return b.BoardNo != 0; }))
                    applyBoardSettings(model, boards);
                break;
            }
            default:
                saveAndCompare(models, model, "edited");
                break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // In memory when it can be: every save syncs its files.
    std::error_code ec;
    std::string dir = (fs::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp") +
                      std::string("/kalvo-tool-folder-fuzz-XXXXXX");
    if (!mkdtemp(dir.data())) fail("no temporary folder");
    gRoot = dir;
    std::atexit(removeRoot);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (gRoot.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const size_t first = text.find('\0');
    const size_t second = first == std::string_view::npos ? first : text.find('\0', first + 1);
    const std::string_view kalvoIni = text.substr(0, first);
    std::string_view modelTable = first == std::string_view::npos
                                      ? std::string_view()
                                      : text.substr(first + 1, second - first - 1);
    const std::string_view commands =
        second == std::string_view::npos ? std::string_view() : text.substr(second + 1);
    if (modelTable.empty()) modelTable = kModels;

    const std::string input = folder("input");
    write(input + "/Kalvo.ini", kalvoIni);
    write(input + "/ModelTbl.ini", modelTable);
    ModelTable models;
    models.load(input + "/ModelTbl.ini");
    ConfigModel model(models);
    model.setFolder(input);
    const LoadResult loaded = loadConfiguration(model);
    if (!loaded.ok()) return 0;
    const std::vector<std::string> problems = checkConfiguration(model, loaded);
    if (problems.empty()) {
        const std::vector<std::string> refused = saveRefusals(model);
        if (!refused.empty()) fail("check passes, but the save refuses: " + refused[0]);
        if (!saveAndCompare(models, model, "loaded")) fail("check passes, but the save refuses");
    }
    runCommands(models, model, commands);
    saveAndCompare(models, model, "final");
    return 0;
}

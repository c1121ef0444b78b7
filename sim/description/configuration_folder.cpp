// The network of a configuration folder: Kalvo.ini's boards, station and unit
// sections, with the model texts from ModelTbl.ini.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "api/configfiles/kalvo_ini_class.h"
#include "api/configfiles/kalvo_ini_reader.h"
#include "sim/description/description_checks.h"
#include "sim/description/network_description.h"

namespace kalvo::sim {

namespace {

namespace cf = kalvo::configfiles;

// What the tool writes for a module place without a module.
constexpr std::string_view kUnusedModule = "\xE6\x9C\xAA\xE4\xBD\xBF\xE7\x94\xA8";  // "未使用"
// Board sections the API library reads at most.
constexpr int32_t kMaxConfiguredBoards = 4;

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string kalvoIniOf(const std::string& dir) {
    return (std::filesystem::path(dir) / "Kalvo.ini").string();
}

// Board sections of a folder: the simulated kind and library instance
// number of each, in board order.
struct ConfiguredBoard {
    std::string library;
    std::string kind;
    uint16_t instance = 0;
};

bool readConfiguredBoards(const std::string& dir, std::vector<ConfiguredBoard>* boards,
                          std::string* error) {
    std::string file = kalvoIniOf(dir);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        *error = "no Kalvo.ini in " + dir;
        return false;
    }
    int32_t count = cf::readBoardCount(file);
    if (count < 0 || count > kMaxConfiguredBoards) {
        *error = "Kalvo.ini: Board = " + std::to_string(count) + " (0 to 4 boards)";
        return false;
    }
    std::map<std::string, uint16_t> instances;  // by library name in upper case
    for (int32_t n = 1; n <= count; ++n) {
        ConfiguredBoard board;
        board.library = cf::readBoardSection(file, n).kind;
        board.kind = simulatedKindOfLibrary(board.library);
        if (board.kind.empty()) {
            *error = "Kalvo.ini: Board_" + std::to_string(n) + ": Kind \"" + board.library +
                     "\" has no simulated board (Pcimaster64, Dualmaster or Cardmaster)";
            return false;
        }
        board.instance = instances[upper(board.library)]++;
        boards->push_back(board);
    }
    return true;
}

// The simulated board a configured board opens: the one of its kind whose
// ID word is its library instance number, else the instance-th of the kind.
bool matchBoard(const ConfiguredBoard& board, const std::vector<BoardSpec>& boards, size_t* index) {
    for (size_t i = 0; i < boards.size(); ++i)
        if (boards[i].kind == board.kind && boards[i].idWord == board.instance) {
            *index = i;
            return true;
        }
    size_t seen = 0;
    for (size_t i = 0; i < boards.size(); ++i)
        if (boards[i].kind == board.kind && seen++ == board.instance) {
            *index = i;
            return true;
        }
    return false;
}

// A code text as a whole number (sign allowed); false for anything else,
// which matches no model.
bool codeNumber(const std::string& text, int32_t* value) {
    std::string t = text;
    size_t a = t.find_first_not_of(" \t"), b = t.find_last_not_of(" \t");
    if (a == std::string::npos) return false;
    t = t.substr(a, b - a + 1);
    size_t digits = (t[0] == '-' || t[0] == '+') ? 1 : 0;
    if (digits == t.size() || t.size() > 10) return false;
    for (size_t i = digits; i < t.size(); ++i)
        if (t[i] < '0' || t[i] > '9') return false;
    *value = int32_t(std::strtol(t.c_str(), nullptr, 10));
    return true;
}

// ModelTbl.ini: model text and code number -> unit type, as the tool's
// model-list lookup matches them. Only sections the tool takes into its
// model list count: a unit-type name as Type and a known Series.
struct ModelTable {
    std::map<std::pair<std::string, int32_t>, std::string> types;

    void read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        if (!in) return;
        std::ostringstream text;
        text << in.rdbuf();
        auto doc = platform::IniDocument::parse(text.str());
        auto get = [&](const std::string& section, const char* key, const std::string& fallback) {
            return doc.get(section, key).value_or(fallback);
        };
        int32_t count = std::atoi(get("Config", "UnitCount", "1").c_str());
        // The model sections "Model_0" to "Model_<count - 1>" in number order,
        // found in one pass over the file's sections: a huge "UnitCount" costs
        // nothing beyond the sections that are there.
        std::vector<std::pair<int32_t, std::string>> numbered;
        for (const std::string& section : doc.sections()) {
            if (section.size() < 7 || upper(section.substr(0, 6)) != "MODEL_") continue;
            std::string digits = section.substr(6);
            int32_t i = 0;
            if (!codeNumber(digits, &i) || i < 0 || std::to_string(i) != digits) continue;
            if (i < count && i < 100000) numbered.emplace_back(i, section);
        }
        std::sort(numbered.begin(), numbered.end());
        for (const auto& [i, section] : numbered) {
            std::string type = get(section, "Type", "NON");
            std::string series = get(section, "Series", "");
            static const char* const kTypes[] = {"NEW",  "DIO", "ADA",  "AXSA", "ENC",
                                                 "ENCA", "SIO", "RFID", "SUB"};
            if (std::find(std::begin(kTypes), std::end(kTypes), type) == std::end(kTypes) ||
                (series != "QMS" && series != "MRU" && series != "KVZ"))
                continue;
            std::string model = get(section, "Model", "--");
            int32_t code = std::atoi(get(section, "Code", "0").c_str());
            types.emplace(std::make_pair(model, code), type);
        }
    }

    // "CODE(TYPE)" for a known model, the code as written otherwise, empty
    // for an unused module place.
    std::string text(const std::string& model, const std::string& code) const {
        if (model.empty() || model == kUnusedModule || model == "--") return {};
        int32_t number = 0;
        if (!codeNumber(code, &number)) return model;
        auto it = types.find({model, number});
        return it == types.end() ? model : model + "(" + it->second + ")";
    }
};

// The families whose sections place something on the line; ENC, ENCA and
// RFID units have no behaviour in the simulation but hold their station.
bool isPlacedFamily(std::string_view family) {
    return isUnitFamily(family) || family == "ENC" || family == "ENCA" || family == "RFID";
}

// Unit section names of the file in file order ("DIO_1" ...), each once
// (the profile rules read the first section of a name).
std::vector<std::pair<std::string, int32_t>> unitSections(const cf::TKalvoIniClass& ini) {
    std::vector<std::pair<std::string, int32_t>> found;
    std::vector<std::string> seen;
    for (const std::string& section : ini.document().sections()) {
        std::string name = upper(section);
        size_t underscore = name.rfind('_');
        if (underscore == std::string::npos) continue;
        int64_t number = 0;
        if (!isPlacedFamily(name.substr(0, underscore)) ||
            !parseInteger(name.substr(underscore + 1), 1, 1024, &number))
            continue;
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
        seen.push_back(name);
        found.emplace_back(section, int32_t(number));
    }
    return found;
}

// The station sections of board number boardNo (line 1) into stations.
bool readStations(const cf::TKalvoIniClass& ini, int32_t boardNo, const ModelTable& models,
                  BoardNetwork* board, std::string* error) {
    StationDescription* current = nullptr;
    for (int32_t a = 0; a < kLineAddresses; ++a) {
        std::string section = "CTR_" + std::to_string(boardNo) + "_1_" + std::to_string(a);
        cf::TKVSIniCtrRec rec = ini.readStation(boardNo, 1, a);
        if (rec.MstFlg == 2) {
            current = nullptr;
        } else if (rec.MstFlg == 1) {
            StationDescription station;
            station.address = a;
            for (int m = 0; m < cf::kStationModules; ++m) {
                std::string text = models.text(rec.Unit[size_t(m)], rec.Code[size_t(m)]);
                if (text.empty()) continue;
                station.model += (station.model.empty() ? "" : ",") + text;
            }
            board->stations.push_back(station);
            current = &board->stations.back();
        } else if (rec.MstFlg == 0) {
            if (!current) {
                *error = "Kalvo.ini: " + section +
                         ": a continuation address (MstFlg 0) "
                         "without a station before it";
                return false;
            }
            ++current->addressCount;
        } else {
            *error =
                "Kalvo.ini: " + section + ": MstFlg " + std::to_string(rec.MstFlg) + " (0, 1 or 2)";
            return false;
        }
    }
    return true;
}

// A station for a unit or echo address that no station section covers: as
// many addresses as reach, up to the next station.
void addImplicitStation(BoardNetwork* board, int32_t address, int32_t reach,
                        const std::string& model, bool echo) {
    int32_t count = std::min(reach, kLineAddresses - address);
    for (const StationDescription& s : board->stations)
        if (s.address > address) count = std::min(count, s.address - address);
    StationDescription station;
    station.address = address;
    station.addressCount = std::max(count, 1);
    station.model = model;
    station.echo = echo;
    board->stations.push_back(station);
    std::sort(board->stations.begin(), board->stations.end(),
              [](const StationDescription& x, const StationDescription& y) {
                  return x.address < y.address;
              });
}

bool readEchoStations(const std::string& file, int32_t boardNo, BoardNetwork* board,
                      std::string* error) {
    std::string key = "Echo_" + std::to_string(boardNo);
    std::string value = platform::profileGetString(file, "Simulation", key, "");
    if (value.empty()) return true;
    std::string cleaned;
    for (char c : value)
        if (c != ' ' && c != '\t') cleaned += c;
    size_t pos = 0;
    for (;;) {
        size_t comma = cleaned.find(',', pos);
        std::string field = cleaned.substr(pos, comma == std::string::npos ? comma : comma - pos);
        int64_t address = 0;
        if (!parseInteger(field, 0, kLineAddresses - 1, &address)) {
            *error = "Kalvo.ini: [Simulation] " + key + " = " + value +
                     ": station addresses 0 to 31, separated by commas";
            return false;
        }
        StationDescription* station = nullptr;
        for (auto& s : board->stations)
            if (int32_t(address) >= s.address && int32_t(address) < s.address + s.addressCount)
                station = &s;
        if (station && station->address != int32_t(address)) {
            *error = "Kalvo.ini: [Simulation] " + key + ": " + field +
                     " is inside the station at " + std::to_string(station->address);
            return false;
        }
        if (station)
            station->echo = true;
        else
            addImplicitStation(board, int32_t(address), 1, "echo", true);
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return true;
}

}  // namespace

std::string simulatedKindOfLibrary(std::string_view library) {
    std::string name = upper(library);
    if (name == "PCIMASTER64") return std::string(kKindTolva);
    if (name == "DUALMASTER") return std::string(kKindDual);
    if (name == "CARDMASTER") return std::string(kKindCardmaster);
    return {};
}

std::vector<BoardSpec> boardsOfConfigurationFolder(const std::string& dir, std::string* error) {
    std::vector<ConfiguredBoard> configured;
    error->clear();
    if (!readConfiguredBoards(dir, &configured, error)) return {};
    std::vector<BoardSpec> boards;
    for (auto& c : configured) boards.push_back(BoardSpec{c.kind, c.instance, {}});
    return boards;
}

NetworkDescription loadConfigurationFolder(const std::string& dir,
                                           const std::vector<BoardSpec>& boards, std::string* error,
                                           const std::string& modelTable) {
    error->clear();
    std::vector<ConfiguredBoard> configured;
    if (!readConfiguredBoards(dir, &configured, error)) return {};
    std::string file = kalvoIniOf(dir);
    cf::TKalvoIniClass ini(file);
    if (ini.readFailed()) {
        *error = "cannot read " + file;
        return {};
    }
    ModelTable models;
    models.read(modelTable.empty() ? (std::filesystem::path(dir) / "ModelTbl.ini").string()
                                   : modelTable);

    NetworkDescription spec;
    for (size_t n = 0; n < configured.size(); ++n) {
        size_t index = 0;
        if (!matchBoard(configured[n], boards, &index)) {
            *error = "Kalvo.ini: Board_" + std::to_string(n + 1) + " (" + configured[n].library +
                     ", instance " + std::to_string(configured[n].instance) +
                     ") has no simulated " + configured[n].kind + " board with ID " +
                     std::to_string(configured[n].instance);
            return {};
        }
        for (auto& b : spec.boards)
            if (b.board == index) {
                *error = "Kalvo.ini: Board_" + std::to_string(n + 1) +
                         " maps to the same simulated board as an earlier board";
                return {};
            }
        BoardNetwork board{index, {}, {}};
        if (!readStations(ini, int32_t(n + 1), models, &board, error)) return {};
        spec.boards.push_back(std::move(board));
    }

    for (const auto& [section, number] : unitSections(ini)) {
        cf::KalvoUnitSection unit = cf::readUnitSection(file, section);
        std::string family = upper(section.substr(0, section.rfind('_')));
        std::string where = "Kalvo.ini: [" + section + "]: ";
        if (unit.board < 1 || unit.board > int32_t(configured.size())) {
            *error = where + "Board " + std::to_string(unit.board) + " is not a configured board";
            return {};
        }
        if (unit.line != 1) {
            *error = where + "Line " + std::to_string(unit.line) + " (the boards have line 1)";
            return {};
        }
        if (unit.base < 0 || unit.base >= kLineAddresses) {
            *error = where + "Base " + std::to_string(unit.base) + " (0 to 31)";
            return {};
        }
        std::vector<int> offsets;
        for (int32_t i = 0; i < unit.offsets.count; ++i) {
            int32_t o = unit.offsets.offsets[size_t(i)];
            if (o >= kMaxUnitOffsets) {
                *error = where + "Offset " + std::to_string(o) + " (0 to 15)";
                return {};
            }
            offsets.push_back(o);
        }
        if (offsets.empty()) {
            *error = where + "no Offset list";
            return {};
        }
        BoardNetwork& board = spec.boards[size_t(unit.board - 1)];
        if (!stationCovering(board, unit.base)) {
            int32_t reach =
                *std::max_element(offsets.begin(), offsets.end()) / kWordsPerAddress + 1;
            addImplicitStation(&board, unit.base, reach, family, false);
        }
        if (!isUnitFamily(family)) continue;
        UnitDescription u;
        u.family = family;
        u.number = number;
        u.kind = unit.kind;
        u.station = unit.base;
        u.offsets = offsets;
        board.units.push_back(u);
    }

    for (size_t n = 0; n < configured.size(); ++n)
        if (!readEchoStations(file, int32_t(n + 1), &spec.boards[n], error)) return {};
    return spec;
}

}  // namespace kalvo::sim

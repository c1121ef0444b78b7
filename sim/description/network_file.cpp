// The host's network file: parser and writer.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "sim/description/description_checks.h"
#include "sim/description/network_description.h"

namespace kalvo::sim {

namespace {

std::vector<std::string> splitWords(std::string_view line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) words.emplace_back(line.substr(start, i - start));
    }
    return words;
}

// "key=value" option words after the fixed ones.
bool splitOption(const std::string& word, std::string* key, std::string* value) {
    size_t eq = word.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    *key = word.substr(0, eq);
    *value = word.substr(eq + 1);
    return true;
}

// "station ADDRESS [options]" without the board's context.
bool stationFromWords(const std::vector<std::string>& words, StationDescription* out,
                      std::string* why) {
    StationDescription station;
    int64_t address = 0;
    if (words.size() < 2 || !parseInteger(words[1], 0, kLineAddresses - 1, &address)) {
        *why = "station needs an address from 0 to 31";
        return false;
    }
    station.address = int32_t(address);
    std::set<std::string> seen;
    for (size_t i = 2; i < words.size(); ++i) {
        std::string key, value;
        if (words[i] == "echo") {
            key = "echo";
            station.echo = true;
        } else if (!splitOption(words[i], &key, &value)) {
            *why = "unknown station option \"" + words[i] + "\"";
            return false;
        } else if (key == "model") {
            station.model = value;
        } else if (key == "addresses") {
            int64_t count = 0;
            if (!parseInteger(value, 1, kLineAddresses, &count)) {
                *why = "addresses must be 1 to 32";
                return false;
            }
            station.addressCount = int32_t(count);
        } else {
            *why = "unknown station option \"" + key + "\"";
            return false;
        }
        if (!seen.insert(key).second) {
            *why = "station option " + key + " given twice";
            return false;
        }
    }
    *out = station;
    return true;
}

// "unit NAME station=A offsets=LIST [kind=K] [hold] [left=WORD]" without the
// board's context.
bool unitFromWords(const std::vector<std::string>& words, UnitDescription* out, std::string* why) {
    UnitDescription unit;
    if (words.size() < 2 || !parseUnitName(words[1], &unit.family, &unit.number)) {
        *why = "unit needs a name FAMILY_N (DIO, ADA, AXSA or SIO; N from 1 to 1024)";
        return false;
    }
    bool haveStation = false, haveOffsets = false, haveKind = false, haveLeft = false;
    for (size_t i = 2; i < words.size(); ++i) {
        std::string key, value;
        if (words[i] == "hold") {
            if (unit.hold) {
                *why = "unit option hold given twice";
                return false;
            }
            unit.hold = true;
            continue;
        }
        if (!splitOption(words[i], &key, &value)) {
            *why = "unknown unit option \"" + words[i] + "\"";
            return false;
        }
        bool* seen = key == "station"   ? &haveStation
                     : key == "offsets" ? &haveOffsets
                     : key == "kind"    ? &haveKind
                     : key == "left"    ? &haveLeft
                                        : nullptr;
        if (!seen) {
            *why = "unknown unit option \"" + key + "\"";
            return false;
        }
        if (*seen) {
            *why = "unit option " + key + " given twice";
            return false;
        }
        *seen = true;
        if (key == "station") {
            int64_t address = 0;
            if (!parseInteger(value, 0, kLineAddresses - 1, &address)) {
                *why = "station must be 0 to 31";
                return false;
            }
            unit.station = int32_t(address);
        } else if (key == "offsets") {
            if (!parseOffsets(value, &unit.offsets)) {
                *why = "offsets must be a list of 1 to 16 numbers from 0 to 15, e.g. 0,1,2";
                return false;
            }
        } else if (key == "left") {
            int64_t word = 0;
            if (!parseInteger(value, 0, 0xFFFF, &word)) {
                *why = "left must be an output word in decimal, 0 to 65535";
                return false;
            }
            unit.left = uint16_t(word);
        } else {
            unit.kind = value;
        }
    }
    if (!haveStation || !haveOffsets) {
        *why = "unit " + words[1] + " needs station= and offsets=";
        return false;
    }
    *out = unit;
    return true;
}

class Parser {
  public:
    NetworkDescription run(std::string_view text, std::string* error) {
        size_t number = 0;
        size_t pos = 0;
        while (pos <= text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string_view::npos) end = text.size();
            std::string_view line = text.substr(pos, end - pos);
            pos = end + 1;
            ++number;
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            size_t comment = line.find_first_of("#;");
            if (comment != std::string_view::npos) line = line.substr(0, comment);
            std::string why;
            if (!parseLine(line, &why)) {
                *error = "line " + std::to_string(number) + ": " + why;
                return {};
            }
            if (end == text.size()) break;
        }
        error->clear();
        return spec_;
    }

  private:
    bool parseLine(std::string_view line, std::string* why) {
        auto words = splitWords(line);
        if (words.empty()) return true;
        if (words[0].front() == '[') return parseSection(line, why);
        if (!board_) {
            *why = "\"" + words[0] + "\" before the first [board N] section";
            return false;
        }
        if (words[0] == "station") return parseStation(words, why);
        if (words[0] == "unit") return parseUnit(words, why);
        *why = "unknown keyword \"" + words[0] + "\" (station or unit)";
        return false;
    }

    bool parseSection(std::string_view line, std::string* why) {
        size_t open = line.find('[');
        size_t close = line.find(']');
        if (close == std::string_view::npos || !splitWords(line.substr(close + 1)).empty()) {
            *why = "a section header is \"[board N]\"";
            return false;
        }
        auto words = splitWords(line.substr(open + 1, close - open - 1));
        int64_t index = 0;
        if (words.size() != 2 || words[0] != "board" ||
            !parseInteger(words[1], 0, int64_t(kMaxBoards) - 1, &index)) {
            *why = "a section header is \"[board N]\" with N from 0 to " +
                   std::to_string(kMaxBoards - 1);
            return false;
        }
        for (auto& b : spec_.boards)
            if (b.board == size_t(index)) {
                *why = "board " + words[1] + " listed twice";
                return false;
            }
        spec_.boards.push_back(BoardNetwork{size_t(index), {}, {}});
        board_ = true;
        return true;
    }

    BoardNetwork& board() { return spec_.boards.back(); }

    bool parseStation(const std::vector<std::string>& words, std::string* why) {
        StationDescription station;
        if (!stationFromWords(words, &station, why)) return false;
        if (!checkStation(board(), station, why)) return false;
        board().stations.push_back(station);
        return true;
    }

    bool parseUnit(const std::vector<std::string>& words, std::string* why) {
        UnitDescription unit;
        if (!unitFromWords(words, &unit, why)) return false;
        for (auto& b : spec_.boards)
            for (auto& u : b.units)
                if (u.name() == unit.name()) {
                    *why = "unit " + unit.name() + " listed twice";
                    return false;
                }
        if (!stationCovering(board(), unit.station)) {
            *why = "unit " + unit.name() + ": no station listed before covers address " +
                   std::to_string(unit.station);
            return false;
        }
        board().units.push_back(unit);
        return true;
    }

    NetworkDescription spec_;
    bool board_ = false;
};

}  // namespace

bool parseStationLine(std::string_view line, StationDescription* station, std::string* error) {
    auto words = splitWords(line);
    if (words.empty() || words[0] != "station") {
        *error = "expected station ADDRESS [addresses=N] [model=TEXT] [echo]";
        return false;
    }
    return stationFromWords(words, station, error);
}

bool parseUnitLine(std::string_view line, UnitDescription* unit, std::string* error) {
    auto words = splitWords(line);
    if (words.empty() || words[0] != "unit") {
        *error =
            "expected unit FAMILY_N station=ADDRESS offsets=LIST [kind=KIND] [hold] [left=WORD]";
        return false;
    }
    return unitFromWords(words, unit, error);
}

NetworkDescription parseNetworkText(std::string_view text, std::string* error) {
    return Parser().run(text, error);
}

NetworkDescription loadNetworkFile(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path;
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    NetworkDescription spec = parseNetworkText(text.str(), error);
    if (!error->empty()) *error = path + ": " + *error;
    return spec;
}

std::string formatNetworkText(const NetworkDescription& spec) {
    std::string out;
    for (const BoardNetwork& b : spec.boards) {
        if (!out.empty()) out += "\n";
        out += "[board " + std::to_string(b.board) + "]\n";
        for (const StationDescription& s : b.stations) {
            out += "station " + std::to_string(s.address);
            if (s.addressCount != 1) out += " addresses=" + std::to_string(s.addressCount);
            // A model text is one word in the file: blanks, comment
            // characters and control bytes (a CR before the line end, a NUL)
            // would not read back.
            if (!s.model.empty()) {
                std::string model = s.model;
                for (char& c : model)
                    if (c == ' ' || c == '\t' || c == '#' || c == ';' ||
                        static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                        c = '_';
                out += " model=" + model;
            }
            if (s.echo) out += " echo";
            out += "\n";
        }
        for (const UnitDescription& u : b.units) {
            out += "unit " + u.name() + " station=" + std::to_string(u.station) + " offsets=";
            for (size_t i = 0; i < u.offsets.size(); ++i)
                out += (i ? "," : "") + std::to_string(u.offsets[i]);
            if (!u.kind.empty()) out += " kind=" + u.kind;
            if (u.hold) out += " hold";
            if (u.left) out += " left=" + std::to_string(*u.left);
            out += "\n";
        }
    }
    return out;
}

NetworkDescription loadNetworkDescription(const std::string& path,
                                          const std::vector<BoardSpec>& boards,
                                          std::string* error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        return loadConfigurationFolder(path, boards, error);
    return loadNetworkFile(path, error);
}

}  // namespace kalvo::sim

#include "host/sim_commands.h"

#include <cstdint>
#include <string_view>

#include "host/sim_usage.h"
#include "sim/description/network_description.h"
#include "sim/network/network.h"
#include "sim/units/remote_unit.h"

namespace kalvo::kernel::host {

namespace {

std::string answer(const std::string& refusal, const std::string& text = {}) {
    if (!refusal.empty()) return "ERROR " + refusal + "\n";
    if (text.empty()) return "OK\n";
    return "OK\n" + text + (text.back() == '\n' ? "" : "\n");
}

bool number(const std::string& word, uint64_t max, uint64_t* value) {
    if (word.empty() || word.size() > 9) return false;
    uint64_t v = 0;
    for (char c : word) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint64_t(c - '0');
    }
    if (v > max) return false;
    *value = v;
    return true;
}

bool board(sim::Network& network, const std::string& word, size_t* index, std::string* why) {
    uint64_t v = 0;
    if (!number(word, UINT32_MAX, &v) || v >= network.boardCount()) {
        *why =
            "board must be 0 to " + std::to_string(network.boardCount()) + " (exclusive): " + word;
        return false;
    }
    *index = size_t(v);
    return true;
}

bool address(const std::string& word, int32_t* value, std::string* why) {
    uint64_t v = 0;
    if (!number(word, 31, &v)) {
        *why = "station address must be 0 to 31: " + word;
        return false;
    }
    *value = int32_t(v);
    return true;
}

std::string join(const std::vector<std::string>& words, size_t from) {
    std::string text;
    for (size_t i = from; i < words.size(); ++i) text += (i > from ? " " : "") + words[i];
    return text;
}

std::string trace(sim::Network& network, const std::vector<std::string>& w) {
    std::string why;
    size_t first = 0, last = network.boardCount();
    uint64_t lines = 40;
    if (w.size() > 4) return answer("usage: sim trace [board] [lines]");
    if (w.size() >= 3) {
        if (!board(network, w[2], &first, &why)) return answer(why);
        last = first + 1;
    }
    if (w.size() == 4 && (!number(w[3], 100000, &lines) || lines == 0))
        return answer("lines must be 1 to 100000: " + w[3]);
    std::string text;
    for (size_t b = first; b < last; ++b) {
        if (last - first > 1) text += "board " + std::to_string(b) + ":\n";
        for (const std::string& line : network.trace(b, size_t(lines))) text += line + "\n";
    }
    return answer("", text);
}

std::string unitRequest(sim::Network& network, const std::vector<std::string>& w) {
    if (w.size() < 3) return answer("usage: sim unit <name> [command...]");
    const std::string& name = w[2];
    if (w.size() == 3) {
        std::string why;
        std::string text = network.describeUnit(name, &why);
        return answer(why, text);
    }
    if (w.size() == 4 && w[3] == "help") {
        // The unit stays valid here: units are added and removed only by
        // admin requests, which run one at a time on the admin thread.
        sim::RemoteUnit* unit = network.unit(name);
        if (!unit) {
            std::string why;
            network.describeUnit(name, &why);  // names the units there are
            return answer(why);
        }
        return answer("", unit->help());
    }
    return answer(network.unitControl(name, std::vector<std::string>(w.begin() + 3, w.end())));
}

}  // namespace

std::string simRequest(sim::Network& network, const std::vector<std::string>& w) {
    if (w.size() < 2 || w[1] == "help" || w[1] == "--help") return answer("", kSimUsage);
    const std::string& verb = w[1];
    std::string why;
    size_t b = 0;
    int32_t a = 0;

    if (verb == "show") {
        if (w.size() > 3) return answer("usage: sim show [board]");
        if (w.size() == 3) {
            if (!board(network, w[2], &b, &why)) return answer(why);
            return answer("", network.describe(b));
        }
        std::string text;
        for (size_t i = 0; i < network.boardCount(); ++i) text += network.describe(i);
        return answer("", text);
    }
    if (verb == "trace") return trace(network, w);
    if (verb == "timing") {
        if (w.size() != 2) return answer("usage: sim timing");
        sim::LineTiming t = network.timing();
        return answer("", "cycle " + std::to_string(t.cycleMicros) + " us\ncycles " +
                              std::to_string(t.cycles) + "\nworst lateness " +
                              std::to_string(t.worstLatenessMicros) + " us\nlate cycles " +
                              std::to_string(t.lateCycles) + "\n");
    }
    if (verb == "unit") return unitRequest(network, w);
    if (verb == "offline" || verb == "online" || verb == "mail-absent" || verb == "mail-present" ||
        verb == "remove-station") {
        if (w.size() != 4) return answer("usage: sim " + verb + " <board> <address>");
        if (!board(network, w[2], &b, &why) || !address(w[3], &a, &why)) return answer(why);
        if (verb == "offline" || verb == "online")
            return answer(network.setStationOnline(b, a, verb == "online"));
        if (verb == "remove-station") return answer(network.removeStation(b, a));
        return answer(network.setMailAbsent(b, a, verb == "mail-absent"));
    }
    if (verb == "silent" || verb == "unsilent") {
        if (w.size() != 3) return answer("usage: sim " + verb + " <unit>");
        return answer(network.setUnitSilent(w[2], verb == "silent"));
    }
    if (verb == "remove-unit") {
        if (w.size() != 3) return answer("usage: sim remove-unit <unit>");
        return answer(network.removeUnit(w[2]));
    }
    if (verb == "add-station") {
        if (w.size() < 4)
            return answer(
                "usage: sim add-station <board> <address> [addresses=N] [model=TEXT] [echo]");
        if (!board(network, w[2], &b, &why)) return answer(why);
        sim::StationDescription station;
        if (!sim::parseStationLine("station " + join(w, 3), &station, &why)) return answer(why);
        return answer(network.addStation(b, station));
    }
    if (verb == "add-unit") {
        if (w.size() < 5)
            return answer("usage: sim add-unit <board> <FAMILY_N> station=A offsets=LIST [kind=K]");
        if (!board(network, w[2], &b, &why)) return answer(why);
        sim::UnitDescription unit;
        if (!sim::parseUnitLine("unit " + join(w, 3), &unit, &why)) return answer(why);
        return answer(network.addUnit(b, unit));
    }
    return answer("unknown sim request \"" + verb + "\" (see kalvo-devctl sim --help)");
}

}  // namespace kalvo::kernel::host

#include "host/network_admin.h"

#include <sstream>

#include "host/admin_channel.h"

namespace kalvo::kernel::host {

bool NetworkAdmin::request(const std::string& request, std::string* text) {
    std::string response;
    error_.clear();
    if (!adminRequest(folder_, "sim " + request, &response, &error_)) return false;
    size_t nl = response.find('\n');
    std::string first = response.substr(0, nl);
    if (first != "OK") {
        error_ = first.rfind("ERROR ", 0) == 0 ? first.substr(6) : first;
        return false;
    }
    if (text) *text = nl == std::string::npos ? "" : response.substr(nl + 1);
    return true;
}

bool NetworkAdmin::setInput(const std::string& unit, int offset, uint16_t value) {
    return request("unit " + unit + " input " + std::to_string(offset) + " " +
                   std::to_string(value));
}

bool NetworkAdmin::unitCommand(const std::string& unit, const std::string& command) {
    return request("unit " + unit + " " + command);
}

std::string NetworkAdmin::describeUnit(const std::string& unit) {
    std::string text;
    return request("unit " + unit, &text) ? text : std::string();
}

bool NetworkAdmin::setStationOnline(size_t board, int address, bool online) {
    return request(std::string(online ? "online " : "offline ") + std::to_string(board) + " " +
                   std::to_string(address));
}

bool NetworkAdmin::setUnitSilent(const std::string& unit, bool silent) {
    return request(std::string(silent ? "silent " : "unsilent ") + unit);
}

bool NetworkAdmin::setMailAbsent(size_t board, int address, bool absent) {
    return request(std::string(absent ? "mail-absent " : "mail-present ") + std::to_string(board) +
                   " " + std::to_string(address));
}

std::string NetworkAdmin::show(size_t board) {
    std::string text;
    return request("show " + std::to_string(board), &text) ? text : std::string();
}

std::vector<std::string> NetworkAdmin::trace(size_t board, size_t lines) {
    std::string text;
    std::vector<std::string> out;
    if (!request("trace " + std::to_string(board) + " " + std::to_string(lines), &text)) return out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

}  // namespace kalvo::kernel::host

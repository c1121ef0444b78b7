// A client of the host's simulated network for tests and tools: the "sim"
// admin requests as calls. Each call is one request to the host serving
// the folder; a refusal or an unreachable host gives false (or an empty
// result) with the reason in lastError().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kalvo::kernel::host {

class NetworkAdmin {
  public:
    explicit NetworkAdmin(std::string folder) : folder_(std::move(folder)) {}

    // "sim " + request; the text after "OK" in *text. False on a refusal.
    bool request(const std::string& request, std::string* text = nullptr);

    bool setInput(const std::string& unit, int offset, uint16_t value);
    bool unitCommand(const std::string& unit, const std::string& command);
    std::string describeUnit(const std::string& unit);
    bool setStationOnline(size_t board, int address, bool online);
    bool setUnitSilent(const std::string& unit, bool silent);
    bool setMailAbsent(size_t board, int address, bool absent);
    std::string show(size_t board);
    std::vector<std::string> trace(size_t board, size_t lines);

    const std::string& lastError() const { return error_; }

  private:
    std::string folder_;
    std::string error_;
};

}  // namespace kalvo::kernel::host

// Makes the unit of a family from its offset list, refusing lists that the
// family's unit could not answer on (the same placement rules the master's
// library applies when it opens the unit).
#include <algorithm>
#include <cctype>

#include "sim/units/ada_unit.h"
#include "sim/units/axsa_unit.h"
#include "sim/units/dio_unit.h"
#include "sim/units/echo_peer.h"
#include "sim/units/remote_unit.h"
#include "sim/units/sio_unit.h"

namespace kalvo::sim {
namespace {

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

// Units with four-word blocks (AXSA jobs, SIO channels): every block starts at
// a multiple of 4, so that it is one 8-byte block of the station.
std::string checkBlocks(const std::vector<int>& offsets, std::string_view family) {
    if (offsets.size() < 4)
        return std::string(family) + " needs at least four offsets (one block of four words)";
    for (size_t i = 0; i + 3 < offsets.size(); i += 4) {
        if (offsets[i] % 4 != 0)
            return std::string(family) + " block " + std::to_string(i / 4 + 1) +
                   " starts at offset " + std::to_string(offsets[i]) +
                   ", which is not a multiple of 4";
    }
    return {};
}

}  // namespace

// The kind is accepted whatever it says: each family has one variant, and the
// master's library also falls back to the family's first kind.
std::unique_ptr<RemoteUnit> makeRemoteUnit(std::string_view family, std::vector<int> offsets,
                                           std::string_view /*kind*/, std::string* error) {
    std::string reason;
    if (offsets.empty() || offsets.size() > 16) {
        reason = "a unit needs 1 to 16 word offsets";
    } else {
        for (int offset : offsets) {
            if (offset < 0 || offset > 15) {
                reason = "offset " + std::to_string(offset) + " is outside 0..15";
                break;
            }
        }
    }
    std::unique_ptr<RemoteUnit> unit;
    if (reason.empty()) {
        if (sameName(family, "DIO")) {
            unit = std::make_unique<units::DioUnit>(std::move(offsets));
        } else if (sameName(family, "ADA")) {
            unit = std::make_unique<units::AdaUnit>(std::move(offsets));
        } else if (sameName(family, "AXSA")) {
            reason = checkBlocks(offsets, "AXSA");
            if (reason.empty()) unit = std::make_unique<units::AxsaUnit>(std::move(offsets));
        } else if (sameName(family, "SIO")) {
            reason = checkBlocks(offsets, "SIO");
            if (reason.empty()) unit = std::make_unique<units::SioUnit>(std::move(offsets));
        } else {
            reason = "unknown unit family \"" + std::string(family) + "\"";
        }
    }
    if (!unit && error) *error = reason;
    return unit;
}

std::unique_ptr<MailPeer> makeEchoPeer(int ownAddress) {
    return std::make_unique<units::EchoPeer>(ownAddress);
}

}  // namespace kalvo::sim

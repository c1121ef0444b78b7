// What the line offers a remote unit, and what a unit offers the line.
//
// A unit placed at station address b owns some of the 16-bit words that the
// master writes into output blocks b.. of the GM area and some of the words
// it answers in input blocks b + 32..; it names them by word offset 0 to 15
// from its station, as the unit sections of the configuration do. Several
// units can share a station (each with its own offsets). The network chip
// calls exchange() once per cycle while the unit's station answers and the
// unit is not silenced; the port reads and writes the board's GM area
// directly, so what the unit writes is what the master reads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kalvo::sim {

class StationPort {
  public:
    virtual ~StationPort() = default;
    // The master's word at offset 0..15 of the unit's output station; 0 for an
    // offset outside the output area.
    virtual uint16_t output(int offset) const = 0;
    // The four words from offset (a multiple of 4) in one 64-bit load, as the
    // master writes a whole block with one access.
    virtual uint64_t outputBlock(int offset) const = 0;
    // The unit's own input words (what the master will read).
    virtual uint16_t input(int offset) const = 0;
    virtual void setInput(int offset, uint16_t value) = 0;
    // Four words in one 64-bit store (offset a multiple of 4).
    virtual void setInputBlock(int offset, uint64_t value) = 0;
};

struct CycleInfo {
    uint64_t cycle = 0;           // cycles since the line started
    uint32_t cycleMicros = 1000;  // the cycle period
};

class RemoteUnit {
  public:
    virtual ~RemoteUnit() = default;

    // "DIO", "ADA", "AXSA" or "SIO".
    virtual std::string_view family() const = 0;
    // The word offsets the unit answers on (its configured offset list).
    virtual const std::vector<int>& offsets() const = 0;

    // One cycle. Runs on the line's cycle thread.
    virtual void exchange(StationPort& port, const CycleInfo& cycle) = 0;

    // The communication watchdog of a remote I/O module fired: the line
    // stopped, or the unit's station was not served for the watchdog time.
    // A unit drops what it drives to its safe state (outputs 0) until the
    // next exchange. Runs on the line's cycle thread.
    virtual void communicationLost() {}

    // Observation and fault injection for the host's tool and for tests,
    // callable from any thread while the line runs. describe() gives a short
    // human-readable state (one or a few lines). control() applies one
    // command, e.g. {"input", "0", "0x1234"}; it returns an empty text on
    // success or the reason it was refused. help() lists the commands.
    virtual std::string describe() const = 0;
    virtual std::string control(const std::vector<std::string>& words) = 0;
    virtual std::string help() const = 0;
};

// A unit of the family with these offsets ("Kind" chooses a variant within
// the family where there is one; empty for the default). Null with the
// reason in *error for an unknown family or an offset list the family
// cannot use.
std::unique_ptr<RemoteUnit> makeRemoteUnit(std::string_view family, std::vector<int> offsets,
                                           std::string_view kind, std::string* error);

// A mail between stations: source and destination station addresses 0..63
// and 1 to 256 bytes (the chip carries whole 8-byte blocks, so data.size()
// is a multiple of 8 up to 256).
struct Mail {
    int source = 0;
    int destination = 0;
    std::vector<uint8_t> data;
};

// A station that takes part in the mail transport.
class MailPeer {
  public:
    virtual ~MailPeer() = default;
    // A mail arrived for this station; returns the mails it sends in answer.
    virtual std::vector<Mail> receive(const Mail& mail) = 0;
};

// The echo station: every mail goes back to its sender with the same data.
std::unique_ptr<MailPeer> makeEchoPeer(int ownAddress);

}  // namespace kalvo::sim

// The GM area seen from one station: the port a remote unit at station b
// uses in its exchange. Output words are GM words 4 * b + offset, input
// words 4 * (b + 32) + offset; a word that falls outside its half of the GM
// area reads 0 and a store to it is dropped, so a unit placed near the end
// of the line cannot reach another half.
#pragma once

#include "sim/units/remote_unit.h"

namespace kalvo::sim::chip {

class GmStationPort final : public StationPort {
  public:
    // window: the board's memory window; station: 0..31.
    GmStationPort(uint8_t* window, int station) : window_(window), station_(station) {}

    uint16_t output(int offset) const override;
    uint64_t outputBlock(int offset) const override;
    uint16_t input(int offset) const override;
    void setInput(int offset, uint16_t value) override;
    void setInputBlock(int offset, uint64_t value) override;

  private:
    // GM word index of the offset in the output or input half, or -1.
    int outputWord(int offset) const;
    int inputWord(int offset) const;

    uint8_t* window_;
    int station_;
};

}  // namespace kalvo::sim::chip

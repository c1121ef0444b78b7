#include "sim/chip/station_port.h"

#include "sim/chip/chip_map.h"
#include "sim/chip/window_access.h"

namespace kalvo::sim::chip {

namespace {
constexpr int kWordsPerBlock = 4;

uint32_t wordAddress(int word) {
    return kGmArea + 2 * static_cast<uint32_t>(word);
}
}  // namespace

int GmStationPort::outputWord(int offset) const {
    if (offset < 0) return -1;
    const int word = kWordsPerBlock * station_ + offset;
    return word < static_cast<int>(kGmOutputWords) ? word : -1;
}

int GmStationPort::inputWord(int offset) const {
    if (offset < 0) return -1;
    const int word = kWordsPerBlock * (station_ + static_cast<int>(kInputBlockBase)) + offset;
    return word >= static_cast<int>(kGmOutputWords) && word < static_cast<int>(kGmWords) ? word
                                                                                         : -1;
}

uint16_t GmStationPort::output(int offset) const {
    const int word = outputWord(offset);
    return word < 0 ? 0 : loadWindow<uint16_t>(window_, wordAddress(word));
}

uint64_t GmStationPort::outputBlock(int offset) const {
    // A block access needs a whole aligned block inside the output half.
    if (offset % kWordsPerBlock != 0 || outputWord(offset + kWordsPerBlock - 1) < 0 ||
        outputWord(offset) < 0) {
        return 0;
    }
    return loadWindow<uint64_t>(window_, wordAddress(outputWord(offset)));
}

uint16_t GmStationPort::input(int offset) const {
    const int word = inputWord(offset);
    return word < 0 ? 0 : loadWindow<uint16_t>(window_, wordAddress(word));
}

void GmStationPort::setInput(int offset, uint16_t value) {
    const int word = inputWord(offset);
    if (word >= 0) storeWindow<uint16_t>(window_, wordAddress(word), value);
}

void GmStationPort::setInputBlock(int offset, uint64_t value) {
    if (offset % kWordsPerBlock != 0 || inputWord(offset) < 0 ||
        inputWord(offset + kWordsPerBlock - 1) < 0) {
        return;
    }
    storeWindow<uint64_t>(window_, wordAddress(inputWord(offset)), value);
}

}  // namespace kalvo::sim::chip

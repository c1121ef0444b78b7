#include "sim/units/dio_unit.h"

#include "sim/units/unit_args.h"

namespace kalvo::sim::units {

DioUnit::DioUnit(std::vector<int> offsets) : offsets_(std::move(offsets)) {}

int DioUnit::indexOf(int offset) const {
    for (size_t i = 0; i < offsets_.size(); ++i) {
        if (offsets_[i] == offset) return static_cast<int>(i);
    }
    return -1;
}

void DioUnit::exchange(StationPort& port, const CycleInfo&) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < offsets_.size(); ++i) {
        Word& word = words_[i];
        word.output = port.output(offsets_[i]);
        word.input = word.forced ? word.forcedValue : word.output;
        port.setInput(offsets_[i], word.input);
    }
}

void DioUnit::communicationLost() {
    // The terminals go off; a wired input follows them.
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < offsets_.size(); ++i) {
        words_[i].output = 0;
        words_[i].input = words_[i].forced ? words_[i].forcedValue : 0;
    }
}

std::string DioUnit::describe() const {
    std::lock_guard lock(mutex_);
    std::string text = "DIO";
    for (size_t i = 0; i < offsets_.size(); ++i) {
        const Word& word = words_[i];
        text += " [" + std::to_string(offsets_[i]) + "] out " + hexWord(word.output) + " in " +
                hexWord(word.forced ? word.forcedValue : word.input) +
                (word.forced ? " (set)" : " (wired)");
    }
    return text;
}

std::string DioUnit::control(const std::vector<std::string>& words) {
    std::string error;
    if (words.empty()) return "no command; " + help();
    const std::string& command = words[0];
    if (command != "input" && command != "wire") return "unknown DIO command \"" + command + "\"";
    const bool input = command == "input";
    if (!expectWords(words, input ? 3 : 2, &error,
                     input ? "input <offset> <value>" : "wire <offset>"))
        return error;
    int64_t offset = 0;
    if (!parseInteger(words[1], 0, 15, &offset, &error, "offset")) return error;
    const int index = indexOf(static_cast<int>(offset));
    if (index < 0) return "offset " + words[1] + " is not one of the unit's offsets";
    int64_t value = 0;
    if (input && !parseInteger(words[2], 0, 0xFFFF, &value, &error, "value")) return error;
    std::lock_guard lock(mutex_);
    words_[index].forced = input;
    words_[index].forcedValue = static_cast<uint16_t>(value);
    return {};
}

std::string DioUnit::help() const {
    return "input <offset> <value>  set the input word at the offset (0..0xFFFF)\n"
           "wire <offset>           the input word follows the output word again";
}

}  // namespace kalvo::sim::units

#include "sim/units/ada_unit.h"

#include "sim/units/unit_args.h"

namespace kalvo::sim::units {
namespace {
constexpr uint16_t kCodeMask = 0xE000;
}

AdaUnit::AdaUnit(std::vector<int> offsets) : offsets_(std::move(offsets)) {}

bool AdaUnit::answer(Channel& channel, uint16_t command, uint16_t* reply) const {
    const uint16_t code = command & kCodeMask;
    switch (code) {
        case 0x8000:
            channel.parameters = static_cast<uint8_t>(command & 0xFF);
            *reply = code;
            return true;
        case 0x4000:
            *reply = code | channel.parameters | ((channel.inRange & 0x0F) << 8);
            return true;
        case 0x6000:
            *reply = code | ((channel.outRange & 0x0F) << 8);
            return true;
        case 0xE000:
            *reply = code | kVersion;
            return true;
        default:
            return false;
    }
}

void AdaUnit::exchange(StationPort& port, const CycleInfo&) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < offsets_.size(); ++i) {
        Channel& channel = channels_[i];
        const int offset = offsets_[i];
        const uint16_t output = port.output(offset);
        channel.output = output;
        if ((output & kCodeMask) != 0) {
            // A command; answered once per new command word, so that a
            // master writing a second command without a pause is answered too.
            if (!channel.inCommand || output != channel.commandWord) {
                uint16_t reply = 0;
                channel.commandWord = output;
                channel.inCommand = true;
                if (answer(channel, output, &reply)) channel.input = reply;
                port.setInput(offset, channel.input);
            }
            continue;
        }
        if (channel.inCommand && channel.stuck) continue;  // keeps showing the reply
        channel.inCommand = false;
        channel.commandWord = 0;
        channel.input = channel.forced ? channel.forcedValue : (output & 0x0FFF);
        port.setInput(offset, channel.input);
    }
}

void AdaUnit::communicationLost() {
    // The analog outputs go to 0; ranges and parameters are kept, as a
    // module keeps its settings across a communication loss.
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < offsets_.size(); ++i) channels_[i].output = 0;
}

std::string AdaUnit::describe() const {
    std::lock_guard lock(mutex_);
    std::string text = "ADA";
    for (size_t i = 0; i < offsets_.size(); ++i) {
        const Channel& c = channels_[i];
        text += "\n ch" + std::to_string(i + 1) + " [" + std::to_string(offsets_[i]) + "] out " +
                hexWord(c.output) + " in " + hexWord(c.input) +
                (c.inCommand ? " command" : (c.forced ? " data (set)" : " data (wired)")) +
                " params " + hexWord(c.parameters) + " in-range " + std::to_string(c.inRange) +
                " out-range " + std::to_string(c.outRange) + (c.stuck ? " STUCK" : "");
    }
    return text;
}

std::string AdaUnit::control(const std::vector<std::string>& words) {
    if (words.empty()) return "no command; " + help();
    const std::string& command = words[0];
    std::string usage;
    size_t count = 0;
    if (command == "input") {
        usage = "input <channel> <value 0..4095>";
        count = 3;
    } else if (command == "wire") {
        usage = "wire <channel>";
        count = 2;
    } else if (command == "stuck") {
        usage = "stuck <channel> on|off";
        count = 3;
    } else if (command == "in-range" || command == "out-range") {
        usage = command + " <channel> <0..15>";
        count = 3;
    } else {
        return "unknown ADA command \"" + command + "\"";
    }
    std::string error;
    if (!expectWords(words, count, &error, usage)) return error;
    int64_t channel = 0;
    if (!parseInteger(words[1], 1, static_cast<int64_t>(offsets_.size()), &channel, &error,
                      "channel"))
        return error;
    int64_t value = 0;
    bool on = false;
    if (command == "input" && !parseInteger(words[2], 0, 0x0FFF, &value, &error, "value"))
        return error;
    if ((command == "in-range" || command == "out-range") &&
        !parseInteger(words[2], 0, 15, &value, &error, "range"))
        return error;
    if (command == "stuck" && !parseOnOff(words[2], &on, &error)) return error;

    std::lock_guard lock(mutex_);
    Channel& c = channels_[channel - 1];
    if (command == "input") {
        c.forced = true;
        c.forcedValue = static_cast<uint16_t>(value);
    } else if (command == "wire") {
        c.forced = false;
    } else if (command == "stuck") {
        c.stuck = on;
    } else if (command == "in-range") {
        c.inRange = static_cast<uint8_t>(value);
    } else {
        c.outRange = static_cast<uint8_t>(value);
    }
    return {};
}

std::string AdaUnit::help() const {
    return "input <channel> <value>    data-mode input value (0..4095) instead of the output's\n"
           "wire <channel>             the input follows the output value again\n"
           "stuck <channel> on|off     fault: the input never returns to data mode after a "
           "command\n"
           "in-range|out-range <channel> <0..15>  the range codes the unit reports";
}

}  // namespace kalvo::sim::units

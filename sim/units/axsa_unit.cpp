#include "sim/units/axsa_unit.h"

#include <cstdlib>

#include "sim/units/unit_args.h"

namespace kalvo::sim::units {
namespace {

int32_t signExtend28(uint32_t value) {
    value &= 0x0FFFFFFFu;
    return (value & 0x08000000u) ? static_cast<int32_t>(value | 0xF0000000u)
                                 : static_cast<int32_t>(value);
}

uint16_t dataWord(uint8_t pair, uint32_t bits14) {
    return static_cast<uint16_t>((pair << 14) | (bits14 & 0x3FFF));
}

}  // namespace

AxsaUnit::AxsaUnit(std::vector<int> offsets) : offsets_(std::move(offsets)) {}

bool AxsaUnit::isPairZeroAnswer(uint8_t command, uint8_t function) {
    switch (command) {
        case 0x21:
        case 0x22:
        case 0x23:
        case 0x24:
        case 0x2F:
        case 0x3C:
        case 0x3D:
        case 0x3E:
        case 0x3F:
        case 0x4C:
        case 0x4D:
        case 0x4E:
        case 0x4F:
        case 0x7D:
            return function < 28;
        case 0x46:
            return function == 3;
        default:
            return false;
    }
}

uint16_t AxsaUnit::status(const Job& job, uint8_t pair) {
    const bool inPosition = job.position == job.target;
    return static_cast<uint16_t>((inPosition ? 0x01 : 0x02) | ((pair & 3) << 2) |
                                 (job.refused ? 0x10 : 0));
}

void AxsaUnit::execute(Job& job, uint16_t command, int32_t value) {
    const uint8_t code = command & 0xFF;
    const uint8_t function = (command >> 8) & 0x1F;
    job.refused = false;
    int32_t data = 0;
    switch (code) {
        case 'T':
            job.target = value;
            data = job.target;
            break;
        case 'V':
            if (value <= 0) {
                job.refused = true;
            } else {
                job.speed = value;
                data = value;
            }
            break;
        case 'S':
            job.target = job.position;
            data = job.position;
            break;
        case 'H':
            job.position = job.target = value;
            data = value;
            break;
        case 'P':
            data = job.position;
            break;
        case 'R':
            data = job.parameters[function];
            break;
        case 'W':
            job.parameters[function] = value;
            data = value;
            break;
        case '?':
            data = function == 0   ? job.position
                   : function == 1 ? job.target
                   : function == 2 ? job.speed
                   : function == 3 ? status(job, 0)
                                   : job.parameters[function];
            break;
        default:
            job.refused = true;
            break;
    }
    job.answerData = data;
}

void AxsaUnit::exchange(StationPort& port, const CycleInfo&) {
    std::lock_guard lock(mutex_);
    for (int j = 0; j < jobCount(); ++j) {
        Job& job = jobs_[j];
        const int* words = &offsets_[4 * j];
        const uint64_t block = port.outputBlock(words[0]);
        job.block = block;
        const uint16_t w0 = static_cast<uint16_t>(block);
        const uint16_t w1 = static_cast<uint16_t>(block >> 16);
        const uint16_t w2 = static_cast<uint16_t>(block >> 32);
        const uint8_t pair = w0 >> 14;
        const bool consistent = (w1 >> 14) == pair && (w2 >> 14) == pair;
        if (consistent && pair == 0) {
            job.lastPair = 0;  // no command in force: status with pair 0
            job.refused = false;
        } else if (consistent && pair != job.lastPair) {
            job.lastPair = pair;
            job.lastCommand = w0;
            execute(job, w0, signExtend28((uint32_t{w1 & 0x3FFFu} << 14) | (w2 & 0x3FFFu)));
            job.answerPair =
                isPairZeroAnswer(static_cast<uint8_t>(w0 & 0xFF), (w0 >> 8) & 0x1F) ? 0 : pair;
        }

        // The axis moves every cycle, whatever the line does.
        const int64_t distance = int64_t{job.target} - job.position;
        if (distance != 0) {
            const int64_t step = std::min<int64_t>(std::llabs(distance), job.speed);
            job.position += static_cast<int32_t>(distance > 0 ? step : -step);
        }

        const uint8_t answerPair = job.lastPair == 0 ? 0 : job.answerPair;
        const uint32_t data =
            static_cast<uint32_t>(job.lastPair == 0 ? job.position : job.answerData);
        const uint16_t statusWord = status(job, answerPair);
        const uint16_t high = dataWord(answerPair, data >> 14);
        const uint16_t low = dataWord(answerPair, data);
        if (words[1] == words[0] + 1 && words[2] == words[0] + 2 && words[3] == words[0] + 3) {
            // One store, so the master never sees a status of one answer
            // beside data words of another.
            port.setInputBlock(words[0],
                               statusWord | (uint64_t{high} << 16) | (uint64_t{low} << 32));
        } else {
            port.setInput(words[0], statusWord);
            port.setInput(words[1], high);
            port.setInput(words[2], low);
        }
    }
}

void AxsaUnit::communicationLost() {
    // The axis stops where it stands and forgets the command block.
    std::lock_guard lock(mutex_);
    for (int j = 0; j < jobCount(); ++j) {
        jobs_[j].block = 0;
        jobs_[j].target = jobs_[j].position;
    }
}

std::string AxsaUnit::describe() const {
    std::lock_guard lock(mutex_);
    std::string text = "AXSA";
    for (int j = 0; j < jobCount(); ++j) {
        const Job& job = jobs_[j];
        text += "\n job" + std::to_string(j + 1) + " [" + std::to_string(offsets_[4 * j]) +
                "] out " + hexWord(static_cast<uint16_t>(job.block)) + " " +
                hexWord(static_cast<uint16_t>(job.block >> 16)) + " " +
                hexWord(static_cast<uint16_t>(job.block >> 32)) + " pair " +
                std::to_string(job.lastPair) + " command " + hexWord(job.lastCommand) +
                (job.refused ? " (refused)" : "") + " position " + std::to_string(job.position) +
                " target " + std::to_string(job.target) + " speed " + std::to_string(job.speed) +
                (job.position == job.target ? " in position" : " moving");
    }
    return text;
}

std::string AxsaUnit::control(const std::vector<std::string>& words) {
    if (words.empty()) return "no command; " + help();
    const std::string& command = words[0];
    if (command != "position" && command != "target" && command != "speed")
        return "unknown AXSA command \"" + command + "\"";
    std::string error;
    if (!expectWords(words, 3, &error, command + " <job> <value>")) return error;
    int64_t job = 0;
    int64_t value = 0;
    if (!parseInteger(words[1], 1, jobCount(), &job, &error, "job")) return error;
    if (!parseInteger(words[2], command == "speed" ? 1 : kMinValue, kMaxValue, &value, &error,
                      command))
        return error;
    std::lock_guard lock(mutex_);
    Job& j = jobs_[job - 1];
    if (command == "position") {
        j.position = static_cast<int32_t>(value);
    } else if (command == "target") {
        j.target = static_cast<int32_t>(value);
    } else {
        j.speed = static_cast<int32_t>(value);
    }
    return {};
}

std::string AxsaUnit::help() const {
    return "position <job> <value>  put the axis at a position (28-bit signed)\n"
           "target <job> <value>    start a move to the target\n"
           "speed <job> <value>     units moved per cycle (1..0x7FFFFFF)";
}

}  // namespace kalvo::sim::units

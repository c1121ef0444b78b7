#include "sim/units/sio_unit.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "sim/units/unit_args.h"

namespace kalvo::sim::units {
namespace {

constexpr uint16_t kConfigCode = 0x003F;
constexpr uint16_t kConfigRequest = 0x0040;
constexpr uint16_t kErrorReset = 0x0800;
constexpr uint16_t kReceiveAck = 0x4000;
constexpr uint16_t kSendRequest = 0x8000;

constexpr uint16_t kReceiveError = 0x0800;
constexpr uint16_t kSendError = 0x1000;
constexpr uint16_t kDataReady = 0x4000;
constexpr uint16_t kSendAck = 0x8000;

}  // namespace

SioUnit::SioUnit(std::vector<int> offsets) : offsets_(std::move(offsets)) {
    for (int c = 0; c < channelCount(); ++c) channels_[c] = std::make_unique<Channel>();
}

SioUnit::~SioUnit() {
    for (int c = 0; c < channelCount(); ++c) detachTerminal(*channels_[c]);
}

void SioUnit::serviceTerminal(Channel& channel) {
    if (channel.ptyMaster < 0) return;
    // From the terminal: as much as the queue to the master can take.
    uint8_t buffer[256];
    while (channel.toMaster.room() > 0) {
        const size_t want = std::min(sizeof buffer, channel.toMaster.room());
        const ssize_t got = ::read(channel.ptyMaster, buffer, want);
        if (got <= 0) break;  // nothing waiting (EAGAIN) or no terminal
        channel.toMaster.push(buffer, static_cast<size_t>(got));
    }
    // To the terminal: what the pseudo-terminal takes now; the rest waits.
    while (!channel.toTerminal.empty()) {
        size_t count = 0;
        const uint8_t* bytes = channel.toTerminal.front(&count);
        const ssize_t written = ::write(channel.ptyMaster, bytes, count);
        if (written <= 0) break;
        channel.toTerminal.drop(static_cast<size_t>(written));
    }
}

void SioUnit::exchange(StationPort& port, const CycleInfo&) {
    std::lock_guard lock(mutex_);
    for (int c = 0; c < channelCount(); ++c) {
        Channel& ch = *channels_[c];
        const int offset = offsets_[4 * c];
        const uint64_t block = port.outputBlock(offset);
        const uint16_t control = static_cast<uint16_t>(block >> 48);
        ch.control = control;

        if (control & kErrorReset) ch.receiveError = ch.sendError = false;
        if ((control & kConfigRequest) && !ch.configRequested)
            ch.configCode = control & kConfigCode;
        ch.configRequested = (control & kConfigRequest) != 0;

        serviceTerminal(ch);

        if (!(control & kSendRequest)) {
            ch.sendAcknowledged = false;
        } else if (!ch.sendAcknowledged && !ch.sendError) {
            // A count of 7 still names only the six bytes a block has.
            const size_t count = std::min<size_t>((control >> 8) & 7, 6);
            uint8_t bytes[6];
            for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(block >> (8 * i));
            ByteRing& sink = ch.ptyMaster >= 0 ? ch.toTerminal : ch.toMaster;
            if (sink.push(bytes, count)) {
                ch.sendAcknowledged = true;
                ch.bytesSent += count;
                ch.lastBlocks[ch.blocksTaken++ % ch.lastBlocks.size()] =
                    static_cast<uint8_t>(count);
            }
        }
        if (ch.ptyMaster >= 0) serviceTerminal(ch);

        if (ch.dataReady && (control & kReceiveAck)) ch.dataReady = false;
        if (!ch.dataReady && !(control & kReceiveAck) && !ch.toMaster.empty()) {
            ch.offeredCount = static_cast<uint8_t>(ch.toMaster.pop(ch.offered, 6));
            ch.bytesReceived += ch.offeredCount;
            ch.dataReady = true;
        }

        uint16_t status = static_cast<uint16_t>(ch.offeredCount << 8);
        if (ch.receiveError) status |= kReceiveError;
        if (ch.sendError) status |= kSendError;
        if (ch.dataReady) status |= kDataReady;
        if (ch.sendAcknowledged) status |= kSendAck;
        uint64_t answer = uint64_t{status} << 48;
        for (int i = 0; i < 6; ++i) answer |= uint64_t{ch.offered[i]} << (8 * i);
        port.setInputBlock(offset, answer);
    }
}

std::string SioUnit::attachTerminal(Channel& channel) {
    if (channel.ptyMaster >= 0) return {};
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0) return std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    char path[128] = {};
    int slave = -1;
    if (::grantpt(master) == 0 && ::unlockpt(master) == 0 &&
        ::ptsname_r(master, path, sizeof path) == 0) {
        slave = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    if (slave < 0) {
        const std::string reason = std::strerror(errno);
        ::close(master);
        return "cannot open the pseudo-terminal's terminal side: " + reason;
    }
    // Raw bytes both ways: no echo back into the line, no line editing, no
    // newline translation.
    termios settings{};
    if (::tcgetattr(slave, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(slave, TCSANOW, &settings);
    }
    channel.ptyMaster = master;
    channel.ptySlave = slave;
    channel.ptyPath = path;
    return {};
}

void SioUnit::detachTerminal(Channel& channel) {
    if (channel.ptyMaster < 0) return;
    ::close(channel.ptyMaster);
    ::close(channel.ptySlave);
    channel.ptyMaster = channel.ptySlave = -1;
    channel.ptyPath.clear();
    // What the terminal has not taken goes round the loop instead, as far
    // as the queue to the master has room.
    uint8_t bytes[256];
    while (!channel.toTerminal.empty() && channel.toMaster.room() > 0) {
        const size_t count =
            channel.toTerminal.pop(bytes, std::min(sizeof bytes, channel.toMaster.room()));
        channel.toMaster.push(bytes, count);
    }
}

void SioUnit::communicationLost() {
    // The control word falls to 0: no send or configuration request stays
    // in force; queued bytes are kept.
    std::lock_guard lock(mutex_);
    for (int c = 0; c < channelCount(); ++c) channels_[c]->control = 0;
}

std::string SioUnit::describe() const {
    std::lock_guard lock(mutex_);
    std::string text = "SIO";
    for (int c = 0; c < channelCount(); ++c) {
        const Channel& ch = *channels_[c];
        text += "\n ch" + std::to_string(c + 1) + " [" + std::to_string(offsets_[4 * c]) + "] " +
                (ch.ptyMaster >= 0 ? "pty " + ch.ptyPath : std::string("loopback")) + " config " +
                hexWord(ch.configCode) + " control " + hexWord(ch.control) +
                (ch.receiveError ? " RX-ERROR" : "") + (ch.sendError ? " TX-ERROR" : "") +
                " sent " + std::to_string(ch.bytesSent) + " received " +
                std::to_string(ch.bytesReceived) + " waiting " +
                std::to_string(ch.toMaster.size() + ch.toTerminal.size());
        const size_t kept = std::min(ch.blocksTaken, ch.lastBlocks.size());
        text += " blocks ";
        for (size_t i = ch.blocksTaken - kept; i < ch.blocksTaken; ++i)
            text += (i + kept == ch.blocksTaken ? "" : ",") +
                    std::to_string(ch.lastBlocks[i % ch.lastBlocks.size()]);
        if (kept == 0) text += "none";
    }
    return text;
}

std::string SioUnit::control(const std::vector<std::string>& words) {
    if (words.empty()) return "no command; " + help();
    const std::string& command = words[0];
    const bool error = command == "rx-error" || command == "tx-error";
    if (!error && command != "pty" && command != "loopback")
        return "unknown SIO command \"" + command + "\"";
    std::string reason;
    if (words.size() < 2 || words.size() > (error ? 3u : 2u))
        return "usage: " + command + " <channel>" + (error ? " [on|off]" : "");
    int64_t channel = 0;
    if (!parseInteger(words[1], 1, channelCount(), &channel, &reason, "channel")) return reason;
    bool on = true;
    if (words.size() == 3 && !parseOnOff(words[2], &on, &reason)) return reason;

    std::lock_guard lock(mutex_);
    Channel& ch = *channels_[channel - 1];
    if (command == "rx-error") {
        ch.receiveError = on;
    } else if (command == "tx-error") {
        ch.sendError = on;
    } else if (command == "pty") {
        return attachTerminal(ch);
    } else {
        detachTerminal(ch);
    }
    return {};
}

std::string SioUnit::help() const {
    return "rx-error|tx-error <channel> [on|off]  raise (or drop) the receive or send error;\n"
           "                                      the master's error reset clears it\n"
           "pty <channel>       attach a pseudo-terminal (its path is in the description)\n"
           "loopback <channel>  detach it: bytes sent come back as received";
}

}  // namespace kalvo::sim::units

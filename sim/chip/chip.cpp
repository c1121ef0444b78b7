#include "sim/chip/chip.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "sim/board_layout.h"
#include "sim/chip/chip_map.h"
#include "sim/chip/station_port.h"
#include "sim/chip/window_access.h"

namespace kalvo::sim::chip {

namespace {

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char buffer[256];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    return buffer;
}

std::string describeStationRegister(uint16_t value) {
    return format("station register 0x%04X (master %u, %u addresses%s, baud bits 0x%02X)", value,
                  value & kStationAddressMask, (value >> kStationSizeShift) & kStationSizeMask,
                  (value & kStationLongFrame) ? ", long frame" : "", value & kStationBaudMask);
}

// Mail data is carried in 8-byte blocks; the window is accessed a block at
// a time so that concurrent writers never see torn words.
void copyFromWindow(uint8_t* window, uint32_t offset, std::vector<uint8_t>& data) {
    for (size_t at = 0; at < data.size(); at += kMailBlockSize) {
        const uint64_t block = loadWindow<uint64_t>(window, offset + static_cast<uint32_t>(at));
        for (size_t i = 0; i < kMailBlockSize; ++i) data[at + i] = uint8_t(block >> (8 * i));
    }
}

void copyToWindow(uint8_t* window, uint32_t offset, const std::vector<uint8_t>& data) {
    for (size_t at = 0; at < data.size(); at += kMailBlockSize) {
        uint64_t block = 0;
        for (size_t i = 0; i < kMailBlockSize; ++i) block |= uint64_t(data[at + i]) << (8 * i);
        storeWindow<uint64_t>(window, offset + static_cast<uint32_t>(at), block);
    }
}

std::string offsetList(const std::vector<int>& offsets) {
    std::string text;
    for (int o : offsets) text += (text.empty() ? "" : ",") + std::to_string(o);
    return text;
}

}  // namespace

uint64_t Chip::Station::addressBits() const {
    uint64_t bits = 0;
    for (int32_t a = spec.address; a < spec.address + spec.addressCount && a < 64; ++a) {
        if (a >= 0) bits |= uint64_t{1} << a;
    }
    return bits;
}

Chip::Chip(size_t board, uint8_t* window, uint8_t* control)
    : board_(board), window_(window), control_(control) {}

void Chip::note(std::string_view text) {
    trace_.add(chipCycle_, text);
}

int Chip::ownAddress() const {
    return stationRegister_ & kStationAddressMask;
}

bool Chip::step(uint32_t cycleMicros) {
    std::lock_guard lock(mutex_);
    ++chipCycle_;
    // While the board holds the chip in reset nothing runs.
    const uint32_t control = loadWindow<uint32_t>(control_, kControlRegister);
    if (control & kControlResetBit) {
        if (!heldInReset_) note("chip held in reset");
        heldInReset_ = true;
        if (running_) stopLine("line stopped: chip in reset");
        watchUnits();
        return false;
    }
    heldInReset_ = false;

    const uint16_t station = loadWindow<uint16_t>(window_, kStationRegister);
    if (station != stationRegister_) {
        stationRegister_ = station;
        note(describeStationRegister(station));
    }
    stepCommand();
    // The chip has taken every access the master announced.
    if (loadWindow<uint16_t>(window_, kWriteCount) != 0)
        storeWindow<uint16_t>(window_, kWriteCount, 0);
    if (running_) runCycle(cycleMicros);
    watchUnits();
    stepMail();
    return running_;
}

void Chip::watchUnits() {
    const auto now = std::chrono::steady_clock::now();
    for (auto& u : units_) {
        if (u.servedThisStep) {
            u.servedThisStep = false;
            u.lastServed = now;
            u.outputsDropped = false;
            continue;
        }
        if (u.outputsDropped || u.spec.hold) continue;
        if (running_ && now - u.lastServed < kWatchdogTime) continue;
        u.outputsDropped = true;
        u.unit->communicationLost();
        note(format("%s: communication lost, outputs 0", u.spec.name().c_str()));
    }
}

void Chip::stepCommand() {
    auto command = windowWord<uint32_t>(window_, kCommand);
    uint32_t value = command.load(std::memory_order_acquire);
    const bool setUp = (value & kCommandSetUp) != 0;
    if (setUp && !setUpSeen_) note("set-up");
    setUpSeen_ = setUp;
    if (value & kCommandStart) {
        // Show the running bit; a store by the master in between wins and is
        // looked at again next cycle.
        if (!(value & kCommandRunning) &&
            !command.compare_exchange_strong(value, value | kCommandRunning)) {
            return;
        }
        if (!running_) {
            running_ = true;
            lineCycle_ = 0;
            note(format("line started: master %d, %u addresses%s", ownAddress(),
                        (stationRegister_ >> kStationSizeShift) & kStationSizeMask,
                        (stationRegister_ & kStationLongFrame) ? ", long frame" : ""));
        }
        return;
    }
    if (value & kCommandRunning) command.compare_exchange_strong(value, value & ~kCommandRunning);
    if (running_) stopLine("line stopped");
}

void Chip::stopLine(std::string_view why) {
    running_ = false;
    for (auto& s : stations_) {
        if (s.answering) clearSlots(s);
        s.answering = false;
    }
    answering_ = 0;
    storeWindow<uint64_t>(window_, kStationCondition, 0);
    note(why);
}

void Chip::clearSlots(const Station& station) {
    for (int32_t a = station.spec.address; a < station.spec.address + station.spec.addressCount;
         ++a) {
        if (a != ownAddress()) storeWindow<uint64_t>(window_, kSlotArea + 8 * uint32_t(a), 0);
    }
}

void Chip::writeSlots(const Station& station, int ownAddress) {
    uint64_t slot = 0;
    for (size_t i = 0; i < 6 && i < station.spec.model.size(); ++i) {
        slot |= uint64_t(uint8_t(station.spec.model[i])) << (8 * i);
    }
    slot |= uint64_t(uint8_t(station.spec.address)) << 48;
    slot |= uint64_t(uint8_t(station.spec.addressCount)) << 56;
    for (int32_t a = station.spec.address; a < station.spec.address + station.spec.addressCount;
         ++a) {
        const uint32_t at = kSlotArea + 8 * uint32_t(a);
        if (a != ownAddress && loadWindow<uint64_t>(window_, at) != slot) {
            storeWindow<uint64_t>(window_, at, slot);
        }
    }
}

void Chip::runCycle(uint32_t cycleMicros) {
    ++lineCycle_;
    // Never 0 while the line runs.
    storeWindow<uint16_t>(window_, kChkc, static_cast<uint16_t>((lineCycle_ - 1) % 0xFFFF + 1));

    // A station answers while it is on the line and every one of its
    // addresses lies in the range the master serves.
    const int first = ownAddress();
    const int size = (stationRegister_ >> kStationSizeShift) & kStationSizeMask;
    uint64_t answering = 0;
    for (auto& s : stations_) {
        const bool answers = s.online && s.spec.address >= first &&
                             s.spec.address + s.spec.addressCount <= first + size;
        if (answers != s.answering) {
            s.answering = answers;
            note(
                format("station %d %s", s.spec.address, answers ? "answers" : "no longer answers"));
            if (!answers) clearSlots(s);
        }
        if (answers) {
            answering |= s.addressBits();
            writeSlots(s, first);
        }
    }
    answering_ = answering;
    const uint64_t condition = answering << kConditionBitBase;
    if (loadWindow<uint64_t>(window_, kStationCondition) != condition) {
        storeWindow<uint64_t>(window_, kStationCondition, condition);
    }

    const CycleInfo info{lineCycle_, cycleMicros};
    for (auto& u : units_) {
        if (u.silent || !(answering >> u.spec.station & 1)) continue;
        GmStationPort port(window_, u.spec.station);
        u.unit->exchange(port, info);
        u.servedThisStep = true;
    }
}

// ---- Mail ------------------------------------------------------------------

void Chip::stepMail() {
    const uint16_t control = loadWindow<uint16_t>(window_, kMailControl);
    if (control & kMailSendRequest) {
        // Carried one cycle after the chip first sees the request.
        if (!sendSeen_) {
            sendSeen_ = true;
            sendSeenCycle_ = chipCycle_;
        } else if (chipCycle_ > sendSeenCycle_) {
            sendSeen_ = false;
            carryMail(control);
        }
    } else {
        sendSeen_ = false;
    }
    deliverQueued();
}

Chip::Station* Chip::stationAt(int address) {
    for (auto& s : stations_) {
        if (s.spec.address == address) return &s;
    }
    return nullptr;
}

void Chip::carryMail(uint16_t control) {
    const int destination = (control & kMailDestinationMask) >> 8;
    const uint32_t blocks = control & kMailBlocksMask;
    const int own = ownAddress();
    const char* refusal = nullptr;
    Station* station = stationAt(destination);
    if (blocks == 0 || blocks > kMailMaxBlocks) {
        refusal = "malformed request";
    } else if (station == nullptr) {
        refusal = "no station there";
    } else if (!running_ || !station->answering) {
        refusal = "station not answering";
    } else if (mailAbsent_ >> destination & 1) {
        refusal = "destination absent";
    } else if (!station->peer) {
        refusal = "station takes no mail";
    } else if (toMaster_.size() >= kMailQueueLimit) {
        refusal = "no room in the chip for an answer";
    }

    uint16_t status = kMailStatusNoAnswer;
    if (refusal != nullptr) {
        note(format("mail to station %d (%u blocks) not answered: %s", destination, blocks,
                    refusal));
    } else {
        Mail mail;
        mail.source = own;
        mail.destination = destination;
        mail.data.resize(blocks * kMailBlockSize);
        copyFromWindow(window_, kMailSendBuffer, mail.data);
        note(format("mail from the master (%d) carried to station %d, %zu bytes", own, destination,
                    mail.data.size()));
        for (const Mail& answer : station->peer->receive(mail)) {
            queueForMaster(answer, destination, own);
        }
        status = kMailStatusSent;
    }
    // The status first, so that whoever sees the request bit clear finds it.
    storeWindow<uint16_t>(window_, kMailStatus, status);
    windowWord<uint16_t>(window_, kMailControl)
        .fetch_and(static_cast<uint16_t>(~kMailSendRequest), std::memory_order_acq_rel);
}

void Chip::queueForMaster(const Mail& mail, int from, int ownAddress) {
    if (mail.destination != ownAddress) {
        note(format("mail from station %d to station %d dropped: only the master takes mail", from,
                    mail.destination));
        return;
    }
    if (toMaster_.size() >= kMailQueueLimit) {
        note(
            format("mail from station %d dropped: %zu mails already wait", from, toMaster_.size()));
        return;
    }
    QueuedMail queued;
    queued.source = from;  // the station that sent it, whatever the peer wrote
    size_t size = std::min<size_t>(mail.data.size(), kMailBufferSize);
    size = std::max<size_t>((size + kMailBlockSize - 1) / kMailBlockSize, 1) * kMailBlockSize;
    queued.data.assign(size, 0);
    std::copy_n(mail.data.begin(), std::min(mail.data.size(), size), queued.data.begin());
    toMaster_.push_back(std::move(queued));
}

void Chip::deliverQueued() {
    while (!toMaster_.empty()) {
        uint32_t controlAt = 0;
        uint32_t bufferAt = 0;
        uint16_t seen = 0;
        for (auto [c, b] : {std::pair{kReceiveControl1, kMailReceiveBuffer1},
                            std::pair{kReceiveControl2, kMailReceiveBuffer2}}) {
            seen = loadWindow<uint16_t>(window_, c);
            if ((seen & kReceiveEnabled) && !(seen & kReceiveFull)) {
                controlAt = c;
                bufferAt = b;
                break;
            }
        }
        if (controlAt == 0) {
            if (!waitNoted_) {
                note(format("%zu mail(s) wait in the chip: no receive buffer enabled and empty",
                            toMaster_.size()));
            }
            waitNoted_ = true;
            return;
        }
        const QueuedMail& mail = toMaster_.front();
        copyToWindow(window_, bufferAt, mail.data);
        const uint16_t blocks = static_cast<uint16_t>(mail.data.size() / kMailBlockSize);
        const uint16_t full = kReceiveFull | kReceiveEnabled |
                              static_cast<uint16_t>((mail.source & 0x3F) << kReceiveSourceShift) |
                              blocks;
        // The master may disable the buffer meanwhile; then the mail stays.
        if (!windowWord<uint16_t>(window_, controlAt).compare_exchange_strong(seen, full)) return;
        note(format("mail from station %d, %u blocks, in receive buffer %d", mail.source, blocks,
                    controlAt == kReceiveControl1 ? 1 : 2));
        toMaster_.pop_front();
        waitNoted_ = false;
    }
}

// ---- Reset and shutdown ------------------------------------------------------

void Chip::reset() {
    std::lock_guard lock(mutex_);
    const size_t dropped = toMaster_.size();
    toMaster_.clear();
    waitNoted_ = false;
    sendSeen_ = false;
    running_ = false;
    setUpSeen_ = false;
    lineCycle_ = 0;
    answering_ = 0;
    stationRegister_ = 0;
    for (auto& s : stations_) s.answering = false;
    // Word stores: the master may read meanwhile. This also covers the
    // registers, in case a cycle wrote one after the board cleared them.
    for (uint32_t at = 0; at < kChipAreasEnd; at += 4) storeWindow<uint32_t>(window_, at, 0);
    note(format("chip reset: line stopped, areas cleared%s",
                dropped ? format(", %zu waiting mail(s) dropped", dropped).c_str() : ""));
}

void Chip::shutdown() {
    std::lock_guard lock(mutex_);
    if (running_) {
        windowWord<uint32_t>(window_, kCommand)
            .fetch_and(~kCommandRunning, std::memory_order_acq_rel);
        stopLine("line stopped: the network is shut down");
    }
}

// ---- Tables ------------------------------------------------------------------

void Chip::addStation(const StationDescription& station, std::unique_ptr<MailPeer> peer) {
    std::lock_guard lock(mutex_);
    Station s;
    s.spec = station;
    s.peer = std::move(peer);
    auto at = std::lower_bound(
        stations_.begin(), stations_.end(), station.address,
        [](const Station& a, int32_t address) { return a.spec.address < address; });
    stations_.insert(at, std::move(s));
    note(format("station %d added (%d address%s%s%s)", station.address, station.addressCount,
                station.addressCount == 1 ? "" : "es", station.echo ? ", echo" : "",
                station.model.empty() ? "" : (", " + station.model).c_str()));
}

std::vector<std::string> Chip::removeStation(int32_t address) {
    std::lock_guard lock(mutex_);
    std::vector<std::string> removed;
    auto it = std::find_if(stations_.begin(), stations_.end(),
                           [&](const Station& s) { return s.spec.address == address; });
    if (it == stations_.end()) return removed;
    const uint64_t bits = it->addressBits();
    if (it->answering) clearSlots(*it);
    answering_ &= ~bits;
    if (running_) {
        const uint64_t condition = answering_ << kConditionBitBase;
        storeWindow<uint64_t>(window_, kStationCondition, condition);
    }
    stations_.erase(it);
    std::erase_if(units_, [&](const PlacedUnit& u) {
        if (!(bits >> u.spec.station & 1)) return false;
        removed.push_back(u.spec.name());
        return true;
    });
    note(format("station %d removed", address));
    for (const auto& name : removed) note("unit " + name + " removed with its station");
    return removed;
}

void Chip::addUnit(const UnitDescription& spec, std::shared_ptr<RemoteUnit> unit) {
    std::lock_guard lock(mutex_);
    PlacedUnit placed;
    placed.spec = spec;
    placed.unit = std::move(unit);
    units_.push_back(std::move(placed));
    note(format("unit %s added at station %d", spec.name().c_str(), spec.station));
}

bool Chip::removeUnit(std::string_view name) {
    std::lock_guard lock(mutex_);
    const size_t removed = std::erase_if(
        units_, [&](const PlacedUnit& u) { return sameUnitName(u.spec.name(), name); });
    if (removed) note("unit " + std::string(name) + " removed");
    return removed != 0;
}

bool Chip::setStationOnline(int32_t address, bool online) {
    std::lock_guard lock(mutex_);
    Station* s = stationAt(address);
    if (s == nullptr) return false;
    if (s->online != online) {
        s->online = online;
        note(format("station %d %s", address, online ? "back on the line" : "off the line"));
    }
    return true;
}

bool Chip::setUnitSilent(std::string_view name, bool silent) {
    std::lock_guard lock(mutex_);
    for (auto& u : units_) {
        if (!sameUnitName(u.spec.name(), name)) continue;
        if (u.silent != silent) {
            u.silent = silent;
            note("unit " + std::string(name) + (silent ? " silent" : " answers again"));
        }
        return true;
    }
    return false;
}

void Chip::setMailAbsent(int32_t address, bool absent) {
    std::lock_guard lock(mutex_);
    const uint64_t bit = uint64_t{1} << (address & 63);
    if (((mailAbsent_ & bit) != 0) == absent) return;
    mailAbsent_ = absent ? (mailAbsent_ | bit) : (mailAbsent_ & ~bit);
    note(format("mail destination %d %s", address, absent ? "absent" : "present"));
}

std::vector<StationDescription> Chip::stations() const {
    std::lock_guard lock(mutex_);
    std::vector<StationDescription> out;
    for (const auto& s : stations_) out.push_back(s.spec);
    return out;
}

bool Chip::hasStation(int32_t address) const {
    std::lock_guard lock(mutex_);
    return std::any_of(stations_.begin(), stations_.end(),
                       [&](const Station& s) { return s.spec.address == address; });
}

std::vector<std::string> Chip::unitNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& u : units_) names.push_back(u.spec.name());
    return names;
}

bool Chip::hasUnit(std::string_view name) const {
    return findUnit(name) != nullptr;
}

std::shared_ptr<RemoteUnit> Chip::findUnit(std::string_view name) const {
    std::lock_guard lock(mutex_);
    for (const auto& u : units_) {
        if (sameUnitName(u.spec.name(), name)) return u.unit;
    }
    return nullptr;
}

bool Chip::running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

std::string Chip::describe() const {
    std::lock_guard lock(mutex_);
    std::string text = format("board %zu: line %s", board_, running_ ? "running" : "stopped");
    if (running_) text += format(" (cycle %llu)", static_cast<unsigned long long>(lineCycle_));
    if (heldInReset_) text += ", chip held in reset";
    text += ", " + describeStationRegister(stationRegister_) + "\n";
    if (!toMaster_.empty()) text += format("  %zu mail(s) wait in the chip\n", toMaster_.size());
    if (mailAbsent_ != 0) {
        text += "  absent mail destinations:";
        for (int a = 0; a < 64; ++a) {
            if (mailAbsent_ >> a & 1) text += " " + std::to_string(a);
        }
        text += "\n";
    }
    if (stations_.empty()) text += "  no stations\n";
    for (const auto& s : stations_) {
        text += format("  station %d", s.spec.address);
        if (s.spec.addressCount > 1) {
            text += format("-%d", s.spec.address + s.spec.addressCount - 1);
        }
        if (!s.spec.model.empty()) text += " " + s.spec.model;
        if (s.spec.echo) text += " (echo)";
        text += s.online ? (s.answering ? ": answering" : ": not answering") : ": off the line";
        text += "\n";
        for (const auto& u : units_) {
            if (!(s.addressBits() >> u.spec.station & 1)) continue;
            text += format("    unit %s at station %d, offsets %s", u.spec.name().c_str(),
                           u.spec.station, offsetList(u.spec.offsets).c_str());
            if (!u.spec.kind.empty()) text += ", kind " + u.spec.kind;
            if (u.silent) text += ", silent";
            text += "\n";
        }
    }
    return text;
}

}  // namespace kalvo::sim::chip

#include "api/sio/sio_unit.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "api/frame/api_log.h"
#include "api/frame/board_manager.h"
#include "kalvo/kalvo.h"
#include "platform/clock.h"

namespace kalvo::api {
namespace {

// Control word (master to unit).
constexpr uint16_t kConfigCodeBits = 0x003F;
constexpr uint16_t kConfigRequest = 0x0040;
constexpr uint16_t kCountBits = 0x0700;
constexpr uint16_t kErrorReset = 0x0800;
constexpr uint16_t kReceiveAck = 0x4000;
constexpr uint16_t kSendRequest = 0x8000;
// Status word (unit to master).
constexpr uint16_t kReceiveErrorBit = 0x0800;
constexpr uint16_t kSendErrorBit = 0x1000;
constexpr uint16_t kDataReady = 0x4000;
constexpr uint16_t kSendAck = 0x8000;

constexpr int32_t kBytesPerBlock = 6;
// Per unit of the line's "TimeOutTimes": the wait for the unit's side of a
// block handshake, and the time a configuration or error reset request stands.
constexpr uint32_t kHandshakeWaitMs = 100;
constexpr uint32_t kSettleMs = 10;

constexpr LogType kStep = kLogSio | kLevelStep;
constexpr LogType kFailure = kLogSio | kLevelFailure;
constexpr LogType kProtocol = kLogSio | kLevelProtocol;
constexpr LogType kThread = kLogSio | kLevelThread;

uint16_t wordOf(uint64_t block) {
    return static_cast<uint16_t>(block >> 48);
}

uint64_t withWord(uint64_t block, uint16_t word) {
    return (block & 0x0000FFFFFFFFFFFFull) | (uint64_t{word} << 48);
}

std::string channelName(const std::string& unit, const char* kind, int32_t index) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%02d", static_cast<int>(index % 100));
    return unit + kind + suffix;
}

// A caller's time limit of GetData and PutData: 0 waits without limit.
uint32_t callerLimitMs(int32_t timeoutMs) {
    return timeoutMs == 0 ? UINT32_MAX : static_cast<uint32_t>(timeoutMs);
}

// A buffer size of Config: 4095 or less gives 4096, 40961 or more 40960.
int32_t configSize(int32_t size) {
    return std::clamp(size, kRingDefaultCapacity, kRingMaxCapacity);
}

class CallCount {
  public:
    explicit CallCount(std::atomic<int32_t>& n) : n_(n) { n_.fetch_add(1); }
    ~CallCount() { n_.fetch_sub(1); }
    CallCount(const CallCount&) = delete;
    CallCount& operator=(const CallCount&) = delete;

  private:
    std::atomic<int32_t>& n_;
};

}  // namespace

SioUnit::SioUnit(const UnitPlacement& placement, const BoardManager& boards)
    : Unit(placement, boards) {}

SioUnit::~SioUnit() {
    close(false);
}

std::unique_ptr<Unit> SioUnit::make(const UnitPlacement& placement, const BoardManager& boards) {
    return std::make_unique<SioUnit>(placement, boards);
}

bool SioUnit::CheckInfo() {
    channelCount_ = 0;
    if (!Unit::CheckInfo()) return false;
    channelCount_ = offsetCount() / 4;
    apiLog().writef(kStep, "%s: CheckInfo: MaxChan(%d)", unitName().c_str(), channelCount_);
    if (channelCount_ <= 0) return false;
    for (int32_t c = 0; c < channelCount_; ++c)
        if (offset(4 * c) % 4 != 0) return false;
    return true;
}

int32_t SioUnit::Open() {
    if (!CheckInfo()) return KALVO_ERR_UNIT;
    const char* unit = unitName().c_str();
    channels_.clear();
    for (int32_t c = 0; c < channelCount_; ++c) {
        auto ch = std::make_unique<Channel>();
        ch->index = c;
        ch->block = offset(4 * c) / 4;
        channels_.push_back(std::move(ch));
    }
    opened_ = true;

    struct Lock {
        NamedSemaphore Channel::*member;
        const char* suffix;
        const char* text;
    };
    static constexpr Lock kLocks[] = {
        {&Channel::receiveCall, "RcvSmph", "Receive Semaphore"},
        {&Channel::receiveCycle, "RcvThrdSmph", "Receive Thread Semaphore"},
        {&Channel::sendCall, "SndSmph", "Send Semaphore"},
        {&Channel::control, "Smph", "RW Semaphore"},
    };
    for (const Lock& lock : kLocks) {
        for (auto& ch : channels_) {
            const std::string name = channelName(unitName(), lock.suffix, ch->index);
            if (!((*ch).*lock.member).create(name)) {
                apiLog().writef(kFailure, "%s: CreateSemaphore: %s: NG: Ch(%d)-Name(%s)", unit,
                                lock.text, ch->index + 1, name.c_str());
                return KALVO_ERR_SEMAPHORE;
            }
            apiLog().writef(kStep, "%s: CreateSemaphore: %s: OK: Ch(%d)-Name(%s)", unit, lock.text,
                            ch->index + 1, name.c_str());
        }
    }

    for (auto& ch : channels_) {
        const std::string name = channelName(unitName(), "RcvBuff", ch->index);
        if (!ch->receiveRing.attach(name, kRingDefaultCapacity)) {
            apiLog().writef(kFailure, "%s: CreateBuf: Receive Buffer: NG: Ch(%d)-Size(%d)", unit,
                            ch->index + 1, kRingDefaultCapacity);
            return KALVO_ERR_BUFFER;
        }
        apiLog().writef(kStep, "%s: CreateBuf: Receive Buffer: OK: Ch(%d)-Size(%d)", unit,
                        ch->index + 1, kRingDefaultCapacity);
    }
    // The send rings were made with the channels, at the default size.
    for (auto& ch : channels_)
        apiLog().writef(kStep, "%s: CreateBuf: Sned Buffer: OK: Ch(%d)-Size(%d)", unit,
                        ch->index + 1, ch->sendRing.capacity());

    for (auto& ch : channels_) {
        Channel* channel = ch.get();
        ch->receiver.handle =
            platform::Thread::create([this, channel] { return receiveLoop(*channel); }, true);
        if (!ch->receiver.handle.valid()) {
            apiLog().writef(kFailure, "%s: CreateThrd: Receive Procces: NG: Ch(%d)", unit,
                            ch->index + 1);
            return KALVO_ERR_THREAD;
        }
        ch->receiver.suspended = true;
        apiLog().writef(kStep, "%s: CreateThrd: Receive Procces: OK: Ch(%d)", unit, ch->index + 1);
    }
    closing_ = 0;
    return KALVO_OK;
}

void SioUnit::Close() {
    close(true);
}

// Close: the closing flag first, so that receive threads, GetData and
// PutData of other threads end (GetData and PutData with 17), then the
// threads, the rings and the locks. Unlike a plain handle close, both the
// close call and the unload wait for every receive thread and for the calls
// still running in other threads: the threads and calls use this object and
// the library's code, which go right after.
void SioUnit::close(bool waiting) {
    if (!opened_) return;
    const char* unit = unitName().c_str();
    // The calls of other threads see the flag at their next look (every
    // wait looks at it); the pause ends as soon as they have left, and the
    // threads are waited for below in any case.
    if (!closing_.exchange(1))
        pauseUnless(waitLimitMs(kHandshakeWaitMs), [&] { return callsInFlight_.load() == 0; });
    while (callsInFlight_.load() > 0) platform::sleepMs(1);

    for (auto& ch : channels_) {
        apiLog().writef(kStep, "%s: DestroyThrd: Receive Procces: Ch(%d)-fWait(%d)", unit,
                        ch->index + 1, waiting ? 1 : 0);
        WorkerThread& t = ch->receiver;
        if (!t.handle.valid()) continue;
        t.stop = true;
        // A thread never resumed ends at once without touching the unit.
        if (t.suspended) t.handle.resume();
        t.handle.wait();
        t.handle.exitCode();
        t.handle.close();
    }

    for (auto& ch : channels_) {
        if (!ch->receiveRing.attached()) continue;
        ch->receiveRing.detach();
        apiLog().writef(kStep, "%s: DestroyBuf: Receive Buffer: Ch(%d)", unit, ch->index + 1);
    }
    for (auto& ch : channels_)
        apiLog().writef(kStep, "%s: DestroyBuf: Sned Buffer: Ch(%d)", unit, ch->index + 1);

    for (auto& ch : channels_) {
        const std::pair<NamedSemaphore*, const char*> locks[] = {
            {&ch->receiveCall, "Receive Semaphore"},
            {&ch->receiveCycle, "Receive Thread Semaphore"},
            {&ch->sendCall, "Send Semaphore"},
            {&ch->control, "RW Semaphore"},
        };
        for (auto [lock, text] : locks) {
            if (!lock->valid()) continue;
            apiLog().writef(kStep, "%s: DestroySemaphore: %s: Ch(%d)", unit, text, ch->index + 1);
            lock->close();
        }
    }
    channels_.clear();
    opened_ = false;
}

bool SioUnit::channelValid(int32_t channel) const noexcept {
    return channel >= 1 && channel <= static_cast<int32_t>(channels_.size());
}

int32_t SioUnit::readInput(const Channel& ch, uint64_t* block) const {
    return boards_.getMemDLong(boardIndex(), lineIndex(), block, inputStation(), ch.block, 1);
}

int32_t SioUnit::readOutput(const Channel& ch, uint64_t* block) const {
    return boards_.getMemDLong(boardIndex(), lineIndex(), block, outputStation(), ch.block, 1);
}

int32_t SioUnit::writeOutput(const Channel& ch, uint64_t block) const {
    return boards_.setMemDLong(boardIndex(), lineIndex(), &block, outputStation(), ch.block, 1);
}

// The whole block is read and written back, so the data bytes stay as they
// were; only the named bits of the control word change.
int32_t SioUnit::changeControl(Channel& ch, uint16_t clear, uint16_t set) {
    SemaphoreHold hold(ch.control);
    uint64_t block = 0;
    if (int32_t ret = readOutput(ch, &block)) return ret;
    const auto control = static_cast<uint16_t>((wordOf(block) & ~clear) | set);
    return writeOutput(ch, withWord(block, control));
}

// The unit takes a request bit that stands for a while: set, settle, taken
// back, settle again, all under the control-word lock so that no other
// process changes the word meanwhile.
int32_t SioUnit::pulseControl(Channel& ch, uint16_t keep, uint16_t set, uint16_t clear) {
    const uint32_t settle = waitLimitMs(kSettleMs);
    uint64_t block = 0;
    if (int32_t ret = readOutput(ch, &block)) return ret;
    if (int32_t ret =
            writeOutput(ch, withWord(block, static_cast<uint16_t>((wordOf(block) & keep) | set))))
        return ret;
    platform::sleepMs(settle);
    if (int32_t ret = readOutput(ch, &block)) return ret;
    if (int32_t ret =
            writeOutput(ch, withWord(block, static_cast<uint16_t>(wordOf(block) & ~clear))))
        return ret;
    platform::sleepMs(settle);
    return KALVO_OK;
}

template <typename Done>
int32_t SioUnit::waitStatus(const Channel& ch, Done done, uint16_t* status) const {
    return waitForUnit(waitLimitMs(kHandshakeWaitMs), [&]() -> UnitLook {
        uint64_t block = 0;
        if (int32_t ret = readInput(ch, &block)) return ret;
        *status = wordOf(block);
        if (done(*status)) return KALVO_OK;
        // A handshake of a unit being closed is not waited for any longer.
        return closing_.load() || ch.receiver.stop.load() ? UnitLook{KALVO_ERR_TIMEOUT}
                                                          : kKeepWaiting;
    });
}

bool SioUnit::takeCallLock(NamedSemaphore& lock) {
    if (!lock.valid()) return true;
    while (!lock.waitFor(10))
        if (closing_.load()) return false;
    return true;
}

uint32_t SioUnit::receiveLoop(Channel& ch) {
    WorkerThread& self = ch.receiver;
    if (self.stop.load()) {  // closed before any Config resumed it
        self.ended = true;
        return 0;
    }
    const char* unit = unitName().c_str();
    const int32_t number = ch.index + 1;
    apiLog().writef(kThread, "%s: KVSioRcvProc: Start Thread: Ch(%d)", unit, number);
    apiLog().writef(kThread, "%s: loopRcv: Start: Ch(%d)", unit, number);
    changeControl(ch, kReceiveAck, 0);

    while (!self.stop.load()) {
        apiLog().writef(kThread, "%s: loopRcv: Loop: Ch(%d)", unit, number);
        platform::sleepMs(1);
        SemaphoreHold cycle(ch.receiveCycle);
        if (closing_.load()) break;
        receiveCycle(ch);
    }
    apiLog().writef(kThread, "%s: loopRcv: End: Ch(%d)", unit, number);
    self.ended = true;
    apiLog().writef(kThread, "%s: KVSioRcvProc: End Thread: Ch(%d)", unit, number);
    return 0;
}

void SioUnit::receiveCycle(Channel& ch) {
    // A block that cannot be read is no block: nothing is taken or
    // acknowledged, and the next cycle looks again.
    uint64_t block = 0;
    if (readInput(ch, &block) != KALVO_OK) return;
    const uint16_t status = wordOf(block);
    ch.receiveError = (status & kReceiveErrorBit) ? 1 : 0;
    if (!(status & kDataReady)) {
        // Bits standing that no live process is working with, left by a
        // process that died in the middle of its work, would hold the unit
        // for ever: an acknowledge (no receive thread is inside a handshake
        // under the receive-cycle lock; the unit would hold every further
        // block back), a configuration or error reset request (Config and
        // ClearError hold the control-word lock while theirs stand; the unit
        // would keep resetting its errors, and 0x10 would never be seen).
        uint64_t output = 0;
        if (readOutput(ch, &output) != KALVO_OK) return;
        const uint16_t standing = wordOf(output) & (kReceiveAck | kConfigRequest | kErrorReset);
        if (standing) changeControl(ch, standing, 0);
        return;
    }
    if (!ch.receiveError) {
        // A count of 7 still names a block of six data bytes: six are kept.
        const int32_t count = std::min<int32_t>((status >> 8) & 7, kBytesPerBlock);
        uint8_t bytes[kBytesPerBlock];
        for (int32_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(block >> (8 * i));
        ch.receiveRing.put(bytes, count);
    }
    if (changeControl(ch, 0, kReceiveAck) != KALVO_OK) return;
    uint16_t last = 0;
    const int32_t waited = waitStatus(
        ch, [](uint16_t s) { return !(s & kDataReady); }, &last);
    apiLog().writef(kProtocol,
                    waited == KALVO_OK ? "%s: waitRcv: OK: Ch(%d)" : "%s: waitRcv: NG: Ch(%d)",
                    unitName().c_str(), ch.index + 1);
    changeControl(ch, kReceiveAck, 0);
}

int32_t SioUnit::config(int32_t channel, int32_t baud, int32_t bit, int32_t parity, int32_t stop,
                        int32_t receiveSize, int32_t sendSize) {
    if (!channelValid(channel)) return KALVO_ERR_ARGUMENT;
    CallCount call(callsInFlight_);
    Channel& ch = *channels_[channel - 1];
    const char* unit = unitName().c_str();
    SemaphoreHold hold(ch.control);
    apiLog().writef(kStep,
                    "%s: Config: Start: Ch(%d)-Boud(%xh)-Bit(%xh)-Pariyt(%xh)-Stop(%xh)-RcvBuf(%d)-"
                    "SndBuf(%d)",
                    unit, channel, baud, bit, parity, stop, receiveSize, sendSize);
    ch.receiveRing.resize(configSize(receiveSize));
    ch.sendRing.resize(configSize(sendSize));

    // The configuration code with its request, and the error reset with it;
    // then both requests taken back.
    const auto code = static_cast<uint16_t>((baud | bit | parity | stop) & kConfigCodeBits);
    if (int32_t ret = pulseControl(ch, 0xFFC0, kConfigRequest | kErrorReset | code,
                                   kConfigRequest | kErrorReset))
        return ret;

    if (ch.receiver.suspended) {
        ch.receiver.suspended = false;
        ch.receiver.handle.resume();
        apiLog().writef(kStep, "%s: Config: Thread Start: Ch(%d)", unit, channel);
    }
    apiLog().writef(kStep, "%s: Config: End: Ch(%d)", unit, channel);
    return KALVO_OK;
}

int32_t SioUnit::getData(int32_t channel, uint8_t* data, int32_t length, int32_t* received,
                         int32_t timeoutMs) {
    if (!channelValid(channel) || timeoutMs < 0 || length < 0 || (length > 0 && !data))
        return KALVO_ERR_ARGUMENT;
    CallCount call(callsInFlight_);
    Channel& ch = *channels_[channel - 1];
    const char* unit = unitName().c_str();
    if (!takeCallLock(ch.receiveCall)) return KALVO_ERR_TIMEOUT;
    apiLog().writef(kStep, "%s: Receive: Start: Ch(%d)-Length(%d)-TimeOut(%d)", unit, channel,
                    length, timeoutMs);
    ch.receiveLength = length;
    int32_t taken = -1;
    const int32_t ret = waitForUnit(callerLimitMs(timeoutMs), [&]() -> UnitLook {
        // The fill is checked and the bytes taken in one hold of the ring's
        // lock: a ClearBuffer or a shrinking Config of another process
        // between the two would give 0 with fewer bytes than asked.
        taken = ch.receiveRing.takeIfFilled(data, length);
        if (taken >= 0) return KALVO_OK;
        if (ch.receiveError.load()) {
            // The flag is a receive thread's last look at the unit, which
            // may predate an error reset (a ClearError that has returned):
            // the unit's status now decides.
            uint64_t block = 0;
            if (int32_t failed = readInput(ch, &block)) return failed;
            if (wordOf(block) & kReceiveErrorBit) return KALVO_ERR_UNIT_ERROR;
        }
        // A lost board (its device host gone) sends nothing any more.
        if (int32_t lost = boardCheck()) return lost;
        return closing_.load() ? UnitLook{KALVO_ERR_TIMEOUT} : kKeepWaiting;
    });
    // What the ring holds is delivered also after an error or a timeout.
    *received = taken >= 0 ? taken : ch.receiveRing.get(data, length);
    ch.receiveCall.release();
    apiLog().writef(kStep,
                    "%s: Receive: End: Ch(%d)-Length(%d)-RetLength(%d)-TimeOut(%d): Ret(%xh)", unit,
                    channel, length, *received, timeoutMs, ret);
    return ret;
}

int32_t SioUnit::sendBlock(Channel& ch, const uint8_t* bytes, int32_t count) {
    const char* unit = unitName().c_str();
    {
        SemaphoreHold hold(ch.control);
        uint64_t block = 0;
        if (int32_t ret = readOutput(ch, &block)) return ret;
        uint64_t data = 0;
        for (int32_t i = 0; i < count; ++i) data |= uint64_t{bytes[i]} << (8 * i);
        const auto control =
            static_cast<uint16_t>((wordOf(block) & ~kCountBits) | ((count << 8) & kCountBits));
        if (int32_t ret = writeOutput(ch, withWord(data, control))) return ret;
    }
    if (int32_t ret = changeControl(ch, 0, kSendRequest)) return ret;
    uint16_t status = 0;
    int32_t ret = waitStatus(
        ch, [](uint16_t s) { return (s & (kSendErrorBit | kSendAck)) != 0; }, &status);
    if (ret == KALVO_OK && (status & kSendErrorBit)) {
        apiLog().writef(kProtocol, "%s: waitSnd: ERR: Ch(%d)", unit, ch.index + 1);
        ch.sendError = 1;
        ret = KALVO_ERR_UNIT_ERROR;
    } else if (ret == KALVO_OK) {
        ch.sendError = 0;
        apiLog().writef(kProtocol, "%s: waitSnd: OK: Ch(%d)", unit, ch.index + 1);
    } else {
        ch.sendError = 0;
        apiLog().writef(kProtocol, "%s: waitSnd: NG: Ch(%d)", unit, ch.index + 1);
        // No acknowledge within the handshake limit.
        if (ret == KALVO_ERR_TIMEOUT && !closing_.load()) ret = KALVO_ERR_PAIR;
    }
    const int32_t taken = changeControl(ch, kSendRequest, 0);
    return ret != KALVO_OK ? ret : taken;
}

// The message goes through the send ring: as much as the ring holds at
// first, the rest as blocks leave it, so a message longer than the ring is
// sent whole. The sent count is what the unit acknowledged: neither the
// bytes left behind nor those of a block it refused or did not answer.
int32_t SioUnit::putData(int32_t channel, const uint8_t* data, int32_t length, int32_t* sent,
                         int32_t timeoutMs) {
    if (!channelValid(channel) || timeoutMs < 0 || length < 0 || (length > 0 && !data))
        return KALVO_ERR_ARGUMENT;
    CallCount call(callsInFlight_);
    Channel& ch = *channels_[channel - 1];
    const char* unit = unitName().c_str();
    if (!takeCallLock(ch.sendCall)) return KALVO_ERR_TIMEOUT;
    apiLog().writef(kStep, "%s: Send: Start: Ch(%d)-Length(%d)-TimeOut(%d)", unit, channel, length,
                    timeoutMs);
    ch.sendLength = length;
    ch.sendRing.clear();
    int32_t fed = std::min(length, ch.sendRing.capacity());
    ch.sendRing.put(data, fed);
    int32_t ret = changeControl(ch, kSendRequest, 0);

    int32_t refused = 0;  // the bytes of a block the unit did not take
    if (ret == KALVO_OK)
        ret = waitForUnit(callerLimitMs(timeoutMs), [&]() -> UnitLook {
            if (ch.sendRing.fill() == 0 && fed == length) return KALVO_OK;
            if (closing_.load()) return KALVO_ERR_TIMEOUT;
            // The unit still shows its acknowledge of the previous block.
            uint64_t input = 0;
            if (int32_t failed = readInput(ch, &input)) return failed;
            if (wordOf(input) & kSendAck) return kKeepWaiting;
            uint8_t bytes[kBytesPerBlock];
            const int32_t count = ch.sendRing.get(bytes, kBytesPerBlock);
            const int32_t more =
                std::min(ch.sendRing.capacity() - ch.sendRing.fill(), length - fed);
            ch.sendRing.put(data + fed, more);
            fed += more;
            if (int32_t failed = sendBlock(ch, bytes, count)) {
                refused = count;
                return failed;
            }
            return ch.sendRing.fill() == 0 && fed == length ? UnitLook{KALVO_OK} : kKeepWaiting;
        });
    *sent = fed - ch.sendRing.fill() - refused;
    apiLog().writef(kStep, "%s: Send: End: Ch(%d)-Length(%d)-RetLength(%d)-TimeOut(%d): Ret(%xh)",
                    unit, channel, length, *sent, timeoutMs, ret);
    ch.sendCall.release();
    return ret;
}

int32_t SioUnit::clearError(int32_t channel) {
    if (!channelValid(channel)) return KALVO_ERR_ARGUMENT;
    CallCount call(callsInFlight_);
    Channel& ch = *channels_[channel - 1];
    const char* unit = unitName().c_str();
    SemaphoreHold hold(ch.control);
    apiLog().writef(kStep, "%s: ClearError: Start: Ch(%d)", unit, channel);
    if (int32_t ret = pulseControl(ch, 0xFFFF, kErrorReset, kErrorReset)) return ret;
    apiLog().writef(kStep, "%s: ClearError: End: Ch(%d)", unit, channel);
    return KALVO_OK;
}

int32_t SioUnit::checkBuffer(int32_t channel, int32_t* size) {
    if (!channelValid(channel)) return KALVO_ERR_ARGUMENT;
    *size = channels_[channel - 1]->receiveRing.fill();
    return KALVO_OK;
}

int32_t SioUnit::clearBuffer(int32_t channel) {
    if (!channelValid(channel)) return KALVO_ERR_ARGUMENT;
    channels_[channel - 1]->receiveRing.clear();
    return KALVO_OK;
}

}  // namespace kalvo::api

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
    const bool base = Unit::CheckInfo();
    channelCount_ = offsetCount() / 4;
    apiLog().writef(kStep, "%s: CheckInfo: MaxChan(%d)", unitName().c_str(), channelCount_);
    if (!base || channelCount_ <= 0) return false;
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
    if (!closing_.exchange(1)) platform::sleepMs(static_cast<uint32_t>(timeOutTimes()) * 100);
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

uint64_t SioUnit::readInput(const Channel& ch) const {
    uint64_t block = 0;
    boards_.getMemDLong(boardIndex(), lineIndex(), &block, inputStation(), ch.block, 1);
    return block;
}

uint64_t SioUnit::readOutput(const Channel& ch) const {
    uint64_t block = 0;
    boards_.getMemDLong(boardIndex(), lineIndex(), &block, outputStation(), ch.block, 1);
    return block;
}

void SioUnit::writeOutput(const Channel& ch, uint64_t block) const {
    boards_.setMemDLong(boardIndex(), lineIndex(), &block, outputStation(), ch.block, 1);
}

// The whole block is read and written back, so the data bytes stay as they
// were; only the named bits of the control word change.
void SioUnit::changeControl(Channel& ch, uint16_t clear, uint16_t set) {
    SemaphoreHold hold(ch.control);
    const uint64_t block = readOutput(ch);
    const auto control = static_cast<uint16_t>((wordOf(block) & ~clear) | set);
    writeOutput(ch, withWord(block, control));
}

template <typename Done>
uint16_t SioUnit::pollStatus(const Channel& ch, Done done, bool* met) const {
    const uint32_t limit = static_cast<uint32_t>(timeOutTimes()) * 100;
    const uint32_t start = platform::timeGetTime();
    for (;;) {
        platform::sleepMs(1);
        const uint16_t status = wordOf(readInput(ch));
        if (boardCheck() != kRetOk) {  // a lost board answers nothing any more
            *met = false;
            return status;
        }
        if (done(status)) {
            *met = true;
            return status;
        }
        if (platform::timeGetTime() - start >= limit) {
            *met = false;
            return status;
        }
    }
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
        const uint64_t block = readInput(ch);
        const uint16_t status = wordOf(block);
        ch.receiveError = (status & kReceiveErrorBit) ? 1 : 0;
        if (!(status & kDataReady)) {
            // Under the receive-cycle lock no receive thread is inside a
            // handshake, so an acknowledge still standing was left by a
            // process that died in one; the unit would hold every further
            // block back for it.
            if (wordOf(readOutput(ch)) & kReceiveAck) changeControl(ch, kReceiveAck, 0);
            continue;
        }
        if (!ch.receiveError) {
            // A count of 7 still names a block of six data bytes: six are kept.
            const int32_t count = std::min<int32_t>((status >> 8) & 7, kBytesPerBlock);
            uint8_t bytes[kBytesPerBlock];
            for (int32_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(block >> (8 * i));
            ch.receiveRing.put(bytes, count);
        }
        changeControl(ch, 0, kReceiveAck);
        bool met = false;
        pollStatus(
            ch, [](uint16_t s) { return !(s & kDataReady); }, &met);
        apiLog().writef(kProtocol, met ? "%s: waitRcv: OK: Ch(%d)" : "%s: waitRcv: NG: Ch(%d)",
                        unit, number);
        changeControl(ch, kReceiveAck, 0);
    }
    apiLog().writef(kThread, "%s: loopRcv: End: Ch(%d)", unit, number);
    self.ended = true;
    apiLog().writef(kThread, "%s: KVSioRcvProc: End Thread: Ch(%d)", unit, number);
    return 0;
}

int32_t SioUnit::config(int32_t channel, int32_t baud, int32_t bit, int32_t parity, int32_t stop,
                        int32_t receiveSize, int32_t sendSize) {
    if (!channelValid(channel)) return KALVO_ERR_ARGUMENT;
    CallCount call(callsInFlight_);
    Channel& ch = *channels_[channel - 1];
    const char* unit = unitName().c_str();
    const uint32_t settle = static_cast<uint32_t>(timeOutTimes()) * 10;
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
    uint64_t block = readOutput(ch);
    writeOutput(ch, withWord(block, static_cast<uint16_t>((wordOf(block) & 0xFFC0) |
                                                          kConfigRequest | kErrorReset | code)));
    platform::sleepMs(settle);
    block = readOutput(ch);
    writeOutput(ch, withWord(block, static_cast<uint16_t>(wordOf(block) & 0xF7BF)));
    platform::sleepMs(settle);

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
    const uint32_t start = platform::timeGetTime();
    int32_t ret = KALVO_OK;
    for (;;) {
        if (ch.receiveRing.fill() >= length) break;
        if (ch.receiveError.load()) {
            ret = KALVO_ERR_UNIT_ERROR;
            break;
        }
        if (int32_t lost = boardCheck()) {
            ret = lost;
            break;
        }
        if (closing_.load() || (timeoutMs != 0 && platform::timeGetTime() - start >
                                                      static_cast<uint32_t>(timeoutMs))) {
            ret = KALVO_ERR_TIMEOUT;
            break;
        }
        platform::sleepMs(1);
    }
    // What the ring holds is delivered also after an error or a timeout.
    *received = ch.receiveRing.get(data, length);
    ch.receiveCall.release();
    apiLog().writef(kStep,
                    "%s: Receive: End: Ch(%d)-Length(%d)-RetLength(%d)-TimeOut(%d): Ret(%xh)", unit,
                    channel, length, *received, timeoutMs, ret);
    return ret;
}

SioUnit::BlockOutcome SioUnit::sendBlock(Channel& ch, const uint8_t* bytes, int32_t count) {
    const char* unit = unitName().c_str();
    {
        SemaphoreHold hold(ch.control);
        const uint64_t block = readOutput(ch);
        uint64_t data = 0;
        for (int32_t i = 0; i < count; ++i) data |= uint64_t{bytes[i]} << (8 * i);
        const auto control =
            static_cast<uint16_t>((wordOf(block) & ~kCountBits) | ((count << 8) & kCountBits));
        writeOutput(ch, withWord(data, control));
    }
    changeControl(ch, 0, kSendRequest);
    bool met = false;
    const uint16_t status = pollStatus(
        ch, [](uint16_t s) { return (s & (kSendErrorBit | kSendAck)) != 0; }, &met);
    BlockOutcome outcome = BlockOutcome::noAcknowledge;
    if (met && (status & kSendErrorBit)) {
        apiLog().writef(kProtocol, "%s: waitSnd: ERR: Ch(%d)", unit, ch.index + 1);
        ch.sendError = 1;
        outcome = BlockOutcome::sendError;
    } else if (met) {
        ch.sendError = 0;
        apiLog().writef(kProtocol, "%s: waitSnd: OK: Ch(%d)", unit, ch.index + 1);
        outcome = BlockOutcome::sent;
    } else {
        ch.sendError = 0;
        apiLog().writef(kProtocol, "%s: waitSnd: NG: Ch(%d)", unit, ch.index + 1);
    }
    changeControl(ch, kSendRequest, 0);
    return outcome;
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
    changeControl(ch, kSendRequest, 0);

    const uint32_t start = platform::timeGetTime();
    int32_t ret = KALVO_OK;
    int32_t refused = 0;  // the bytes of a block the unit did not take
    for (;;) {
        if (ch.sendRing.fill() == 0 && fed == length) break;
        if (int32_t lost = boardCheck()) {
            ret = lost;
            break;
        }
        if (closing_.load() || (timeoutMs != 0 && platform::timeGetTime() - start >
                                                      static_cast<uint32_t>(timeoutMs))) {
            ret = KALVO_ERR_TIMEOUT;
            break;
        }
        platform::sleepMs(1);
        // The unit still shows its acknowledge of the previous block.
        if (wordOf(readInput(ch)) & kSendAck) continue;
        uint8_t bytes[kBytesPerBlock];
        const int32_t count = ch.sendRing.get(bytes, kBytesPerBlock);
        const int32_t more = std::min(ch.sendRing.capacity() - ch.sendRing.fill(), length - fed);
        ch.sendRing.put(data + fed, more);
        fed += more;
        const BlockOutcome outcome = sendBlock(ch, bytes, count);
        if (outcome != BlockOutcome::sent) refused = count;
        if (int32_t lost = outcome != BlockOutcome::sent ? boardCheck() : kRetOk) {
            ret = lost;
            break;
        }
        if (outcome == BlockOutcome::sendError) {
            ret = KALVO_ERR_UNIT_ERROR;
            break;
        }
        if (outcome == BlockOutcome::noAcknowledge) {
            ret = KALVO_ERR_PAIR;
            break;
        }
    }
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
    const uint32_t settle = static_cast<uint32_t>(timeOutTimes()) * 10;
    SemaphoreHold hold(ch.control);
    apiLog().writef(kStep, "%s: ClearError: Start: Ch(%d)", unit, channel);
    uint64_t block = readOutput(ch);
    writeOutput(ch, withWord(block, static_cast<uint16_t>(wordOf(block) | kErrorReset)));
    platform::sleepMs(settle);
    block = readOutput(ch);
    writeOutput(ch, withWord(block, static_cast<uint16_t>(wordOf(block) & ~kErrorReset)));
    platform::sleepMs(settle);
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

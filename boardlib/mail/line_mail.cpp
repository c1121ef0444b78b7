#include "boardlib/mail/line_mail.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>

#include "boardlib/mail/mail_events.h"
#include "boardlib/mail/mail_poll.h"
#include "boardlib/window/window_bus.h"
#include "diaglog/log_facility.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/mutex.h"
#include "platform/thread.h"

namespace kalvo::boardlib {

using namespace mail;

namespace {

constexpr diaglog::LogType kLogInternal = 0x10004;  // detail lines of the board library
constexpr uint32_t kPollPeriodMs = 10;
constexpr int kStopChecks = 5;  // 10 ms sleeps while the thread still reports running
// Unload and a failed open do not wait for the thread as KV_close does, but
// the thread's code lives in this library: it is given this long to leave
// before the library may go away under it. It ends within one poll period.
constexpr uint32_t kDetachGraceMs = 2000;

constexpr int32_t kOk = 0;
constexpr int32_t kArgument = 3;
constexpr int32_t kNotMapped = 16;
constexpr int32_t kMailOpen = 18;
constexpr int32_t kMailNotOpen = 19;
constexpr int32_t kMailLength = 20;
constexpr int32_t kMailBusy = 21;
constexpr int32_t kMailEmpty = 22;
constexpr int32_t kSendResult = 23;
constexpr int32_t kReceived = 24;
constexpr int32_t kClosed = 25;
constexpr int32_t kFailed = -1;

}  // namespace

// The line's mail thread record. The thread and the line's calls share it; the
// lock orders every window access and the poll state between them (the poll
// of KV_MailStatus and the thread's poll write the same fields).
struct LineMail::State {
    char prefix[kNameRoom] = {};
    int32_t board = 0;
    int32_t line = 0;
    diaglog::LogFacility* log = nullptr;

    // Thread handle: only the owner's calls (start and stop) touch it.
    platform::Thread thread;
    std::atomic<int32_t> finished{1};  // 1 before the start and after the body returned
    std::atomic<int32_t> stopRequest{0};
    std::atomic<int32_t> exitCode{0};
    std::atomic<int32_t> running{0};

    std::mutex lock;
    bool mailOpen = false;
    uint8_t* window = nullptr;
    // Set under the lock; read without it by a wait.
    std::atomic<bool> lost{false};
    PollState poll;
    MailEventSet events;
    platform::Mutex openMutex;

    void signal(int index) noexcept {
        if (events.event[index]) events.event[index]->set();
    }

    // With the lock held and the window mapped.
    void pollLocked() noexcept {
        const PollSignals s = pollWindow(window, poll);
        if (s.sendResult) signal(kEventSendResult);
        if (s.recv1) signal(kEventRecv1);
        if (s.recv2) signal(kEventRecv2);
        if (s.error) signal(kEventError);
    }

    // Receive buffer k (1 or 2) on or off; the chip wants the mail register
    // and a cleared status register before each buffer operation.
    void setBuffer(int k, bool enable) noexcept {
        bus::store<uint16_t>(window, kMailRegister, kMailRegisterValue);
        bus::store<uint16_t>(window, kMailStatusRegister, 0);
        bus::store<uint16_t>(window, k == 1 ? kReceiveControl1 : kReceiveControl2,
                             enable ? kReceiveEnabled : 0);
    }

    // The mutex goes first: it is the other processes' sign that mail is open.
    void closeMailLocked() noexcept {
        log->writef(kLogInternal, "%s: DestoryMutex: Mail Open Mutex: Line(%d)", prefix, line);
        openMutex.close();
        if (window != nullptr && !lost.load()) {
            setBuffer(1, false);
            setBuffer(2, false);
        }
        mailOpen = false;
    }
};

namespace {

uint32_t mailThreadBody(const std::shared_ptr<LineMail::State>& s) {
    s->running.store(1);
    while (s->stopRequest.load() == 0) {
        platform::sleepMs(kPollPeriodMs);
        std::lock_guard guard(s->lock);
        if (s->mailOpen && s->window != nullptr && !s->lost.load()) s->pollLocked();
    }
    s->running.store(0);
    s->exitCode.store(0);
    s->finished.store(1);
    return 0;
}

}  // namespace

LineMail::LineMail(const char* prefix, int32_t board, int32_t line, diaglog::LogFacility& log)
    : state_(std::make_shared<State>()) {
    std::snprintf(state_->prefix, sizeof state_->prefix, "%s", prefix != nullptr ? prefix : "");
    state_->board = board;
    state_->line = line;
    state_->log = &log;
}

LineMail::~LineMail() {
    stopThread(false);
}

bool LineMail::startThread() {
    State& s = *state_;
    if (s.thread.valid()) return true;
    s.stopRequest.store(0);
    s.finished.store(0);
    // The body holds its own reference: the record outlives an unwaited stop.
    s.thread = platform::Thread::create([keep = state_] { return mailThreadBody(keep); });
    if (!s.thread.valid()) {
        s.finished.store(1);
        s.log->writef(kLogInternal, "%s: CreateThread: Mail Thread: Line(%d): NG", s.prefix,
                      s.line);
        return false;
    }
    s.log->writef(kLogInternal, "%s: CreateThread: Mail Thread: Line(%d): OK", s.prefix, s.line);
    return true;
}

void LineMail::stopThread(bool wait) {
    State& s = *state_;
    if (!s.thread.valid()) return;
    for (int i = 0; i < kStopChecks && s.running.load() != 0; ++i) platform::sleepMs(kPollPeriodMs);
    if (s.finished.load() == 0) s.stopRequest.store(1);
    if (!s.thread.isCurrent()) s.thread.wait(wait ? platform::INFINITE : kDetachGraceMs);
    s.thread.close();
    s.log->writef(kLogInternal, "%s: DestoryThread: Mail Thread: Line(%d)", s.prefix, s.line);
}

bool LineMail::createEvents() {
    State& s = *state_;
    MailEventSet made;
    for (int i = 0; i < kMailEventCount; ++i) {
        formatEventBaseName(made.baseName[i], i, s.board);
        formatEventName(made.name[i], made.baseName[i], s.line);
        auto event = std::make_shared<platform::Event>(platform::Event::createOrOpen(
            made.name[i], /*manualReset=*/true, /*initialState=*/false));
        if (!event->valid()) {
            s.log->writef(kLogInternal, "%s: CreateEvent: Mail Event: Line(%d): NG: Name(%s)",
                          made.baseName[i], s.line, made.name[i]);
            return false;  // the ones made so far close with `made`
        }
        s.log->writef(kLogInternal, "%s: CreateEvent: Mail Event: Line(%d): OK: Name(%s)",
                      made.baseName[i], s.line, made.name[i]);
        made.event[i] = std::move(event);
    }
    std::lock_guard guard(s.lock);
    s.events = std::move(made);
    return true;
}

void LineMail::destroyEvents() {
    State& s = *state_;
    std::lock_guard guard(s.lock);
    for (int i = 0; i < kMailEventCount; ++i) {
        if (!s.events.event[i]) continue;
        s.log->writef(kLogInternal, "%s: DestoryEvent: Mail Event: Line(%d)", s.events.baseName[i],
                      s.line);
        // A waiter in this or another process wakes with "closing"; a waiter
        // here holds its own references, so the objects outlive its wait.
        s.signal(kEventClose);
        s.events.event[i].reset();
    }
}

void LineMail::setWindow(uint8_t* base) noexcept {
    std::lock_guard guard(state_->lock);
    state_->window = base;
}

void LineMail::markLost() noexcept {
    std::lock_guard guard(state_->lock);
    state_->lost.store(true);
}

void LineMail::closeIfOpen() {
    State& s = *state_;
    std::lock_guard guard(s.lock);
    if (s.openMutex.valid()) s.closeMailLocked();
}

int32_t LineMail::open() {
    State& s = *state_;
    std::lock_guard guard(s.lock);
    if (s.lost.load()) return kFailed;
    if (s.window == nullptr) return kNotMapped;
    if (s.mailOpen) return kMailOpen;
    char name[kNameRoom];
    formatMutexName(name, s.prefix, s.line);
    platform::Mutex marker = platform::Mutex::createOrOpen(name, /*initialOwner=*/false);
    if (!marker.valid() || !marker.created()) {
        // Mail is open on this board line in another process.
        marker.close();
        s.log->writef(kLogInternal, "%s: CreateMutex: Mail Open Mutex: Line(%d): NG: Name(%s)",
                      s.prefix, s.line, name);
        return kMailOpen;
    }
    s.log->writef(kLogInternal, "%s: CreateMutex: Mail Open Mutex: Line(%d): OK: Name(%s)",
                  s.prefix, s.line, name);
    s.openMutex = std::move(marker);
    s.mailOpen = true;
    s.setBuffer(1, true);
    s.setBuffer(2, true);
    return kOk;
}

int32_t LineMail::close() {
    State& s = *state_;
    std::lock_guard guard(s.lock);
    if (s.lost.load()) {
        // Mail is closed in this process all the same: the marker goes.
        if (s.openMutex.valid()) s.closeMailLocked();
        return kFailed;
    }
    if (s.window == nullptr) return kNotMapped;
    if (!s.mailOpen) return kMailNotOpen;
    s.closeMailLocked();
    return kOk;
}

int32_t LineMail::send(int32_t station, const uint8_t* data, int32_t length) {
    if (data == nullptr) return kArgument;
    if (length < 1 || length > kMaxMailLength) return kMailLength;
    State& s = *state_;
    std::lock_guard guard(s.lock);
    if (s.lost.load()) return kFailed;
    if (s.window == nullptr) return kNotMapped;
    if (!s.mailOpen) return kMailNotOpen;
    if (bus::load<uint16_t>(s.window, kMailControl) & kMailSendRequest) return kMailBusy;

    s.poll.status &= kStatusMailWaiting;
    // This send is in progress from now on: a chip that finishes it before
    // the thread's next poll still gets its completion reported.
    s.poll.prevSend = kSendWasBusy;
    bus::store<uint16_t>(s.window, kMailRegister, kMailRegisterValue);
    bus::store<uint16_t>(s.window, kMailStatusRegister, 0);
    bus::store<uint16_t>(s.window, kMailSendRegister, kMailSendRegisterValue);
    for (int32_t i = 0; i < length; ++i)
        bus::store<uint8_t>(s.window, kMailSendBuffer + static_cast<uint32_t>(i), data[i]);
    // The control word goes last: it starts the send. Blocks of 8 bytes,
    // destination station in the high byte.
    const uint32_t command = 0x4001u + static_cast<uint32_t>(length - 1) / 8u +
                             (static_cast<uint32_t>(station) & 0xFFu) * 256u;
    bus::store<uint16_t>(s.window, kMailControl, static_cast<uint16_t>(command));
    return kOk;
}

int32_t LineMail::receive(uint8_t* data, int32_t length, int32_t* station) {
    if (data == nullptr || station == nullptr) return kArgument;
    if (length < 1 || length > kMaxMailLength) return kMailLength;
    State& s = *state_;
    std::lock_guard guard(s.lock);
    if (s.lost.load()) return kFailed;
    if (s.window == nullptr) return kNotMapped;
    if (!s.mailOpen) return kMailNotOpen;
    const int32_t k = s.poll.pending;
    if (k == 0) return kMailEmpty;
    if (k != 1 && k != 2) return kFailed;

    const uint16_t control =
        bus::load<uint16_t>(s.window, k == 1 ? kReceiveControl1 : kReceiveControl2);
    const uint32_t buffer = k == 1 ? kMailReceiveBuffer1 : kMailReceiveBuffer2;
    *station = (control >> 8) & 0x3F;
    const int32_t size = (control & 0x3F) * 8;
    const int32_t n = std::min(length, size);
    for (int32_t i = 0; i < n; ++i)
        data[i] = bus::load<uint8_t>(s.window, buffer + static_cast<uint32_t>(i));
    s.setBuffer(k, true);
    // The buffer is empty again: it is not read twice, and a mail the chip
    // puts into it before the next poll still signals its event.
    s.poll.pending = 0;
    s.poll.prevRecv &= static_cast<uint16_t>(~(k == 1 ? 1u : 2u));
    return kOk;
}

int32_t LineMail::status(uint16_t* status) {
    if (status == nullptr) return kArgument;
    State& s = *state_;
    std::lock_guard guard(s.lock);
    if (s.lost.load()) return kFailed;
    if (s.window == nullptr) return kNotMapped;
    if (!s.mailOpen) return kMailNotOpen;
    s.pollLocked();
    *status = s.poll.status;
    return kOk;
}

int32_t LineMail::waitObject(std::shared_ptr<State> s, uint16_t* status) {
    if (status == nullptr) return kArgument;
    // Our own references (s and the events): KV_close from another thread
    // may free the service and close the line's events while we wait.
    std::shared_ptr<platform::Event> held[kMailEventCount];
    {
        std::lock_guard guard(s->lock);
        if (s->lost.load()) return kFailed;
        if (s->window == nullptr) return kNotMapped;
        if (!s->mailOpen) return kMailNotOpen;
        for (int i = 0; i < kMailEventCount; ++i) held[i] = s->events.event[i];
    }
    platform::Event* events[kMailEventCount];
    for (int i = 0; i < kMailEventCount; ++i) {
        if (!held[i]) return kFailed;
        events[i] = held[i].get();
    }
    // Without a time limit, but in slices: the events are shared with other
    // processes, so a lost board cannot wake its waiters through them.
    uint32_t r;
    do {
        r = platform::waitForAny(events, kLostWaitSliceMs);
    } while (r == platform::WAIT_TIMEOUT && !s->lost.load());
    if (r >= platform::WAIT_OBJECT_0 + kMailEventCount) return kFailed;
    const int index = static_cast<int>(r - platform::WAIT_OBJECT_0);
    held[index]->reset();
    switch (index) {
        case kEventRecv1:
        case kEventRecv2:
            *status = 0;
            return kReceived;
        case kEventSendResult: {
            std::lock_guard guard(s->lock);
            *status = s->poll.status;
            return kSendResult;
        }
        case kEventClose:
            *status = 0;
            return kClosed;
        default:
            return kFailed;
    }
}

}  // namespace kalvo::boardlib

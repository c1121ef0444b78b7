#include "diaglog/log_facility.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <new>
#include <string>

#include "diaglog/log_stamp.h"
#include "platform/clock.h"
#include "platform/flush_hooks.h"
#include "platform/format.h"
#include "platform/profile.h"
#include "platform/win_error.h"

namespace kalvo::diaglog {

namespace {

constexpr const char* kSection = "LOG";
constexpr size_t kBodyRoom = LogFacility::kLineRoom - 2;  // "\r\n" always fits

// After a drain that found lines, the thread lets the next ones gather for
// this long, so that one write takes many of them. With nothing to drain it
// sleeps until a writer wakes it, or this long (lines of a forked child,
// which cannot wake it, wait no longer than that).
constexpr auto kGatherTime = std::chrono::milliseconds(1);
constexpr auto kIdleTime = std::chrono::seconds(1);
// A close waits this long for writers that claimed a cell to fill it.
constexpr auto kCloseWait = std::chrono::seconds(1);

// Each thread keeps its own stamp text, made anew once a second.
thread_local LogStamp tStamp;

// Counts forks in the child: a log opened in another generation belongs to
// the parent process.
std::atomic<uint32_t> gForkGeneration{0};

void countFork() {
    gForkGeneration.fetch_add(1, std::memory_order_relaxed);
}

void flushHook(void* log) noexcept {
    static_cast<LogFacility*>(log)->flush();
}

}  // namespace

LogFacility::~LogFacility() {
    close();
}

bool LogFacility::inherited() const noexcept {
    return forkGeneration_ != gForkGeneration.load(std::memory_order_relaxed);
}

bool LogFacility::open(const char* baseName, const char* iniName, const char* mapName,
                       uint32_t defaultLevel) {
    [[maybe_unused]] static const bool forkCounted =
        pthread_atfork(nullptr, nullptr, &countFork) == 0;
    std::lock_guard<std::mutex> guard(lock_);
    if (open_ || !baseName || !iniName || !mapName) {
        platform::setLastError(open_ ? platform::ERROR_ALREADY_EXISTS
                                     : platform::ERROR_INVALID_PARAMETER);
        return false;
    }
    // Full path against the current directory, the bare name if that fails.
    // A name that does not fit would name another file: refuse it.
    const std::string full = platform::fullPathName(baseName);
    const char* base = full.empty() ? baseName : full.c_str();
    if (std::strlen(base) >= sizeof basePath_) {
        platform::setLastError(platform::ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    std::strcpy(basePath_, base);

    ini_.setFile(iniName);
    activeRing_.store(nullptr, std::memory_order_release);
    // Rings that dead holders left are drained before their slots can be
    // taken again, and before this process reads its slot's keys.
    if (!slotMap_.open(mapName, &drainLeftRings, nullptr)) return false;
    const int32_t slot = slotMap_.slot();
    ringPath_ = logRingPath(slotMap_.stem(), slot);
    drainLeftRing(ringPath_);

    char key[32];
    const uint32_t level = ini_.getHex(kSection, "LOGLEVEL", defaultLevel);
    maxLines_ = ini_.getInt(kSection, "LOGMAXLINE", kDefaultMaxLines);
    tickCount_.store(ini_.getInt(kSection, "LOGTICKCOUNT", 0), std::memory_order_relaxed);
    LogSinkState& s = localState_ = LogSinkState{};
    s.slot = slot;
    s.maxLines = maxLines_;
    platform::format(key, sizeof key, "FILENO_%02d", slot);
    // A slot has two files; any other stored number is damage, start at 0.
    s.fileNumber = ini_.getInt(kSection, key, 0) == 1 ? 1 : 0;
    platform::format(key, sizeof key, "LOGLINE_%02d", slot);
    s.lineCount = std::max(ini_.getInt(kSection, key, 0), 0);
    std::strcpy(s.basePath, basePath_);
    // Only a drainer in another process needs the ini's name; one too long
    // to keep leaves the keys to this process's close.
    if (ini_.path().size() < sizeof s.iniPath) std::strcpy(s.iniPath, ini_.path().c_str());

    sink_.attach(&localState_);
    if (!sink_.openCurrent()) {
        const uint32_t error = platform::lastError();
        slotMap_.close();
        ini_.close();
        platform::setLastError(error);
        return false;
    }
    // A log that writes nothing needs neither ring nor thread.
    if (level != 0) startRing();
    forkGeneration_ = gForkGeneration.load(std::memory_order_relaxed);
    open_ = true;
    platform::addFlushHook(&flushHook, this);
    levelMask_.store(level, std::memory_order_release);
    return true;
}

// Without a ring (the runtime namespace full, no thread to be had) the log
// writes each line as it comes, as it always could.
bool LogFacility::startRing() noexcept {
    activeRing_.store(nullptr, std::memory_order_release);
    // A flush of the last open may still be draining the old mapping.
    std::lock_guard<std::mutex> guard(drainLock_);
    if (!drainBuffer_) drainBuffer_.reset(new (std::nothrow) LogDrainBuffer);
    if (!drainBuffer_ || !ring_.create(ringPath_, localState_)) return false;
    stopDrain_ = false;
    drainSleeps_.store(false, std::memory_order_relaxed);
    try {
        drainThread_ = new std::thread([this] { drainLoop(); });
    } catch (...) {
        drainThread_ = nullptr;
        ring_.unmap();
        ::unlink(ringPath_.c_str());
        return false;
    }
    sink_.attach(&ring_.sink());
    activeRing_.store(&ring_, std::memory_order_release);
    return true;
}

void LogFacility::drainLoop() noexcept {
    pthread_setname_np(pthread_self(), "kalvo-log");
    for (;;) {
        size_t taken;
        {
            std::lock_guard<std::mutex> guard(drainLock_);
            taken = drainRing(ring_, sink_, *drainBuffer_, ring_.head(), false);
        }
        std::unique_lock<std::mutex> wait(wakeLock_);
        if (stopDrain_) return;
        if (taken > 0) {
            if (taken < LogSink::kBatchLines)
                wake_.wait_for(wait, kGatherTime, [this] { return stopDrain_; });
            continue;
        }
        // Say so before looking once more: a writer that fills a cell after
        // this look sees the flag and wakes the thread (both sides are
        // sequentially consistent).
        drainSleeps_.store(true, std::memory_order_seq_cst);
        if (!ring_.readyToDrain()) {
            wake_.wait_for(wait, kIdleTime, [this] {
                return !drainSleeps_.load(std::memory_order_relaxed) || stopDrain_;
            });
        }
        drainSleeps_.store(false, std::memory_order_relaxed);
    }
}

void LogFacility::wakeDrain() noexcept {
    {
        std::lock_guard<std::mutex> guard(wakeLock_);
        drainSleeps_.store(false, std::memory_order_relaxed);
    }
    wake_.notify_one();
}

void LogFacility::stopDrain() noexcept {
    if (!drainThread_) return;
    {
        std::lock_guard<std::mutex> guard(wakeLock_);
        stopDrain_ = true;
    }
    wake_.notify_one();
    drainThread_->join();
    delete drainThread_;
    drainThread_ = nullptr;
}

size_t LogFacility::composeHead(char* line, LogType type) const noexcept {
    tStamp.put(line);
    size_t n = LogStamp::kLength;
    if (tickCount_.load(std::memory_order_relaxed) != 0) {
        n += static_cast<size_t>(
            platform::format(line + n, kBodyRoom + 1 - n, "[%u] ", platform::timeGetTime()));
    }
    const std::string_view marker = logMarker(type);
    // A type without a marker has an empty view whose data may be null.
    if (!marker.empty()) std::memcpy(line + n, marker.data(), marker.size());
    return n + marker.size();
}

void LogFacility::writeLine(LogType type, const char* message) noexcept {
    if (!message) message = "";
    char line[kLineRoom];
    size_t n = composeHead(line, type);
    const size_t length = strnlen(message, kBodyRoom - n);
    std::memcpy(line + n, message, length);
    emit(line, n + length);
}

void LogFacility::writeFormatted(LogType type, const char* format, ...) noexcept {
    char line[kLineRoom];
    const size_t n = composeHead(line, type);
    va_list args;
    va_start(args, format);
    const int stored = platform::formatV(line + n, kBodyRoom + 1 - n, format ? format : "", args);
    va_end(args);
    // A message that holds a NUL ends there, as the text of a C string would.
    emit(line, n + strnlen(line + n, stored > 0 ? static_cast<size_t>(stored) : 0));
}

void LogFacility::emit(char* line, size_t length) noexcept {
    line[length++] = '\r';
    line[length++] = '\n';
    if (LogRing* ring = activeRing_.load(std::memory_order_acquire)) {
        // A forked child's copy of the thread does not exist; the parent's
        // thread takes its lines.
        if (ring->push(line, static_cast<uint32_t>(length)) &&
            drainSleeps_.load(std::memory_order_seq_cst) && !inherited())
            wakeDrain();
        return;
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (!open_) return;
    struct iovec text = {line, length};
    sink_.write(&text, nullptr, 1, nullptr, nullptr);
}

void LogFacility::flush() noexcept {
    if (!activeRing_.load(std::memory_order_acquire) || inherited()) return;
    std::lock_guard<std::mutex> guard(drainLock_);
    if (drainBuffer_ && ring_.valid()) drainRing(ring_, sink_, *drainBuffer_, ring_.head(), false);
}

void LogFacility::flushAll() noexcept {
    platform::runFlushHooks();
}

uint64_t LogFacility::droppedLines() const noexcept {
    std::lock_guard<std::mutex> guard(lock_);
    return ring_.valid() ? ring_.dropped() : 0;
}

void LogFacility::settle() const noexcept {
    const_cast<LogFacility*>(this)->flush();
}

void LogFacility::closeLocked() noexcept {
    platform::removeFlushHook(&flushHook, this);
    if (activeRing_.load(std::memory_order_relaxed)) {
        ring_.closeToWriters();
        stopDrain();
        std::lock_guard<std::mutex> guard(drainLock_);
        // Writers that claimed a cell before the close fill it in a moment;
        // one that never does (stopped in a debugger) is passed over.
        const auto deadline = std::chrono::steady_clock::now() + kCloseWait;
        while (ring_.tail() < ring_.head()) {
            const bool late = std::chrono::steady_clock::now() > deadline;
            if (drainRing(ring_, sink_, *drainBuffer_, ring_.head(), late) == 0) {
                if (late) ring_.release(ring_.head());
                std::this_thread::yield();
            }
        }
    }
    if (slotMap_.isOpen()) {
        const LogSinkState& s = *sink_.state();
        char key[32];
        platform::format(key, sizeof key, "FILENO_%02d", s.slot);
        ini_.putInt(kSection, key, s.fileNumber);
        platform::format(key, sizeof key, "LOGLINE_%02d", s.slot);
        ini_.putInt(kSection, key, s.lineCount);
        // The ring goes while the slot is still held: once the slot is free,
        // a ring file of it is what a dead holder left.
        if (activeRing_.load(std::memory_order_relaxed)) ::unlink(ringPath_.c_str());
        slotMap_.close();
    }
    ini_.close();
    sink_.close();
    open_ = false;
}

void LogFacility::close() {
    levelMask_.store(0, std::memory_order_relaxed);
    if (inherited()) {
        // In a child forked with the log open, the slot, the ring and the
        // files are the parent's: let go of them without closing anything
        // the parent still uses.
        if (!open_) return;
        drainThread_ = nullptr;
        slotMap_.abandon();
        sink_.close();
        open_ = false;
        return;
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (open_) closeLocked();
}

int32_t LogFacility::processCount() {
    std::lock_guard<std::mutex> guard(lock_);
    return slotMap_.processCount();
}

bool LogFacility::firstUser() const noexcept {
    std::lock_guard<std::mutex> guard(lock_);
    return slotMap_.firstUser();
}

bool LogFacility::isOpen() const noexcept {
    std::lock_guard<std::mutex> guard(lock_);
    return open_;
}

int32_t LogFacility::slot() const noexcept {
    std::lock_guard<std::mutex> guard(lock_);
    return slotMap_.slot();
}

int32_t LogFacility::fileNumber() const noexcept {
    settle();
    std::lock_guard<std::mutex> guard(lock_);
    std::lock_guard<std::mutex> drain(drainLock_);
    return sink_.state() ? sink_.state()->fileNumber : 0;
}

int32_t LogFacility::lineCount() const noexcept {
    settle();
    std::lock_guard<std::mutex> guard(lock_);
    std::lock_guard<std::mutex> drain(drainLock_);
    return sink_.state() ? sink_.state()->lineCount : 0;
}

int32_t LogFacility::maxLines() const noexcept {
    std::lock_guard<std::mutex> guard(lock_);
    return maxLines_;
}

}  // namespace kalvo::diaglog

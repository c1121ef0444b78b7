#include "diaglog/log_facility.h"

#include <cstdarg>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/format.h"
#include "platform/profile.h"
#include "platform/win_error.h"

namespace kalvo::diaglog {

namespace {

constexpr const char* kSection = "LOG";

// Room for the base path (259 bytes) and "_%02d%02d.log" with a
// three-digit slot number.
constexpr size_t kFileNameRoom = LogFacility::kBasePathRoom + 16;

}  // namespace

LogFacility::~LogFacility() {
    close();
}

bool LogFacility::open(const char* baseName, const char* iniName, const char* mapName,
                       uint32_t defaultLevel) {
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
    if (!slotMap_.open(mapName)) return false;

    const int32_t slot = slotMap_.slot();
    char key[32];
    const uint32_t level = ini_.getHex(kSection, "LOGLEVEL", defaultLevel);
    maxLines_ = ini_.getInt(kSection, "LOGMAXLINE", kDefaultMaxLines);
    tickCount_ = ini_.getInt(kSection, "LOGTICKCOUNT", 0);
    platform::format(key, sizeof key, "FILENO_%02d", slot);
    // A slot has two files; any other stored number is damage, start at 0.
    fileNumber_ = ini_.getInt(kSection, key, 0) == 1 ? 1 : 0;
    platform::format(key, sizeof key, "LOGLINE_%02d", slot);
    lineCount_ = ini_.getInt(kSection, key, 0);
    if (lineCount_ < 0) lineCount_ = 0;

    if (!openFile(LogFile::Creation::OpenAlways)) {
        const uint32_t error = platform::lastError();
        slotMap_.close();
        ini_.close();
        platform::setLastError(error);
        return false;
    }
    open_ = true;
    levelMask_.store(level, std::memory_order_relaxed);
    return true;
}

bool LogFacility::openFile(LogFile::Creation creation) noexcept {
    char name[kFileNameRoom];
    platform::format(name, sizeof name, "%s_%02d%02d.log", basePath_, slotMap_.slot(), fileNumber_);
    return file_.open(name, creation);
}

bool LogFacility::switchFiles() noexcept {
    file_.close();
    fileNumber_ = (fileNumber_ + 1) % 2;
    lineCount_ = 0;
    return openFile(LogFile::Creation::CreateAlways);
}

void LogFacility::writeLine(LogType type, const char* message) noexcept {
    if (!message) message = "";
    char line[kLineRoom];
    constexpr size_t kBodyRoom = kLineRoom - 2;  // "\r\n" always fits

    std::lock_guard<std::mutex> guard(lock_);
    if (!open_) return;
    // The limit check and the switch sit under the lock with the write, so
    // two threads never both switch, nor write into a file being switched.
    if (lineCount_ >= maxLines_) {
        if (!switchFiles()) return;
    } else if (!file_.isOpen()) {
        // An earlier switch could not create its file: try again for this
        // line rather than losing every line from then on.
        if (!openFile(LogFile::Creation::CreateAlways)) return;
    }

    stamp_.put(line);
    size_t n = LogStamp::kLength;
    if (tickCount_ != 0) {
        n += static_cast<size_t>(
            platform::format(line + n, kBodyRoom + 1 - n, "[%u] ", platform::timeGetTime()));
    }
    const std::string_view marker = logMarker(type);
    // A type without a marker has an empty view whose data may be null.
    if (!marker.empty()) std::memcpy(line + n, marker.data(), marker.size());
    n += marker.size();
    const size_t length = strnlen(message, kBodyRoom - n);
    std::memcpy(line + n, message, length);
    n += length;
    line[n++] = '\r';
    line[n++] = '\n';

    if (file_.write(line, static_cast<uint32_t>(n)) == static_cast<int32_t>(n)) ++lineCount_;
}

void LogFacility::writeFormatted(LogType type, const char* format, ...) noexcept {
    char message[kLineRoom];
    va_list args;
    va_start(args, format);
    platform::formatV(message, sizeof message, format ? format : "", args);
    va_end(args);
    writeLine(type, message);
}

void LogFacility::closeLocked() noexcept {
    if (slotMap_.isOpen()) {
        const int32_t slot = slotMap_.slot();
        char key[32];
        platform::format(key, sizeof key, "FILENO_%02d", slot);
        ini_.putInt(kSection, key, fileNumber_);
        platform::format(key, sizeof key, "LOGLINE_%02d", slot);
        ini_.putInt(kSection, key, lineCount_);
        slotMap_.close();
    }
    ini_.close();
    file_.close();
    open_ = false;
}

void LogFacility::close() {
    levelMask_.store(0, std::memory_order_relaxed);
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
    std::lock_guard<std::mutex> guard(lock_);
    return fileNumber_;
}

int32_t LogFacility::lineCount() const noexcept {
    std::lock_guard<std::mutex> guard(lock_);
    return lineCount_;
}

int32_t LogFacility::maxLines() const noexcept {
    std::lock_guard<std::mutex> guard(lock_);
    return maxLines_;
}

}  // namespace kalvo::diaglog

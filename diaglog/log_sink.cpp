#include "diaglog/log_sink.h"

#include "diaglog/profile_file.h"
#include "platform/format.h"

namespace kalvo::diaglog {

namespace {

constexpr const char* kSection = "LOG";

// Room for the base path (259 bytes) and "_%02d%02d.log" with a
// three-digit slot number.
constexpr size_t kFileNameRoom = LogSinkState::kBasePathRoom + 16;

}  // namespace

bool LogSink::openFile(LogFile::Creation creation) noexcept {
    LogSinkState& s = *state_;
    char name[kFileNameRoom];
    platform::format(name, sizeof name, "%s_%02d%02d.log", s.basePath, s.slot, s.fileNumber);
    if (!file_.open(name, creation)) return false;
    const int64_t size = creation == LogFile::Creation::CreateAlways ? 0 : file_.size();
    s.fileSize = size > 0 ? static_cast<uint64_t>(size) : 0;
    s.needsCreate = 0;
    return true;
}

bool LogSink::openCurrent() noexcept {
    if (file_.isOpen()) return true;
    return openFile(state_->needsCreate ? LogFile::Creation::CreateAlways
                                        : LogFile::Creation::OpenAlways);
}

// The state moves to the other file before that file is created, so a
// process killed in between leaves the creation to the next drainer; the
// file it truncates again then holds nothing yet.
bool LogSink::switchFiles() noexcept {
    LogSinkState& s = *state_;
    file_.close();
    s.fileNumber = (s.fileNumber + 1) % 2;
    ++s.switches;
    s.lineCount = 0;
    s.fileSize = 0;
    s.needsCreate = 1;
    return openFile(LogFile::Creation::CreateAlways);
}

// One writev of lines that all belong in the current file. Returns the lines
// that landed whole. A write cut short (a full disk, a file-size limit) would
// leave part of a line at the end of the file, where a reader takes it for a
// line: the file is cut back to the last whole line.
size_t LogSink::writeRun(const struct iovec* lines, uint64_t position, size_t count) noexcept {
    LogSinkState& s = *state_;
    size_t total = 0;
    for (size_t i = 0; i < count; ++i) total += lines[i].iov_len;
    if (position != kNoPosition) {
        s.pendingLineCount = s.lineCount;
        s.pendingSize = s.fileSize;
        s.pendingPosition = position;
    }
    const int64_t result = file_.writeLines(lines, static_cast<int>(count));
    const size_t written = result > 0 ? static_cast<size_t>(result) : 0;
    size_t whole = 0, wholeBytes = 0;
    if (written == total) {
        whole = count;
        wholeBytes = total;
    } else {
        while (whole < count && wholeBytes + lines[whole].iov_len <= written)
            wholeBytes += lines[whole++].iov_len;
        if (written > wholeBytes) {
            const int64_t size = file_.size();
            if (size >= 0) file_.truncate(size - static_cast<int64_t>(written - wholeBytes));
        }
    }
    s.fileSize += wholeBytes;
    s.lineCount += static_cast<int32_t>(whole);
    return whole;
}

void LogSink::write(const struct iovec* lines, const uint64_t* positions, size_t count, Done done,
                    void* context) noexcept {
    LogSinkState& s = *state_;
    size_t i = 0;
    while (i < count) {
        // The limit is checked before each line as it is written, so the
        // files alternate exactly as when every line was its own write.
        bool ready;
        if (s.lineCount >= s.maxLines)
            ready = switchFiles();
        else
            ready = openCurrent();
        size_t run = 0;
        if (ready) {
            size_t n = 1;
            while (i + n < count && n < kBatchLines &&
                   static_cast<int64_t>(s.lineCount) + static_cast<int64_t>(n) < s.maxLines)
                ++n;
            run = writeRun(lines + i, positions ? positions[i] : kNoPosition, n);
        }
        // A line that could not be written, even alone, is lost.
        if (run == 0) run = 1;
        if (done) done(context, run);
        s.pendingPosition = LogSinkState::kNoPending;
        i += run;
    }
}

void LogSink::countWritten(size_t bytes) noexcept {
    state_->fileSize += bytes;
    ++state_->lineCount;
}

void LogSink::putKeys() const noexcept {
    const LogSinkState& s = *state_;
    if (s.iniPath[0] == '\0' || s.slot < 0) return;
    ProfileFile ini;
    ini.setFile(s.iniPath);
    char key[32];
    platform::format(key, sizeof key, "FILENO_%02d", s.slot);
    ini.putInt(kSection, key, s.fileNumber);
    platform::format(key, sizeof key, "LOGLINE_%02d", s.slot);
    ini.putInt(kSection, key, s.lineCount);
}

}  // namespace kalvo::diaglog

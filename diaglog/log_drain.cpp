#include "diaglog/log_drain.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace kalvo::diaglog {

namespace {

// Frees a run's cells as soon as the sink is done with it, before the sink
// forgets the write it had in flight: a drainer that dies between the two
// leaves a record that no longer matches the tail, so nothing is repeated.
struct Release {
    LogRing* ring;
    const uint64_t* positions;
    size_t next;
};

void releaseRun(void* context, size_t lines) {
    auto& r = *static_cast<Release*>(context);
    r.next += lines;
    r.ring->release(r.positions[r.next - 1] + 1);
    r.ring->publish();
}

}  // namespace

size_t drainRing(LogRing& ring, LogSink& sink, LogDrainBuffer& buffer, uint64_t before,
                 bool deadWriters) noexcept {
    size_t taken = 0;
    for (;;) {
        const size_t n =
            ring.collect(buffer.lines, buffer.positions, LogSink::kBatchLines, before, deadWriters);
        if (n == 0) break;
        Release release{&ring, buffer.positions, 0};
        sink.write(buffer.lines, buffer.positions, n, &releaseRun, &release);
        taken += n;
        if (n < LogSink::kBatchLines) break;
    }
    return taken;
}

std::string logRingPath(const std::string& stem, int32_t slot) {
    return stem + ".ring" + std::to_string(slot);
}

bool drainLeftRing(const std::string& path) noexcept {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    std::unique_ptr<LogDrainBuffer> buffer(new (std::nothrow) LogDrainBuffer);
    LogRing ring;
    if (buffer && ring.openLeft(path)) {
        LogSinkState& s = ring.sink();
        LogSink sink(&s);
        // A write the dead process had in flight: the file's size tells how
        // much of it landed.
        uint64_t landed = 0;
        if (s.pendingPosition == ring.tail()) {
            s.fileSize = s.pendingSize;
            s.lineCount = s.pendingLineCount;
            const int64_t size = sink.openCurrent() ? sink.fileSize() : -1;
            if (size > 0 && static_cast<uint64_t>(size) > s.pendingSize)
                landed = static_cast<uint64_t>(size) - s.pendingSize;
        }
        s.pendingPosition = LogSinkState::kNoPending;
        while (landed > 0) {
            const size_t n = ring.collect(buffer->lines, buffer->positions, 1, ~uint64_t{0}, true);
            if (n == 0) break;
            struct iovec& line = buffer->lines[0];
            if (landed >= line.iov_len) {
                landed -= line.iov_len;
                sink.countWritten(line.iov_len);
                ring.release(buffer->positions[0] + 1);
                continue;
            }
            // Cut inside a line: the rest of it follows what is there.
            line.iov_base = static_cast<char*>(line.iov_base) + landed;
            line.iov_len -= landed;
            landed = 0;
            sink.write(&line, nullptr, 1, nullptr, nullptr);
            ring.release(buffer->positions[0] + 1);
        }
        drainRing(ring, sink, *buffer, ~uint64_t{0}, true);
        sink.close();
        sink.putKeys();
    }
    ring.unmap();
    ::unlink(path.c_str());
    return true;
}

void drainLeftRings(void*, const LogSlotMap& map) noexcept {
    const std::string& stem = map.stem();
    const size_t cut = stem.rfind('/');
    if (cut == std::string::npos) return;
    const std::string dir = stem.substr(0, cut);
    const std::string prefix = stem.substr(cut + 1) + ".ring";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    std::vector<std::string> left;
    while (const struct dirent* entry = ::readdir(d)) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0) continue;
        // Exactly the names logRingPath makes: the slot in plain decimal.
        const char* digits = entry->d_name + prefix.size();
        char* end = nullptr;
        const long slot = std::strtol(digits, &end, 10);
        if (digits[0] < '0' || digits[0] > '9' || *end != '\0' || slot >= LogSlotMap::kSlotCount ||
            std::to_string(slot) != digits)
            continue;
        if (!map.occupied(static_cast<int32_t>(slot))) left.push_back(dir + "/" + entry->d_name);
    }
    ::closedir(d);
    for (const std::string& path : left) drainLeftRing(path);
}

}  // namespace kalvo::diaglog

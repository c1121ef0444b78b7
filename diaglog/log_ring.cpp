#include "diaglog/log_ring.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/runtime_dir.h"
#include "platform/win_error.h"

namespace kalvo::diaglog {

struct LogRingHeader {
    uint64_t magic;  // "KVLOGRNG", written last
    uint32_t version;
    uint32_t cellCount;
    uint32_t cellSize;
    uint32_t headerSize;
    // Writers share the head; the drainer owns the tail: apart, so that the
    // two sides do not pull one cache line to and fro.
    alignas(64) uint64_t head;  // bit 63: closed to writers
    uint64_t dropped;
    alignas(64) uint64_t tail;
    // File number (bit 63), switches (bits 48-62) and size of the whole lines
    // written (bits 0-47), in one word so that a reader sees them together.
    uint64_t progress;
    alignas(64) LogSinkState sink;
};

struct LogRingCell {
    // Relative to the cell's index i, for position p = lap + i: lap means
    // free for p, lap + 1 filled with p's line, lap + kCellCount drained
    // (free for the next lap).
    uint64_t sequence;
    uint32_t length;
    uint32_t reserved;
    char text[LogRing::kCellText];
};

namespace {

constexpr uint64_t kMagic = 0x474E52474F4C564Bull;  // "KVLOGRNG" in file order
constexpr uint32_t kVersion = 1;
constexpr uint64_t kClosed = uint64_t{1} << 63;
constexpr uint64_t kIndexMask = LogRing::kCellCount - 1;
constexpr size_t kPage = 4096;
constexpr size_t kHeaderSize = (sizeof(LogRingHeader) + kPage - 1) / kPage * kPage;
constexpr size_t kFileLength = kHeaderSize + size_t{LogRing::kCellCount} * sizeof(LogRingCell);

static_assert((LogRing::kCellCount & kIndexMask) == 0, "a power of two");

template <typename T>
std::atomic_ref<T> atomic(T& value) {
    return std::atomic_ref<T>(value);
}

// The sequence a cell holds for a state of position p (see LogRingCell).
constexpr uint64_t lapOf(uint64_t position) {
    return position & ~kIndexMask;
}

}  // namespace

LogRing::~LogRing() {
    unmap();
}

LogRingHeader* LogRing::header() const noexcept {
    return static_cast<LogRingHeader*>(base_);
}

LogRingCell* LogRing::cell(uint64_t position) const noexcept {
    return reinterpret_cast<LogRingCell*>(static_cast<char*>(base_) + kHeaderSize) +
           (position & kIndexMask);
}

LogSinkState& LogRing::sink() noexcept {
    return header()->sink;
}

void LogRing::unmap() noexcept {
    if (base_) ::munmap(base_, length_);
    base_ = nullptr;
    length_ = 0;
}

bool LogRing::create(const std::string& path, const LogSinkState& state) noexcept {
    unmap();
    // Open to every member in a group namespace (a member's next load drains
    // the ring of a killed member's process), private anywhere else.
    const size_t slash = path.rfind('/');
    const int fd = slash == std::string::npos
                       ? -1
                       : platform::openNamespaceFile(path.substr(0, slash), path.substr(slash + 1));
    if (fd < 0 || ::ftruncate(fd, 0) != 0) {
        if (fd >= 0) ::close(fd);
        platform::setLastError(platform::win32ErrorFromErrno(errno));
        return false;
    }
    void* base = MAP_FAILED;
    if (::ftruncate(fd, static_cast<off_t>(kFileLength)) == 0)
        base = ::mmap(nullptr, kFileLength, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const int error = errno;
    ::close(fd);
    if (base == MAP_FAILED) {
        ::unlink(path.c_str());
        platform::setLastError(platform::win32ErrorFromErrno(error));
        return false;
    }
    base_ = base;
    length_ = kFileLength;
    LogRingHeader& h = *header();
    h.version = kVersion;
    h.cellCount = kCellCount;
    h.cellSize = sizeof(LogRingCell);
    h.headerSize = kHeaderSize;
    h.sink = state;
    publish();
    // The magic last: a ring whose creator died before this point is no ring.
    atomic(h.magic).store(kMagic, std::memory_order_release);
    return true;
}

bool LogRing::openLeft(const std::string& path) noexcept {
    unmap();
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    struct stat st {};
    void* base = MAP_FAILED;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<uint64_t>(st.st_size) == kFileLength)
        base = ::mmap(nullptr, kFileLength, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (base == MAP_FAILED) return false;
    base_ = base;
    length_ = kFileLength;
    LogRingHeader& h = *header();
    const uint64_t head = h.head & ~kClosed;
    if (atomic(h.magic).load(std::memory_order_acquire) != kMagic || h.version != kVersion ||
        h.cellCount != kCellCount || h.cellSize != sizeof(LogRingCell) ||
        h.headerSize != kHeaderSize || h.tail > head || head - h.tail > kCellCount) {
        unmap();
        return false;
    }
    // What the file says about the slot's files is trusted only as far as
    // it names them sanely.
    LogSinkState& s = h.sink;
    s.basePath[sizeof s.basePath - 1] = '\0';
    s.iniPath[sizeof s.iniPath - 1] = '\0';
    if (s.slot < 0 || s.slot > 255 || s.basePath[0] == '\0') {
        unmap();
        return false;
    }
    if (s.fileNumber != 1) s.fileNumber = 0;
    if (s.lineCount < 0) s.lineCount = 0;
    return true;
}

bool LogRing::push(const char* text, uint32_t length) noexcept {
    LogRingHeader& h = *header();
    auto head = atomic(h.head);
    uint64_t position = head.load(std::memory_order_relaxed);
    LogRingCell* c;
    for (;;) {
        if (position & kClosed) return refuse();
        c = cell(position);
        const uint64_t sequence = atomic(c->sequence).load(std::memory_order_acquire);
        const int64_t lead = static_cast<int64_t>(sequence - lapOf(position));
        // The cell still holds a line of the last lap: the ring is full.
        if (lead < 0) return refuse();
        if (lead > 0)
            position = head.load(std::memory_order_relaxed);  // claimed by another writer
        else if (head.compare_exchange_weak(position, position + 1, std::memory_order_relaxed))
            break;
    }
    if (length > kCellText) length = kCellText;
    c->length = length;
    std::memcpy(c->text, text, length);
    // Sequentially consistent: the writer then looks whether the drainer
    // sleeps, and the drainer looks at this cell after saying it does.
    atomic(c->sequence).exchange(lapOf(position) + 1, std::memory_order_seq_cst);
    return true;
}

bool LogRing::refuse() noexcept {
    atomic(header()->dropped).fetch_add(1, std::memory_order_relaxed);
    return false;
}

void LogRing::closeToWriters() noexcept {
    atomic(header()->head).fetch_or(kClosed, std::memory_order_acq_rel);
}

uint64_t LogRing::dropped() const noexcept {
    return atomic(header()->dropped).load(std::memory_order_relaxed);
}

uint64_t LogRing::head() const noexcept {
    return atomic(header()->head).load(std::memory_order_acquire) & ~kClosed;
}

uint64_t LogRing::tail() const noexcept {
    return atomic(header()->tail).load(std::memory_order_acquire);
}

bool LogRing::readyToDrain() const noexcept {
    const uint64_t position = tail();
    return atomic(cell(position)->sequence).load(std::memory_order_seq_cst) == lapOf(position) + 1;
}

size_t LogRing::collect(struct iovec* lines, uint64_t* positions, size_t max, uint64_t before,
                        bool deadWriters) noexcept {
    const uint64_t end = head() < before ? head() : before;
    size_t n = 0;
    for (uint64_t position = tail(); n < max && position < end; ++position) {
        LogRingCell* c = cell(position);
        if (atomic(c->sequence).load(std::memory_order_acquire) != lapOf(position) + 1) {
            if (deadWriters) continue;  // claimed, never filled: its call did not return
            break;
        }
        const uint32_t length = c->length < kCellText ? c->length : kCellText;
        if (length == 0) continue;
        lines[n].iov_base = c->text;
        lines[n].iov_len = length;
        positions[n++] = position;
    }
    return n;
}

void LogRing::publish() noexcept {
    const LogSinkState& s = header()->sink;
    const uint64_t word = (uint64_t{s.fileNumber != 0} << 63) |
                          (uint64_t{s.switches & 0x7FFFu} << 48) |
                          (s.fileSize & ((uint64_t{1} << 48) - 1));
    atomic(header()->progress).store(word, std::memory_order_release);
}

bool LogRing::progress(const std::string& path, LogRingProgress& out) noexcept {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    void* base = ::mmap(nullptr, kHeaderSize, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (base == MAP_FAILED) return false;
    auto* h = static_cast<LogRingHeader*>(base);
    const bool valid = atomic(h->magic).load(std::memory_order_acquire) == kMagic;
    const uint64_t word = atomic(h->progress).load(std::memory_order_acquire);
    ::munmap(base, kHeaderSize);
    out.fileNumber = static_cast<int32_t>(word >> 63);
    out.switches = static_cast<uint32_t>(word >> 48) & 0x7FFFu;
    out.fileSize = word & ((uint64_t{1} << 48) - 1);
    return valid;
}

void LogRing::release(uint64_t end) noexcept {
    const uint64_t from = tail();
    for (uint64_t position = from; position < end; ++position)
        atomic(cell(position)->sequence)
            .store(lapOf(position) + kCellCount, std::memory_order_release);
    atomic(header()->tail).store(end, std::memory_order_release);
}

}  // namespace kalvo::diaglog

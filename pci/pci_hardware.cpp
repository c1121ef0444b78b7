#include "pci/pci_hardware.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kalvo::pci {
namespace {

namespace fs = std::filesystem;

// What a person can do about a sysfs file the host may not use.
constexpr const char* kPermissionHint =
    "run the host as a member of group kalvo or install the udev rules that give that group "
    "the board's files";

// The descriptor of a window file, closed when the last copy of the window
// that refers to it is gone.
struct WindowFile {
    int fd;
    explicit WindowFile(int f) : fd(f) {}
    ~WindowFile() {
        if (fd >= 0) ::close(fd);
    }
    WindowFile(const WindowFile&) = delete;
    WindowFile& operator=(const WindowFile&) = delete;
};

// A small sysfs attribute whole; false with errno set when it cannot be read.
bool readFile(const fs::path& path, std::string* text) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    text->clear();
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return false;
        }
        if (n == 0) break;
        text->append(buffer, static_cast<size_t>(n));
        if (text->size() > (1u << 20)) break;  // no sysfs attribute is this long
    }
    ::close(fd);
    return true;
}

// "0x4b56\n" as a 16-bit ID.
bool parseId(const std::string& text, uint16_t* id) {
    std::string_view t(text);
    while (!t.empty() && (t.back() == '\n' || t.back() == ' ')) t.remove_suffix(1);
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t.remove_prefix(2);
    if (t.empty() || t.size() > 4) return false;
    uint32_t v = 0;
    for (char c : t) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) return false;
        v = v << 4 | static_cast<uint32_t>(digit);
    }
    *id = static_cast<uint16_t>(v);
    return true;
}

// What tells a board in a slot from another one put in there later: the
// kernel makes new sysfs files for a device it adds (a new inode for its
// resource table), and a board put back may sit at other bus addresses. The
// table's text carries the addresses; "" when it cannot be read.
std::string boardIdentity(const fs::path& folder, const std::string& table) {
    struct stat st {};
    if (::stat((folder / "resource").c_str(), &st) != 0) return {};
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + " " + table;
}

std::string hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

}  // namespace

struct PciHardware::Board {
    kernel::BoardDescription description;
    std::vector<kernel::MemoryWindow> windows;
};

std::string pciLocation(const std::string& address) {
    return "pci-" + address;
}

std::unique_ptr<PciHardware> PciHardware::create(const fs::path& root, Reporter reporter,
                                                 std::string* error) {
    const fs::path devices = root / "bus" / "pci" / "devices";
    std::error_code ec;
    fs::directory_iterator probe(devices, ec);
    if (ec) {
        *error = "the PCI device folder " + devices.string() + " cannot be read (" + ec.message() +
                 "); give the sysfs root with --sysfs-root (default /sys)";
        return nullptr;
    }
    return std::unique_ptr<PciHardware>(new PciHardware(devices, std::move(reporter)));
}

PciHardware::PciHardware(fs::path devices, Reporter reporter)
    : devices_(std::move(devices)), reporter_(std::move(reporter)) {}

PciHardware::~PciHardware() = default;

void PciHardware::report(const std::string& message) const {
    if (reporter_) reporter_(message);
}

void PciHardware::reportOnce(const std::string& location, const std::string& message) {
    if (leftOut_.insert(location).second) report(message);
}

void PciHardware::setDrivers(std::vector<DriverMatch> drivers) {
    {
        std::lock_guard lock(mutex_);
        drivers_ = std::move(drivers);
    }
    rescan();
    std::lock_guard lock(mutex_);
    for (const DriverMatch& driver : drivers_) {
        const bool found = std::any_of(boards_.begin(), boards_.end(), [&](const auto& board) {
            return board->description.kind == driver.kind;
        });
        if (!found)
            report("no PCI device with vendor " + hex4(driver.vendorId) + " and device " +
                   hex4(driver.deviceId) + " (the VendorID and DeviceID of driver " +
                   driver.service + ") in " + devices_.string() +
                   ": the driver serves no board. Is the board seated and listed by the system "
                   "(its folder there has those vendor and device files), and are the IDs in "
                   "the driver's registry parameters right?");
    }
}

std::vector<kernel::BoardDescription> PciHardware::boards() const {
    std::lock_guard lock(mutex_);
    std::vector<kernel::BoardDescription> list;
    for (const auto& board : boards_) list.push_back(board->description);
    return list;
}

std::vector<kernel::MemoryWindow> PciHardware::windows() const {
    std::lock_guard lock(mutex_);
    std::vector<kernel::MemoryWindow> list;
    for (const auto& board : boards_)
        list.insert(list.end(), board->windows.begin(), board->windows.end());
    return list;
}

bool PciHardware::rescan() {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    fs::directory_iterator it(devices_, ec);
    if (ec) {
        if (!folderUnreadable_)
            report("the PCI device folder " + devices_.string() + " cannot be read (" +
                   ec.message() + "); the boards stay as they were until it can");
        folderUnreadable_ = true;
        return false;
    }
    folderUnreadable_ = false;
    std::vector<std::unique_ptr<Board>> next;
    std::set<std::string> seen;
    bool changed = false;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        const fs::path folder = it->path();
        std::string text;
        uint16_t vendor = 0, device = 0;
        if (!readFile(folder / "vendor", &text) || !parseId(text, &vendor)) continue;
        if (!readFile(folder / "device", &text) || !parseId(text, &device)) continue;
        auto driver = std::find_if(drivers_.begin(), drivers_.end(), [&](const DriverMatch& d) {
            return d.vendorId == vendor && d.deviceId == device;
        });
        if (driver == drivers_.end()) continue;
        const std::string location = pciLocation(folder.filename().string());
        seen.insert(location);
        auto known = std::find_if(boards_.begin(), boards_.end(), [&](const auto& board) {
            return board && board->description.location == location;
        });
        if (known != boards_.end()) {
            // The same board, unless another one took its place since the
            // last look (it is then read as a new board, and the old one is
            // gone with its windows).
            std::string table;
            readFile(folder / "resource", &table);
            if ((*known)->description.identity == boardIdentity(folder, table)) {
                next.push_back(std::move(*known));
                continue;
            }
        }
        if (auto board = readBoard(folder, *driver)) {
            next.push_back(std::move(board));
            changed = true;
        }
    }
    if (ec) report("reading " + devices_.string() + " stopped early (" + ec.message() + ")");
    for (const auto& board : boards_)
        if (board) changed = true;  // not seen again: pulled
    std::erase_if(leftOut_, [&](const std::string& location) { return !seen.count(location); });
    // The same order at every scan, whatever order the folder lists.
    std::sort(next.begin(), next.end(), [](const auto& a, const auto& b) {
        return a->description.location < b->description.location;
    });
    boards_ = std::move(next);
    return changed;
}

std::unique_ptr<PciHardware::Board> PciHardware::readBoard(const fs::path& folder,
                                                           const DriverMatch& driver) {
    auto board = std::make_unique<Board>();
    board->description.kind = driver.kind;
    board->description.location = pciLocation(folder.filename().string());
    board->description.vendorId = driver.vendorId;
    board->description.deviceId = driver.deviceId;
    const std::string& name = board->description.location;

    const fs::path table = folder / "resource";
    std::string text, why;
    if (!readFile(table, &text)) {
        reportOnce(name,
                   "board " + name + ": cannot read " + table.string() + " (" +
                       std::strerror(errno) +
                       "); the board is left out. Is it a PCI device folder of this machine?");
        return nullptr;
    }
    auto lines = parseResourceTable(text, &why);
    if (!lines) {
        reportOnce(name, "board " + name + ": " + table.string() + ": " + why +
                             "; the board is left out. Is it a PCI device folder of this machine?");
        return nullptr;
    }
    board->description.identity = boardIdentity(folder, text);
    std::string skipped;
    board->description.resources = barDescriptors(*lines, &skipped);
    if (!skipped.empty())
        report("board " + name + ": " + table.string() + ": " + skipped +
               ", which a resource descriptor cannot carry; that range is left out");

    // A device the system has not enabled answers no memory cycles.
    const fs::path enable = folder / "enable";
    if (readFile(enable, &text) && !text.empty() && text[0] == '0') {
        // As "echo 1 > enable" writes it. The kernel's attribute is a plain
        // file: a symlink in its place is not followed to whatever it names
        // (nor is anything truncated on the way).
        int fd = ::open(enable.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 || ::write(fd, "1", 1) != 1) {
            report("board " + name + ": cannot enable the device through " + enable.string() +
                   " (" + std::strerror(errno) + "); " + kPermissionHint);
        }
        if (fd >= 0) ::close(fd);
    }
    openWindows(*board, folder, *lines);
    return board;
}

void PciHardware::openWindows(Board& board, const fs::path& folder,
                              const std::vector<ResourceLine>& lines) const {
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    const std::string& name = board.description.location;
    for (const ResourceLine& line : lines) {
        if (line.index >= kBarCount || line.empty() || !line.isMemory()) continue;
        if (line.end - line.start >= UINT32_MAX) continue;  // not a descriptor either
        const fs::path file = folder / ("resource" + std::to_string(line.index));
        const std::string lost = "; the driver cannot map the board's window " +
                                 std::to_string(line.index) + " and will not start the board";
        if (line.start % page != 0) {
            // Mapped from the start of its page, the window would hand every
            // client the bytes in front of it, another device's registers
            // perhaps: only whole pages of this device are mapped.
            char where[64];
            std::snprintf(where, sizeof where, "0x%llx",
                          static_cast<unsigned long long>(line.start));
            report("board " + name + ": BAR " + std::to_string(line.index) + " starts at " + where +
                   ", not on a page boundary, so its page holds bytes of other devices; it is "
                   "not mapped" +
                   lost +
                   "; the system's PCI resource alignment (pci=resource_alignment) can "
                   "give it a page of its own");
            continue;
        }
        // A failed open or mmap: what failed, with the errno's text, and
        // what to look at (permission, else the given hint).
        auto refused = [&](const char* what, const char* otherwise) {
            const int err = errno;
            report("board " + name + ": cannot " + what + " " + file.string() + " (" +
                   std::strerror(err) + ")" + lost + "; " +
                   (err == EACCES || err == EPERM ? kPermissionHint : otherwise));
        };
        // The kernel makes its resource files plain files: a symlink in
        // their place would map whatever it names into every client.
        int fd = ::open(file.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            refused("open", errno == ELOOP ? "it is a symbolic link, not the device's own file"
                                           : "is the device's driver in the way?");
            continue;
        }
        auto owner = std::make_shared<WindowFile>(fd);
        // The file maps the BAR from the start of its first page.
        const uint64_t busStart = line.start & ~(page - 1);
        const uint64_t length = line.end + 1 - busStart;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_size) < line.length()) {
            report("board " + name + ": " + file.string() + " holds " +
                   std::to_string(static_cast<long long>(st.st_size)) +
                   " bytes, less than its range (" + std::to_string(line.length()) + " bytes)" +
                   lost + "; is it the device's own resource file?");
            continue;
        }
        const size_t span = static_cast<size_t>((length + page - 1) & ~(page - 1));
        void* probe = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (probe == MAP_FAILED) {
            refused("map", "is the range claimed by another driver?");
            continue;
        }
        ::munmap(probe, span);
        board.windows.push_back(kernel::MemoryWindow{busStart, length, fd, 0, owner});
    }
}

}  // namespace kalvo::pci

#include "host/admin_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <sstream>
#include <vector>

#include "driver/requests/request_codes.h"
#include "host/admin_access.h"
#include "host/admin_channel.h"
#include "host/hot_plug.h"
#include "kernel/completion_record.h"
#include "kernel/error_log.h"
#include "kernel/hardware_provider.h"
#include "kernel/kernel.h"
#include "kernel/pnp_manager.h"
#include "platform/status_names.h"

namespace kalvo::kernel::host {

namespace {

constexpr size_t kMaxRequest = 8192;
constexpr uint32_t kMaxTransfer = 0x10000;

std::string hex32(NTSTATUS status) {
    return platform::ntStatusText(status);
}

std::string statusAnswer(NTSTATUS status) {
    return NT_SUCCESS(status) ? "OK\n" : "ERROR status " + hex32(status) + "\n";
}

bool parseNumber(const std::string& text, uint64_t* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != 0 || text[0] == '-') return false;
    *value = v;
    return true;
}

const BoardDescription* findBoard(const std::vector<BoardDescription>& boards,
                                  const std::string& location) {
    for (auto& b : boards)
        if (b.location == location) return &b;
    return nullptr;
}

// The index-th memory range of a board (0: the first one the bus reports).
const ResourceDescriptor* memoryWindow(const BoardDescription& board, uint64_t index) {
    for (auto& r : board.resources)
        if (r.type == ResourceDescriptor::Memory && index-- == 0) return &r;
    return nullptr;
}

}  // namespace

AdminServer::AdminServer(Kernel& kernel, PnpManager& pnp, HardwareProvider& hardware,
                         std::function<void()> requestShutdown)
    : kernel_(kernel),
      pnp_(pnp),
      hardware_(hardware),
      requestShutdown_(std::move(requestShutdown)) {}

AdminServer::~AdminServer() {
    stop();
}

bool AdminServer::start(const std::string& directory, std::string* error) {
    path_ = adminSocketPath(directory);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path) {
        *error = "socket path too long: " + path_;
        return false;
    }
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    listen_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_ < 0) {
        *error = std::strerror(errno);
        return false;
    }
    if (!policy_) policy_ = transport::AccessPolicy::forFolder(directory);
    // The device socket is already ours (its listener refuses a folder that
    // a live host serves), so an admin socket left here is stale.
    unlink(path_.c_str());
    // Connecting takes write permission on the socket: the group's, as on
    // the device socket, whatever the umask.
    if (bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        chmod(path_.c_str(), 0660) != 0 || listen(listen_, 8) != 0 ||
        pipe2(wake_, O_CLOEXEC) != 0) {
        *error = path_ + ": " + std::strerror(errno);
        close(listen_);
        listen_ = -1;
        return false;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void AdminServer::stop() {
    if (thread_.joinable()) {
        char c = 0;
        ssize_t n = write(wake_[1], &c, 1);
        (void)n;
        thread_.join();
    }
    if (listen_ >= 0) {
        close(listen_);
        unlink(path_.c_str());
        listen_ = -1;
    }
    for (int& fd : wake_) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

void AdminServer::run() {
    for (;;) {
        pollfd fds[2] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        int sock = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (sock < 0) continue;
        transport::Peer peer;
        const bool known = transport::readPeer(sock, &peer);
        const bool allowed = known && policy_->mayUse(peer);
        // A slow or silent client must not hold the host's admin thread.
        timeval timeout{5, 0};
        setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        std::string request;
        char buffer[1024];
        while (allowed && request.size() < kMaxRequest && request.find('\n') == std::string::npos) {
            ssize_t n = recv(sock, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            request.append(buffer, size_t(n));
        }
        std::string answer;
        if (!allowed)
            answer = "ERROR permission denied: " +
                     (known ? policy_->useRefusal(peer) : std::string("no credentials")) + "\n";
        else if (request.size() >= kMaxRequest)
            answer = "ERROR request too long\n";
        else
            answer = handleFrom(peer, request.substr(0, request.find('\n')));
        for (size_t sent = 0; sent < answer.size();) {
            ssize_t n = send(sock, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += size_t(n);
        }
        close(sock);
    }
}

using Words = std::vector<std::string>;

// The requests of the admin channel, one small handler each; the table
// below holds each with the number of words it takes (the verb included).
struct AdminHandlers {
    static std::string ping(AdminServer&, const Words&) { return "OK\n"; }

    static std::string sim(AdminServer& server, const Words& words) {
        if (!server.simHandler_) return "ERROR this host runs no simulated network\n";
        std::string answer = server.simHandler_(words);
        if (answer.empty() || answer.back() != '\n') answer += "\n";
        return answer;
    }

    // shutdown [force]: programs that hold devices would lose them with no
    // word of warning; without force they are named and nothing happens.
    static std::string shutdown(AdminServer& server, const Words& words) {
        const bool force = words.size() == 2 && words[1] == "force";
        if (words.size() == 2 && !force) return "ERROR shutdown takes only the word force\n";
        if (!force && server.holders_) {
            const std::vector<std::string> holders = server.holders_();
            if (!holders.empty()) {
                std::string names;
                for (const std::string& h : holders) names += (names.empty() ? "" : "; ") + h;
                return "ERROR programs hold devices of this host: " + names +
                       ". Their calls fail once it stops: end them first, or stop with --force\n";
            }
        }
        server.requestShutdown_();
        return "OK\n";
    }

    static std::string list(AdminServer& server, const Words&) {
        std::string out = "OK\n";
        char line[512];
        std::snprintf(line, sizeof line, "%-20s %-11s %-11s %-20s %-18s %-5s %s\n", "LOCATION",
                      "KIND", "DRIVER", "DEVICE", "LINK", "POWER", "STATE");
        out += line;
        for (const DeviceInfo& d : server.pnp_.devices()) {
            std::string links;
            for (auto& l : d.links) links += (links.empty() ? "" : ",") + l;
            std::string state = pnpStateName(d.state);
            if (d.state == PnpState::StartFailed || d.state == PnpState::AddDeviceFailed)
                state += ": " + hex32(d.lastStatus);
            // The device power state as its driver reported it; "-" for a
            // board without a device.
            std::string power = d.deviceName.empty() ? "-" : devicePowerName(d.devicePower);
            std::snprintf(line, sizeof line, "%-20s %-11s %-11s %-20s %-18s %-5s %s\n",
                          d.location.c_str(), d.kind.c_str(),
                          d.service.empty() ? "-" : d.service.c_str(),
                          d.deviceName.empty() ? "-" : d.deviceName.c_str(),
                          links.empty() ? "-" : links.c_str(), power.c_str(), state.c_str());
            out += line;
        }
        return out;
    }

    static std::string handles(AdminServer& server, const Words&) {
        if (!server.handlesReport_) return "ERROR this host reports no handles\n";
        return "OK\n" + server.handlesReport_();
    }

    static std::string log(AdminServer& server, const Words&) {
        std::string out = "OK\n";
        for (const ErrorLogEntry& e : server.kernel_.errorLog().entries())
            out += ErrorLog::format(e) + "\n";
        return out;
    }

    static std::string stop(AdminServer& server, const Words& words) {
        return statusAnswer(server.pnp_.stop(words[1]));
    }

    static std::string queryStop(AdminServer& server, const Words& words) {
        NTSTATUS status = server.pnp_.queryStop(words[1]);
        if (status == STATUS_INVALID_DEVICE_STATE)
            return "ERROR the device at " + words[1] +
                   " is not started or its stop is already queried (status " + hex32(status) +
                   "; see kalvo-devctl list, then pnp-stop or cancel-stop)\n";
        return statusAnswer(status);
    }

    static std::string cancelStop(AdminServer& server, const Words& words) {
        NTSTATUS status = server.pnp_.cancelStop(words[1]);
        if (status == STATUS_INVALID_DEVICE_STATE)
            return "ERROR no stop is queried for the device at " + words[1] + " (status " +
                   hex32(status) + "; query-stop first)\n";
        return statusAnswer(status);
    }

    // requests [location]: the completion record of client requests, of
    // every device or of the one at location, oldest first.
    static std::string requests(AdminServer& server, const Words& words) {
        std::map<std::string, std::string> locations;  // device name -> location
        for (const DeviceInfo& d : server.pnp_.devices())
            if (!d.deviceName.empty()) locations[d.deviceName] = d.location;
        std::string device;
        if (words.size() > 1) {
            for (auto& [name, location] : locations)
                if (location == words[1]) device = name;
            if (device.empty())
                return "ERROR no device at " + words[1] + " (see kalvo-devctl list)\n";
        }
        std::string out = "OK\n";
        char line[512];
        std::snprintf(line, sizeof line, "%-6s %-12s %-20s %-7s %-22s %-22s %-30s %-6s %s\n", "SEQ",
                      "TIME", "LOCATION", "PID", "FUNCTION", "CONTROL", "STATUS", "BYTES", "HOW");
        out += line;
        for (const CompletionRow& row : completionRows(device)) {
            auto found = locations.find(row.device);
            std::string where = found != locations.end() ? found->second : row.device;
            std::string control = "-";
            if (row.major == IRP_MJ_DEVICE_CONTROL) {
                const char* name = kalvo::requests::requestName(row.code);
                if (name) {
                    control = name;
                } else {
                    char code[16];
                    std::snprintf(code, sizeof code, "0x%08X", unsigned(row.code));
                    control = code;
                }
            }
            // One column: the status's name and value without a blank.
            const char* statusName = platform::ntStatusName(row.status);
            char status[80];
            std::snprintf(status, sizeof status, "%s(0x%08X)", statusName ? statusName : "NTSTATUS",
                          unsigned(row.status));
            time_t seconds = time_t(row.timeMs / 1000);
            tm local{};
            localtime_r(&seconds, &local);
            char when[16];
            std::snprintf(when, sizeof when, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                          local.tm_sec, int(row.timeMs % 1000));
            std::snprintf(line, sizeof line,
                          "%-6llu %-12s %-20s %-7u %-22s %-22s %-30s %-6llu %s\n",
                          static_cast<unsigned long long>(row.sequence), when, where.c_str(),
                          unsigned(row.pid), majorFunctionName(row.major), control.c_str(), status,
                          static_cast<unsigned long long>(row.bytes), completionKindName(row.kind));
            out += line;
        }
        return out;
    }

    static std::string remove(AdminServer& server, const Words& words) {
        const NTSTATUS status = server.pnp_.remove(words[1]);
        // The driver waits for the device's handles: the host goes on, and
        // so does the caller.
        if (status == STATUS_PENDING)
            return "OK\nremoval of " + words[1] + " pending until the last handle closes\n";
        return statusAnswer(status);
    }

    static std::string surprise(AdminServer& server, const Words& words) {
        return statusAnswer(server.pnp_.surpriseRemove(words[1]));
    }

    // rescan: boards plugged in or pulled since the last look.
    static std::string rescan(AdminServer& server, const Words&) {
        return "OK\n" + rescanBoards(server.hardware_, server.pnp_);
    }

    static std::string start(AdminServer& server, const Words& words) {
        auto boards = server.hardware_.boards();
        const BoardDescription* board = findBoard(boards, words[1]);
        if (!board) return "ERROR no board at " + words[1] + "\n";
        if (words.size() == 2) return statusAnswer(server.pnp_.start(words[1]));
        std::vector<ResourceDescriptor> resources = board->resources;
        if (words[2] == "one-memory-range") {
            // Only the first memory range is reported.
            bool seen = false;
            std::vector<ResourceDescriptor> kept;
            for (auto& r : resources) {
                if (r.type == ResourceDescriptor::Memory) {
                    if (seen) continue;
                    seen = true;
                }
                kept.push_back(r);
            }
            resources = kept;
        } else if (words[2] == "fail-map") {
            // The last memory range moves to bus addresses that nothing
            // backs, so that mapping it fails.
            ResourceDescriptor* last = nullptr;
            for (auto& r : resources)
                if (r.type == ResourceDescriptor::Memory) last = &r;
            if (!last) return "ERROR the board has no memory range\n";
            uint64_t end = 0;
            for (const MemoryWindow& window : server.hardware_.windows())
                end = std::max(end, window.busStart + window.length);
            last->start = (end + 0x1000000) & ~uint64_t(0xFFFF);
        } else {
            return "ERROR unknown fault " + words[2] + " (one-memory-range or fail-map)\n";
        }
        return statusAnswer(server.pnp_.start(words[1], resources));
    }

    // power <S0..S5> [location]: a system power state for every started
    // device, or for one.
    static std::string power(AdminServer& server, const Words& words) {
        const std::string& s = words[1];
        if (s.size() != 2 || (s[0] != 'S' && s[0] != 's') || s[1] < '0' || s[1] > '5')
            return "ERROR power state " + s + " is not one of S0 to S5\n";
        std::string location = words.size() > 2 ? words[2] : std::string();
        if (!location.empty() && !findBoard(server.hardware_.boards(), location))
            return "ERROR no board at " + location + " (see kalvo-devctl list)\n";
        return statusAnswer(server.pnp_.setSystemPower(
            SYSTEM_POWER_STATE(PowerSystemWorking + (s[1] - '0')), location));
    }

    // device-power <location> <D0..D3>: a device power state for one device.
    static std::string devicePower(AdminServer& server, const Words& words) {
        const std::string& d = words[2];
        if (d.size() != 2 || (d[0] != 'D' && d[0] != 'd') || d[1] < '0' || d[1] > '3')
            return "ERROR device power state " + d + " is not one of D0 to D3\n";
        if (!findBoard(server.hardware_.boards(), words[1]))
            return "ERROR no board at " + words[1] + " (see kalvo-devctl list)\n";
        return statusAnswer(
            server.pnp_.setDevicePower(words[1], DEVICE_POWER_STATE(PowerDeviceD0 + (d[1] - '0'))));
    }

    // read and write: a board's memory range by its index among the ranges.
    static std::string window(AdminServer& server, const Words& words) {
        const bool read = words[0] == "read";
        auto boards = server.hardware_.boards();
        const BoardDescription* board = findBoard(boards, words[1]);
        if (!board) return "ERROR no board at " + words[1] + "\n";
        uint64_t index, offset, length = 0;
        if (!parseNumber(words[2], &index) || !parseNumber(words[3], &offset))
            return "ERROR window and offset must be numbers\n";
        const ResourceDescriptor* window = memoryWindow(*board, index);
        if (!window) return "ERROR the board has no memory window " + words[2] + "\n";
        std::vector<uint8_t> bytes;
        if (read) {
            if (!parseNumber(words[4], &length) || length == 0 || length > kMaxTransfer)
                return "ERROR length must be 1 to 65536\n";
        } else {
            const std::string& hex = words[4];
            if (hex.size() % 2 || hex.size() / 2 > kMaxTransfer) return "ERROR bad hex bytes\n";
            for (size_t i = 0; i < hex.size(); i += 2) {
                uint64_t b;
                if (!parseNumber("0x" + hex.substr(i, 2), &b)) return "ERROR bad hex bytes\n";
                bytes.push_back(uint8_t(b));
            }
            length = bytes.size();
        }
        if (offset > window->length || length > window->length - offset)
            return "ERROR beyond the window (length " + std::to_string(window->length) + ")\n";
        auto* p = static_cast<volatile uint8_t*>(
            server.hardware_.mapIoSpace(window->start + offset, length));
        if (!p) return "ERROR the window cannot be mapped\n";
        std::string out = "OK\n";
        if (read) {
            char text[8];
            for (uint64_t i = 0; i < length; ++i) {
                if (i % 16 == 0) {
                    char address[24];
                    std::snprintf(address, sizeof address, "%s%06llx:", i ? "\n" : "",
                                  static_cast<unsigned long long>(offset + i));
                    out += address;
                }
                std::snprintf(text, sizeof text, " %02x", unsigned(p[i]));
                out += text;
            }
            out += "\n";
        } else {
            for (uint64_t i = 0; i < length; ++i) p[i] = bytes[i];
        }
        server.hardware_.unmapIoSpace(const_cast<uint8_t*>(p), length);
        return out;
    }
};

namespace {

struct AdminRequest {
    const char* verb;
    size_t minWords, maxWords;  // with the verb; SIZE_MAX: any number
    std::string (*handle)(AdminServer&, const Words&);
};

constexpr AdminRequest kAdminRequests[] = {
    {"ping", 1, 1, &AdminHandlers::ping},
    {"sim", 1, SIZE_MAX, &AdminHandlers::sim},
    {"shutdown", 1, 2, &AdminHandlers::shutdown},
    {"list", 1, 1, &AdminHandlers::list},
    {"log", 1, 1, &AdminHandlers::log},
    {"stop", 2, 2, &AdminHandlers::stop},
    {"query-stop", 2, 2, &AdminHandlers::queryStop},
    {"cancel-stop", 2, 2, &AdminHandlers::cancelStop},
    {"requests", 1, 2, &AdminHandlers::requests},
    {"remove", 2, 2, &AdminHandlers::remove},
    {"surprise", 2, 2, &AdminHandlers::surprise},
    {"rescan", 1, 1, &AdminHandlers::rescan},
    {"start", 2, 3, &AdminHandlers::start},
    {"power", 2, 3, &AdminHandlers::power},
    {"device-power", 3, 3, &AdminHandlers::devicePower},
    {"read", 5, 5, &AdminHandlers::window},
    {"write", 5, 5, &AdminHandlers::window},
    {"handles", 1, 1, &AdminHandlers::handles},
};

}  // namespace

std::string AdminServer::handleFrom(const transport::Peer& peer, const std::string& request) {
    std::istringstream in(request);
    Words words;
    for (std::string w; in >> w;) words.push_back(w);
    if (changesHost(words) && !policy_->mayAdminister(peer)) {
        std::string what = words[0];
        if (what == "sim" && words.size() > 1) what += " " + words[1];
        return "ERROR permission denied: " +
               policy_->adminRefusal(peer, "the request \"" + what + "\"") + "\n";
    }
    return handle(request);
}

std::string AdminServer::handle(const std::string& request) {
    std::istringstream in(request);
    Words words;
    for (std::string w; in >> w;) words.push_back(w);
    if (words.empty()) return "ERROR empty request\n";
    for (const AdminRequest& r : kAdminRequests)
        if (words[0] == r.verb && words.size() >= r.minWords && words.size() <= r.maxWords)
            return r.handle(*this, words);
    return "ERROR unknown request: " + request + " (see kalvo-devctl --help)\n";
}

}  // namespace kalvo::kernel::host

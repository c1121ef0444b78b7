#include "cli/host_findings.h"

#include <dirent.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "kernel/transport/admin_client.h"
#include "platform/device_loss.h"
#include "platform/device_protocol.h"

namespace kalvo::cli {
namespace {

std::string upper(std::string text) {
    for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A process of this folder: its program name and when it started.
struct FolderProgram {
    uint32_t pid = 0;
    std::string name;
    int64_t startedNs = 0;
};

int64_t bootTimeNs() {
    std::ifstream stat("/proc/stat");
    for (std::string line; std::getline(stat, line);)
        if (line.rfind("btime ", 0) == 0) return std::stoll(line.substr(6)) * 1'000'000'000;
    return 0;
}

// The processes that have libKalvo loaded and work in folder, this one not
// counted. A process of another user is not readable and not counted.
std::vector<FolderProgram> folderPrograms(const std::string& folder) {
    std::vector<FolderProgram> found;
    const int64_t boot = bootTimeNs();
    const long ticks = ::sysconf(_SC_CLK_TCK);
    std::error_code ec;
    const auto wanted = std::filesystem::weakly_canonical(folder, ec);
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string pidText = entry.path().filename().string();
        if (pidText.find_first_not_of("0123456789") != std::string::npos) continue;
        const auto pid = static_cast<uint32_t>(std::stoul(pidText));
        if (pid == static_cast<uint32_t>(::getpid())) continue;
        std::error_code cwdError;
        if (std::filesystem::read_symlink(entry.path() / "cwd", cwdError) != wanted || cwdError)
            continue;
        std::ifstream maps(entry.path() / "maps");
        std::stringstream text;
        text << maps.rdbuf();
        if (text.str().find("/libKalvo.so") == std::string::npos) continue;
        FolderProgram program;
        program.pid = pid;
        std::ifstream(entry.path() / "comm") >> program.name;
        // Field 22 of stat: the start in clock ticks after boot; the name in
        // field 2 may hold blanks, so count from its closing parenthesis.
        std::ifstream statFile(entry.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(statFile)), {});
        std::istringstream rest(stat.substr(stat.rfind(')') + 2));
        std::string field;
        for (int i = 3; i <= 22 && rest >> field; ++i) {
        }
        if (!field.empty() && ticks > 0)
            program.startedNs = boot + std::stoll(field) * (1'000'000'000 / ticks);
        found.push_back(program);
    }
    return found;
}

}  // namespace

std::string localTime(int64_t realtimeNs) {
    const std::time_t seconds = static_cast<std::time_t>(realtimeNs / 1'000'000'000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::optional<HostView> lookAtHost(const FolderConfig& config) {
    platform::DeviceHostStart start;
    if (!platform::currentDeviceHost(&start)) return std::nullopt;
    const std::string folder = platform::device_wire::clientSocketDirectory();
    std::string answer, error;
    if (!kernel::transport::adminRequest(folder, "handles", &answer, &error)) return std::nullopt;
    HostView host;
    host.startedNs = start.startedNs;
    std::istringstream lines(answer);
    for (std::string line; std::getline(lines, line);) {
        unsigned pid = 0;
        if (std::sscanf(line.c_str(), "handle pid %u", &pid) == 1) host.handlePids.insert(pid);
    }
    for (const auto& unit : config.units) {
        if (!kernel::transport::adminRequest(folder, "sim unit " + unit.section, &answer, &error))
            break;
        if (answer.rfind("OK", 0) == 0) {
            host.simulated = true;
            host.units.insert(upper(unit.section));
        } else if (answer.find("no unit") != std::string::npos) {
            host.simulated = true;
        } else {
            break;  // not a simulated network: it cannot say which units it has
        }
    }
    return host;
}

bool hostCarries(const HostView& host, const std::string& unitSection) {
    return !host.simulated || host.units.count(upper(unitSection)) != 0;
}

Finding lostUnderThisProgram(const HostView* host) {
    if (!host)
        return {true,
                "no device host: the one that served this program's boards went away after "
                "they were opened, and every call on them gives -1 (KV_ERR_REQUEST)"};
    return {true, "the device host was restarted at " + localTime(host->startedNs) +
                      ", after this program's boards were opened: every call on them gives -1 "
                      "(KV_ERR_REQUEST); run the command again"};
}

Findings checkHostRestart(const FolderConfig& config, const HostView& host) {
    Findings out;
    const std::string when = localTime(host.startedNs);
    for (const FolderProgram& p : folderPrograms(config.folder)) {
        if (p.startedNs == 0 || p.startedNs >= host.startedNs || host.handlePids.count(p.pid))
            continue;
        out.push_back({true, "the device host was restarted at " + when + ", after the boards of " +
                                 p.name + " (pid " + std::to_string(p.pid) + ", started " +
                                 localTime(p.startedNs) +
                                 ") were opened: its calls on them give -1 (KV_ERR_REQUEST) "
                                 "until it opens them again; restart it (or have it reload "
                                 "libKalvo). Nothing is wrong with the wiring"});
    }
    return out;
}

Findings checkHostNetwork(const FolderConfig& config, const HostView& host) {
    Findings out;
    if (!host.simulated) return out;
    std::string missing;
    size_t count = 0;
    for (const auto& unit : config.units) {
        if (host.units.count(upper(unit.section))) continue;
        missing += (missing.empty() ? "" : ", ") + unit.section;
        ++count;
    }
    if (count == 0) {
        out.push_back({false,
                       "the device host's simulated network carries every unit of "
                       "Kalvo.ini"});
        return out;
    }
    out.push_back({true, "the device host's simulated network lacks " +
                             std::string(count == config.units.size() ? "every unit" : "units") +
                             " that Kalvo.ini places (" + missing +
                             "): it was not started on this folder's network. Start one on it: "
                             "kalvo-devctl stop && kalvo-devctl start --network " +
                             config.folder});
    return out;
}

}  // namespace kalvo::cli

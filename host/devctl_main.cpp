// kalvo-devctl: the device host's command-line companion.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "host/admin_channel.h"
#include "host/sim_usage.h"
#include "kernel/transport/socket_folder.h"

using namespace kalvo::kernel;

namespace {

const char* const kUsage =
    "Usage: kalvo-devctl <command> [arguments]\n"
    "Controls the device host of this machine (folder: KALVO_DEVICE_DIR, else\n"
    "/run/kalvo or /tmp/kalvo-<uid>).\n"
    "\n"
    "Commands:\n"
    "  start [host options]      start a device host in the background and wait\n"
    "                            until it serves (options: kalvo-devhost --help)\n"
    "  stop                      stop and remove every device, end the host\n"
    "  list                      devices: board location, kind, driver, device\n"
    "                            name, link and PnP state\n"
    "  log                       the error log\n"
    "  pnp-start <location> [one-memory-range | fail-map]\n"
    "                            start a device, optionally with faulty resources:\n"
    "                            its first memory range only, or a memory range\n"
    "                            that cannot be mapped\n"
    "  pnp-stop <location>       query stop, then stop\n"
    "  remove <location>         query remove, then remove\n"
    "  surprise <location>       surprise removal\n"
    "  power <S0..S5>            system power state for every started device\n"
    "  read <location> <window> <offset> <length>\n"
    "                            hex dump of a board's memory range (window 0 is\n"
    "                            the first memory range the board reports)\n"
    "  write <location> <window> <offset> <hexbytes>\n"
    "                            write bytes, e.g. \"0a0b\", into a memory range\n"
    "  sim <request...>          the simulated network: observation and faults\n"
    "                            (kalvo-devctl sim --help)\n"
    "  --help                    this text\n";

int request(const std::string& folder, const std::string& line, bool quietOk = false) {
    std::string response, error;
    if (!host::adminRequest(folder, line, &response, &error)) {
        std::fprintf(stderr, "kalvo-devctl: %s\n", error.c_str());
        return 2;
    }
    size_t nl = response.find('\n');
    std::string first = response.substr(0, nl);
    std::string rest = nl == std::string::npos ? "" : response.substr(nl + 1);
    if (first == "OK") {
        if (!rest.empty())
            std::fputs(rest.c_str(), stdout);
        else if (!quietOk)
            std::puts("OK");
        return 0;
    }
    std::fprintf(stderr, "kalvo-devctl: %s\n",
                 first.rfind("ERROR ", 0) == 0 ? first.c_str() + 6 : first.c_str());
    return 1;
}

bool alive(const std::string& folder) {
    std::string response, error;
    return host::adminRequest(folder, "ping", &response, &error);
}

int startHost(const std::string& folder, const std::vector<std::string>& options) {
    if (alive(folder)) {
        std::fprintf(stderr, "kalvo-devctl: a device host already serves %s\n", folder.c_str());
        return 1;
    }
    if (!transport::prepareSocketFolder(folder)) {
        std::fprintf(stderr, "kalvo-devctl: cannot use the folder %s\n", folder.c_str());
        return 1;
    }
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    std::string hostPath = (self.parent_path() / "kalvo-devhost").string();
    std::string logPath = folder + "/devhost.log";
    pid_t pid = fork();
    if (pid < 0) return 1;
    if (pid == 0) {
        // The host outlives this tool: its own session, no terminal, its
        // output in the folder.
        setsid();
        int in = open("/dev/null", O_RDONLY);
        int out = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0640);
        if (in >= 0) dup2(in, 0);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        std::vector<char*> argv{const_cast<char*>(hostPath.c_str())};
        for (auto& o : options) argv.push_back(const_cast<char*>(o.c_str()));
        argv.push_back(nullptr);
        execv(hostPath.c_str(), argv.data());
        _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "kalvo-devctl: the device host ended at once; see %s\n",
                         logPath.c_str());
            return 1;
        }
        if (alive(folder)) {
            std::printf("device host %d serves %s\n", int(pid), folder.c_str());
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::fprintf(stderr, "kalvo-devctl: the device host did not answer; see %s\n", logPath.c_str());
    return 1;
}

int stopHost(const std::string& folder) {
    int result = request(folder, "shutdown", true);
    if (result != 0) return result;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!alive(folder)) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::fprintf(stderr, "kalvo-devctl: the device host is still shutting down\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    std::string folder = transport::hostSocketDirectory();
    const std::string& command = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    auto line = [&](const std::string& verb) {
        std::string l = verb;
        for (auto& a : rest) l += " " + a;
        return l;
    };
    if (command == "start") return startHost(folder, rest);
    if (command == "sim") {
        if (rest.empty() || rest[0] == "--help" || rest[0] == "-h" || rest[0] == "help") {
            std::fputs(kalvo::kernel::host::kSimUsage, rest.empty() ? stderr : stdout);
            return rest.empty() ? 2 : 0;
        }
        for (const auto& word : rest)
            if (word.find_first_of("\r\n") != std::string::npos) {
                std::fprintf(stderr, "kalvo-devctl: a word holds a line break\n");
                return 2;
            }
        return request(folder, line("sim"));
    }
    if (command == "stop" && rest.empty()) return stopHost(folder);
    if ((command == "list" || command == "log") && rest.empty()) return request(folder, command);
    if (command == "pnp-start" && (rest.size() == 1 || rest.size() == 2))
        return request(folder, line("start"));
    if (command == "pnp-stop" && rest.size() == 1) return request(folder, line("stop"));
    if ((command == "remove" || command == "surprise" || command == "power") && rest.size() == 1)
        return request(folder, line(command));
    if ((command == "read" || command == "write") && rest.size() == 4)
        return request(folder, line(command));
    std::fprintf(stderr, "kalvo-devctl: bad command or arguments: %s (see --help)\n",
                 line(command).c_str());
    return 2;
}

#include "host/devctl_commands.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/socket.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "host/admin_channel.h"
#include "host/sim_usage.h"
#include "kernel/transport/socket_folder.h"
#include "platform/device_protocol.h"
#include "platform/host_folder.h"

namespace kalvo::kernel::host {

namespace {

using Args = std::vector<std::string>;

const char* const kHeader =
    "Usage: kalvo-devctl <command> [arguments]\n"
    "Controls the device host of this machine (folder: KALVO_DEVICE_DIR, else\n"
    "/run/kalvo when its host is open to you, else /tmp/kalvo-<uid>).\n"
    "\n"
    "Commands:\n";

const char* const kHelpUsage =
    "  help [command]            this text, or one command's usage\n"
    "  COMMAND --help            one command's usage\n"
    "  --help                    this text\n";

std::string joined(const std::string& verb, const Args& args) {
    std::string line = verb;
    for (auto& a : args) line += " " + a;
    return line;
}

int request(const std::string& folder, const std::string& line, bool quietOk = false) {
    std::string response, error;
    if (!adminRequest(folder, line, &response, &error)) {
        // No host in the folder of one's own: a service closed to this user
        // is the likelier reason, and says what to do.
        const char* overridden = std::getenv("KALVO_DEVICE_DIR");
        if (!(overridden && *overridden)) {
            auto host = platform::host_folder::findHost(adminSocketName(), SOCK_STREAM);
            if (host.outcome == platform::host_folder::Outcome::Connected) ::close(host.sock);
            if (host.outcome == platform::host_folder::Outcome::NotMember) error = host.problem;
        }
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

// The last line with text of a file: a program's own reason as it ended.
std::string lastLine(const std::string& path) {
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line))
        if (line.find_first_not_of(" \t\r") != std::string::npos) last = line;
    return last;
}

bool alive(const std::string& folder) {
    std::string response, error;
    return adminRequest(folder, "ping", &response, &error);
}

int startHost(const std::string& folder, const Args& options) {
    if (alive(folder)) {
        std::fprintf(stderr, "kalvo-devctl: a device host already serves %s\n", folder.c_str());
        return 1;
    }
    if (!transport::prepareSocketFolder(folder)) {
        std::fprintf(stderr, "kalvo-devctl: cannot use the folder %s: %s\n", folder.c_str(),
                     std::strerror(errno));
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
            const std::string reason = lastLine(logPath);
            std::fprintf(stderr,
                         "kalvo-devctl: the device host ended at once%s%s (its output: %s)\n",
                         reason.empty() ? "" : ": ", reason.c_str(), logPath.c_str());
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

int stopHost(const std::string& folder, const Args& args) {
    if (!args.empty() && args[0] != "--force") {
        std::fprintf(stderr, "kalvo-devctl: stop takes only --force; given: %s\n", args[0].c_str());
        return 2;
    }
    int result = request(folder, args.empty() ? "shutdown" : "shutdown force", true);
    if (result != 0) return result;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!alive(folder)) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::fprintf(stderr, "kalvo-devctl: the device host is still shutting down\n");
    return 1;
}

int sim(const std::string& folder, const Args& args) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::fputs(kSimUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    for (const auto& word : args)
        if (word.find_first_of("\r\n") != std::string::npos) {
            std::fprintf(stderr, "kalvo-devctl: a word holds a line break\n");
            return 2;
        }
    return request(folder, joined("sim", args));
}

// The admin request of the same name with the arguments.
template <const char* Verb>
int forward(const std::string& folder, const Args& args) {
    return request(folder, joined(Verb, args));
}

constexpr char kList[] = "list";
constexpr char kLog[] = "log";
constexpr char kHandles[] = "handles";
constexpr char kStart[] = "start";
constexpr char kStop[] = "stop";
constexpr char kRemove[] = "remove";
constexpr char kQueryStop[] = "query-stop";
constexpr char kCancelStop[] = "cancel-stop";
constexpr char kRequests[] = "requests";
constexpr char kSurprise[] = "surprise";
constexpr char kRescan[] = "rescan";
constexpr char kPower[] = "power";
constexpr char kDevicePower[] = "device-power";
constexpr char kRead[] = "read";
constexpr char kWrite[] = "write";

}  // namespace

const std::vector<DevctlCommand>& devctlCommands() {
    static const std::vector<DevctlCommand> commands = {
        {"start",
         "  start [host options]      start a device host in the background and wait\n"
         "                            until it serves (options: kalvo-devhost --help)\n",
         0, SIZE_MAX, &startHost},
        {"stop",
         "  stop [--force]            stop and remove every device, end the host; while\n"
         "                            programs hold devices it names them (pid, program,\n"
         "                            devices) and stops only with --force\n",
         0, 1, &stopHost},
        {"list",
         "  list                      devices: board location, kind, driver, device\n"
         "                            name, link, device power state and PnP state\n",
         0, 0, &forward<kList>},
        {"log", "  log                       the error log\n", 0, 0, &forward<kLog>},
        {"handles",
         "  handles                   open device handles (pid, program, device, views),\n"
         "                            when the host started and what its start did to\n"
         "                            each line, and each line stopped because its\n"
         "                            programs died\n",
         0, 0, &forward<kHandles>},
        {"pnp-start",
         "  pnp-start <location> [one-memory-range | fail-map]\n"
         "                            start a device, optionally with faulty resources:\n"
         "                            its first memory range only, or a memory range\n"
         "                            that cannot be mapped\n",
         1, 2, &forward<kStart>},
        {"pnp-stop",
         "  pnp-stop <location>       query stop (unless query-stop sent it), then stop\n", 1, 1,
         &forward<kStop>},
        {"query-stop",
         "  query-stop <location>     query stop only: the device holds new requests\n"
         "                            until pnp-stop and pnp-start, or cancel-stop\n",
         1, 1, &forward<kQueryStop>},
        {"cancel-stop",
         "  cancel-stop <location>    cancel stop after query-stop: held requests run\n", 1, 1,
         &forward<kCancelStop>},
        {"requests",
         "  requests [location]       the record of client request completions (the\n"
         "                            last 256 per device): time, client pid, function,\n"
         "                            control code, status, bytes returned, and how it\n"
         "                            went (completed, held, replayed or cancelled)\n",
         0, 1, &forward<kRequests>},
        {"remove", "  remove <location>         query remove, then remove\n", 1, 1,
         &forward<kRemove>},
        {"surprise", "  surprise <location>       surprise removal\n", 1, 1, &forward<kSurprise>},
        {"rescan",
         "  rescan                    look for boards plugged in or pulled now: a board\n"
         "                            that went is surprise-removed, a new one started\n",
         0, 0, &forward<kRescan>},
        {"power",
         "  power <S0..S5> [location] system power state for every started device, or\n"
         "                            for one; a device that vetoes a sleeping state\n"
         "                            stops the transition and the others return to S0\n",
         1, 2, &forward<kPower>},
        {"device-power",
         "  device-power <location> <D0..D3>\n"
         "                            device power state for one started device (list\n"
         "                            shows each device's power state)\n",
         2, 2, &forward<kDevicePower>},
        {"read",
         "  read <location> <window> <offset> <length>\n"
         "                            hex dump of a board's memory range (window 0 is\n"
         "                            the first memory range the board reports)\n",
         4, 4, &forward<kRead>},
        {"write",
         "  write <location> <window> <offset> <hexbytes>\n"
         "                            write bytes, e.g. \"0a0b\", into a memory range\n",
         4, 4, &forward<kWrite>},
        {"sim",
         "  sim <request...>          the simulated network: observation and faults\n"
         "                            (kalvo-devctl sim --help)\n",
         0, SIZE_MAX, &sim},
    };
    return commands;
}

const DevctlCommand* findDevctlCommand(const std::string& name) {
    for (const DevctlCommand& command : devctlCommands())
        if (name == command.name) return &command;
    return nullptr;
}

std::string devctlUsage() {
    std::string text = kHeader;
    for (const DevctlCommand& command : devctlCommands()) text += command.usage;
    return text + kHelpUsage;
}

int runDevctl(const std::vector<std::string>& args) {
    // COMMAND --help says what help COMMAND says.
    const bool commandHelp = args.size() == 2 && (args[1] == "--help" || args[1] == "-h") &&
                             findDevctlCommand(args[0]) != nullptr;
    if (commandHelp || (!args.empty() && args[0] == "help" && args.size() > 1)) {
        const DevctlCommand* command = findDevctlCommand(commandHelp ? args[0] : args[1]);
        if (!command || (!commandHelp && args.size() > 2)) {
            std::fprintf(stderr, "kalvo-devctl: no command %s (see kalvo-devctl --help)\n",
                         joined(args[1], Args(args.begin() + 2, args.end())).c_str());
            return 2;
        }
        std::fputs(command->usage, stdout);
        if (std::string(command->name) == "sim") std::fputs(kSimUsage, stdout);
        return 0;
    }
    if (args.empty()) {
        std::fputs(devctlUsage().c_str(), stderr);
        return 2;
    }
    // For the shell completion and the man page: the commands, one a line.
    if (args.size() == 1 && args[0] == "--list-commands") {
        for (const DevctlCommand& command : devctlCommands()) std::puts(command.name);
        return 0;
    }
    // The commands are subcommands of one parser; each takes the words after
    // its name as they are (a start's host options, a sim request), so only
    // --help right after the name is the parser's.
    if (args[0].size() > 1 && args[0][0] == '-' && args[0] != "--help" && args[0] != "-h" &&
        args[0] != "--version") {
        std::fprintf(stderr, "kalvo-devctl: unknown option %s (see kalvo-devctl --help)\n",
                     args[0].c_str());
        return 2;
    }
    if (args[0][0] != '-' && !findDevctlCommand(args[0])) {
        std::string names;
        for (const DevctlCommand& command : devctlCommands())
            names += std::string(names.empty() ? "" : ", ") + command.name;
        std::fprintf(stderr, "kalvo-devctl: no command %s; the commands are %s (see --help)\n",
                     args[0].c_str(), names.c_str());
        return 2;
    }
    const std::string header = kHeader;
    const size_t firstLineEnd = header.find('\n') + 1;
    CLI::App app(header.substr(firstLineEnd, header.find("\n\nCommands:") - firstLineEnd),
                 "kalvo-devctl");
    app.set_version_flag("--version", "kalvo-devctl " KALVO_VERSION);
    app.footer(std::string("Commands:\n") + devctlUsage().substr(std::string(kHeader).size()) +
               "  --version                 the program's version\n");
    app.require_subcommand(1);
    const DevctlCommand* chosen = nullptr;
    for (const DevctlCommand& command : devctlCommands()) {
        CLI::App* sub = app.add_subcommand(command.name, command.usage);
        sub->group("");  // listed by the footer, with their arguments
        sub->footer("");
        sub->prefix_command();
        if (std::string(command.name) == "sim") sub->set_help_flag();  // sim --help: kSimUsage
        sub->callback([&chosen, &command] { chosen = &command; });
    }
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "kalvo-devctl: %s (see kalvo-devctl --help)\n", e.what());
        return 2;
    }
    if (!chosen) return 2;
    const Args rest = app.get_subcommand(chosen->name)->remaining();
    if (rest.size() < chosen->minArgs || rest.size() > chosen->maxArgs) {
        std::fprintf(stderr, "kalvo-devctl: %s takes %s; given: %s\nusage:\n%s", chosen->name,
                     chosen->minArgs == chosen->maxArgs
                         ? (std::to_string(chosen->minArgs) + " argument(s)").c_str()
                         : ("at least " + std::to_string(chosen->minArgs) + " argument(s)").c_str(),
                     joined(chosen->name, rest).c_str(), chosen->usage);
        return 2;
    }
    return chosen->run(kalvo::platform::device_wire::clientSocketDirectory(), rest);
}

}  // namespace kalvo::kernel::host

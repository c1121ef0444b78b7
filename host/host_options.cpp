#include "host/host_options.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace kalvo::kernel::host {

const char* const kHostUsage =
    "Usage: kalvo-devhost [options]\n"
    "The device host: loads the board drivers, builds a device for every board\n"
    "of a kind a driver serves, and serves device handles of client processes\n"
    "on a socket in its folder (KALVO_DEVICE_DIR, else /run/kalvo when run as\n"
    "root, else /tmp/kalvo-<uid>). SIGTERM or SIGINT stops and removes every\n"
    "device and ends the host.\n"
    "\n"
    "Options:\n"
    "  --hardware KIND       the boards served: \"sim\" (the default), simulated\n"
    "                        boards with the simulated network; \"pci\", the\n"
    "                        boards in the machine's PCI slots whose vendor and\n"
    "                        device IDs are the VendorID and DeviceID registry\n"
    "                        values of a loaded driver (its Parameters key)\n"
    "  --sysfs-root DIR      where --hardware pci looks for the PCI devices\n"
    "                        (DIR/bus/pci/devices; default /sys)\n"
    "  --rescan-ms N         how often --hardware pci looks for boards pulled\n"
    "                        or plugged in, in milliseconds (default 500; 0:\n"
    "                        only when kalvo-devctl rescan asks)\n"
    "  --driver [KIND=]PATH  load a driver module (repeatable). It serves boards\n"
    "                        of KIND, by default its file name in lower case\n"
    "                        without extension (Tolva.sys serves \"tolva\").\n"
    "                        Without --driver: Tolva.sys, Kvmdrv.sys and\n"
    "                        Cardmaster.sys from the host's library folder.\n"
    "  --boards TEXT         simulated boards, e.g. \"tolva:id=0,kvmdrv\" or\n"
    "                        \"tolva:count=2:fault=one-memory-range\"; default:\n"
    "                        one board of each kind\n"
    "  --network PATH        the simulated network: a configuration folder\n"
    "                        (Kalvo.ini with its unit and station sections,\n"
    "                        ModelTbl.ini beside it) or a network file; with a\n"
    "                        folder and no --boards, the boards are those of\n"
    "                        the folder's board sections\n"
    "  --cycle-us N          line cycle in microseconds, 100 to 1000000\n"
    "                        (default 1000)\n"
    "  --keep-lines-on-exit  leave a line running with its last outputs when\n"
    "                        every program that held its board died; by default\n"
    "                        the host clears the outputs and stops the line\n"
    "  --admin-group NAME    the group whose members may change the host and its\n"
    "                        boards (stop, PnP and power events, rescan, write,\n"
    "                        simulator faults) besides root and the host's user;\n"
    "                        the host's group may only use boards and look\n"
    "                        (default kalvo-admin)\n"
    "  --max-user-connections N\n"
    "                        the most device connections one user may hold at\n"
    "                        once, 1 to 1024 (default 256)\n"
    "  --registry FILE       registry values (default <folder>/registry.reg)\n"
    "  --error-log FILE      error log (default <folder>/errorlog.txt)\n"
    "  --config FILE         host config: lines \"hardware = KIND\",\n"
    "                        \"driver = [KIND=]PATH\",\n"
    "                        \"boards = TEXT\", \"registry = FILE\",\n"
    "                        \"error-log = FILE\", \"network = PATH\",\n"
    "                        \"cycle-us = N\", \"sysfs-root = DIR\",\n"
    "                        \"rescan-ms = N\", \"admin-group = NAME\",\n"
    "                        \"max-user-connections = N\"; '#' starts\n"
    "                        a comment\n"
    "  --help                this text\n"
    "  --version             the program's version\n";

DriverModule driverModule(const std::string& text) {
    DriverModule module;
    std::string path = text;
    size_t eq = text.find('=');
    if (eq != std::string::npos && text.find('/') > eq) {
        module.kind = text.substr(0, eq);
        path = text.substr(eq + 1);
    }
    module.path = path;
    module.service = std::filesystem::path(path).stem().string();
    if (module.service.rfind("lib", 0) == 0 && module.service.size() > 3)
        module.service = module.service.substr(3);
    if (module.kind.empty())
        for (char c : module.service)
            module.kind.push_back(char(std::tolower(static_cast<unsigned char>(c))));
    return module;
}

namespace {

std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r");
    size_t b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// A plain decimal number from low to high: digits only, no sign or space.
bool decimal(const std::string& value, unsigned long long low, unsigned long long high,
             unsigned long long* number) {
    if (value.empty() || value[0] < '0' || value[0] > '9') return false;
    char* end = nullptr;
    errno = 0;
    *number = std::strtoull(value.c_str(), &end, 10);
    return errno == 0 && *end == 0 && *number >= low && *number <= high;
}

bool setting(const std::string& key, const std::string& value, HostOptions* options,
             std::string* error) {
    if (value.empty()) {
        *error = key + " needs a value";
        return false;
    }
    if (key == "hardware") {
        options->hardware = value;
    } else if (key == "driver") {
        options->drivers.push_back(driverModule(value));
    } else if (key == "boards") {
        options->boards = value;
        options->boardsGiven = true;
    } else if (key == "network") {
        options->network = value;
    } else if (key == "cycle-us") {
        unsigned long long micros = 0;
        if (!decimal(value, 100, 1000000, &micros)) {
            *error = key + " must be 100 to 1000000 microseconds";
            return false;
        }
        options->cycleMicros = uint32_t(micros);
    } else if (key == "rescan-ms") {
        unsigned long long millis = 0;
        if (!decimal(value, 0, 3600000, &millis)) {
            *error = key + " must be 0 (only when asked) to 3600000 milliseconds";
            return false;
        }
        options->rescanMillis = uint32_t(millis);
    } else if (key == "admin-group") {
        options->adminGroup = value;
    } else if (key == "max-user-connections") {
        unsigned long long count = 0;
        if (!decimal(value, 1, 1024, &count)) {
            *error = key + " must be 1 to 1024";
            return false;
        }
        options->maxUserConnections = uint32_t(count);
    } else if (key == "sysfs-root") {
        options->sysfsRoot = value;
    } else if (key == "registry") {
        options->registry = value;
    } else if (key == "error-log") {
        options->errorLog = value;
    } else {
        *error = "unknown setting " + key;
        return false;
    }
    return true;
}

bool readConfig(const std::string& file, HostOptions* options, std::string* error) {
    std::ifstream in(file);
    if (!in) {
        *error = "cannot read " + file;
        return false;
    }
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        line = trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos ||
            !setting(trim(line.substr(0, eq)), trim(line.substr(eq + 1)), options, error)) {
            if (eq == std::string::npos) *error = "expected KEY = VALUE";
            *error = file + ":" + std::to_string(number) + ": " + *error;
            return false;
        }
    }
    return true;
}

}  // namespace

bool parseHostOptions(const std::vector<std::string>& args, HostOptions* options,
                      std::string* error) {
    // Options apply in the order given (a --config file between others), so
    // each option's value is taken as the parser meets it.
    CLI::App app("", "kalvo-devhost");
    app.set_help_flag();
    app.add_flag("--help,-h", options->help);
    app.add_flag("--version", options->version);
    app.add_flag("--keep-lines-on-exit", options->keepLinesOnExit);
    std::string failure;
    auto apply = [&](const std::string& key) {
        return [&, key](const std::string& value) {
            if (!failure.empty()) return;
            if (key == "config")
                readConfig(value, options, &failure);
            else
                setting(key, value, options, &failure);
        };
    };
    for (const char* key :
         {"hardware", "driver", "boards", "network", "cycle-us", "sysfs-root", "rescan-ms",
          "admin-group", "max-user-connections", "registry", "error-log", "config"})
        app.add_option_function<std::string>(std::string("--") + key, apply(key))
            ->trigger_on_parse()
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ArgumentMismatch& e) {
        const std::string text = e.what();
        *error = text.substr(0, text.find(':')) + " needs a value";
        return false;
    } catch (const CLI::ExtrasError&) {
        for (const std::string& a : args)
            if (!a.empty() && a[0] == '-' && !app.get_option_no_throw(a)) {
                *error = "unknown option " + a;
                return false;
            }
        *error = "unexpected argument " + args.back();
        return false;
    } catch (const CLI::ParseError& e) {
        *error = e.what();
        return false;
    }
    if (!failure.empty()) {
        *error = failure;
        return false;
    }
    return true;
}

}  // namespace kalvo::kernel::host

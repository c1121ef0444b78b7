// Every program answers --help and --version with exit status 0, every
// subcommand of kalvo and every command of kalvo-devctl has its own help,
// and a bad option is named.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <string>

#include "host/devctl_commands.h"
#include "tests/support/temp_dir.h"

namespace kalvo::apitest {
namespace {

struct ProgramRun {
    int status = -1;
    std::string output;
};

ProgramRun run(const std::string& command) {
    ProgramRun r;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return r;
    char buffer[512];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.output.append(buffer, n);
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

const char* const kPrograms[] = {KALVO_CLI_PATH,     KALVO_CONFIG_PATH, KALVO_CONFIG_GUI_PATH,
                                 KALVO_DEVHOST_PATH, KALVO_DEVCTL_PATH, KALVO_DEVPROBE_PATH,
                                 KALVO_SAMPLE_PATH};

TEST(ProgramHelp, EveryProgramAnswersHelpAndVersion) {
    // kalvo-sample loads libKalvo, which writes its log where it runs.
    testing::IsolatedEnvironment env;
    for (const char* path : kPrograms) {
        const std::string name = std::string(path).substr(std::string(path).rfind('/') + 1);
        // Without a display: the desktop program answers too.
        const std::string program =
            "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + std::string(path);
        const ProgramRun help = run(program + " --help");
        EXPECT_EQ(help.status, 0) << program << "\n" << help.output;
        EXPECT_NE(help.output.find(name), std::string::npos) << help.output;
        const ProgramRun version = run(program + " --version");
        EXPECT_EQ(version.status, 0) << program << "\n" << version.output;
        EXPECT_EQ(version.output, name + " " KALVO_VERSION "\n") << program;
        const ProgramRun bad = run(program + " --no-such-option");
        EXPECT_NE(bad.status, 0) << program;
        EXPECT_NE(bad.output.find("--no-such-option"), std::string::npos) << program << bad.output;
    }
}

TEST(ProgramHelp, EveryKalvoSubcommandHasHelp) {
    for (const char* sub : {"status", "units", "get", "set", "doctor", "strerror"}) {
        const ProgramRun help = run(std::string(KALVO_CLI_PATH) + " " + sub + " --help");
        EXPECT_EQ(help.status, 0) << sub << "\n" << help.output;
        EXPECT_NE(help.output.find(sub), std::string::npos) << help.output;
    }
}

TEST(ProgramHelp, EveryDevctlCommandHasHelp) {
    for (const auto& command : kernel::host::devctlCommands()) {
        for (const std::string& form :
             {std::string(command.name) + " --help", std::string("help ") + command.name}) {
            const ProgramRun help = run(std::string(KALVO_DEVCTL_PATH) + " " + form);
            EXPECT_EQ(help.status, 0) << form << "\n" << help.output;
            EXPECT_NE(help.output.find(command.name), std::string::npos) << form;
            EXPECT_GT(help.output.size(), std::string(command.name).size() + 10) << form;
        }
    }
}

}  // namespace
}  // namespace kalvo::apitest

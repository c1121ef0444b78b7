// The host's tables: the hardware kinds --hardware chooses from, and the
// commands of kalvo-devctl with their usage texts.
#include <gtest/gtest.h>

#include "host/devctl_commands.h"
#include "host/host_hardware.h"
#include "host/host_options.h"

namespace kalvo::kernel::host {
namespace {

TEST(HostHardware, SimIsTheDefaultAndAnUnknownKindIsRefusedWithTheKnownOnes) {
    HostOptions options;
    std::string error;
    EXPECT_EQ(options.hardware, "sim");
    ASSERT_TRUE(parseHostOptions({"--hardware", "sim", "--boards", "tolva:id=0"}, &options, &error))
        << error;
    auto hardware = createHostHardware(options, &error);
    ASSERT_NE(hardware, nullptr) << error;
    EXPECT_EQ(hardware->provider().boards().size(), 1u);
    EXPECT_TRUE(hardware->simHandler());

    options.hardware = "uio";
    EXPECT_EQ(createHostHardware(options, &error), nullptr);
    EXPECT_EQ(error, "--hardware: unknown kind uio (known: sim, pci)");

    EXPECT_FALSE(parseHostOptions({"--hardware"}, &options, &error));
    EXPECT_NE(error.find("--hardware needs a value"), std::string::npos) << error;
}

TEST(HostHardware, ABadBoardSetOrNetworkIsNamedInTheReason) {
    struct Case {
        std::vector<std::string> args;
        const char* reason;
    };
    for (const Case& c : std::vector<Case>{
             {{"--boards", "nosuch:id=0"}, "--boards: "},
             {{"--network", "/nonexistent/network.txt"}, "--network: "},
             {{"--hardware", "pci", "--sysfs-root", "/nonexistent"},
              "--sysfs-root: the PCI device folder /nonexistent/bus/pci/devices cannot be read "},
         }) {
        HostOptions options;
        std::string error;
        ASSERT_TRUE(parseHostOptions(c.args, &options, &error)) << error;
        EXPECT_EQ(createHostHardware(options, &error), nullptr) << c.args.back();
        EXPECT_EQ(error.rfind(c.reason, 0), 0u) << error;
    }
}

// Every command has its usage, which the whole --help text carries and
// "help COMMAND" prints alone.
TEST(DevctlCommands, EachCommandHasItsUsageAndHelpPrintsIt) {
    std::string all = devctlUsage();
    for (const DevctlCommand& command : devctlCommands()) {
        std::string usage = command.usage;
        EXPECT_EQ(usage.rfind("  " + std::string(command.name) + " ", 0), 0u) << command.name;
        EXPECT_NE(all.find(usage), std::string::npos) << command.name;
        EXPECT_EQ(findDevctlCommand(command.name), &command);

        ::testing::internal::CaptureStdout();
        EXPECT_EQ(runDevctl({"help", command.name}), 0) << command.name;
        EXPECT_EQ(::testing::internal::GetCapturedStdout().rfind(usage, 0), 0u) << command.name;
    }
    EXPECT_EQ(findDevctlCommand("pnp-stop")->minArgs, 1u);
    EXPECT_EQ(findDevctlCommand("nosuch"), nullptr);
}

TEST(DevctlCommands, AnUnknownCommandOrAWrongArgumentCountIsABadCommandLine) {
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{"nosuch"},
                                               {"help", "nosuch"},
                                               {"pnp-stop"},
                                               {"read", "pci-0", "0", "0"},
                                               {"list", "extra"}}) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(runDevctl(args), 2) << args[0];
        std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("kalvo-devctl: "), std::string::npos) << said;
    }
}

}  // namespace
}  // namespace kalvo::kernel::host

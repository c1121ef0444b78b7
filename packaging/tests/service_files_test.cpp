// The service files as the machine's own tools read them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/device_protocol.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace {

using kalvo::testing::runProgram;
using kalvo::testing::TempDir;

bool haveProgram(const char* name) {
    return runProgram(std::string("command -v ") + name).exitCode == 0;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ServiceUnit, SystemdFindsNothingWrongInIt) {
    if (!haveProgram("systemd-analyze"))
        GTEST_SKIP() << "systemd-analyze is not installed (package systemd); the unit is not "
                        "checked";
    // Unknown keys and bad values are only warned about (exit status 0), so
    // any output is a failure. The man page may not be installed here.
    const auto run =
        runProgram(std::string("systemd-analyze verify --man=no '") + KALVO_TEST_UNIT + "'");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output, "");
}

TEST(ServiceUnit, ServesWhereTheClientsOfTheGroupLook) {
    // A member of group kalvo (not root) looks in /run/kalvo when the
    // service's socket there is open to it; the unit must put the host there.
    const std::string unit = readFile(KALVO_INSTALL_UNIT);
    ASSERT_FALSE(unit.empty()) << KALVO_INSTALL_UNIT;
    const std::string folder = kalvo::platform::device_wire::clientSocketDirectory(
        nullptr, 1000, [](const std::string&) { return true; });
    EXPECT_NE(unit.find("Environment=KALVO_DEVICE_DIR=" + folder + "\n"), std::string::npos);
    EXPECT_NE(unit.find("RuntimeDirectory=" + folder.substr(std::string("/run/").size()) + "\n"),
              std::string::npos);
    // The installed unit starts the installed host.
    EXPECT_NE(unit.find("ExecStart=" KALVO_INSTALL_BINDIR "/kalvo-devhost --hardware pci "),
              std::string::npos);
}

TEST(SysusersFile, CreatesUserAndGroupKalvo) {
    if (!haveProgram("systemd-sysusers"))
        GTEST_SKIP() << "systemd-sysusers is not installed (package systemd); the file is not "
                        "checked";
    TempDir root;
    ASSERT_EQ(::mkdir(root.file("etc").c_str(), 0755), 0);
    const auto run =
        runProgram("systemd-sysusers --root='" + root.path() + "' '" + KALVO_SYSUSERS_FILE + "'");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string passwd = root.read("etc/passwd");
    const std::string group = root.read("etc/group");
    EXPECT_NE(passwd.find("kalvo:x:"), std::string::npos) << passwd;
    EXPECT_NE(passwd.find(":/var/lib/kalvo:"), std::string::npos) << passwd;
    EXPECT_NE(group.find("kalvo:x:"), std::string::npos) << group;
}

}  // namespace

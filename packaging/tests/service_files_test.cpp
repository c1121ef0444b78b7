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
    // Members enter and connect; only the host creates, removes or renames
    // (a folder others may write is refused by every client).
    EXPECT_NE(unit.find("RuntimeDirectoryMode=0750\n"), std::string::npos);
}

// The id a name has in a passwd or group file of the private root.
std::string idOf(const std::string& table, const std::string& name) {
    const size_t at = table.find(name + ":x:");
    if (at == std::string::npos) return {};
    const size_t start = at + name.size() + 3;
    return table.substr(start, table.find(':', start) - start);
}

TEST(SysusersFile, CreatesUserAndGroupsKalvoAndKalvoAdminAndTheGroupNamespace) {
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
    EXPECT_NE(group.find("kalvo-admin:x:"), std::string::npos) << group;

    // The group namespace of the service's programs, from the tmpfiles file,
    // with the group the sysusers file made.
    ASSERT_EQ(::mkdir(root.file("dev").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(root.file("dev/shm").c_str(), 01777), 0);
    const auto tmpfiles = runProgram("systemd-tmpfiles --create --root='" + root.path() + "' '" +
                                     KALVO_TMPFILES_FILE + "'");
    ASSERT_EQ(tmpfiles.exitCode, 0) << tmpfiles.output;
    struct stat st {};
    ASSERT_EQ(::lstat(root.file("dev/shm/kalvo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 02770u) << std::oct << (st.st_mode & 07777);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(std::to_string(st.st_gid), idOf(group, "kalvo")) << group;
}

}  // namespace

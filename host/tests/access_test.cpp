// Who may use the device host and who may change it: the rule for each kind
// of peer, and which admin requests count as changes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/admin_access.h"
#include "kernel/transport/peer_access.h"

namespace {

using kalvo::kernel::host::changesHost;
using kalvo::kernel::transport::AccessPolicy;
using kalvo::kernel::transport::Peer;

constexpr uid_t kHostUid = 4100;
constexpr gid_t kHostGid = 4100;  // "kalvo"
// "root" is always a group on the machine, so it stands for the admin group.
constexpr gid_t kAdminGid = 0;

TEST(PeerAccess, MembersBySupplementaryGroupUseTheSharedHostAndAdminsChangeIt) {
    struct Row {
        const char* who;
        Peer peer;
        bool shared;  // the folder admits the host's group (the service's 0750)
        bool uses, changes;
    };
    const Row rows[] = {
        {"root", {0, 0, 1, {}}, false, true, true},
        {"the host's own user", {kHostUid, 77, 1, {}}, false, true, true},
        {"a member by supplementary group", {5001, 5001, 1, {100, kHostGid}}, true, true, false},
        {"a member by primary group", {5002, kHostGid, 1, {}}, true, true, false},
        {"a member of the admin group", {5003, 5003, 1, {kHostGid, kAdminGid}}, true, true, true},
        {"a member, at a private host", {5001, 5001, 1, {kHostGid}}, false, false, false},
        {"a stranger", {5004, 5004, 1, {100}}, true, false, false},
    };
    for (const Row& row : rows) {
        const AccessPolicy policy(kHostUid, kHostGid, row.shared, "root");
        EXPECT_EQ(policy.mayUse(row.peer), row.uses) << row.who;
        EXPECT_EQ(policy.mayAdminister(row.peer), row.changes) << row.who;
    }
    const AccessPolicy service(kHostUid, kHostGid, true, "root");
    const Peer stranger{5004, 5004, 1, {}};
    EXPECT_NE(service.useRefusal(stranger).find("sudo usermod -aG"), std::string::npos);
    EXPECT_NE(service.adminRefusal(stranger, "the request \"power\"").find("group root"),
              std::string::npos);
    const AccessPolicy noAdmins(kHostUid, kHostGid, true, "kvt20-no-such-group");
    EXPECT_NE(noAdmins.adminRefusal(stranger, "x").find("does not exist on this machine"),
              std::string::npos);
    EXPECT_FALSE(noAdmins.mayAdminister({5003, 5003, 1, {kHostGid}}));
}

TEST(AdminAccess, LookingChangesNothingEverythingElseChangesTheHost) {
    const std::vector<std::pair<std::string, bool>> rows = {
        {"ping", false},
        {"list", false},
        {"log", false},
        {"handles", false},
        {"requests pci-0000:03:00.0", false},
        {"read pci-0000:03:00.0 0 0 16", false},
        {"sim show 0", false},
        {"sim trace", false},
        {"sim timing", false},
        {"sim unit DIO_1", false},
        {"sim unit DIO_1 help", false},
        {"sim", false},
        {"shutdown", true},
        {"stop pci-0000:03:00.0", true},
        {"start pci-0000:03:00.0 fail-map", true},
        {"power S3", true},
        {"device-power pci-0000:03:00.0 D3", true},
        {"rescan", true},
        {"write pci-0000:03:00.0 0 0 00", true},
        {"surprise pci-0000:03:00.0", true},
        {"sim offline 0 3", true},
        {"sim unit DIO_1 input 0 0x12", true},
        {"sim add-station 0 4", true},
        {"no-such-request", true},
    };
    for (const auto& [request, changes] : rows) {
        std::vector<std::string> words;
        for (size_t start = 0; start < request.size();) {
            size_t end = request.find(' ', start);
            if (end == std::string::npos) end = request.size();
            words.push_back(request.substr(start, end - start));
            start = end + 1;
        }
        EXPECT_EQ(changesHost(words), changes) << request;
    }
}

}  // namespace

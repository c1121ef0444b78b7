// Which folder a tool takes for "the device host of this machine".
#include <gtest/gtest.h>

#include <string>

#include "platform/device_protocol.h"

namespace {

using kalvo::platform::device_wire::clientSocketDirectory;

TEST(ClientSocketDirectory, FollowsTheOverrideThenTheServiceWhenReachableThenTheUsersOwn) {
    struct Row {
        const char* what;
        const char* overridden;
        uid_t uid;
        bool serviceReachable;
        const char* expected;
    };
    const Row rows[] = {
        {"the override wins over a reachable service", "/srv/dev", 1000, true, "/srv/dev"},
        {"the override for root", "/srv/dev", 0, true, "/srv/dev"},
        {"an empty override counts as unset", "", 1000, true, "/run/kalvo"},
        {"root uses the service folder", nullptr, 0, false, "/run/kalvo"},
        {"a member of the service's group reaches it", nullptr, 1000, true, "/run/kalvo"},
        {"no service, or one closed to the user: the user's own host", nullptr, 1000, false,
         "/tmp/kalvo-1000"},
    };
    for (const Row& row : rows) {
        std::string asked;
        auto reachable = [&](const std::string& path) {
            asked = path;
            return row.serviceReachable;
        };
        EXPECT_EQ(clientSocketDirectory(row.overridden, row.uid, reachable), row.expected)
            << row.what;
        if (row.uid != 0 && !(row.overridden && *row.overridden)) {
            EXPECT_EQ(asked, "/run/kalvo/devices.sock") << row.what;
        }
    }
}

}  // namespace

// Which folder a tool takes for "the device host of this machine", and
// whether it trusts what answers there.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/device_protocol.h"
#include "platform/host_folder.h"
#include "tests/support/temp_dir.h"

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

// Who answers: each way a folder, its socket or the server on it may not be
// the caller's host, set up as root with uids that need no account.
namespace {

using kalvo::platform::host_folder::connectChecked;
using kalvo::platform::host_folder::Outcome;

constexpr uid_t kOther = 4242;

// A server that binds name in folder as root, then listens as listenUid
// (the credentials a client reads are those of listen()); owned files as
// ownerUid. Killed with the object.
class Server {
  public:
    Server(const std::string& path, uid_t bindUid, uid_t listenUid) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            if (bindUid != 0 && ::setresuid(-1, bindUid, -1) != 0) _exit(1);
            const int sock = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strcpy(address.sun_path, path.c_str());
            if (::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) _exit(2);
            if (bindUid != 0 && ::setresuid(0, 0, 0) != 0) _exit(3);
            if (listenUid != 0 && ::setresuid(listenUid, listenUid, listenUid) != 0) _exit(4);
            if (::listen(sock, 8) != 0) _exit(5);
            char c = 1;
            if (::write(ready[1], &c, 1) != 1) _exit(6);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char c = 0;
        ok_ = ::read(ready[0], &c, 1) == 1;
        ::close(ready[0]);
    }
    ~Server() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool ok() const { return ok_; }

  private:
    pid_t pid_ = -1;
    bool ok_ = false;
};

TEST(HostFolder, AClientRefusesEveryFolderSocketAndServerThatIsNotItsHosts) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to own files as other uids";
    kalvo::testing::TempDir base;
    ASSERT_EQ(::chmod(base.path().c_str(), 0755), 0);  // root's, closed to writers: like /run
    const std::string open = base.file("sticky");      // anyone may create here: like /tmp
    ASSERT_EQ(::mkdir(open.c_str(), 01777), 0);
    ASSERT_EQ(::chmod(open.c_str(), 01777), 0);

    struct Row {
        const char* what;
        std::function<std::string()> setUp;  // the folder to try
        Outcome outcome;
        const char* words;
    };
    auto folder = [](const std::string& path, uid_t owner, mode_t mode) {
        ::mkdir(path.c_str(), 0700);
        if (::chown(path.c_str(), owner, owner) != 0 || ::chmod(path.c_str(), mode) != 0) return;
    };
    std::vector<std::unique_ptr<Server>> servers;
    auto serve = [&](const std::string& dir, uid_t bindUid, uid_t listenUid) {
        servers.push_back(std::make_unique<Server>(dir + "/devices.sock", bindUid, listenUid));
        EXPECT_TRUE(servers.back()->ok()) << dir;
        return dir;
    };
    const Row rows[] = {
        {"no folder", [&] { return base.file("none"); }, Outcome::NoHost, "does not exist"},
        {"a folder without a socket",
         [&] {
             folder(base.file("empty"), 0, 0700);
             return base.file("empty");
         },
         Outcome::NoHost, "no device host serves"},
        {"our own host",
         [&] {
             folder(base.file("own"), 0, 0700);
             return serve(base.file("own"), 0, 0);
         },
         Outcome::Connected, ""},
        {"a service's folder that root placed, served by its owner",
         [&] {
             folder(base.file("service"), kOther, 0750);
             return serve(base.file("service"), kOther, kOther);
         },
         Outcome::Connected, ""},
        {"a symbolic link to a real host's folder",
         [&] {
             ::symlink(base.file("own").c_str(), base.file("link").c_str());
             return base.file("link");
         },
         Outcome::Untrusted, "is a symbolic link"},
        {"a folder others may write",
         [&] {
             folder(base.file("writable"), 0, 0770);
             return serve(base.file("writable"), 0, 0);
         },
         Outcome::Untrusted, "may be written by others than its owner"},
        {"another user's folder where anyone may create one",
         [&] {
             folder(open + "/kalvo-0", kOther, 0700);
             return serve(open + "/kalvo-0", kOther, kOther);
         },
         Outcome::Untrusted, "belongs to neither user root nor root"},
        {"a socket of someone else than the folder's owner",
         [&] {
             folder(base.file("foreign-socket"), kOther, 0755);
             return serve(base.file("foreign-socket"), 0, 0);
         },
         Outcome::Untrusted, "does not belong to uid 4242"},
        {"a server of another user in root's folder",
         [&] {
             folder(base.file("impostor"), 0, 0755);
             return serve(base.file("impostor"), 0, kOther);
         },
         Outcome::Impostor, "runs as user uid 4242"},
        {"a socket nobody listens on",
         [&] {
             folder(base.file("stale"), 0, 0700);
             const std::string dir = serve(base.file("stale"), 0, 0);
             servers.pop_back();
             return dir;
         },
         Outcome::NoHost, "one that ended left it"},
        {"a file where the socket should be",
         [&] {
             folder(base.file("file"), 0, 0700);
             base.write("file/devices.sock", "x");
             return base.file("file");
         },
         Outcome::Untrusted, "is not a socket"},
    };
    for (const Row& row : rows) {
        const std::string dir = row.setUp();
        auto c = connectChecked(dir, "devices.sock", SOCK_SEQPACKET);
        if (c.sock >= 0) ::close(c.sock);
        EXPECT_EQ(c.outcome, row.outcome) << row.what << ": " << c.problem;
        EXPECT_NE(c.problem.find(row.words), std::string::npos) << row.what << ": " << c.problem;
        if (row.outcome == Outcome::Untrusted) {
            EXPECT_NE(c.problem.find("not using it as a device host"), std::string::npos);
        }
    }
}

}  // namespace

// Users and groups of a test's own, for testing as the people who run the
// stack: made with useradd/groupadd (the test must run as root) and removed
// with the object. Names carry the prefix "kvt20" and the test process's id,
// so tests running at once never share one. Commands and child processes run
// as a user through setpriv, with the user's groups from the user database
// as a login would have them.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/program_run.h"

namespace kalvo::testing {

class TestUsers {
  public:
    TestUsers() : suffix_(std::to_string(::getpid())) {}
    ~TestUsers() {
        for (auto it = users_.rbegin(); it != users_.rend(); ++it) retried("userdel " + *it);
        for (auto it = groups_.rbegin(); it != groups_.rend(); ++it) retried("groupdel " + *it);
    }
    TestUsers(const TestUsers&) = delete;
    TestUsers& operator=(const TestUsers&) = delete;

    // Why users cannot be made here (empty when they can): not root, no
    // useradd, or the build out of other users' reach (a folder on its path
    // that they may not enter).
    static std::string unavailable(const std::vector<std::string>& paths) {
        if (::geteuid() != 0) return "not root: test users cannot be made";
        if (runProgram("command -v useradd && command -v setpriv").exitCode != 0)
            return "useradd or setpriv is missing";
        for (const std::string& path : paths)
            if (runProgram("setpriv --reuid=65534 --regid=65534 --clear-groups test -r '" + path +
                           "'")
                    .exitCode != 0)
                return path +
                       " cannot be read by other users (a folder on its path is closed); "
                       "build in a folder others may enter";
        return {};
    }

    // A group named "kvt20<role><pid>"; its name.
    std::string addGroup(const std::string& role) {
        const std::string name = "kvt20" + role + suffix_;
        if (retried("groupadd " + name)) groups_.push_back(name);
        return name;
    }

    // A user "kvt20<role><pid>" with a group of its own as primary group
    // (or primary, when given) and the supplementary groups.
    std::string addUser(const std::string& role, const std::string& primary = {},
                        const std::vector<std::string>& supplementary = {}) {
        const std::string name = "kvt20" + role + suffix_;
        std::string command = "useradd -M -s /usr/sbin/nologin ";
        command += primary.empty() ? "-U " : "-N -g " + primary + " ";
        std::string list;
        for (const std::string& g : supplementary) list += (list.empty() ? "" : ",") + g;
        if (!list.empty()) command += "-G " + list + " ";
        if (retried(command + name)) users_.push_back(name);  // userdel removes its own group
        return name;
    }

    bool ok() const { return ok_; }

    static uid_t uid(const std::string& user) {
        const passwd* p = ::getpwnam(user.c_str());
        return p ? p->pw_uid : uid_t(-1);
    }
    static gid_t primaryGid(const std::string& user) {
        const passwd* p = ::getpwnam(user.c_str());
        return p ? p->pw_gid : gid_t(-1);
    }
    static gid_t gid(const std::string& group) {
        const struct group* g = ::getgrnam(group.c_str());
        return g ? g->gr_gid : gid_t(-1);
    }

    // The argv that runs the rest as user, with its login's groups.
    static std::vector<std::string> launcher(const std::string& user) {
        return {"/usr/bin/setpriv", "--reuid=" + user,
                "--regid=" + std::to_string(primaryGid(user)), "--init-groups", "--"};
    }
    // A command line (for runProgram's shell) run as user, its environment
    // kept; set variables with "env NAME=VALUE program ...".
    static std::string asUser(const std::string& user, const std::string& command) {
        std::string line;
        for (const std::string& word : launcher(user)) line += word + " ";
        return line + command;
    }

  private:
    // useradd and friends lock the user database; another test may hold it.
    bool retried(const std::string& command) {
        for (int attempt = 0; attempt < 50; ++attempt) {
            const ProgramRun run = runProgram(command);
            if (run.exitCode == 0) return true;
            if (run.output.find("lock") == std::string::npos) {
                ok_ = false;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ok_ = false;
        return false;
    }

    std::string suffix_;
    std::vector<std::string> users_, groups_;
    bool ok_ = true;
};

}  // namespace kalvo::testing

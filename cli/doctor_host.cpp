// kalvo doctor's rows about the device host: whether this user reaches one,
// and when not, which of the reasons it is (not in the group, a folder that
// belongs to someone else, the service not running, another user's server
// answering), each with what to do.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "cli/doctor.h"
#include "platform/device_protocol.h"
#include "platform/host_folder.h"
#include "platform/runtime_dir.h"

namespace kalvo::cli {
namespace {

namespace hf = platform::host_folder;

Finding problem(std::string text) {
    return {true, std::move(text)};
}

bool overridden() {
    const char* dir = std::getenv("KALVO_DEVICE_DIR");
    return dir && *dir;
}

}  // namespace

Findings checkDeviceHost() {
    Findings out;
    hf::Connection host = hf::findHost(platform::device_wire::kSocketName, SOCK_SEQPACKET);
    switch (host.outcome) {
        case hf::Outcome::Connected: {
            ::close(host.sock);
            struct stat st {};
            ::stat(host.folder.c_str(), &st);
            out.push_back({false, "device host reached at " + host.folder + "/" +
                                      platform::device_wire::kSocketName + " (user " +
                                      hf::userName(st.st_uid) + ")"});
            // The service's programs share the group namespace: it must be there.
            if (host.folder == hf::kServiceFolder && !std::getenv("KALVO_RUNTIME_DIR") &&
                platform::runtimeDir().empty())
                out.push_back(
                    problem(std::string("the group namespace ") + platform::kGroupNamespace +
                            " of the service's programs is missing or not root's or the service's "
                            "(mode 2770, group kalvo); the service makes it as it starts: `sudo "
                            "systemctl restart kalvo-devhost`"));
            return out;
        }
        case hf::Outcome::NoHost:
            if (overridden()) {
                out.push_back(problem(host.problem +
                                      "; start one with kalvo-devctl start --network FOLDER "
                                      "(or set KALVO_DEVICE_DIR to the folder of a running one)"));
            } else {
                out.push_back(problem(std::string("no device host: the service is not running (") +
                                      hf::kServiceFolder +
                                      " has no host; `systemctl status kalvo-devhost`, `sudo "
                                      "systemctl start kalvo-devhost`) and no host of your own "
                                      "runs (kalvo-devctl start --network FOLDER)"));
            }
            return out;
        case hf::Outcome::NotMember:
        case hf::Outcome::Untrusted:
        case hf::Outcome::Impostor:
        case hf::Outcome::Failed:
            out.push_back(problem(host.problem));
            return out;
    }
    return out;
}

}  // namespace kalvo::cli

// Who may use a device host: the host's side of its sockets' credentials.
//
// A peer is admitted when its uid is root's or the host's, or when the
// host's group is among its groups, the supplementary ones included (a user
// joins the service's group with `usermod -aG kalvo`, which changes only the
// supplementary list). The group counts only when the host's folder grants
// it (the service's folder is 0750; a private host's 0700 admits its user
// alone). Requests that change the host or the hardware need more: root,
// the host's uid, or membership of the admin group (kalvo-admin by default).
// A refusal says in words what to do.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace kalvo::kernel::transport {

struct Peer {
    uid_t uid = 0;
    gid_t gid = 0;
    pid_t pid = 0;
    std::vector<gid_t> groups;  // supplementary, at connect time
};

// SO_PEERCRED and SO_PEERGROUPS of a connected Unix socket (the peer uid's
// group list from the user database where the kernel has no
// SO_PEERGROUPS). False when the credentials cannot be read.
bool readPeer(int sock, Peer* peer);

inline constexpr const char* kDefaultAdminGroup = "kalvo-admin";

class AccessPolicy {
  public:
    // The host's own user and group, whether the group is admitted, and the
    // admin group by name (absent from the machine: no admin group).
    AccessPolicy(uid_t hostUid, gid_t hostGid, bool groupAdmitted, std::string adminGroup);
    // The running host's policy for its folder: its effective ids; the group
    // is admitted when the folder grants it search permission.
    static AccessPolicy forFolder(const std::string& folder,
                                  const std::string& adminGroup = kDefaultAdminGroup);

    bool mayUse(const Peer& peer) const;
    bool mayAdminister(const Peer& peer) const;

    // "user U is not a member of group kalvo; `sudo usermod -aG kalvo U`,
    // then log in again", or for a private host, that it is another user's.
    std::string useRefusal(const Peer& peer) const;
    // Why what (e.g. "kalvo-devctl power") is refused, naming the group to join.
    std::string adminRefusal(const Peer& peer, const std::string& what) const;

  private:
    uid_t hostUid_;
    gid_t hostGid_;
    bool groupAdmitted_;
    std::string adminGroupName_;
    std::optional<gid_t> adminGroup_;
};

}  // namespace kalvo::kernel::transport

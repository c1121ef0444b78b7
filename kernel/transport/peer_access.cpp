#include "kernel/transport/peer_access.h"

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/host_folder.h"

namespace kalvo::kernel::transport {
namespace {

using platform::host_folder::groupName;
using platform::host_folder::userName;

bool hasGroup(const Peer& peer, gid_t gid) {
    return peer.gid == gid ||
           std::find(peer.groups.begin(), peer.groups.end(), gid) != peer.groups.end();
}

// The groups the user database gives the peer's uid: for kernels without
// SO_PEERGROUPS.
std::vector<gid_t> databaseGroups(uid_t uid, gid_t gid) {
    char buffer[4096];
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) != 0 || !found) return {};
    std::vector<gid_t> groups(64);
    int count = static_cast<int>(groups.size());
    if (::getgrouplist(found->pw_name, gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count));
        if (::getgrouplist(found->pw_name, gid, groups.data(), &count) < 0) return {};
    }
    groups.resize(static_cast<size_t>(count));
    return groups;
}

}  // namespace

bool readPeer(int sock, Peer* peer) {
    ucred cred{};
    socklen_t length = sizeof cred;
    if (::getsockopt(sock, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 || length != sizeof cred)
        return false;
    peer->uid = cred.uid;
    peer->gid = cred.gid;
    peer->pid = cred.pid;
    peer->groups.assign(32, 0);
    for (;;) {
        length = static_cast<socklen_t>(peer->groups.size() * sizeof(gid_t));
        if (::getsockopt(sock, SOL_SOCKET, SO_PEERGROUPS, peer->groups.data(), &length) == 0) {
            peer->groups.resize(length / sizeof(gid_t));
            return true;
        }
        // ERANGE tells the size needed in length.
        if (errno == ERANGE && length / sizeof(gid_t) > peer->groups.size() &&
            length / sizeof(gid_t) <= 65536) {
            peer->groups.assign(length / sizeof(gid_t), 0);
            continue;
        }
        break;
    }
    peer->groups = databaseGroups(cred.uid, cred.gid);
    return true;
}

AccessPolicy::AccessPolicy(uid_t hostUid, gid_t hostGid, bool groupAdmitted, std::string adminGroup)
    : hostUid_(hostUid),
      hostGid_(hostGid),
      groupAdmitted_(groupAdmitted),
      adminGroupName_(std::move(adminGroup)) {
    char buffer[16384];
    group entry{};
    group* found = nullptr;
    if (!adminGroupName_.empty() &&
        ::getgrnam_r(adminGroupName_.c_str(), &entry, buffer, sizeof buffer, &found) == 0 && found)
        adminGroup_ = found->gr_gid;
}

AccessPolicy AccessPolicy::forFolder(const std::string& folder, const std::string& adminGroup) {
    struct stat st {};
    const bool shared = ::stat(folder.c_str(), &st) == 0 && (st.st_mode & 0010) != 0;
    return AccessPolicy(::geteuid(), ::getegid(), shared, adminGroup);
}

bool AccessPolicy::mayUse(const Peer& peer) const {
    return peer.uid == 0 || peer.uid == hostUid_ || (groupAdmitted_ && hasGroup(peer, hostGid_));
}

bool AccessPolicy::mayAdminister(const Peer& peer) const {
    return peer.uid == 0 || peer.uid == hostUid_ || (adminGroup_ && hasGroup(peer, *adminGroup_));
}

std::string AccessPolicy::useRefusal(const Peer& peer) const {
    if (!groupAdmitted_)
        return "this device host is the private host of user " + userName(hostUid_) + "; user " +
               userName(peer.uid) +
               " may not use it (start a host of your own: "
               "kalvo-devctl start)";
    return platform::host_folder::notMemberAdvice(peer.uid, hostGid_);
}

std::string AccessPolicy::adminRefusal(const Peer& peer, const std::string& what) const {
    std::string text = what +
                       " changes the device host or its boards, which root, the host's "
                       "user " +
                       userName(hostUid_) + " and the members of group " + adminGroupName_ +
                       " may do; user " + userName(peer.uid) + " is none of them";
    if (!adminGroup_)
        return text + " (group " + adminGroupName_ +
               " does not exist on this machine: `sudo systemd-sysusers` makes it)";
    return text + " (`sudo usermod -aG " + adminGroupName_ + " " + userName(peer.uid) +
           "`, then log in again)";
}

}  // namespace kalvo::kernel::transport

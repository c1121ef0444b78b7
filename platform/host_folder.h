// Who answers: the client side of finding a device host and trusting it.
//
// A device host serves in a folder: the system service in /run/kalvo (its
// user's, group kalvo, mode 0750), a private host in /tmp/kalvo-<uid> (mode
// 0700). A client hands that host the board library's window pointer and its
// requests, so before it uses a socket it checks that nobody but the host
// could have put it there:
// - the folder is a real folder (no symbolic link), writable by its owner
//   alone, and owned by root, by the caller, or placed by root (its parent
//   belongs to root and is writable by nobody else, as /run is);
// - the socket is a socket owned by the folder's owner (or the folder is
//   root's);
// - after connecting, the server's credentials (SO_PEERCRED) are root's or
//   the folder owner's. This is the check that counts: the path checks can
//   race, the credentials of the process that listens cannot.
// A failed check stops with words that name the folder, its owner and mode
// and what is wrong. It never falls back to another folder.
//
// kalvo-devctl, kalvo, kalvo-devprobe and the board libraries all come
// through here.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/export.h"

namespace kalvo::platform::host_folder {

inline constexpr const char* kServiceFolder = "/run/kalvo";

enum class Outcome {
    Connected,  // sock is a checked connection to the host
    NoHost,     // no folder or socket, or nobody listens on it
    NotMember,  // the folder or socket is closed to this user (group access)
    Untrusted,  // the folder or socket fails the checks above
    Impostor,   // a server answered that is neither root nor the folder's owner
    Failed,     // the system refused (out of descriptors, path too long)
};

struct Connection {
    Outcome outcome = Outcome::NoHost;
    int sock = -1;        // owned by the caller when Connected
    std::string folder;   // where the host was looked for (the last folder tried)
    uint32_t error = 0;   // the Win32 code for GetLastError
    std::string problem;  // words for a person; empty when Connected
};

// The folders a client tries, in order: KALVO_DEVICE_DIR alone when set,
// else the service's folder, then /tmp/kalvo-<uid>.
KALVO_PLATFORM_API std::vector<std::string> candidateFolders();

// Checks folder (and the socket name in it) and connects with the checks
// above. type is SOCK_SEQPACKET (device handles) or SOCK_STREAM (admin).
KALVO_PLATFORM_API Connection connectChecked(const std::string& folder, const std::string& name,
                                             int type);

// connectChecked on each candidate folder in turn: the first host found,
// or the first failed check (which ends the search), or, when no host is
// found anywhere, NotMember if a folder was closed to the user, else NoHost.
KALVO_PLATFORM_API Connection findHost(const std::string& name, int type);

// "user NAME is not a member of group GROUP; `sudo usermod -aG GROUP NAME`,
// then log in again" (or, when the user database already lists the user in
// the group, that this login predates it). Shared by the host's refusal and
// the client's own.
KALVO_PLATFORM_API std::string notMemberAdvice(uid_t uid, gid_t gid);

// A user's and a group's name, or "uid N" / "gid N" when they have none.
KALVO_PLATFORM_API std::string userName(uid_t uid);
KALVO_PLATFORM_API std::string groupName(gid_t gid);

// Why the last device open that failed in this thread failed, in words;
// empty when it had no more to say than its Win32 code. Set by
// createFile (a host's refusal, a failed check, a folder closed to the user).
KALVO_PLATFORM_API const std::string& lastOpenProblem();
KALVO_PLATFORM_API void setLastOpenProblem(std::string problem);

}  // namespace kalvo::platform::host_folder

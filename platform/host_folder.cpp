#include "platform/host_folder.h"

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win_error.h"

namespace kalvo::platform::host_folder {
namespace {

thread_local std::string tLastOpenProblem;

std::string modeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", unsigned(mode & 07777));
    return text;
}

// "F (owner NAME, group NAME, mode 0750)": what a person needs to judge it.
std::string described(const std::string& path, const struct stat& st) {
    return path + " (owner " + userName(st.st_uid) + ", group " + groupName(st.st_gid) + ", mode " +
           modeText(st.st_mode) + ")";
}

std::string parentOf(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Only root could have made an entry in a folder that root owns and nobody
// else may write (/run, say); in /tmp anyone could have.
bool placedByRoot(const std::string& folder) {
    struct stat st {};
    return ::lstat(parentOf(folder).c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == 0 &&
           (st.st_mode & 022) == 0;
}

bool loginHasGroup(gid_t gid) {
    if (::getegid() == gid) return true;
    gid_t groups[256];
    const int n = ::getgroups(256, groups);
    for (int i = 0; i < n; ++i)
        if (groups[i] == gid) return true;
    return false;
}

Connection outcome(Outcome kind, const std::string& folder, uint32_t error, std::string problem) {
    Connection c;
    c.outcome = kind;
    c.folder = folder;
    c.error = error;
    c.problem = std::move(problem);
    return c;
}

// The folder, or its socket, is there but closed to this user.
Connection closedToUs(const std::string& folder, const struct stat& st) {
    std::string why;
    if ((st.st_mode & 0010) != 0 && !loginHasGroup(st.st_gid))
        why = "the device host in " + folder + " serves the members of group " +
              groupName(st.st_gid) + ": " + notMemberAdvice(::geteuid(), st.st_gid);
    else
        why = "the device host's folder " + described(folder, st) + " is closed to user " +
              userName(::geteuid()) + "; it is another user's private host";
    return outcome(Outcome::NotMember, folder, ERROR_ACCESS_DENIED, std::move(why));
}

Connection untrusted(const std::string& folder, std::string why) {
    return outcome(Outcome::Untrusted, folder, ERROR_ACCESS_DENIED,
                   std::move(why) + "; not using it as a device host");
}

Connection systemFailure(const std::string& folder, const std::string& what, int err) {
    return outcome(Outcome::Failed, folder, win32ErrorFromErrno(err),
                   what + ": " + std::strerror(err));
}

// The folder's own checks; Connected means it may be used.
Connection checkFolder(const std::string& folder, struct stat* st) {
    if (::lstat(folder.c_str(), st) != 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            return outcome(Outcome::NoHost, folder, ERROR_FILE_NOT_FOUND,
                           "no device host: " + folder + " does not exist");
        if (err == EACCES)
            return outcome(Outcome::NotMember, folder, ERROR_ACCESS_DENIED,
                           "the device host's folder " + folder + " cannot be looked at by user " +
                               userName(::geteuid()) + " (" + std::strerror(err) + ")");
        return systemFailure(folder, folder, err);
    }
    if (S_ISLNK(st->st_mode))
        return untrusted(folder, folder +
                                     " is a symbolic link, and a device host's folder is always "
                                     "a real folder (someone may be posing as the host): remove "
                                     "it and start the host again");
    if (!S_ISDIR(st->st_mode))
        return untrusted(folder, described(folder, *st) + " is not a folder");
    const uid_t self = ::geteuid();
    if (st->st_uid != 0 && st->st_uid != self && !placedByRoot(folder))
        return untrusted(folder, described(folder, *st) + " belongs to neither user " +
                                     userName(self) + " nor root, and its folder " +
                                     parentOf(folder) +
                                     " lets anyone create it: it may be another user posing as "
                                     "your device host. Have its owner or an administrator "
                                     "remove it, or set KALVO_DEVICE_DIR to your host's folder");
    if ((st->st_mode & 022) != 0)
        return untrusted(folder, described(folder, *st) +
                                     " may be written by others than its owner, who could put "
                                     "their own socket there; a host keeps its folder at 0700 "
                                     "(private) or 0750 (the service): chmod go-w " +
                                     folder);
    return outcome(Outcome::Connected, folder, 0, {});
}

}  // namespace

std::string userName(uid_t uid) {
    char buffer[4096];
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->pw_name;
    return "uid " + std::to_string(uid);
}

std::string groupName(gid_t gid) {
    char buffer[16384];
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->gr_name;
    return "gid " + std::to_string(gid);
}

std::string notMemberAdvice(uid_t uid, gid_t gid) {
    const std::string user = userName(uid), group = groupName(gid);
    // The user database may list the user already: then only this login
    // predates it (groups are read at login).
    bool listed = false;
    char buffer[4096];
    passwd pw{};
    passwd* who = nullptr;
    if (::getpwuid_r(uid, &pw, buffer, sizeof buffer, &who) == 0 && who) {
        gid_t groups[256];
        int count = 256;
        if (::getgrouplist(who->pw_name, who->pw_gid, groups, &count) >= 0)
            for (int i = 0; i < count; ++i) listed = listed || groups[i] == gid;
    }
    if (listed)
        return "user " + user + " joined group " + group +
               " after this login began, so it does not count yet; log out and in again "
               "(or run `newgrp " +
               group + "`)";
    return "user " + user + " is not a member of group " + group + "; `sudo usermod -aG " + group +
           " " + user + "`, then log in again";
}

std::vector<std::string> candidateFolders() {
    const char* overridden = std::getenv("KALVO_DEVICE_DIR");
    if (overridden && *overridden) return {overridden};
    return {kServiceFolder, "/tmp/kalvo-" + std::to_string(::geteuid())};
}

Connection connectChecked(const std::string& folder, const std::string& name, int type) {
    struct stat dir {};
    Connection checked = checkFolder(folder, &dir);
    if (checked.outcome != Outcome::Connected) return checked;

    const std::string path = folder + "/" + name;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return outcome(Outcome::Failed, folder, ERROR_FILENAME_EXCED_RANGE,
                       "the socket path " + path + " is longer than the " +
                           std::to_string(sizeof address.sun_path - 1) +
                           " bytes a Unix socket address holds; use a shorter folder "
                           "(KALVO_DEVICE_DIR)");
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    struct stat socketStat {};
    if (::lstat(path.c_str(), &socketStat) != 0) {
        const int err = errno;
        if (err == EACCES) return closedToUs(folder, dir);
        if (err == ENOENT)
            return outcome(Outcome::NoHost, folder, ERROR_FILE_NOT_FOUND,
                           "no device host serves in " + folder);
        return systemFailure(folder, path, err);
    }
    if (!S_ISSOCK(socketStat.st_mode))
        return untrusted(folder, described(path, socketStat) + " is not a socket");
    if (dir.st_uid != 0 && socketStat.st_uid != dir.st_uid)
        return untrusted(folder, described(path, socketStat) + " does not belong to " +
                                     userName(dir.st_uid) + ", the owner of its folder");

    const int sock = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    if (sock < 0) return systemFailure(folder, "socket", errno);
    int rc;
    do {
        rc = ::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } while (rc < 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        ::close(sock);
        if (err == EACCES || err == EPERM) return closedToUs(folder, dir);
        if (err == ECONNREFUSED || err == ENOENT)
            return outcome(Outcome::NoHost, folder, ERROR_FILE_NOT_FOUND,
                           "no device host listens on " + path + " (one that ended left it)");
        return systemFailure(folder, path, err);
    }
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(sock, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof peer) {
        const int err = errno;
        ::close(sock);
        return systemFailure(folder, "the credentials of " + path, err ? err : EPROTO);
    }
    if (peer.uid != 0 && peer.uid != dir.st_uid) {
        ::close(sock);
        return outcome(Outcome::Impostor, folder, ERROR_ACCESS_DENIED,
                       "the server on " + path + " runs as user " + userName(peer.uid) + " (pid " +
                           std::to_string(peer.pid) + "), neither root nor " +
                           userName(dir.st_uid) + " who owns " + folder +
                           ": it is not the device host, and it is refused");
    }
    Connection c = outcome(Outcome::Connected, folder, 0, {});
    c.sock = sock;
    return c;
}

Connection findHost(const std::string& name, int type) {
    const std::vector<std::string> folders = candidateFolders();
    Connection closed;
    bool sawClosed = false;
    for (const std::string& folder : folders) {
        Connection c = connectChecked(folder, name, type);
        switch (c.outcome) {
            case Outcome::Connected:
            case Outcome::Untrusted:
            case Outcome::Impostor:
            case Outcome::Failed:
                return c;
            case Outcome::NotMember:
                // A host of one's own may still run in the next folder.
                if (!sawClosed) closed = std::move(c);
                sawClosed = true;
                break;
            case Outcome::NoHost:
                break;
        }
    }
    if (sawClosed) return closed;
    std::string where;
    for (const std::string& folder : folders) where += (where.empty() ? "" : " or ") + folder;
    return outcome(Outcome::NoHost, folders.back(), ERROR_FILE_NOT_FOUND,
                   "no device host serves in " + where);
}

const std::string& lastOpenProblem() {
    return tLastOpenProblem;
}

void setLastOpenProblem(std::string problem) {
    tLastOpenProblem = std::move(problem);
}

}  // namespace kalvo::platform::host_folder

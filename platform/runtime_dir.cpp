#include "platform/runtime_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/host_folder.h"
#include "platform/profile.h"
#include "platform/win_error.h"

namespace kalvo::platform {
namespace {

bool keptAsIs(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '(' || c == ')';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;  // the encoder writes upper case only, so the mapping stays one-to-one
}

// A relative KALVO_RUNTIME_DIR is taken against the current directory of its
// first use (the load of the first library) and stays there when the process
// changes directory later: otherwise the objects made before and after would
// be in two namespaces, and an object's last close would remove a file of
// another folder.
std::string anchored(const char* dir) {
    if (dir[0] == '/') return dir;
    // Never destroyed: module destructors at exit still name objects.
    static auto* lock = new std::mutex;
    static auto* seen = new std::map<std::string, std::string>;
    std::lock_guard<std::mutex> guard(*lock);
    auto it = seen->find(dir);
    if (it != seen->end()) return it->second;
    std::string full = fullPathName(dir);
    if (full.empty()) return dir;
    return seen->emplace(dir, std::move(full)).first->second;
}

}  // namespace

namespace {

// A program uses the service's namespace when its device host is the
// service: the service's folder is there, shared with a group (a root's
// private host there is 0700), and its socket is open to this user.
bool usesServiceHost() {
    const char* device = std::getenv("KALVO_DEVICE_DIR");
    if (device && *device && std::string(device) != host_folder::kServiceFolder) return false;
    struct stat folder {
    }, sock{};
    const std::string socketPath = std::string(host_folder::kServiceFolder) + "/devices.sock";
    return ::lstat(host_folder::kServiceFolder, &folder) == 0 && S_ISDIR(folder.st_mode) &&
           (folder.st_mode & 0050) != 0 && ::lstat(socketPath.c_str(), &sock) == 0 &&
           S_ISSOCK(sock.st_mode);
}

// The group namespace must be root's or the service's (the owner of its
// folder), never a member's, and closed to everyone outside the group.
bool groupNamespaceFit(const std::string& dir) {
    struct stat st {
    }, service{};
    if (::lstat(dir.c_str(), &st) != 0) {
        setLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : win32ErrorFromErrno(errno));
        return false;
    }
    const bool ownerFit = st.st_uid == 0 || (::lstat(host_folder::kServiceFolder, &service) == 0 &&
                                             st.st_uid == service.st_uid);
    if (!S_ISDIR(st.st_mode) || !ownerFit || (st.st_mode & 07) != 0) {
        setLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

}  // namespace

namespace {

// Makes dir (0700) when it is not there and reads what stands there; false,
// with the last error set, when that is not a directory.
bool madeDirectory(const std::string& dir, struct stat* st) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        setLastError(win32ErrorFromErrno(errno));
        return false;
    }
    if (::lstat(dir.c_str(), st) != 0) {
        setLastError(win32ErrorFromErrno(errno));
        return false;
    }
    if (!S_ISDIR(st->st_mode)) {
        setLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return true;
}

}  // namespace

std::string runtimeDir() {
    const char* override = std::getenv("KALVO_RUNTIME_DIR");
    struct stat st {};
    if (override && *override) {
        const std::string dir = anchored(override);
        return madeDirectory(dir, &st) ? dir : "";
    }
    if (usesServiceHost()) return groupNamespaceFit(kGroupNamespace) ? kGroupNamespace : "";
    std::string dir = "/dev/shm/kalvo-" + std::to_string(static_cast<unsigned>(::geteuid()));
    if (!madeDirectory(dir, &st)) return {};
    // The default directory sits in world-writable /dev/shm: a directory (or
    // link) planted there by another user must not receive our objects.
    if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
        setLastError(ERROR_ACCESS_DENIED);
        return {};
    }
    return dir;
}

bool prepareGroupNamespace(const std::string& dir, std::string* problem) {
    if (::mkdir(dir.c_str(), 0770) == 0) {
        // mkdir leaves out the set-group-ID bit; files made in the folder
        // take its group from it.
        if (::chmod(dir.c_str(), 02770) != 0) {
            *problem = dir + ": " + std::strerror(errno);
            return false;
        }
    } else if (errno != EEXIST) {
        *problem = "cannot make the group namespace " + dir + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        (st.st_uid != 0 && st.st_uid != ::geteuid()) || (st.st_mode & 07) != 0 ||
        (st.st_mode & 0070) != 0070) {
        *problem = "the group namespace " + dir +
                   " is not a folder of root or this host with mode 2770; remove it and start "
                   "the host again";
        return false;
    }
    return true;
}

int openNamespaceFile(const std::string& dir, const std::string& fileName) {
    struct stat folder {};
    if (::stat(dir.c_str(), &folder) != 0) return -1;
    const mode_t mode = (folder.st_mode & 0020) != 0 ? 0660 : 0600;
    const std::string path = dir + "/" + fileName;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 0777) != mode)
        ::fchmod(fd, mode);  // the umask took bits the other members need
    return fd;
}

std::string encodeObjectName(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        auto c = static_cast<unsigned char>(name[i]);
        if (keptAsIs(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        }
    }
    return out;
}

std::optional<std::string> decodeObjectName(std::string_view fileName) {
    std::string out;
    out.reserve(fileName.size());
    for (size_t i = 0; i < fileName.size(); ++i) {
        char c = fileName[i];
        if (c == '%') {
            if (i + 2 >= fileName.size()) return std::nullopt;
            int hi = hexValue(fileName[i + 1]), lo = hexValue(fileName[i + 2]);
            if (hi < 0 || lo < 0) return std::nullopt;
            unsigned char byte = static_cast<unsigned char>(hi * 16 + lo);
            if (keptAsIs(byte)) return std::nullopt;  // never produced by the encoder
            out.push_back(static_cast<char>(byte));
            i += 2;
        } else if (keptAsIs(static_cast<unsigned char>(c))) {
            out.push_back(c);
        } else {
            return std::nullopt;
        }
    }
    return out;
}

}  // namespace kalvo::platform

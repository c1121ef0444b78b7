#include "platform/runtime_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>

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
    static std::mutex lock;
    static std::map<std::string, std::string> seen;
    std::lock_guard<std::mutex> guard(lock);
    auto it = seen.find(dir);
    if (it != seen.end()) return it->second;
    std::string full = fullPathName(dir);
    if (full.empty()) return dir;
    return seen.emplace(dir, std::move(full)).first->second;
}

}  // namespace

std::string runtimeDir() {
    const char* override = std::getenv("KALVO_RUNTIME_DIR");
    bool isDefault = !(override && *override);
    std::string dir = isDefault
                          ? "/dev/shm/kalvo-" + std::to_string(static_cast<unsigned>(::geteuid()))
                          : anchored(override);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        setLastError(win32ErrorFromErrno(errno));
        return {};
    }
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        setLastError(win32ErrorFromErrno(errno));
        return {};
    }
    if (!S_ISDIR(st.st_mode)) {
        setLastError(ERROR_PATH_NOT_FOUND);
        return {};
    }
    // The default directory sits in world-writable /dev/shm: a directory (or
    // link) planted there by another user must not receive our objects.
    if (isDefault && (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0)) {
        setLastError(ERROR_ACCESS_DENIED);
        return {};
    }
    return dir;
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

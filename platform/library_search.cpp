#include "platform/library_search.h"

#include <sys/stat.h>

#include <cstdlib>

namespace kalvo::platform {

namespace {

bool isFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string moduleFileName(std::string_view name) {
    std::string file(name);
    for (char& c : file)
        if (c == '\\') c = '/';
    const size_t slash = file.rfind('/');
    const size_t dot = file.find('.', slash == std::string::npos ? 0 : slash + 1);
    if (dot == std::string::npos)
        file += ".so";
    else if (dot == file.size() - 1)
        file.pop_back();
    return file;
}

std::vector<std::string> librarySearchFolders(const std::string& libraryDir,
                                              const std::string& folder) {
    std::vector<std::string> folders;
    auto add = [&](const std::string& dir) {
        if (dir.empty()) return;
        for (const auto& f : folders)
            if (f == dir) return;
        folders.push_back(dir);
    };
    add(libraryDir);
    add(folder);
    if (const char* path = std::getenv("LD_LIBRARY_PATH")) {
        const std::string list = path;
        for (size_t start = 0; start <= list.size();) {
            size_t end = list.find(':', start);
            if (end == std::string::npos) end = list.size();
            add(list.substr(start, end - start));
            start = end + 1;
        }
    }
    for (const char* dir : {"/usr/local/lib", "/usr/lib/x86_64-linux-gnu", "/usr/lib", "/lib"})
        add(dir);
    return folders;
}

std::string findLibraryFile(std::string_view name, const std::vector<std::string>& folders) {
    const std::string file = moduleFileName(name);
    if (file.find('/') != std::string::npos) return isFile(file) ? file : std::string();
    for (const auto& dir : folders)
        if (isFile(dir + "/" + file)) return dir + "/" + file;
    return {};
}

}  // namespace kalvo::platform

#include "host/admin_access.h"

namespace kalvo::kernel::host {

bool changesHost(const std::vector<std::string>& words) {
    if (words.empty()) return false;
    const std::string& verb = words[0];
    for (const char* look : {"ping", "list", "log", "handles", "requests", "read"})
        if (verb == look) return false;
    if (verb != "sim") return true;
    // sim: its views, a unit's view and the help texts change nothing.
    if (words.size() < 2) return false;
    const std::string& what = words[1];
    for (const char* look : {"show", "trace", "timing", "help", "--help"})
        if (what == look) return false;
    return !(what == "unit" && (words.size() == 3 || (words.size() == 4 && words[3] == "help")));
}

}  // namespace kalvo::kernel::host

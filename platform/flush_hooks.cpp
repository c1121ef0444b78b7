#include "platform/flush_hooks.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace kalvo::platform {

namespace {

// Never destroyed: a library whose log stays open until the process exits
// (a loaded library is not unloaded then) removes its hook from its module
// destructor, which runs after this library's static destructors.
std::mutex& hooksLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

std::vector<std::pair<FlushHook, void*>>& hooks() {
    static auto* list = new std::vector<std::pair<FlushHook, void*>>;
    return *list;
}

}  // namespace

void addFlushHook(FlushHook hook, void* context) {
    std::lock_guard<std::mutex> guard(hooksLock());
    hooks().emplace_back(hook, context);
}

void removeFlushHook(FlushHook hook, void* context) {
    std::lock_guard<std::mutex> guard(hooksLock());
    auto& list = hooks();
    list.erase(std::remove(list.begin(), list.end(), std::make_pair(hook, context)), list.end());
}

// Under the lock, so that a hook is not removed (its log closed and freed)
// while it runs.
void runFlushHooks() noexcept {
    std::lock_guard<std::mutex> guard(hooksLock());
    for (const auto& [hook, context] : hooks()) hook(context);
}

}  // namespace kalvo::platform

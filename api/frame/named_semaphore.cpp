#include "api/frame/named_semaphore.h"

namespace kalvo::api {

bool NamedSemaphore::create(const std::string& name) {
    name_ = name;
    semaphore_ = platform::Semaphore::createOrOpen(name, 1, 1);
    return semaphore_.valid();
}

bool NamedSemaphore::waitFor(uint32_t timeoutMs) noexcept {
    return semaphore_.valid() && semaphore_.wait(timeoutMs) == platform::WAIT_OBJECT_0;
}

void NamedSemaphore::close() noexcept {
    semaphore_.close();
}

}  // namespace kalvo::api

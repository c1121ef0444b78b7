#include <cstdio>

#include "platform/format.h"
#include "platform/semaphore.h"

int main() {
    auto sem = kalvo::platform::Semaphore::createOrOpen("", 1, 1);
    char line[64];
    kalvo::platform::format(line, sizeof line, "Ret(%xh)", sem.wait(0));
    std::puts(line);
    return sem.release() ? 0 : 1;
}

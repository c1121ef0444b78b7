#include "tests/support/device_test_host.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "kernel/transport/device_server.h"

namespace kalvo::testing {

DeviceTestEnvironment::DeviceTestEnvironment() {
    deviceDir_ = devices_.path() + "/host";
    if (const char* d = std::getenv("KALVO_DEVICE_DIR")) {
        hadDeviceDir_ = true;
        oldDeviceDir_ = d;
    }
    setenv("KALVO_DEVICE_DIR", deviceDir_.c_str(), 1);
}

DeviceTestEnvironment::~DeviceTestEnvironment() {
    if (hadDeviceDir_)
        setenv("KALVO_DEVICE_DIR", oldDeviceDir_.c_str(), 1);
    else
        unsetenv("KALVO_DEVICE_DIR");
}

void appendLine(const std::string& file, const std::string& line) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    std::string text = line + "\n";
    ssize_t n = ::write(fd, text.data(), text.size());
    (void)n;
    ::close(fd);
}

bool fileHasLine(const std::string& file, const std::string& line) {
    std::ifstream in(file);
    std::string l;
    while (std::getline(in, l))
        if (l == line) return true;
    return false;
}

bool waitForLine(const std::string& file, const std::string& line,
                 std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!fileHasLine(file, line)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int runDeviceHost(kernel::DeviceBackend& backend, const std::string& directory,
                  const std::string& log) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);  // before any thread exists
    kernel::transport::DeviceServer server(backend);
    if (!server.start(directory)) {
        appendLine(log, "start failed " + std::to_string(errno));
        return 2;
    }
    appendLine(log, "ready");
    int signal = 0;
    sigwait(&set, &signal);
    server.stop();
    appendLine(log, "stopped");
    return 0;
}

}  // namespace kalvo::testing

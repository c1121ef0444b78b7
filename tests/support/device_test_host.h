// A private device host for tests: a real host process (a child of the test
// binary) that serves a test's own DeviceBackend through the real transport,
// in a private socket folder.
#pragma once

#include <chrono>
#include <string>

#include "kernel/device_backend.h"
#include "tests/support/temp_dir.h"

namespace kalvo::testing {

// IsolatedEnvironment plus KALVO_DEVICE_DIR pointing at a private socket
// folder, and a log file in which a test host records what its backend saw.
class DeviceTestEnvironment {
  public:
    DeviceTestEnvironment();
    ~DeviceTestEnvironment();
    DeviceTestEnvironment(const DeviceTestEnvironment&) = delete;
    DeviceTestEnvironment& operator=(const DeviceTestEnvironment&) = delete;

    const std::string& deviceDir() const { return deviceDir_; }
    std::string logPath() const { return isolated_.work().file("host.log"); }

  private:
    IsolatedEnvironment isolated_;
    TempDir devices_;
    std::string deviceDir_;
    std::string oldDeviceDir_;
    bool hadDeviceDir_ = false;
};

// Appends one line to a file (one write, O_APPEND: whole lines from several
// processes never interleave).
void appendLine(const std::string& file, const std::string& line);
bool fileHasLine(const std::string& file, const std::string& line);
bool waitForLine(const std::string& file, const std::string& line,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Body of a host child: serves backend in directory, logs "ready" to log
// once it listens, and stops cleanly on SIGTERM (exit status 0).
int runDeviceHost(kernel::DeviceBackend& backend, const std::string& directory,
                  const std::string& log);

}  // namespace kalvo::testing

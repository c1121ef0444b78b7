// The device host's admin channel: any bytes as one request line, sent over
// the admin socket to a device host running in-process in a private folder
// (simulated boards, no drivers). Every request is answered with "OK" or
// "ERROR <reason>" on its first line; nothing crashes and the host keeps
// taking requests.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "host/admin_channel.h"
#include "host/device_host.h"
#include "kernel/transport/socket_folder.h"

namespace {

std::string gDir;
std::unique_ptr<kalvo::kernel::host::DeviceHost> gHost;

void stopHost() {
    gHost.reset();
    std::error_code ec;
    std::filesystem::remove_all(gDir, ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/kalvo-admin-fuzz-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    gDir = dir;
    std::filesystem::create_directory(gDir + "/runtime");
    ::setenv("KALVO_RUNTIME_DIR", (gDir + "/runtime").c_str(), 1);
    ::setenv("KALVO_DEVICE_DIR", (gDir + "/devices").c_str(), 1);
    ::signal(SIGPIPE, SIG_IGN);
    std::string folder = gDir + "/devices";
    if (!kalvo::kernel::transport::prepareSocketFolder(folder)) std::abort();
    kalvo::kernel::host::HostOptions options;
    std::string error;
    gHost = kalvo::kernel::host::DeviceHost::start(
        options, folder, [] {}, &error);
    if (!gHost) {
        std::fprintf(stderr, "admin fuzz: the host does not start: %s\n", error.c_str());
        std::abort();
    }
    std::atexit(stopHost);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!gHost) LLVMFuzzerInitialize(nullptr, nullptr);
    std::string request(reinterpret_cast<const char*>(data), size);
    request = request.substr(0, request.find('\n'));
    std::string response, error;
    if (!kalvo::kernel::host::adminRequest(gDir + "/devices", request, &response, &error)) {
        std::fprintf(stderr, "admin fuzz: the host no longer answers: %s\n", error.c_str());
        std::abort();
    }
    if (response.rfind("OK", 0) != 0 && response.rfind("ERROR ", 0) != 0) {
        std::fprintf(stderr, "admin fuzz: \"%s\" was answered \"%s\"\n", request.c_str(),
                     response.c_str());
        std::abort();
    }
    return 0;
}

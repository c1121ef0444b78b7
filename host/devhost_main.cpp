// kalvo-devhost: the device host process.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "host/device_host.h"
#include "host/host_options.h"
#include "kernel/transport/socket_folder.h"
#include "platform/host_folder.h"
#include "platform/runtime_dir.h"

using namespace kalvo::kernel;

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "kalvo-devhost: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    host::HostOptions options;
    std::string error;
    if (!host::parseHostOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error))
        return fail(error + " (see --help)");
    if (options.help) {
        std::fputs(host::kHostUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::puts("kalvo-devhost " KALVO_VERSION);
        return 0;
    }

    // The threads started below inherit this mask; the main thread takes
    // the signals with sigwait.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::string folder = transport::hostSocketDirectory();
    if (!transport::prepareSocketFolder(folder)) return fail("cannot use the folder " + folder);
    // The service (its folder shared with its group) gives the programs of
    // its members one namespace for their named objects, so that they take
    // the same line locks.
    struct stat st {};
    if (folder == kalvo::platform::host_folder::kServiceFolder &&
        ::stat(folder.c_str(), &st) == 0 && (st.st_mode & 0050) != 0 &&
        !kalvo::platform::prepareGroupNamespace(kalvo::platform::kGroupNamespace, &error))
        return fail(error);
    pid_t self = getpid();
    auto deviceHost = host::DeviceHost::start(
        options, folder, [self] { kill(self, SIGTERM); }, &error);
    if (!deviceHost) return fail(error);
    std::printf("kalvo-devhost: serving %zu board(s) in %s\n", deviceHost->deviceCount(),
                folder.c_str());
    std::fflush(stdout);

    int received = 0;
    while (sigwait(&signals, &received) != 0) {
    }
    deviceHost.reset();
    return 0;
}

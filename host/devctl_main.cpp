// kalvo-devctl: the device host's command-line companion.
#include <string>
#include <vector>

#include "host/devctl_commands.h"

int main(int argc, char** argv) {
    return kalvo::kernel::host::runDevctl(std::vector<std::string>(argv + 1, argv + argc));
}

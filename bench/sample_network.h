// The example configuration folder's simulated network, for the benchmarks
// that drive libKalvo: a private copy of the folder as the working directory
// (the library reads Kalvo.ini there), a private runtime namespace for the
// named objects, and a device host serving that folder's network.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/private_host.h"

namespace kalvo::bench {

// program names the benchmark in its folder's name and its messages;
// hostOptions are added to the host's "--network <folder>".
inline bool startSampleNetwork(const char* program, kalvo::drivertest::PrivateHost& host,
                               std::string* dir, std::vector<std::string> hostOptions = {}) {
    namespace fs = std::filesystem;
    std::string pattern = std::string("/tmp/kalvo-") + program + "-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror(program);
        return false;
    }
    *dir = pattern;
    fs::create_directories(*dir + "/runtime");
    setenv("KALVO_RUNTIME_DIR", (*dir + "/runtime").c_str(), 1);
    for (const char* name : {"Kalvo.ini", "ModelTbl.ini"})
        fs::copy_file(std::string(KALVO_SAMPLE_CONFIG) + "/" + name, *dir + "/" + name);
    if (chdir(dir->c_str()) != 0) {
        std::perror(dir->c_str());
        return false;
    }
    hostOptions.insert(hostOptions.begin(), {"--network", *dir});
    std::string why;
    if (!host.start(*dir + "/devices", *dir + "/devhost.log", "tolva:id=0", &why, hostOptions)) {
        std::fprintf(stderr, "%s: no device host: %s\n", program, why.c_str());
        return false;
    }
    return true;
}

}  // namespace kalvo::bench

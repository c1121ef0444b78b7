#include "tests/support/temp_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kalvo::testing {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kalvo-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& content) const {
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out << content;
}

std::string TempDir::read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool TempDir::exists(const std::string& name) const {
    return std::filesystem::exists(file(name));
}

IsolatedEnvironment::IsolatedEnvironment() {
    char buf[4096];
    if (getcwd(buf, sizeof buf)) oldCwd_ = buf;
    if (const char* r = std::getenv("KALVO_RUNTIME_DIR")) {
        hadRuntime_ = true;
        oldRuntime_ = r;
    }
    setenv("KALVO_RUNTIME_DIR", runtime_.path().c_str(), 1);
    if (chdir(work_.path().c_str()) != 0) throw std::runtime_error("chdir failed");
}

IsolatedEnvironment::~IsolatedEnvironment() {
    if (!oldCwd_.empty() && chdir(oldCwd_.c_str()) != 0) {
        // Nothing sensible to do; the next test sets its own directory.
    }
    if (hadRuntime_)
        setenv("KALVO_RUNTIME_DIR", oldRuntime_.c_str(), 1);
    else
        unsetenv("KALVO_RUNTIME_DIR");
}

}  // namespace kalvo::testing

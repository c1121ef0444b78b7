// A temporary folder removed with everything in it at the end of its scope.
#pragma once

#include <string>

namespace kalvo::testing {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    void write(const std::string& name, const std::string& content) const;
    std::string read(const std::string& name) const;  // empty when missing
    bool exists(const std::string& name) const;

  private:
    std::string path_;
};

// Gives the test a private runtime namespace (KALVO_RUNTIME_DIR) and a fresh
// current directory; both are restored and removed afterwards. Child
// processes inherit both.
class IsolatedEnvironment {
  public:
    IsolatedEnvironment();
    ~IsolatedEnvironment();
    const std::string& runtimeDir() const { return runtime_.path(); }
    const std::string& workDir() const { return work_.path(); }
    const TempDir& work() const { return work_; }

  private:
    TempDir runtime_;
    TempDir work_;
    std::string oldCwd_;
    std::string oldRuntime_;
    bool hadRuntime_ = false;
};

}  // namespace kalvo::testing

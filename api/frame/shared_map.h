// A named page-file map shared by every process that uses the same unit
// (the AXSA pair counters, the SIO receive rings). The process that creates
// it finds it zero-filled.
#pragma once

#include <cstddef>
#include <string>

#include "platform/page_file_map.h"

namespace kalvo::api {

class SharedMap {
  public:
    // Refused (false) when this object already holds a map.
    bool create(const std::string& name, size_t size);
    void destroy() noexcept;
    bool valid() const noexcept { return map_.valid(); }
    bool createdFirst() const noexcept { return createdFirst_; }
    void* view() const noexcept { return map_.data(); }
    size_t size() const noexcept { return size_; }
    const std::string& name() const noexcept { return name_; }

  private:
    std::string name_;
    size_t size_ = 0;
    platform::PageFileMap map_;
    bool createdFirst_ = false;
};

}  // namespace kalvo::api

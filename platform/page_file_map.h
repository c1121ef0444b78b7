// Named shared memory backed by the paging file (CreateFileMapping on
// INVALID_HANDLE_VALUE plus MapViewOfFile), with Windows lifetime.
//
// The memory is zero-filled when the object is created, that is when no live
// process holds it: a map whose every holder died comes back zero-filled and
// is reported as created.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/export.h"

namespace kalvo::platform {

class KALVO_PLATFORM_API PageFileMap {
  public:
    PageFileMap() noexcept;
    ~PageFileMap();  // unmaps and closes
    PageFileMap(PageFileMap&&) noexcept;
    PageFileMap& operator=(PageFileMap&&) noexcept;
    PageFileMap(const PageFileMap&) = delete;
    PageFileMap& operator=(const PageFileMap&) = delete;

    // Create or open a map of at least size bytes and map it read/write.
    // Last error: ERROR_ALREADY_EXISTS when it existed, ERROR_SUCCESS when
    // created. Opening an existing map smaller than size fails with
    // ERROR_INVALID_PARAMETER (a view cannot reach beyond the section).
    static PageFileMap createOrOpen(std::string_view name, size_t size);

    bool valid() const noexcept { return data_ != nullptr; }
    explicit operator bool() const noexcept { return valid(); }
    bool created() const noexcept { return created_; }
    void* data() const noexcept { return data_; }
    size_t size() const noexcept { return size_; }

    void close() noexcept;

  private:
    struct Impl;
    Impl* impl_ = nullptr;
    void* data_ = nullptr;
    size_t size_ = 0;
    bool created_ = false;
};

}  // namespace kalvo::platform

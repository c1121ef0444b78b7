// The registry of the device host: keys and values kept in a text file in
// the form of a registry export, e.g.
//
//   [\Registry\Machine\System\CurrentControlSet\Services\Tolva\Parameters]
//   "VendorID"=dword:00001234
//   "Label"="first board"
//   "Blob"=hex:01,02,ff
//
// Key and value names compare without regard to case; lines starting with
// ';' or '#' are comments. The file is read at each query, so edits take
// effect without restarting the host. A key exists when a section names it
// or a key below it.
#pragma once

#include "kernel/export.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/wdm.h"

namespace kalvo::kernel {

struct RegistryValue {
    std::u16string name;
    ULONG type = REG_NONE;
    std::vector<uint8_t> data;  // REG_SZ: UTF-16 with its NUL; REG_DWORD: 4 bytes
};

struct RegistryKey {
    std::u16string path;
    std::vector<RegistryValue> values;
};

class KALVO_KERNEL_API Registry {
  public:
    explicit Registry(std::filesystem::path file) : file_(std::move(file)) {}

    // The key, or nullopt when it does not exist. Unparseable lines are
    // skipped.
    std::optional<RegistryKey> key(std::u16string_view path) const;

    static std::vector<RegistryKey> parse(std::string_view text);

  private:
    std::filesystem::path file_;
};

}  // namespace kalvo::kernel

// Accessor of one ini file: the log ini here, a board library's own ini
// elsewhere. Holds the file's full path and forwards to the platform's
// private-profile reads and writes.
#pragma once

#include <cstdint>
#include <string>

namespace kalvo::diaglog {

class ProfileFile {
  public:
    ProfileFile() = default;
    virtual ~ProfileFile();
    ProfileFile(const ProfileFile&) = delete;
    ProfileFile& operator=(const ProfileFile&) = delete;

    // Stores the full path of name against the current directory, or the
    // bare name when no full path can be made.
    virtual void setFile(const char* name);
    // Nothing to release: every read and write opens the file anew.
    virtual void close();
    virtual int32_t getInt(const char* section, const char* key, int32_t defaultValue);
    // Copies at most size - 1 bytes and a NUL; returns the bytes copied.
    virtual uint32_t getString(const char* section, const char* key, const char* defaultValue,
                               char* buffer, uint32_t size);
    // A hexadecimal value written with a trailing "H" or "h" (for example
    // "10007H"). Text without that suffix, empty text or text without a
    // number gives the default.
    virtual uint32_t getHex(const char* section, const char* key, uint32_t defaultValue);
    virtual bool putInt(const char* section, const char* key, int32_t value);
    virtual bool putString(const char* section, const char* key, const char* text);
    virtual bool putHex(const char* section, const char* key, uint32_t value);

    const std::string& path() const noexcept { return path_; }

  private:
    std::string path_;
};

}  // namespace kalvo::diaglog

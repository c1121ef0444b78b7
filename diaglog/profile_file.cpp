#include "diaglog/profile_file.h"

#include <cstdlib>
#include <cstring>

#include "platform/format.h"
#include "platform/profile.h"

namespace kalvo::diaglog {

namespace {
std::string_view orEmpty(const char* s) {
    return s ? std::string_view(s) : std::string_view();
}
}  // namespace

ProfileFile::~ProfileFile() = default;

void ProfileFile::setFile(const char* name) {
    const std::string_view bare = orEmpty(name);
    std::string full = platform::fullPathName(bare);
    path_ = full.empty() ? std::string(bare) : std::move(full);
}

void ProfileFile::close() {}

int32_t ProfileFile::getInt(const char* section, const char* key, int32_t defaultValue) {
    return platform::profileGetInt(path_, orEmpty(section), orEmpty(key), defaultValue);
}

uint32_t ProfileFile::getString(const char* section, const char* key, const char* defaultValue,
                                char* buffer, uint32_t size) {
    if (!buffer) return 0;
    return platform::profileGetString(path_, orEmpty(section), orEmpty(key), orEmpty(defaultValue),
                                      buffer, size);
}

uint32_t ProfileFile::getHex(const char* section, const char* key, uint32_t defaultValue) {
    char defaultText[16];
    platform::format(defaultText, sizeof defaultText, "%xH", defaultValue);
    char text[32];  // at most 31 characters are read
    const uint32_t length = getString(section, key, defaultText, text, sizeof text);
    if (length == 0 || length >= sizeof text) return defaultValue;
    const char last = text[length - 1];
    if (last != 'H' && last != 'h') return defaultValue;
    text[length - 1] = '\0';
    // Read as "%x" does: blanks, an optional sign, an optional "0x", then hex
    // digits; a value beyond 32 bits keeps its low 32 bits.
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 16);
    if (end == text) return defaultValue;
    return static_cast<uint32_t>(value);
}

bool ProfileFile::putInt(const char* section, const char* key, int32_t value) {
    char text[16];
    platform::format(text, sizeof text, "%d", value);
    return putString(section, key, text);
}

bool ProfileFile::putString(const char* section, const char* key, const char* text) {
    return platform::profileWriteString(
        path_, orEmpty(section), orEmpty(key),
        text ? std::optional<std::string_view>(text) : std::nullopt);
}

bool ProfileFile::putHex(const char* section, const char* key, uint32_t value) {
    char text[16];
    platform::format(text, sizeof text, "%xH", value);
    return putString(section, key, text);
}

}  // namespace kalvo::diaglog

// Private profile (ini) files with the Windows rules.
//
// Section and key names match without regard to case; the first matching
// section and the first matching key win; blanks around names and values are
// trimmed. Integer reads take the leading decimal number (sign allowed) and
// fall back to the default when the key is absent or holds no number. String
// reads copy at most size - 1 bytes and a NUL. Writes create the file, append
// a missing section or key at the end (of the file or the section), replace a
// key's value in place and keep every other line byte for byte. Writers in
// several processes never lose each other's keys: each write runs under a
// lock and replaces the file by rename. Bytes pass through unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/export.h"

namespace kalvo::platform {

// An ini text held in memory, keeping every line as it was read.
// Used by the file calls below and by the configuration tool's in-memory
// profile object, which is flushed once at the end.
class KALVO_PLATFORM_API IniDocument {
  public:
    IniDocument() = default;
    static IniDocument parse(std::string_view text);  // never fails; any bytes
    std::string serialize() const;  // lines keep their ends; new lines end in "\r\n"

    std::optional<std::string> get(std::string_view section, std::string_view key) const;
    // Replace in place, or append the key at the end of the section, or append
    // the section at the end of the document. False, and nothing changed, when
    // a name or the value holds a line break or a name could not be read back
    // (a section name with ']', a key with '=' or starting with '[' or ';').
    bool set(std::string_view section, std::string_view key, std::string_view value);
    void removeKey(std::string_view section, std::string_view key);
    void removeSection(std::string_view section);
    bool hasSection(std::string_view section) const;
    std::vector<std::string> sections() const;
    std::vector<std::string> keys(std::string_view section) const;

  private:
    struct Line {
        std::string text;  // without its line end
        uint8_t end;       // EndNone, EndLf or EndCrLf
    };
    static constexpr uint8_t EndNone = 0, EndLf = 1, EndCrLf = 2;
    // [first, last) line indexes of the first section of that name; first is the
    // header line. Empty optional when there is none.
    std::optional<std::pair<size_t, size_t>> findSection(std::string_view section) const;
    void rebuildIndex();
    std::vector<Line> lines_;
    // Section index, kept in step with lines_: the line of every section
    // header in order, and for each name (ASCII folded) the position in
    // headers_ of its first section. Lets a save of a whole network set each
    // key without reading the document from the start.
    std::vector<size_t> headers_;
    std::unordered_map<std::string, size_t> firstHeader_;
};

// GetPrivateProfileInt.
KALVO_PLATFORM_API int32_t profileGetInt(const std::string& file, std::string_view section,
                                         std::string_view key, int32_t defaultValue);
// GetPrivateProfileString: copies the value (or the default when the key is
// absent) into buffer, at most size - 1 bytes and a NUL; returns the number of
// bytes copied without the NUL. size 0 copies nothing and returns 0.
KALVO_PLATFORM_API uint32_t profileGetString(const std::string& file, std::string_view section,
                                             std::string_view key, std::string_view defaultValue,
                                             char* buffer, uint32_t size);
// Convenience form without a fixed buffer.
KALVO_PLATFORM_API std::string profileGetString(const std::string& file, std::string_view section,
                                                std::string_view key,
                                                std::string_view defaultValue);
// WritePrivateProfileString: a null value (nullopt) deletes the key.
// Returns false with the last error set when the file cannot be written, or
// with ERROR_INVALID_PARAMETER when the names or the value would not read back
// (see IniDocument::set).
KALVO_PLATFORM_API bool profileWriteString(const std::string& file, std::string_view section,
                                           std::string_view key,
                                           std::optional<std::string_view> value);

// GetFullPathName against the current directory: "." and ".." resolved
// lexically, '\\' taken as a separator. Empty on failure (no current
// directory, result longer than 259 bytes).
KALVO_PLATFORM_API std::string fullPathName(std::string_view name);

}  // namespace kalvo::platform

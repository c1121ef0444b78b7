// Reading the tool's ini files through the ini class, with their text as
// UTF-8 (a file that is not valid UTF-8 is taken as CP932 and converted), and
// split by section: each section is an ini object of its own, so reading a
// full network's thousand keys costs one pass over the file instead of one
// pass per key.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "api/configfiles/kalvo_ini_class.h"

namespace kalvo::tool {

enum class IniOpen { ok, missing, failed };

class IniSections {
  public:
    // Reads path. status(): missing when there is no file, failed when it
    // could not be read; both leave no sections.
    explicit IniSections(const std::string& path);
    // The text a file at path would hold (UTF-8), read from memory: what a
    // save is about to write, checked before it is written.
    static IniSections fromText(const std::string& path, std::string_view text);

    IniOpen status() const { return status_; }
    bool readAsCp932() const { return cp932_; }
    const std::string& fileName() const { return path_; }

    // The object holding section name (matched without regard to case, the
    // first of equal names, as every profile reader takes it); an empty
    // object when the file has no such section.
    const configfiles::TKalvoIniClass& section(std::string_view name) const;
    bool has(std::string_view name) const;
    // Section names in file order, each once.
    const std::vector<std::string>& names() const { return names_; }

  private:
    IniSections() = default;
    std::string path_;
    IniOpen status_ = IniOpen::missing;
    bool cp932_ = false;
    std::vector<std::string> names_;
    std::unordered_map<std::string, configfiles::TKalvoIniClass> byName_;
    configfiles::TKalvoIniClass empty_ = configfiles::TKalvoIniClass::createEmpty({});

    void split(std::string_view text);
};

// A strict whole number (blanks around it allowed): false for "", "12x",
// "1.5" and numbers beyond 32 bits.
bool wholeNumber(std::string_view text, int32_t* value);

}  // namespace kalvo::tool

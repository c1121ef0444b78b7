#include "tool/model/ini_source.h"

#include <cstdint>

#include "platform/profile.h"
#include "tool/model/text_encoding.h"

namespace kalvo::tool {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string folded(std::string_view name) {
    std::string key(name);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return key;
}

}  // namespace

IniSections::IniSections(const std::string& path)
    : path_(path), empty_(configfiles::TKalvoIniClass::createEmpty(path)) {
    std::string text;
    switch (readTextFileUtf8(path, &text, &cp932_)) {
        case TextRead::missing:
            status_ = IniOpen::missing;
            return;
        case TextRead::failed:
            status_ = IniOpen::failed;
            return;
        case TextRead::ok:
            break;
    }
    status_ = IniOpen::ok;
    split(text);
}

IniSections IniSections::fromText(const std::string& path, std::string_view text) {
    IniSections ini;
    ini.path_ = path;
    ini.empty_ = configfiles::TKalvoIniClass::createEmpty(path);
    ini.status_ = IniOpen::ok;
    ini.split(text);
    return ini;
}

// A section runs from its header line (first non-blank character '[', the
// name up to ']') to the next header, as the profile rules read it. Each is
// handed to the ini class through the platform's own parser.
void IniSections::split(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::string_view name;
    size_t start = std::string_view::npos;
    auto finish = [&](size_t end) {
        if (start == std::string_view::npos) return;
        std::string key = folded(name);
        if (byName_.count(key)) return;  // the first of equal names is the one read
        const std::string sectionName(name);
        auto doc = platform::IniDocument::parse(text.substr(start, end - start));
        auto ini = configfiles::TKalvoIniClass::createEmpty(path_);
        for (const std::string& k : doc.keys(sectionName))
            ini.writeString(sectionName, k, doc.get(sectionName, k).value_or(""));
        names_.push_back(sectionName);
        byName_.emplace(std::move(key), std::move(ini));
    };
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string_view::npos ? text.size() : nl;
        std::string_view line = text.substr(pos, end - pos);
        while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
        if (!line.empty() && line.front() == '[') {
            finish(pos);
            start = pos;
            std::string_view rest = line.substr(1);
            name = trim(rest.substr(0, rest.find(']')));
        }
        pos = nl == std::string_view::npos ? text.size() : nl + 1;
    }
    finish(text.size());
}

const configfiles::TKalvoIniClass& IniSections::section(std::string_view name) const {
    auto it = byName_.find(folded(trim(name)));
    return it == byName_.end() ? empty_ : it->second;
}

bool IniSections::has(std::string_view name) const {
    return byName_.count(folded(trim(name))) != 0;
}

bool wholeNumber(std::string_view text, int32_t* value) {
    size_t a = text.find_first_not_of(" \t");
    if (a == std::string_view::npos) return false;
    size_t b = text.find_last_not_of(" \t");
    text = text.substr(a, b - a + 1);
    size_t i = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (i == text.size()) return false;
    int64_t n = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        n = n * 10 + (text[i] - '0');
        if (n > int64_t(INT32_MAX) + 1) return false;
    }
    if (text[0] == '-') n = -n;
    if (n < INT32_MIN || n > INT32_MAX) return false;
    *value = int32_t(n);
    return true;
}

}  // namespace kalvo::tool

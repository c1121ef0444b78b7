#include "tool/model/ini_source.h"

#include <cstdlib>

#include "platform/profile.h"
#include "tool/model/text_encoding.h"

namespace kalvo::tool {

configfiles::TKalvoIniClass openIniUtf8(const std::string& path, IniOpen* status, bool* converted) {
    std::string text;
    *converted = false;
    switch (readTextFileUtf8(path, &text, converted)) {
        case TextRead::missing:
            *status = IniOpen::missing;
            return configfiles::TKalvoIniClass::createEmpty(path);
        case TextRead::failed:
            *status = IniOpen::failed;
            return configfiles::TKalvoIniClass::createEmpty(path);
        case TextRead::ok:
            break;
    }
    *status = IniOpen::ok;
    if (!*converted) return configfiles::TKalvoIniClass(path);
    // The ini class reads only from its file: the converted text is carried
    // over key by key (the first of duplicate names, as every reader sees).
    auto doc = platform::IniDocument::parse(text);
    auto ini = configfiles::TKalvoIniClass::createEmpty(path);
    for (const std::string& section : doc.sections())
        for (const std::string& key : doc.keys(section))
            ini.writeString(section, key, doc.get(section, key).value_or(""));
    return ini;
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

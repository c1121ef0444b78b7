#include "tool/model/text_file.h"

namespace kalvo::tool {

int TTextFileClass::split(std::string_view text, std::vector<std::string>* items) {
    items->clear();
    int commas = 0;
    std::string item;
    bool started = false;
    for (char c : text) {
        if (c == '\r' || c == '\n') break;
        if (c == ',') {
            ++commas;
            items->push_back(std::move(item));
            item.clear();
            started = false;
        } else if (c == ' ' && !started) {
            continue;
        } else {
            item.push_back(c);
            started = true;
        }
    }
    if (!item.empty()) items->push_back(std::move(item));
    return commas;
}

std::string TTextFileClass::join(const std::vector<std::string>& items) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) text += ',';
        text += items[i];
    }
    return text;
}

}  // namespace kalvo::tool

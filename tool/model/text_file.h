// TTextFileClass: the comma lists of Kalvo.ini ("Offset" = "0,1,2").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kalvo::tool {

class TTextFileClass {
  public:
    // Splits text up to its end or first line break into items: blanks before
    // an item's first other character are skipped, later ones stay; a comma
    // ends an item, which is kept even when empty; the last item is kept
    // only when not empty. Returns the number of commas seen.
    static int split(std::string_view text, std::vector<std::string>* items);
    // The items separated by "," with no blanks; an empty list gives "".
    static std::string join(const std::vector<std::string>& items);
};

}  // namespace kalvo::tool

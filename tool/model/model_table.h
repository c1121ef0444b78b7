// The model list read from ModelTbl.ini: entry 0 is the empty module
// ("NEW", 未使用); every station slot, module and file value names a model by
// its index in this list. Also the per-type lists and the four special
// models of the axis and RFID stations.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "tool/model/model_types.h"

namespace kalvo::tool {

// Special references: index 1 to 4 of ModelTable::special.
enum SpecialModel : int {
    kSpecialAxs2 = 1,
    kSpecialAxs4 = 2,
    kSpecialRfid2 = 3,
    kSpecialRfid3 = 4
};

class ModelTable {
  public:
    enum class Source { loaded, missing, unreadable };

    ModelTable() { reset(); }

    // Reads ModelTbl.ini (UTF-8, or CP932 converted). A missing or unreadable
    // file leaves the list with entry 0 alone and every type list with its
    // placeholder, so every station simply has no modules to offer.
    Source load(const std::string& path);
    // Entry 0 only, special references -1, placeholders in the type lists.
    void reset();

    const std::vector<TStlInfoRec>& list() const { return list_; }
    const TStlInfoRec& entry(int32_t index) const;  // entry 0 for an index out of range
    bool validIndex(int32_t index) const { return index >= 0 && size_t(index) < list_.size(); }
    const std::array<std::vector<TUnitTypeInfoRec>, kUnitTypes>& typeLists() const {
        return perType_;
    }
    // Model-list index of a special model, -1 when the table has none.
    int32_t special(int which) const { return special_[size_t(which)]; }

    // The first entry whose ModelCode is model exactly and whose code is the
    // whole number in code; -1 when none (or code is no number).
    int32_t lookup(std::string_view model, std::string_view code) const;
    // The first entry whose ModelCode is model exactly; -1 when none.
    int32_t findModel(std::string_view model) const;
    // The models a person may mean by text: the first whose model code is
    // text exactly; else every one whose code number is text (a whole
    // number); else every one whose plain name is text (ASCII case ignored).
    // Empty when none is; more than one when text is ambiguous.
    std::vector<int32_t> match(std::string_view text) const;

    // What a load skipped or could not read, one readable line each
    // ("ModelTbl.ini: [Model_3]: ...").
    const std::vector<std::string>& problems() const { return problems_; }
    bool readAsCp932() const { return cp932_; }

    // Appends a model as a load does (for tests and tools building a table).
    void add(const TUnitTypeInfoRec& model);

  private:
    std::vector<TStlInfoRec> list_;
    std::array<std::vector<TUnitTypeInfoRec>, kUnitTypes> perType_;
    std::array<int32_t, 5> special_{-1, -1, -1, -1, -1};
    std::vector<std::string> problems_;
    bool cp932_ = false;

    void fillPlaceholders();
};

// Where a configuration folder's model table is taken from: the folder's own
// ModelTbl.ini when it has one, else the one installed with the tool
// (<prefix>/share/kalvo/ModelTbl.ini). The GUI and kalvo-config both ask
// here, and both say which file they use.
struct ModelTableLocation {
    std::string Path;           // the file to read
    bool FromFolder = false;    // the folder's own table
    std::string InstalledPath;  // the installed table, looked at second
};
// installed: the installed table to fall back on; empty for
// <prefix>/share/kalvo/ModelTbl.ini.
ModelTableLocation locateModelTable(const std::string& folder, const std::string& installed = {});
// One line saying which table is used and why, or, when it could not be
// read, where it was looked for and what that means for the stations.
std::string describeModelTable(const ModelTableLocation& where, ModelTable::Source source);

}  // namespace kalvo::tool

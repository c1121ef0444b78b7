#include "tool/model/model_table.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/data_dir.h"
#include "tool/model/ini_source.h"

namespace kalvo::tool {

namespace {

bool acceptedSeries(std::string_view series) {
    return series == "QMS" || series == "MRU" || series == "KVZ";
}

// "Model_<n>" written as the table's sections are named ("%d"); -1 for any
// other name.
int64_t modelSectionNumber(std::string_view name) {
    constexpr std::string_view prefix = "model_";
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 10) return -1;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != prefix[i]) return -1;
    std::string_view digits = name.substr(prefix.size());
    if (digits.size() > 1 && digits[0] == '0') return -1;
    int64_t n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

TUnitTypeInfoRec placeholder() {
    return TUnitTypeInfoRec{"--", "--", "NON", 0, 0, 0, 0, ""};
}

}  // namespace

void ModelTable::reset() {
    for (auto& l : perType_) l.clear();
    special_.fill(-1);
    list_.clear();
    TStlInfoRec zero;
    zero.Name = "NEW";
    zero.ModelCode = std::string(kUnusedText);
    list_.push_back(zero);
    problems_.clear();
    cp932_ = false;
    fillPlaceholders();
}

void ModelTable::fillPlaceholders() {
    for (auto& l : perType_)
        if (l.empty()) l.push_back(placeholder());
}

const TStlInfoRec& ModelTable::entry(int32_t index) const {
    return validIndex(index) ? list_[size_t(index)] : list_[0];
}

void ModelTable::add(const TUnitTypeInfoRec& model) {
    const int j = unitTypeIndex(model.Type);
    if (j < 0) return;
    auto& typeList = perType_[size_t(j)];
    if (typeList.size() == 1 && typeList[0].Type == "NON") typeList.clear();
    typeList.push_back(model);

    TStlInfoRec e;
    e.Name = model.Type;
    e.ModelCode = model.Model;
    // Products in 64 bits, kept in range: a table with Id = 2000000000 must
    // not wrap into a small or negative slot count.
    auto product = [](int64_t a, int64_t b) {
        return int32_t(std::clamp<int64_t>(a * b, INT32_MIN, INT32_MAX));
    };
    e.SlotCount = product(model.Id, model.Ch);
    e.RowCount = e.SlotCount;
    e.ModelIndex = int32_t(typeList.size()) - 1;
    e.Info = model;
    const auto index = int32_t(list_.size());
    // The axis stations' models take one ID more for the station's own
    // command words; the RFID heads show two rows per ID.
    if ((model.Model == "MRUM02*" && special_[kSpecialAxs2] < 0) ||
        (model.Model == "MRUM04*" && special_[kSpecialAxs4] < 0)) {
        special_[model.Model == "MRUM02*" ? kSpecialAxs2 : kSpecialAxs4] = index;
        e.SlotCount = product(int64_t(model.Id) + 1, model.Ch);
        e.RowCount = int32_t(std::clamp<int64_t>(int64_t(model.Id) + 1, INT32_MIN, INT32_MAX));
    }
    if (model.Model == "KVZC220") {
        if (model.Id == 2 && special_[kSpecialRfid2] < 0) {
            special_[kSpecialRfid2] = index;
            e.RowCount = model.Id * 2;
        } else if (model.Id == 3 && special_[kSpecialRfid3] < 0) {
            special_[kSpecialRfid3] = index;
            e.RowCount = model.Id * 2;
        }
    }
    list_.push_back(std::move(e));
}

ModelTable::Source ModelTable::load(const std::string& path) {
    reset();
    const IniSections file(path);
    const IniOpen status = file.status();
    if (status == IniOpen::missing) {
        problems_.push_back(path +
                            ": the model table was not found; stations have no modules "
                            "to offer (put a ModelTbl.ini in the configuration folder, or "
                            "install the tool's own)");
        return Source::missing;
    }
    if (status == IniOpen::failed) {
        problems_.push_back(path +
                            ": the model table could not be read; stations have no "
                            "modules to offer (check the file's permissions)");
        return Source::unreadable;
    }
    cp932_ = file.readAsCp932();

    const int32_t unitCount = file.section("Config").readInteger("Config", "UnitCount", 1);
    // Only sections that exist can give a model: walking the ones present
    // below UnitCount, in number order, is the same as walking 0..UnitCount-1
    // and costs nothing for a huge count.
    std::vector<int64_t> numbers;
    for (const std::string& name : file.names()) {
        int64_t n = modelSectionNumber(name);
        if (n >= 0 && n < unitCount) numbers.push_back(n);
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());

    for (int64_t n : numbers) {
        const std::string section = "Model_" + std::to_string(n);
        const configfiles::TKalvoIniClass& ini = file.section(section);
        TUnitTypeInfoRec m;
        m.Type = ini.readString(section, "Type", "NON");
        m.Series = ini.readString(section, "Series", "");
        const int j = unitTypeIndex(m.Type);
        if (j < 0 || !acceptedSeries(m.Series)) {
            problems_.push_back("ModelTbl.ini: [" + section + "]: " +
                                (j < 0 ? "Type \"" + m.Type +
                                             "\" is no unit type (NEW, DIO, ADA, AXSA, ENC, "
                                             "ENCA, SIO, RFID, SUB)"
                                       : "Series \"" + m.Series + "\" is not QMS, MRU or KVZ") +
                                "; the model is skipped");
            continue;
        }
        m.Model = ini.readString(section, "Model", "--");
        m.Name = ini.readString(section, "Name", "--");
        m.Code = ini.readInteger(section, "Code", 0);
        m.Id = ini.readInteger(section, "Id", 0);
        m.Ch = ini.readInteger(section, "Ch", 0);
        m.Board = ini.readInteger(section, "Board", 0);
        add(m);
    }
    fillPlaceholders();
    return Source::loaded;
}

int32_t ModelTable::lookup(std::string_view model, std::string_view code) const {
    int32_t number = 0;
    if (!wholeNumber(code, &number)) return -1;
    for (size_t i = 0; i < list_.size(); ++i)
        if (list_[i].ModelCode == model && list_[i].Info.Code == number) return int32_t(i);
    return -1;
}

int32_t ModelTable::findModel(std::string_view model) const {
    for (size_t i = 0; i < list_.size(); ++i)
        if (list_[i].ModelCode == model) return int32_t(i);
    return -1;
}

std::vector<int32_t> ModelTable::match(std::string_view text) const {
    if (const int32_t exact = findModel(text); exact > 0) return {exact};
    std::vector<int32_t> found;
    int32_t code = 0;
    const bool number = wholeNumber(text, &code);
    for (size_t i = 1; i < list_.size(); ++i)
        if (number && list_[i].Info.Code == code) found.push_back(int32_t(i));
    if (number || !found.empty()) return found;
    auto same = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(a[i])) !=
                std::tolower(static_cast<unsigned char>(b[i])))
                return false;
        return true;
    };
    for (size_t i = 1; i < list_.size(); ++i)
        if (same(list_[i].Info.Name, text)) found.push_back(int32_t(i));
    return found;
}

ModelTableLocation locateModelTable(const std::string& folder, const std::string& installed) {
    ModelTableLocation where;
    where.InstalledPath =
        installed.empty() ? platform::installedDataPath("ModelTbl.ini").string() : installed;
    std::error_code ec;
    const std::filesystem::path own =
        std::filesystem::path(folder.empty() ? "." : folder) / "ModelTbl.ini";
    // Any entry of that name counts, readable or not: a folder's table that
    // cannot be read is reported, never silently replaced by another.
    if (!folder.empty() &&
        std::filesystem::symlink_status(own, ec).type() != std::filesystem::file_type::not_found &&
        !ec) {
        where.Path = own.lexically_normal().string();
        where.FromFolder = true;
    } else {
        where.Path = where.InstalledPath;
    }
    return where;
}

std::string describeModelTable(const ModelTableLocation& where, ModelTable::Source source) {
    switch (source) {
        case ModelTable::Source::loaded:
            return "model table: " + where.Path +
                   (where.FromFolder ? " (the configuration folder's own)"
                                     : " (installed; the configuration folder has none)");
        case ModelTable::Source::missing:
            return "no model table: looked for ModelTbl.ini in the configuration folder, then " +
                   where.InstalledPath +
                   "; stations have no modules to offer (put a ModelTbl.ini in the folder, or "
                   "reinstall the tool)";
        case ModelTable::Source::unreadable:
            break;
    }
    return "the model table " + where.Path +
           " could not be read; stations have no modules to offer (check that it is a readable "
           "file)";
}

}  // namespace kalvo::tool

// Everything about a configuration folder that a load would skip silently or
// a run would trip on, each named with its file and section.
#pragma once

#include <string>
#include <vector>

#include "tool/model/configuration_files.h"

namespace kalvo::tool {

// model has been loaded with loaded (also a failed load) from the folder's
// Kalvo.ini. Returns one readable line per problem, the model table's first;
// empty when there is none.
std::vector<std::string> checkConfiguration(const ConfigModel& model, const LoadResult& loaded);
// The problems of one Kalvo.ini, ini being its sections, as loaded into model.
std::vector<std::string> checkKalvoIni(const ConfigModel& model, const LoadResult& loaded,
                                       const IniSections& ini);

}  // namespace kalvo::tool

// Everything about a configuration folder that a load would skip silently or
// a run would trip on, each named with its file and section.
#pragma once

#include <string>
#include <vector>

#include "tool/model/configuration_files.h"

namespace kalvo::tool {

// model has been loaded with loaded (also a failed load). Returns one
// readable line per problem; empty when there is none.
std::vector<std::string> checkConfiguration(const ConfigModel& model, const LoadResult& loaded);

}  // namespace kalvo::tool
